#!/usr/bin/env bash
# Sets up, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh "${1:-default}"
ctest --preset "${1:-default}" -j"$(nproc)"
# The short fuzz runs: in CI, or when asked.
if [ "${QUILMO_FUZZ_CI:-}" = 1 ] || [ -n "${CI:-}" ]; then
  ./scripts/fuzz.sh
fi
