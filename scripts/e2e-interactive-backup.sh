#!/usr/bin/env bash
# An interactive backup end to end through `cedev run --ui-script`: on the
# Backup page the registry is unticked, the save dialog names a file on the
# storage card, Backup asks for a new password and the restart warning is
# confirmed; after the resets the image on the card holds the files,
# databases and mail but not the registry, and is protected by the password.
# Run after the build: scripts/e2e-interactive-backup.sh [BIN-DIR].
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(realpath "${1:-build/bin}")"
source scripts/e2e-lib.sh

dev="$work/device"
image='\Storage Card\Interactive.pbf'
new_device "$dev"
cedev reg "$dev" set "$product\\Settings" dwBackupOptionsBitField dword 519 >/dev/null  # 0, 1, 2, 9: password on, no date
printf 'the letter to keep' >"$work/letter"
cedev put "$dev" "$work/letter" '\My Documents\interactive letter.txt'

cat >"$work/backup.ui" <<'EOF'
program "Quilmo Backup.exe"
dialog 0
advance 400
tree-check 2015 "This device/Registry"
expect-tree 2015 "This device/Registry" unchecked
click 2000
dialog 361
select 2105 0
set 2098 Interactive
click 1
dialog 0
expect-text 1999 "\\Storage Card\\Interactive.pbf"
click 2001
dialog 231
set 2018 secret1
set 2021 secret1
click 1
dialog 256
click 1
program "Quilmo Backup.exe"
dialog 132
box 65310 ok
EOF

phase "interactive backup: untick the registry, name the file, password, confirm"
t0=$SECONDS
cedev run --ui-script "$work/backup.ui" "$dev" "$program" | grep -E '^boots:' || true
echo "backup: $((SECONDS - t0)) s"
device_logs "$dev" | tr -d '\r' >"$work/log.txt"

check "the image is on the card under the chosen name" test -s "$dev/fs/Storage Card/Interactive.pbf"
check "the backup ran with everything but the registry" \
  grep -a -q "Including : FileSystem Databases EMail; Backup Filename : $image" "$work/log.txt"
check "the registry was left out" bash -c "! grep -a -q 'Including :.*Registry.*Interactive.pbf' '$work/log.txt'"
check "the image is protected by the password" grep -a -q "Encrypt" "$work/log.txt"
finish
