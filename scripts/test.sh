#!/usr/bin/env bash
# Sets up, builds and runs every test. In CI (or with QUILMO_FUZZ_CI=1) the
# short fuzz runs go first, so that ctest's summary closes the output.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh "${1:-default}"
if [ "${QUILMO_FUZZ_CI:-}" = 1 ] || [ -n "${CI:-}" ]; then
  ./scripts/fuzz.sh
fi
ctest --preset "${1:-default}" -j"$(nproc)"
