#!/usr/bin/env bash
# The main job: sets up, builds, creates the sample device and shows it, then
# backs the sample device up into an image with a password and restores it,
# checking every file.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh
dev="${DEMO_DEVICE:-$PWD/out/demo-device}"
rm -rf "$dev"
mkdir -p "$(dirname "$dev")"
bin=build/bin
"$bin/cedev" create "$dev"
echo "== the device's root folder"
"$bin/cedev" ls "$dev" '\'
echo "== \\My Documents"
"$bin/cedev" ls "$dev" '\My Documents'
echo "== the boot variables in the registry"
"$bin/cedev" reg "$dev" query 'HKLM\init\BootVars'
echo "== the device clock"
"$bin/cedev" clock "$dev" show
echo "== backup and restore of the sample device (every file checked after the restore)"
"$bin/roads_bench" --sample --password demo --reps 1
