#!/usr/bin/env bash
# Basic mode end to end through `cedev run --ui-script`, on a fresh sample
# device with the built package (Basic mode is the interactive start's
# default there):
#   - one tap on the Basic page's backup button, a new password (the
#     default options protect backups) and OK on the restart warning: after
#     the restarts the storage card holds a whole-device image that carries
#     the documents folder;
#   - the page then shows that image as the newest; one tap on the restore
#     button, the image's password and OK on the warning: after the
#     restarts the documents folder holds what it held at the backup again.
# Exits 77 (skipped) while the program has no interactive main window.
# Run after the build: scripts/e2e-basic.sh [BIN-DIR].
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(realpath "${1:-build/bin}")"
source scripts/e2e-lib.sh

dev="$work/device"
letter='\My Documents\basic letter.txt'

put_letter() {
  printf '%s' "$1" >"$work/letter"
  cedev put "$dev" "$work/letter" "$letter"
}
letter_is() { [[ "$(cedev cat "$dev" "$letter")" == "$1" ]]; }
# The card's backup images (names as the device lists them).
card_images() { find "$dev/fs/Storage Card" -maxdepth 1 -name '*.pbf' -printf '%f\n' 2>/dev/null | sort; }

phase() { echo "== $*"; }

phase "a sample device in Basic mode with a storage card"
new_device "$dev"
e2e_cleanup_hooks+=("stop_left_running '$dev'")
cedev card "$dev" insert >/dev/null 2>&1 || true
put_letter 'the letter at the backup'

phase "one-tap backup"
cat >"$work/backup.ui" <<'UI'
program "Quilmo Backup.exe"
dialog 314
expect-enabled 2174 1
click 2174
dialog 231
set 2018 basicpw1
set 2021 basicpw1
click 1
dialog 256
expect-visible 2201 1
click 1
UI
t0=$SECONDS
cedev run --ui-script "$work/backup.ui" "$dev" "$program" >"$work/backup.out" 2>&1 || {
  cat "$work/backup.out"
  false
}
echo "backup: $((SECONDS - t0)) s"
check "the page started the backup" logged "$dev" 'Basic Mode Backup'
check "the backup ran after its restart" grep -q -E '^boots: [0-9]+, resets: [2-9]$' "$work/backup.out"
image=$(card_images | head -n 1)
check "the card holds one image" test "$(card_images | wc -l)" -eq 1
check "the image is the default file name with the date" grep -q -E '^.+_[0-9]{4}-[0-9]{2}-[0-9]{2}\.pbf$' <<<"$image"
check "the backup was reported" bash -c "'$bin/cedev' cat '$dev' '$report' | iconv -f UTF-16 -t UTF-8 | grep -q -i 'backup'"

phase "the letter changes, then one-tap restore of the newest image"
put_letter 'changed after the backup'
cat >"$work/restore.ui" <<UI
program "Quilmo Backup.exe"
dialog 314
expect-text 2179 "\\\\Storage Card\\\\$image"
click 2175
dialog 231
expect-visible 2021 0
set 2018 basicpw1
click 1
dialog 256
expect-visible 2201 0
click 1
UI
t0=$SECONDS
cedev run --ui-script "$work/restore.ui" "$dev" "$program" >"$work/restore.out" 2>&1 || {
  cat "$work/restore.out"
  false
}
echo "restore: $((SECONDS - t0)) s"
check "the page started the restore" logged "$dev" 'Basic Mode Restore'
check "the restore ran after its restart" grep -q -E '^boots: [0-9]+, resets: [2-9]$' "$work/restore.out"
check "the letter is back as it was at the backup" letter_is 'the letter at the backup'
check "no error box" bash -c "! '$bin/cedev' screenlog '$dev' | grep -q -i 'error'"
finish
