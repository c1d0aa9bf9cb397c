#!/usr/bin/env bash
# The reset sweep (scripts/reset-sweep.sh) over the main program's
# command-line roads on a fresh installed sample device:
#   - the main program's command-line backup ("LocalBackup" with an image
#     on the storage card, stored options without a password) through its
#     resets, and the command-line restore ("LocalRestore") of that image
#     through its resets; the product's own log, history, popup files and
#     "dwLastBackup*" may hold anything afterwards;
#
#   scripts/reset-sweep-roads.sh [--short] [--bin DIR]
#
# --short resets after 4 calls of each operation, spread from the first to
# one past the last; without it every call is swept,
# stepping by a prime past 400 runs (the long form).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$here/../build/bin"
form=()
while [ $# -gt 0 ]; do
  case "$1" in
    --short) form=(--spread 4); shift ;;
    --bin) bin="$2"; shift 2 ;;
    *) echo "usage: $0 [--short] [--bin DIR]" >&2; exit 2 ;;
  esac
done
cedev="$bin/cedev"
work="$(mktemp -d "${TMPDIR:-/tmp}/reset-samples.XXXXXX")"
trap 'rm -rf "$work"' EXIT

"$cedev" create "$work/sample" >/dev/null
"$cedev" install "$work/sample" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; exit 1; }
product='HKLM\SOFTWARE\Quilmo Software\Quilmo Backup'
"$cedev" reg "$work/sample" set "$product\Config" AllowLocalCommandLineOps dword 1
# The command-line options without the password, so no dialog waits.
"$cedev" reg "$work/sample" set "$product\Settings\CommandLine" dwUnattendedOptions dword 715
productFiles=(--vary 'temp/BackupLog*.txt' --vary 'QuilmoInitLog.txt' --vary 'temp/popupMessage.txt'
  --vary 'Program Files/Quilmo Backup/Quilmo Backup History/*' --vary 'temp/HK*.img' --vary 'Storage Card/sweep.pbf')

status=0
cp -a "$work/sample" "$work/restore"
"$here/reset-sweep.sh" --bin "$bin" --device "$work/sample" "${form[@]+"${form[@]}"}" "${productFiles[@]}" \
  '\Program Files\Quilmo Backup\Quilmo Backup.exe' 'LocalBackup "\Storage Card\sweep.pbf"' || status=1

"$cedev" run "$work/restore" '\Program Files\Quilmo Backup\Quilmo Backup.exe' 'LocalBackup "\Storage Card\sweep.pbf"' \
  >"$work/restore-backup.log" 2>&1 || { cat "$work/restore-backup.log" >&2; exit 1; }
"$here/reset-sweep.sh" --bin "$bin" --device "$work/restore" "${form[@]+"${form[@]}"}" "${productFiles[@]}" \
  '\Program Files\Quilmo Backup\Quilmo Backup.exe' 'LocalRestore "\Storage Card\sweep.pbf"' || status=1

exit $status
