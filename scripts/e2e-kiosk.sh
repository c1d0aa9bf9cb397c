#!/usr/bin/env bash
# A kiosk deployment end to end through `cedev run`, on a fresh sample
# device with the built package: a backup of the device becomes the kiosk
# file; "DeployOptions.txt" with autorun and a kiosk password beside the
# main program.
#   - a wrong kiosk password keeps the dialog open, the correct one (a UI
#     script) starts interactive: nothing restored, nothing changed;
#   - a plain start with nobody at the kiosk: the password dialog counts
#     down and the start turns into the restore of the kiosk file; after it
#     the post-boot popup keeps its shortcut and starts the program again
#     after the deploy interval, so the cycle never goes idle: it runs up to
#     a device time (--until) and the cycle's log lines and starts are
#     counted;
#   - autorun off and no password (the countdown): the restore of
#     "\temp\Backup.pbf".
# Run after the build: scripts/e2e-kiosk.sh [BIN-DIR].
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(realpath "${1:-build/bin}")"
source scripts/e2e-lib.sh

dev="$work/device"
deploy='\Program Files\Quilmo Backup\DeployOptions.txt'
letter='\My Documents\kiosk letter.txt'

# deploy_options AUTORUN: the options file with that autorun value.
deploy_options() {
  printf 'AUTORUN=%s\r\n// the kiosk demo\r\nKIOSKPWD=open sesame\r\nBACKUPFILENAME=\\temp\\kiosk.pbf\r\n' "$1" >"$work/deploy.txt"
  printf 'HOURSBETWEENDEPLOYS=0\r\nMINUTESBETWEENDEPLOYS=5\r\n' >>"$work/deploy.txt"
  cedev put "$dev" "$work/deploy.txt" "$deploy"
}
# put_letter TEXT: the file the restores must put back.
put_letter() {
  printf '%s' "$1" >"$work/letter"
  cedev put "$dev" "$work/letter" "$letter"
}
letter_is() { [[ "$(cedev cat "$dev" "$letter")" == "$1" ]]; }
# The device's clock plus SECONDS, as --until takes it.
clock_plus() {
  local now
  now=$(cedev clock "$dev" show | grep -o -E '[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}' | head -n 1)
  date -u -d "${now/T/ } UTC + $1 seconds" +%Y-%m-%dT%H:%M:%S
}
# starts OUT: how often the run started the main program.
starts() { grep -c -E '^  pid [0-9]+  \\Program Files\\Quilmo Backup\\Quilmo Backup\.exe "' "$1" || true; }

phase "kiosk mode, and the kiosk file: a backup of the device as deployed"
new_device "$dev"
e2e_cleanup_hooks+=("stop_left_running '$dev'")
cedev reg "$dev" set "$product\\Config" KioskModeEnabled dword 1 >/dev/null
deploy_options TRUE
put_letter 'the deployed letter'
t0=$SECONDS
# A command-line backup never reads the kiosk options.
cedev run "$dev" "$program" 'LocalBackup \temp\kiosk.pbf' >"$work/backup.out"
echo "backup: $((SECONDS - t0)) s"
check "the kiosk file is written" test -s "$dev/fs/temp/kiosk.pbf"
# What the popup of that backup left in kiosk mode (its shortcut) goes.
rm -f "$dev/fs/Windows/StartUp/Halvey.lnk"

phase "the correct kiosk password: the interactive start, nothing restored"
put_letter 'changed by the keeper'
# The interactive start opens the main sheet: closed again by its Cancel.
printf 'program "Quilmo Backup.exe"\ndialog 231\nset 2018 "wrong one"\nclick 1\nset 2018 "open sesame"\nclick 1\ndialog 65361\nclick 2\n' >"$work/login.ui"
digest "$dev" before-login
t0=$SECONDS
cedev run --ui-script "$work/login.ui" "$dev" "$program" >"$work/login.out"
echo "login: $((SECONDS - t0)) s"
check "a wrong password keeps the dialog open" logged "$dev" 'wrong password for kiosk mode'
check "the correct password is taken" logged "$dev" 'Kiosk password entered correctly'
check "the start is interactive" logged "$dev" 'password correct and auto restore set to false'
check "the interactive window opens" logged "$dev" 'Updating menus'
check "no restore started" bash -c "! grep -q 'Starting Command Line Restore' <('$bin/cedev' cat '$dev' '$device_log')"
check "no reset" grep -q -E '^boots: [01], resets: 0$' "$work/login.out"
digest "$dev" after-login
without_kiosk_config before-login after-login
check "the kiosk configuration key holds the options" \
  bash -c "'$bin/cedev' reg '$dev' query '$product\\kioskconfig' | grep -q 'login    REG_SZ    open sesame'"
check "nothing else changed on the device" same_digest before-login after-login

phase "nobody at the kiosk: the countdown runs out, the kiosk file is restored, the cycle goes on"
put_letter 'changed by a visitor'
until=$(clock_plus 900)
t0=$SECONDS
cedev run --max-resets 40 "$dev" --until "$until" "$program" >"$work/cycle.out" || true
echo "cycle up to $until: $((SECONDS - t0)) s; $(starts "$work/cycle.out") starts of the main program; $(grep '^boots:' "$work/cycle.out")"
check "the cycle never went idle: the run stopped at the time given" \
  grep -q '^run: the device clock reached' "$work/cycle.out"
check "the run stopped at no limit" grep -q -E '^boots: [0-9]+, resets: [0-9]+$' "$work/cycle.out"
# The first start and its resume, then the popup's restart and its resume.
check "the popup's restart of the main program went into the restore again" test "$(starts "$work/cycle.out")" -ge 4
check "the popup program restarted it" grep -q -E 'Halvey\.exe ".*/restore' "$work/cycle.out"
check "the kiosk file's letter is back" letter_is 'the deployed letter'
check "the countdown ran out" logged "$dev" 'No password or incorrect password entered- continuing autorestore'
check "kiosk auto-restore was set" logged "$dev" 'Kiosk mode: AutoRestore set to true\.'
check "the wrong password turned the start into the restore" logged "$dev" 'password wrong and auto restore set to true'
check "the restore of the kiosk file started" logged "$dev" 'Peforming Command Line Restore for \\temp\\kiosk\.pbf in Mode:0'
check "the popup's shortcut stays in kiosk mode" test -e "$dev/fs/Windows/StartUp/Halvey.lnk"
check "the report says the restore succeeded" \
  bash -c "'$bin/cedev' cat '$dev' '$report' | iconv -f UTF-16 -t UTF-8 | grep -q '^Result : Restore succeeded'"
check "no notification bubble in kiosk mode" bash -c "! '$bin/cedev' screenlog '$dev' | grep -q 'Halvey.exe: .*notification'"

stop_left_running "$dev"

put_letter 'changed again'
phase "autorun off and no password: the restore of \\temp\\Backup.pbf"
cedev get "$dev" '\temp\kiosk.pbf' "$work/kiosk.pbf"
cedev put "$dev" "$work/kiosk.pbf" '\temp\Backup.pbf'
deploy_options FALSE
until=$(clock_plus 300)
t0=$SECONDS
cedev run --max-resets 20 "$dev" --until "$until" "$program" >"$work/wrong.out" || true
echo "autorun off up to $until: $((SECONDS - t0)) s; $(grep '^boots:' "$work/wrong.out")"
check "autorun off sets no kiosk restore" bash -c "! grep -q 'Kiosk mode: AutoRestore set to true' <('$bin/cedev' cat '$dev' '$device_log')"
check "no password: the countdown ran out" logged "$dev" 'No password or incorrect password entered- continuing autorestore'
check "the restore of \\temp\\Backup.pbf ran" logged "$dev" 'Peforming Command Line Restore for \\temp\\Backup\.pbf in Mode:0'
check "the letter is back" letter_is 'the deployed letter'
stop_left_running "$dev"
finish
