#!/usr/bin/env bash
# An interactive backup end to end through `cedev run --ui-script` on a
# fresh sample device with the built package: on the Backup page the
# registry is unticked, the save dialog names a file on the storage card,
# Backup asks for a new password and the restart warning is confirmed;
# after the resets the image is on the card, made with everything but the
# registry and protected by the password.
# Exits 77 (skipped) while the program has no main window or save dialog.
# Run after the build: scripts/e2e-interactive-backup.sh [BIN-DIR].
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(realpath "${1:-build/bin}")"
source scripts/e2e-lib.sh

dev="$work/device"
image='\Storage Card\Interactive.pbf'
password='secret1'


phase "the device: advanced mode, options with a password, without the date suffix"
new_device "$dev"
# Options 0, 1, 2, 3 and 9: close programs, compress, password, leave images out.
cedev reg "$dev" set "$product\\Settings" dwBackupOptionsBitField dword 527 >/dev/null
# The advanced mode: the Backup and Restore pages.
cedev reg "$dev" set "$product\\Settings" bAdvancedMode dword 1 >/dev/null
printf 'the letter to keep' >"$work/letter"
cedev put "$dev" "$work/letter" '\My Documents\interactive letter.txt'

phase "interactive backup: untick the registry, name the file, password, confirm"
cat >"$work/backup.ui" <<EOF
program "Quilmo Backup.exe"
dialog 200
advance 400
tree-check 2015 "This device/Registry"
expect-tree 2015 "This device/Registry" unchecked
expect-tree 2015 "This device" partial
click 2000
dialog 361
set 2098 Interactive
click 1
dialog 200
expect-text 1999 "\\\\Storage Card\\\\Interactive.pbf"
click 2001
dialog 231
set 2018 $password
set 2021 $password
click 1
dialog 256
click 1
program Halvey.exe
bubble 124
EOF
ui_run backup "$(cat "$work/backup.ui")"
device_logs "$dev" | tr -d '\r' >"$work/log.txt"

check "the backup's runs used the whole UI script" used_script backup
check "the image is on the card under the chosen name" test -s "$dev/fs/Storage Card/Interactive.pbf"
check "the backup ran with everything but the registry" \
  grep -a -q -F "Including : FileSystem Databases EMail; Backup Filename : $image" "$work/log.txt"
check "no part of the run took the registry" bash -c "! grep -a -q -E 'Including :.* Registry.*Interactive' '$work/log.txt'"

phase "the image asks for its password when it is opened"
cat >"$work/open.ui" <<'EOF'
program "Quilmo Backup.exe"
dialog 231
set 2018 wrong00
click 1
box 57656 ok
click 2
EOF
ui_run open "$(cat "$work/open.ui")" "LocalRestore \"$image\""
check "a wrong password is refused and the restore given up" used_script open
check "the restore stopped at the password" logged "$dev" "Password screen cancelled 1"
finish
