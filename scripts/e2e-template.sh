#!/usr/bin/env bash
# The installed sample device that the scripts/e2e-*.sh runs copy instead of
# installing the package each (E2E_DEVICE_TEMPLATE): a fresh sample device
# with the built package, made anew at DIR.
# Usage: scripts/e2e-template.sh DIR [BIN-DIR].
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:?usage: scripts/e2e-template.sh DIR [BIN-DIR]}
bin="$(realpath "${2:-build/bin}")"
rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
"$bin/cedev" create "$dir" >/dev/null
"$bin/cedev" install "$dir" >/dev/null
echo "installed sample device at $dir"
