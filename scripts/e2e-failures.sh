#!/usr/bin/env bash
# The runs of the main program that must fail cleanly, end to end through
# `cedev run` on a fresh sample device with the built package: each ends
# with its box and log line, without a reset, and leaves the device as it
# was (digests of every file, registry value and database record before and
# after, less the product's log):
#   - no kiosk password: the dialog's countdown runs out and the restore of
#     the kiosk file is tried (the file is missing: box, no reset);
#   - the image password dialog cancelled;
#   - the host not reachable ("RemoteRestore" with nothing listening);
#   - a damaged image: not an image at all, and an image cut short;
#   - a command-line backup whose password dialog is cancelled;
# and a command-line backup into a folder that does not exist, which fails
# only after its reset: its report and popup say so.
# Run after the build: scripts/e2e-failures.sh [BIN-DIR].
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(realpath "${1:-build/bin}")"
source scripts/e2e-lib.sh

dev="$work/device"
image='\Storage Card\secret.pbf'
password='demo-secret'

# failure_run NAME [cedev run options...] -- COMMAND-LINE: the run, with the
# device digested before and after it.
failure_run() {
  local name=$1
  shift
  local -a opts=()
  while [[ $1 != -- ]]; do opts+=("$1"); shift; done
  shift
  digest "$dev" "$name-before"
  cedev screenlog "$dev" >"$work/$name-before.boxes"
  local t0=$SECONDS
  cedev run "${opts[@]}" "$dev" "$program" "$1" >"$work/$name.out" 2>&1 || true
  echo "$name: $((SECONDS - t0)) s"
  cedev screenlog "$dev" >"$work/$name.boxes"
  cedev cat "$dev" "$device_log" | tr -d '\r' >"$work/$name.log"
  digest "$dev" "$name-after"
}
# no_change NAME: the checks every failed run shares.
no_change() {
  check "$1: no reset" grep -q -E '^boots: [01], resets: 0$' "$work/$1.out"
  check "$1: nothing changed on the device" same_digest "$1-before" "$1-after"
  check "$1: no operation state left behind" test ! -e "$dev/fs/Program Files/Quilmo Backup/Reboot"
}
# box_shown NAME TEXT: the run's last box says TEXT.
box_shown() { [[ $(tail -n 1 "$work/$1.boxes") == *"$2"* ]]; }
# run_logged NAME PATTERN: the run's log has a line "L|E CLASS LINE : " and
# then the extended regular expression.
run_logged() { grep -q -E "^[LEW] [A-Za-z]+ [0-9]+ : ($2)\$" "$work/$1.log"; }

phase "the device, and an image with a password on its storage card"
new_device "$dev"
printf 'program "Quilmo Backup.exe"\ndialog 231\nset 2018 %s\nset 2021 %s\nclick 1\nprogram Halvey.exe\nbubble 124\n' \
  "$password" "$password" >"$work/backup.ui"
# Asked for the password: the options with it.
cedev reg "$dev" delete "$product\\Settings\\CommandLine" dwUnattendedOptions >/dev/null
t0=$SECONDS
cedev run --ui-script "$work/backup.ui" "$dev" "$program" "LocalBackup \"$image\"" >"$work/backup.out"
echo "backup: $((SECONDS - t0)) s"
check "the image is written" test -s "$dev/fs/Storage Card/secret.pbf"
check "the backup's run used its whole UI script" bash -c "! grep -q 'ui script' '$work/backup.out'"
cedev reg "$dev" set "$product\\Settings\\CommandLine" dwUnattendedOptions dword 715 >/dev/null

phase "the image password dialog cancelled"
printf 'dialog 231\nclick 2\n' >"$work/cancel.ui"
failure_run cancel --ui-script "$work/cancel.ui" -- "LocalRestore \"$image\""
check "cancel: \"Password screen cancelled\" is logged" run_logged cancel 'Password screen cancelled 1'
check "cancel: no boot-time copies queued" bash -c "! grep -q -i 'boot' '$work/cancel.log'"
no_change cancel

phase "the host not reachable"
port=$(free_port)
cedev reg "$dev" set "$product\\Settings" csHostName sz 127.0.0.1 >/dev/null
cedev reg "$dev" set "$product\\Settings" dwPort dword "$port" >/dev/null
cedev reg "$dev" set "$product\\Settings" bUseDefaultPort dword 0 >/dev/null
failure_run host -- 'RemoteRestore \temp\Remote.pbf'
check "host: \"Unable to connect to host Server\" is logged as an error" \
  grep -q -E '^E CQuilmoApp [0-9]+ : Unable to connect to host Server' "$work/host.log"
check "host: the box says the host cannot be reached" box_shown host "Unable to connect to the host computer."
no_change host

phase "a damaged image: not an image at all (it opens; its metadata and index do not read)"
head -c 40000 /dev/urandom >"$work/noise.pbf"
cedev put "$dev" "$work/noise.pbf" '\Storage Card\noise.pbf'
failure_run noise -- 'LocalRestore "\Storage Card\noise.pbf"'
check "noise: \"Global.g_WorkingIndex.Load() failed\" is logged as an error" \
  grep -q -E '^E CQuilmoApp [0-9]+ : Global\.g_WorkingIndex\.Load\(\) failed' "$work/noise.log"
check "noise: no box" cmp -s "$work/noise-before.boxes" "$work/noise.boxes"
no_change noise

phase "a damaged image: cut short"
size=$(stat -c %s "$dev/fs/Storage Card/secret.pbf")
head -c $((size / 2)) "$dev/fs/Storage Card/secret.pbf" >"$work/cut.pbf"
cedev put "$dev" "$work/cut.pbf" '\Storage Card\cut.pbf'
printf 'dialog 231\nset 2018 %s\nclick 1\n' "$password" >"$work/cut.ui"
failure_run cut --ui-script "$work/cut.ui" -- 'LocalRestore "\Storage Card\cut.pbf"'
check "cut: the image's content index does not load, or the image does not open" \
  grep -q -E '^E CQuilmoApp [0-9]+ : (Global\.g_WorkingIndex\.Load\(\) failed|pathImageFile\.Open\(\) failed)' "$work/cut.log"
no_change cut

phase "a command-line backup whose password dialog is cancelled"
cedev reg "$dev" delete "$product\\Settings\\CommandLine" dwUnattendedOptions >/dev/null
printf 'dialog 231\nclick 2\n' >"$work/nopassword.ui"
failure_run nopassword --ui-script "$work/nopassword.ui" -- 'LocalBackup \temp\never.pbf'
check "nopassword: the cancel is logged" run_logged nopassword 'AUnattendedBackup : User cancelled password dialog not performing command line backup'
check "nopassword: \"Command Line backup failed\" is logged" run_logged nopassword 'Command Line backup failed'
no_change nopassword
cedev reg "$dev" set "$product\\Settings\\CommandLine" dwUnattendedOptions dword 715 >/dev/null

phase "a command-line backup into a folder that does not exist: it fails after its reset, and says so"
t0=$SECONDS
cedev run "$dev" "$program" 'LocalBackup \NoSuchFolder\x.pbf' >"$work/nofolder.out" 2>&1 || true
echo "nofolder: $((SECONDS - t0)) s"
check "nofolder: the report says the backup failed" \
  bash -c "'$bin/cedev' cat '$dev' '$report' | iconv -f UTF-16 -t UTF-8 | grep -q '^Result : Backup failed'"
check "nofolder: the popup says the folder is missing" \
  bash -c "'$bin/cedev' screenlog '$dev' | tail -n 3 | grep -q 'notification .* shown: The backup file or its folder could not be found'"
check "nofolder: no image" test ! -e "$dev/fs/NoSuchFolder"
check "nofolder: no operation state left behind" test ! -e "$dev/fs/Program Files/Quilmo Backup/Reboot"

phase "no kiosk password: the countdown runs out; the kiosk file missing"
cedev reg "$dev" set "$product\\Config" KioskModeEnabled dword 1 >/dev/null
printf 'AUTORUN=TRUE\r\nKIOSKPWD=open sesame\r\nBACKUPFILENAME=\\temp\\missing.pbf\r\n' >"$work/deploy.txt"
cedev put "$dev" "$work/deploy.txt" '\Program Files\Quilmo Backup\DeployOptions.txt'
failure_run kiosk -- ''
check "kiosk: the countdown ran out" run_logged kiosk 'No password or incorrect password entered- continuing autorestore'
check "kiosk: the restore of the kiosk file was tried" run_logged kiosk 'Restore of imageid 0'
check "kiosk: the box says the image cannot be opened" box_shown kiosk 'could not be opened'
without_kiosk_config kiosk-before kiosk-after
no_change kiosk
finish
