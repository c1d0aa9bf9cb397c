#!/usr/bin/env bash
# The reset sweep (scripts/reset-sweep.sh) over the operations that run on
# the sample device today, each on a fresh installed sample device:
#   - the main program's command-line backup start ("LocalBackup" with an
#     image on the storage card; its log may hold anything afterwards);
#   - the boot-time action runner QuilmoInit from the boot launch list,
#     carrying out a queued restore copy of a 90000-byte file over a
#     100000-byte one (the copy goes in several writes: a reset between them
#     must leave the launch entry for the next boot to finish the copy).
#
# With --roads it sweeps instead the main program's whole command-line
# backup ("LocalBackup", stored options without a password) and the
# command-line restore ("LocalRestore") of its image, each through its
# resets; the product's own log, history, popup files and image may hold
# anything afterwards.
#
#   scripts/reset-sweep-samples.sh [--short | --ci | --sample] [--roads [--road backup|restore]]
#                                  [--jobs J] [--bin DIR] [-- SWEEP-OPTIONS...]
#
# --short resets after 4 calls of each operation, spread from the first to
# one past the last (the CTest entry reset_sweep_short); --ci after 5 calls
# spread so and the last one (with --roads the CTest entry
# reset_sweep_roads); --sample after every 37th call and the first and last
# 10; without any of them every call is swept, stepping by a prime where
# that is more than 400 runs (the long form). --road sweeps
# one road only; options after "--" go to reset-sweep.sh as they are (for
# example --only 1489 or --keep DIR).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$here/../build/bin"
form=()
roads="" road="" jobs=1
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --short) form=(--spread 4); shift ;;
    --sample) form=(--step 37 --ends 10); shift ;;
    --ci) form=(--spread 5 --ends 1); shift ;;
    --roads) roads=1; shift ;;
    --road) road="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    --bin) bin="$2"; shift 2 ;;
    --) shift; extra=("$@"); break ;;
    *) echo "usage: $0 [--short | --ci | --sample] [--roads [--road backup|restore]] [--jobs J] [--bin DIR] [-- OPTIONS]" >&2
       exit 2 ;;
  esac
done
form+=(--jobs "$jobs" "${extra[@]+"${extra[@]}"}")
cedev="$bin/cedev"
work="$(mktemp -d "${TMPDIR:-/tmp}/reset-samples.XXXXXX")"
trap 'rm -rf "$work"' EXIT

"$cedev" create "$work/sample" >/dev/null
"$cedev" install "$work/sample" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; exit 1; }

status=0
program='\Program Files\Quilmo Backup\Quilmo Backup.exe'
if [ -n "$roads" ]; then
  product='HKLM\SOFTWARE\Quilmo Software\Quilmo Backup'
  "$cedev" reg "$work/sample" set "$product\Config" AllowLocalCommandLineOps dword 1 >/dev/null
  # The command-line options without the password, so no dialog waits.
  "$cedev" reg "$work/sample" set "$product\Settings\CommandLine" dwUnattendedOptions dword 715 >/dev/null
  productFiles=(--vary 'temp/BackupLog*.txt' --vary 'QuilmoInitLog.txt' --vary 'temp/popupMessage.txt'
    --vary 'Program Files/Quilmo Backup/Quilmo Backup History/*' --vary 'temp/HK*.img*' --vary 'Storage Card/sweep.pbf'
    # The state of an operation whose resuming start was cut short after it
    # removed the location file and the shortcut: void, cleared by the next
    # start.
    --may-leave 'Program Files/Quilmo Backup/Reboot/Persist.*')
  cp -a "$work/sample" "$work/restore"
  if [ "$road" != restore ]; then
    "$here/reset-sweep.sh" --bin "$bin" --device "$work/sample" "${form[@]}" "${productFiles[@]}" \
      "$program" 'LocalBackup "\Storage Card\sweep.pbf"' || status=1
  fi
  if [ "$road" != backup ]; then
    "$cedev" run "$work/restore" "$program" 'LocalBackup "\Storage Card\sweep.pbf"' >"$work/backup.log" 2>&1 ||
      { cat "$work/backup.log" >&2; exit 1; }
    "$here/reset-sweep.sh" --bin "$bin" --device "$work/restore" "${form[@]}" "${productFiles[@]}" \
      "$program" 'LocalRestore "\Storage Card\sweep.pbf"' || status=1
  fi
  exit $status
fi

"$here/reset-sweep.sh" --bin "$bin" --device "$work/sample" "${form[@]}" --vary 'temp/BackupLog*.txt' \
  '\Program Files\Quilmo Backup\Quilmo Backup.exe' 'LocalBackup "\Storage Card\sweep.pbf"' || status=1

cp -a "$work/sample" "$work/actions"
head -c 100000 /dev/urandom >"$work/old.bin"
head -c 90000 /dev/urandom >"$work/new.bin"
"$cedev" put "$work/actions" "$work/old.bin" '\My Documents\sweep.bin'
"$cedev" put "$work/actions" "$work/new.bin" '\temp\sweep.new'
key='HKLM\Software\Quilmo Software\RebootActions\CopyFile0'
"$cedev" reg "$work/actions" set "$key" Operation dword 2
"$cedev" reg "$work/actions" set "$key" ActualPath sz '\My Documents\sweep.bin'
"$cedev" reg "$work/actions" set "$key" BackupPath sz '\temp\sweep.new'
"$cedev" reg "$work/actions" set "$key" Attributes dword 32
"$cedev" reg "$work/actions" set 'HKLM\init' Launch90 sz '\Windows\QuilmoInit.exe'
"$here/reset-sweep.sh" --bin "$bin" --device "$work/actions" "${form[@]}" --vary 'QuilmoInitLog.txt' \
  '\Windows\QuilmoInit.exe' 90 || status=1
exit $status
