#!/usr/bin/env bash
# The interactive restore end to end through `cedev run --ui-script` on a
# fresh sample device with the built package:
#   - an image with a password is made by a command-line backup; two
#     folders change; a plain start opens the main sheet, the Restore page's
#     Browse lists the image in the open dialog, its password is asked when
#     it loads, one folder is ticked and restored: after the resets that
#     folder is back and the other keeps its change;
#   - an image on a network share (\Network\NAME) and one in the desktop
#     host's folder (build/bin/hostservice) are listed by the open dialog
#     and load on the page.
# Run after the build: scripts/e2e-restore.sh [BIN-DIR].
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(realpath "${1:-build/bin}")"
source scripts/e2e-lib.sh

dev="$work/device"
image='\Storage Card\restore-me.pbf'
password='demo-secret'

device_text() { cedev cat "$dev" "$1" 2>/dev/null; }

phase "the device, two folders and an image with a password"
new_device "$dev"
mkdir -p "$dev/fs/Docs/one" "$dev/fs/Docs/two"
printf 'one, as backed up' >"$work/a.txt"
printf 'two, as backed up' >"$work/b.txt"
cedev put "$dev" "$work/a.txt" '\Docs\one\a.txt'
cedev put "$dev" "$work/b.txt" '\Docs\two\b.txt'
# The advanced mode: the Backup and Restore pages.
cedev reg "$dev" set "$product\\Config" BasicModeEnabled dword 0 >/dev/null
# Asked for the password: the command-line options with it.
cedev reg "$dev" delete "$product\\Settings\\CommandLine" dwUnattendedOptions >/dev/null
ui_run backup "$(printf 'program "Quilmo Backup.exe"\ndialog 231\nset 2018 %s\nset 2021 %s\nclick 1\nprogram Halvey.exe\nbubble 124' \
  "$password" "$password")" "LocalBackup \"$image\""
check "the image is written" test -s "$dev/fs/Storage Card/restore-me.pbf"
check "the backup's run used its whole UI script" used_script backup
printf 'one, changed' >"$work/a2.txt"
printf 'two, changed' >"$work/b2.txt"
cedev put "$dev" "$work/a2.txt" '\Docs\one\a.txt'
cedev put "$dev" "$work/b2.txt" '\Docs\two\b.txt'
# The page then starts without an image: the user chooses one.
cedev reg "$dev" delete "$product\\Settings" csDefaultBackupFilename >/dev/null 2>&1 || true

phase "the interactive restore of one folder"
ui_run restore "$(cat <<EOF
program "Quilmo Backup.exe"
dialog 200
advance 1100
tab 1
dialog 201
click 2000
dialog 360
list-tap 2106 =restore-me.pbf
click 140
dialog 231
set 2018 $password
click 1
dialog 201
expect-text 1999 $(q "$image")
tree-check 2015 "This device"
tree-check 2015 "This device/Files/Docs/one"
expect-tree 2015 "This device/Files/Docs/two" unchecked
click 2003
dialog 256
click 1
program Halvey.exe
bubble 124
EOF
)"
check "the restore's runs used the whole UI script" used_script restore
check "the ticked folder is back as it was backed up" bash -c "[[ \$('$bin/cedev' cat '$dev' '\\Docs\\one\\a.txt') == 'one, as backed up' ]]"
check "the other folder keeps its change" bash -c "[[ \$('$bin/cedev' cat '$dev' '\\Docs\\two\\b.txt') == 'two, changed' ]]"
check "the report says the restore succeeded" \
  bash -c "'$bin/cedev' cat '$dev' '$report' | iconv -f utf-16 -t utf-8 | grep -q '^Result : Restore succeeded'"

phase "an image on a network share"
mkdir -p "$work/share"
cp "$dev/fs/Storage Card/restore-me.pbf" "$work/share/shared.pbf"
cedev share "$dev" add Backups "$work/share" >/dev/null
ui_run share "$(cat <<EOF
program "Quilmo Backup.exe"
dialog 200
advance 1100
tab 1
dialog 201
click 2000
dialog 360
expect-item 2106 =shared.pbf 2 $(q '\Network\Backups\')
list-tap 2106 =shared.pbf
click 140
dialog 231
set 2018 $password
click 1
dialog 201
expect-text 1999 $(q '\Network\Backups\shared.pbf')
expect-visible 2015 1
expect-enabled 2003 1
click 2
EOF
)"
check "the share's image was listed and loaded" used_script share

phase "an image in the desktop host's folder"
mkdir -p "$work/host"
cp "$dev/fs/Storage Card/restore-me.pbf" "$work/host/on-the-pc.pbf"
port=$(free_port)
"$bin/hostservice" --port "$port" --folder "$work/host" >"$work/host.log" 2>&1 &
host_pid=$!
e2e_cleanup_hooks+=("kill $host_pid")
cedev reg "$dev" set "$product\\Settings" bRemoteEnabled dword 1 >/dev/null
cedev reg "$dev" set "$product\\Settings" csHostName sz 127.0.0.1 >/dev/null
cedev reg "$dev" set "$product\\Settings" dwPort dword "$port" >/dev/null
cedev reg "$dev" set "$product\\Settings" bUseDefaultPort dword 0 >/dev/null
ui_run host "$(cat <<EOF
program "Quilmo Backup.exe"
dialog 200
advance 1100
tab 1
dialog 201
click 2000
dialog 360
select 2209 1
expect-item 2106 =on-the-pc.pbf 2 "PC"
list-tap 2106 =on-the-pc.pbf
click 140
dialog 231
set 2018 $password
click 1
dialog 201
expect-visible 2015 1
expect-enabled 2003 1
click 2
EOF
)"
check "the host's image was listed and loaded" used_script host

finish
