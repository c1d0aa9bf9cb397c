#!/usr/bin/env bash
# The settings dialogs of the main sheet's menu end to end, driven by a UI
# script in a running main program on one copy of the installed sample
# device (advanced mode, its clock pinned to a winter Saturday 09:00), and
# their effect checked on the device:
#   file management  keep at most 2 images (a 0 typed first becomes 1);
#   exclusions       a folder and an extension added, a bad entry refused;
#   battery monitor  Merrow switched on at 25 % (95 refused), raised to 40 %
#                    (Merrow rereads), then switched off (9 refused even so);
#   schedule         a daily backup at 08:30 (past today: tomorrow), the
#                    image file chosen after OK asked for one, the scheduled
#                    password cancelled.
# Then the device runs three days: each morning the notification starts the
# scheduled backup; the first image leaves the exclusions out (listed with
# imagels), and so does an interactive backup from the Backup page, whose
# tree shows them; the schedule set again with a password makes the next images
# need it; after the third backup exactly 2 images are left. Last, the
# schedule page shows the stored last backup in local time, turning
# scheduling off removes the notification, and a schedule file in force
# leaves the change page read-only.
# Run after the build: scripts/e2e-options-settings.sh [BIN-DIR].
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(realpath "${1:-build/bin}")"
source scripts/e2e-lib.sh

dev="$work/device"
settings="$product\\Settings"
card='\Storage Card'
e2e_cleanup_hooks+=("stop_left_running '$dev'")

# value KEY NAME: a registry value's data as `cedev reg query` shows it.
value() {
  # (awk reads to the end: an early exit would end cedev by SIGPIPE.)
  cedev reg "$dev" query "$1" | awk -v n="$2" '$1 == n && !found { found = 1; $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}
value_is() { [[ "$(value "$1" "$2")" == "$3" ]]; }
# bits WORD MASK WANT: the word was read and (WORD & MASK) == WANT.
bits() { [[ -n $1 && $(($1 & $2)) == "$3" ]]; }
# The product's log since the last fresh start, and Merrow's own.
read_logs() {
  device_logs "$dev" | tr -d '\r' >"$work/log.txt"
  cedev cat "$dev" '\Windows\Merrow.log' >"$work/merrow.log" 2>/dev/null || true
}
merrow_logged() { grep -q -E "^[0-9-]+ [0-9:]+ $1\$" "$work/merrow.log"; }
card_images() { cedev ls "$dev" "$card" | awk '/\.pbf$/ { print $NF }' | sort; }
# run_days NAME UNTIL: the device runs up to the device time UNTIL; a run
# that fails is a failed check with its last lines shown.
run_days() {
  local rc=0
  cedev run "$dev" --until "$2" >"$work/$1.out" 2>&1 || rc=$?
  stop_left_running "$dev"
  check "$1: the device ran up to $2" test "$rc" = 0
  [[ $rc == 0 ]] || tail -n 15 "$work/$1.out"
}
# schedule_run NAME STEPS: a run whose UI script opens the schedule page
# from the running sheet's menu, takes STEPS there and closes the sheet.
schedule_run() {
  ui_run "$1" "program \"Quilmo Backup.exe\"
dialog 200
advance 1100
menu 32814
dialog 254
$2
dialog 65361
click 2"
}
put_text() {  # put_text DEVICE-PATH TEXT
  printf '%s' "$2" >"$work/put"
  cedev put "$dev" "$work/put" "$1"
}

phase "the device: advanced mode, its clock at Saturday 2026-01-10 09:00, the battery at 35 %"
new_device "$dev"
cedev reg "$dev" set "$settings" bAdvancedMode dword 1 >/dev/null
cedev clock "$dev" set 2026-01-10T09:00:00 >/dev/null
cedev battery "$dev" 35 --ac off >/dev/null
put_text '\My Documents\kept note.txt' 'a note to keep'
put_text '\My Documents\scratch.tmp' 'scratch to leave out'

phase "the settings dialogs from the menu"
cat >"$work/settings.ui" <<'UI'
program "Quilmo Backup.exe"
dialog 200
advance 1100
menu 32811
dialog 303
check 2162 1
set 2164 0
click 1
dialog 65361
menu 32811
dialog 303
expect-text 2164 1
set 2164 2
click 1
dialog 65361
menu 32812
dialog 262
click 139
dialog 383
set 2110 "\\My Documents\\Personal"
click 1
dialog 262
click 139
dialog 383
set 2110 "Temp\\*.txt"
click 1
box 65081 ok
dialog 262
click 139
dialog 383
set 2110 *.tmp
click 1
dialog 262
click 1
dialog 65361
menu 32793
dialog 257
check 2020 1
set 2028 95
click 1
box 57658 ok
set 2028 25
click 1
dialog 65361
advance 2000
menu 32793
dialog 257
expect-text 2028 25
set 2028 40
click 1
dialog 65361
advance 1000
menu 32793
dialog 257
expect-text 2028 40
set 2028 9
check 2020 0
expect-enabled 2028 0
click 1
box 57658 ok
check 2020 1
set 2028 50
check 2020 0
click 1
dialog 65361
menu 32814
dialog 254
expect-text 2061 None
click 2047
dialog 380
check 2027 1
select 2054 1
expect-enabled 2022 0
datetime 2023 08:30
click 1
box 65018 ok
click 2000
dialog 361
select 2105 1
click 1
dialog 380
expect-text 1999 "\\Storage Card\\Backup.pbf"
click 1
dialog 231
click 2
dialog 254
expect-text 2061 "Sunday 1/11/2026 8:30:00 AM"
click 1
dialog 65361
click 2
UI
ui_run settings "$(cat "$work/settings.ui")"
read_logs
ui_checked settings "the settings run used the whole UI script"

# File management: the count limit on at 2 (bit 10 of the options), the
# space limit left off.
count_limit_of_2() {
  value_is "$settings" bManageFileQuantity '0x00000001 (1)' &&
    value_is "$settings" dwManageFileQuantityQuantity '0x00000002 (2)' &&
    value_is "$settings" bManageFileSize '0x00000000 (0)'
}
check "file management: \"bManageFileQuantity\" 1, \"dwManageFileQuantityQuantity\" 2, no space limit" \
  count_limit_of_2
word=$(value "$settings" dwBackupOptionsBitField | awk '{ print $1 }') || true
check "file management is on in the saved options word (bit 10 of $word)" bits "$word" 1024 1024

# Exclusions: the two entries in the list file beside the program.
exclusions=$(cedev cat "$dev" '\Program Files\Quilmo Backup\ExcludeList.txt' | iconv -f UTF-16LE -t UTF-8) || true
check "exclusions: the list file holds the folder and the extension, not the refused entry" \
  test "$exclusions" = '\my documents\personal\|$|tmp$'
check "exclusions: the refused entry was told with string 65081" \
  bash -c "'$bin/cedev' screenlog '$dev' | grep -q -F 'This entry cannot be excluded.'"

# Merrow: on at 25 %, reread at 40 %, then off.
check "Merrow: started with threshold 25 % and auto backup on" merrow_logged 'settings: threshold 25%, auto backup on'
check "Merrow: 35 % is no reason for a backup at 25 %" merrow_logged 'check: battery 35%, threshold 25%: no backup'
check "Merrow: rereads on \"QuilmoMerrowUpdateSettings\" and finds 40 %" bash -c \
  "grep -A1 'message QuilmoMerrowUpdateSettings' '$work/merrow.log' | grep -q 'settings: threshold 40%, auto backup on'"
check "Merrow: switched off, it quits" merrow_logged 'message QuilmoMerrowQuit: ending'
merrow_stored() {
  local key="$settings\\Merrow"
  value_is "$key" dwBatteryLifeThreshold '0x00000028 (40)' && value_is "$key" bAutoBackup '0x00000001 (1)' &&
    value_is "$key" bEnabled '0x00000000 (0)'
}
check "Merrow: the registry holds 40 %, auto backup on, not enabled" merrow_stored
merrow_location() {
  value_is "$settings\\Merrow" csUnattendedFilename '\Storage Card\Backup_2026-01-10.pbf' &&
    value_is "$settings\\Merrow" bRemoteMode '0x00000000 (0)'
}
check "Merrow: its backups go to the card, never to the host (remote mode 0)" merrow_location
check "Merrow: 95 and 9 (while switching off) were refused with string 57658" bash -c \
  "test \$('$bin/cedev' screenlog '$dev' | grep -c 'must be between 10 and 90 percent') -eq 2"
check "Merrow: no Startup shortcut and no wake-up entry are left" bash -c \
  "! '$bin/cedev' ls '$dev' '\\Windows\\StartUp' | grep -q Merrow.lnk && \
   ! '$bin/cedev' notify '$dev' list | grep -q -E 'AppRunAfterWakeup|BatteryForceCheck'"

# Schedule: tomorrow 08:30, the options without the password bit.
cedev notify "$dev" list >"$work/notify.txt"
check "schedule: \`cedev notify\` lists the scheduled backup at 2026-01-11 08:30" \
  grep -q -E 'time +2026-01-11 08:30:00 +\\Windows\\QuilmoStart.exe "ScheduledBackup"' "$work/notify.txt"
daily_on() {
  value_is "$settings\\Scheduling" dwSchedulePeriod '0x00000001 (1)' &&
    value_is "$settings\\Scheduling" dwEnable '0x00000001 (1)'
}
check "schedule: daily, enabled" daily_on
options=$(value "$settings\\Unattended" dwUnattendedOptions | awk '{ print $1 }') || true
check "schedule: the cancelled password cleared option bit 2 ($options)" bits "$options" 4 0
check "schedule: the stored options keep exclusions (bit 9) and file management (bit 10)" \
  bits "$options" 1536 1536
check "schedule: the image file chosen in the save dialog" \
  value_is "$settings\\Unattended" csUnattendedFilename '\Storage Card\Backup.pbf'
check "schedule: log \"Scheduled Password screen cancelled\"" \
  logged "$dev" 'Scheduled Password screen cancelled 1'

phase "the first scheduled backup (Sunday 08:30)"
cedev power "$dev" off >/dev/null
run_days day1 2026-01-11T09:00:00
check "the notification started the scheduled backup" \
  grep -q -E '^2026-01-11 08:30:[0-9]+ .*Quilmo Backup.exe "ScheduledBackup" started by' "$work/day1.out"
check "the image is on the card, named by its date" test "$(card_images)" = Backup_2026-01-11.pbf
"$bin/imagels" "$dev" "$card\\Backup_2026-01-11.pbf" >"$work/image1.txt" 2>&1 || true
check "imagels lists the image (its kept note among the files)" \
  grep -q -x -F 'file \My Documents\kept note.txt' "$work/image1.txt"
check "the image leaves out the excluded folder and what it holds" \
  bash -c "! grep -q -i -F 'My Documents\\Personal' '$work/image1.txt'"
check "the image leaves out the excluded extension" bash -c "! grep -q -F 'scratch.tmp' '$work/image1.txt'"

phase "an interactive backup from the Backup page leaves the same out"
cat >"$work/interactive.ui" <<'UI'
program "Quilmo Backup.exe"
dialog 200
advance 1100
expect-tree 2015 "This device/Storage card" unchecked
expect-tree 2015 "This device/My Documents" partial
expect-tree 2015 "This device" partial
click 2000
dialog 361
set 2098 Interactive
click 1
dialog 200
click 2001
dialog 231
set 2018 secret1
set 2021 secret1
click 1
dialog 256
click 1
program Halvey.exe
bubble 124
UI
ui_run interactive "$(cat "$work/interactive.ui")"
stop_left_running "$dev"
ui_checked interactive "the interactive backup's runs used the whole UI script (the tree shows the exclusions)"
"$bin/imagels" "$dev" "$card\\Interactive.pbf" secret1 >"$work/interactive.txt" 2>&1 || true
check "imagels lists the interactive image" grep -q -x -F 'file \My Documents\kept note.txt' "$work/interactive.txt"
check "it leaves out the excluded folder, the extension and the storage card" \
  bash -c "! grep -q -i -E 'My Documents.Personal|scratch\.tmp|\.tmp\$|Storage Card' '$work/interactive.txt'"

phase "the schedule again, now with a scheduled password"
# The stored image file comes back with today's date; the stored 08:30 is
# past, so the time picker shows now and is set again. The password window
# shows the interactive backup's password as placeholders: the first change
# of the password field empties both fields.
cat >"$work/password.steps" <<'UI'
click 2047
dialog 380
expect-text 1999 "\\Storage Card\\Backup_2026-01-11.pbf"
datetime 2023 08:30
click 1
dialog 231
set 2018 s
set 2018 sched22
set 2021 sched22
click 1
dialog 254
expect-text 2061 "Monday 1/12/2026 8:30:00 AM"
click 1
UI
schedule_run password "$(cat "$work/password.steps")"
ui_checked password "the password run used the whole UI script"
options=$(value "$settings\\Unattended" dwUnattendedOptions | awk '{ print $1 }') || true
check "schedule: with the password given, option bit 2 stays ($options)" bits "$options" 4 4
check "schedule: the scheduled password is stored (\"ScheduledHash\")" \
  bash -c "'$bin/cedev' reg '$dev' query '$settings' | grep -q -E '^ +ScheduledHash +REG_BINARY'"

phase "two more mornings: the clean-up keeps 2 images"
run_days day2 2026-01-12T09:00:00
run_days day3 2026-01-13T09:00:00
read_logs
check "three scheduled backups ran" bash -c \
  "grep -q '2026-01-12 08:30.*ScheduledBackup\" started by' '$work/day2.out' && \
   grep -q '2026-01-13 08:30.*ScheduledBackup\" started by' '$work/day3.out'"
check "exactly the 2 newest images are left" \
  test "$(card_images | tr '\n' ' ')" = 'Backup_2026-01-12.pbf Backup_2026-01-13.pbf '
check "log: \"File Management: Max. Backup files = 2\"" logged "$dev" 'File Management: Max. Backup files = 2'
check "log: the oldest images were deleted in turn" bash -c \
  "grep -q -E 'Old Backup File Deleted - .*Backup_2026-01-11\.pbf' '$work/log.txt' &&
   grep -q -E 'Old Backup File Deleted - .*Interactive\.pbf' '$work/log.txt'"
check "the newest image opens with the scheduled password" \
  "$bin/imagels" "$dev" "$card\\Backup_2026-01-13.pbf" sched22
check "and not without it" bash -c "! '$bin/imagels' '$dev' '$card\\Backup_2026-01-13.pbf'"

phase "the schedule page shows the last backup as the task window stored it, and the next one"
# "dwLastBackupHigh"/"Low" hold the backup's end as a UTC FILETIME; the page
# shows it in the device's local time (its zone: the POSIX TZ text of the
# device profile, 8 hours behind UTC in January).
high=$(value "$settings" dwLastBackupHigh | awk '{ print $1 }') || true
low=$(value "$settings" dwLastBackupLow | awk '{ print $1 }') || true
ended=$(((${high:-0} * 4294967296 + ${low:-0}) / 10000000 - 11644473600))
zone=$(awk -F ' *= *' '$1 == "timezone" { print $2 }' "$dev/profile.txt")
last=$(TZ=$zone date -d "@$ended" '+%A %-m/%-d/%Y %-I:%M:%S %p')
echo "last backup (stored as UTC $(date -u -d "@$ended" '+%F %T'), local): $last"
check "the last backup's stored end is Tuesday's backup, in UTC" \
  grep -q -E '^2026-01-13 16:3[0-9]:' <<<"$(date -u -d "@$ended" '+%F %T')"
cat >"$work/times.steps" <<UI
expect-text 2064 "$last"
expect-text 2061 "Wednesday 1/14/2026 8:30:00 AM"
click 1
UI
schedule_run times "$(cat "$work/times.steps")"
ui_checked times "the schedule page shows the last backup of Tuesday morning and Wednesday's next"

phase "scheduling switched off, then a schedule file in force"
cat >"$work/off.steps" <<'UI'
click 2047
dialog 380
check 2027 0
expect-enabled 2054 0
expect-enabled 2000 0
click 1
dialog 254
expect-text 2061 None
click 1
UI
schedule_run off "$(cat "$work/off.steps")"
ui_checked off "the page turned scheduling off and shows no next backup"
check "the scheduled backup's notification is gone" \
  bash -c "! '$bin/cedev' notify '$dev' list | grep -q ScheduledBackup"
check "\"dwEnable\" is 0" value_is "$settings\\Scheduling" dwEnable '0x00000000 (0)'
# A schedule file in force (period 3): the change page shows it but
# cannot change it.
cedev reg "$dev" set "$settings\\Scheduling" dwSchedulePeriod dword 3 >/dev/null
cedev reg "$dev" set "$settings\\Scheduling" dwEnable dword 1 >/dev/null
cat >"$work/file.steps" <<'UI'
click 2047
dialog 380
expect-enabled 1 0
expect-enabled 2027 0
expect-enabled 2022 0
expect-text 2054 ""
click 2
dialog 254
click 1
UI
schedule_run file "$(cat "$work/file.steps")"
ui_checked file "with a schedule file in force, OK and the switch are off and no period is chosen"
finish
