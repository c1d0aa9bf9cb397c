#!/usr/bin/env bash
# The main job: sets up, builds, creates the sample device and shows it, then
# backs the sample device up into an image with a password and restores it,
# checking every file, database, database volume and mail folder.
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
echo "== backup and restore of the sample device: its files, then the whole device with its databases,"
echo "   database volumes and mail around the boots that copy the volumes (each check printed)"
"$bin/roads_bench" --sample --password demo --reps 1
echo "== the product is installed through the device's package installer and its setup library:"
echo "   quilmobackup.xml seeds the Config key, the main program's path is recorded and Brenwick"
echo "   picks the resource library for the screen"
"$bin/cedev" install "$dev"
"$bin/cedev" reg "$dev" query 'HKLM\SOFTWARE\Quilmo Software\Quilmo Backup\Config'
"$bin/cedev" reg "$dev" query 'HKLM\SOFTWARE\Quilmo Software\Shared'
echo "== the main program starts on the device, records itself and quits"
# The starter is not built yet; start-up only checks that a file of its name is there.
"$bin/cedev" put "$dev" README.md '\Windows\QuilmoStart.exe'
"$bin/cedev" run "$dev" '\Program Files\Quilmo Backup\Quilmo Backup.exe'
"$bin/cedev" cat "$dev" '\temp\BackupLog.txt'
"$bin/cedev" reg "$dev" query 'HKLM\Software\Quilmo Software\Quilmo Backup\Settings'
