#!/usr/bin/env bash
# The main program's unattended roads end to end through `cedev run`, each on
# a fresh sample device with the built package installed:
#   scheduled  a daily schedule started by "StartScheduling"; a day later the
#              notification wakes the device and fires the starter, the
#              confirmation counts down with nothing scripted, the backup runs
#              across its resets, and the post-boot popup turns the device off
#   merrow     Merrow finds the battery low and asks for the backup, which
#              runs on the "Merrow" option set
#   modes      "EnableFileScheduling", "DisableFileScheduling" and
#              "StartScheduling" as the command line gives them
#   cancel     a backup cancelled in its countdown still resets and tells so;
#              a restore cancelled there neither resets nor tells
#   reset      a reset after the state is saved but before the resume location
#              is written: the device comes back clean and a rerun succeeds
# Usage: scripts/e2e-sched.sh [--bin DIR] [SCENARIO...] (all without one).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
if [[ ${1:-} == --bin ]]; then
  bin=$2
  shift 2
fi
scenarios=("$@")
[[ ${#scenarios[@]} -gt 0 ]] || scenarios=(scheduled merrow modes cancel reset)
work="$(mktemp -d "${TMPDIR:-/tmp}/e2e-sched.XXXXXX")"
# E2E_KEEP=1 keeps the devices and outputs for a look afterwards.
if [[ -z ${E2E_KEEP:-} ]]; then trap 'rm -rf "$work"' EXIT; else echo "work folder: $work"; fi

cedev() { "$bin/cedev" "$@"; }
program='\Program Files\Quilmo Backup\Quilmo Backup.exe'
product='HKLM\SOFTWARE\Quilmo Software\Quilmo Backup'
history='\Program Files\Quilmo Backup\Quilmo Backup History'
dev=""

failed=0
check() {  # check TEXT COMMAND...
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "checked: $what"; else echo "FAILED:  $what"; failed=$((failed + 1)); fi
}
has() { grep -q -F -- "$2" "$1"; }       # has FILE TEXT
lacks() { ! grep -q -F -- "$2" "$1"; }   # lacks FILE TEXT
utf16() { iconv -f UTF-16 -t UTF-8; }

# A fresh sample device with the product installed, its clock at a fixed
# winter day so that the device's daylight-saving rule plays no part.
fresh_device() {
  dev="$work/$1"
  cedev create "$dev" >/dev/null
  cedev install "$dev" >/dev/null
  cedev clock "$dev" set 2026-01-10T09:00:00 >/dev/null
}
setreg() { cedev reg "$dev" set "$@" >/dev/null; }
# The main program's log, the report and the product's settings, as text.
collect() {
  cedev cat "$dev" '\temp\BackupLog.txt' | tr -d '\r' >"$work/log.txt"
  { cedev cat "$dev" "$history\\BackupReport.txt" | utf16 | tr -d '\r'; } >"$work/report.txt" 2>/dev/null || true
  cedev reg "$dev" dump "$product\\Settings" >"$work/settings.txt"
  cedev screenlog "$dev" >"$work/screenlog.txt"
}
# A log line after its "L CLASS LINE : " prefix.
logged() { grep -q -E "^[LWEI] $1 [0-9]+ : $2\$" "$work/log.txt"; }
# The boot-time copies of the volumes ("\*.volc") that the reset before an
# operation makes for its task.
no_volume_copies() {
  local list
  list=$(cedev ls "$dev" '\'; cedev ls "$dev" '\My Documents')
  ! grep -q -i '\.volc$' <<<"$list"
}
startup_clean() {
  local list
  list=$(cedev ls "$dev" '\Windows\StartUp')
  ! grep -q -E 'DeployRB\.lnk|Halvey\.lnk' <<<"$list"
}
# The option set of an unattended key: the image without password, compressed
# and named by date.
store_options() {  # store_options SUBKEY IMAGE
  local key="$product\\Settings\\$1"
  setreg "$key" dwUnattendedOptions dword 715
  setreg "$key" csUnattendedFilename sz "$2"
  setreg "$key" bScheduledReset dword 0
  setreg "$key" bRemoteMode dword 0
  setreg "$key" csInclusionList sz ''
}
last_backup_written() {
  local v
  for v in dwLastBackupHigh dwLastBackupLow dwLastBackupResult dwLastBackupSize; do
    has "$work/settings.txt" "$v" || return 1
  done
}
# The FILETIME halves of a device-local time, as the schedule stores them.
filetime_of() {  # filetime_of 'YYYY-MM-DD HH:MM:SS' -> "HIGH LOW"
  local ft=$((($(date -u -d "$1" +%s) + 11644473600) * 10000000))
  echo "$((ft >> 32)) $((ft & 0xFFFFFFFF))"
}

scenario_scheduled() {
  fresh_device scheduled
  local s="$product\\Settings\\Scheduling" high low
  read -r high low < <(filetime_of '2026-01-11 03:00:00')
  setreg "$s" dwEnable dword 1
  setreg "$s" dwSchedule1 dword "$high"
  setreg "$s" dwSchedule2 dword "$low"
  setreg "$s" dwSchedulePeriod dword 1
  setreg "$s" csScheduleDefPath sz ''
  store_options Unattended '\Storage Card\Scheduled.pbf'
  cedev run "$dev" "$program" StartScheduling >"$work/start.out"
  cedev notify "$dev" list >"$work/notify.txt"
  check "StartScheduling registers the starter for 2026-01-11 03:00" \
    grep -q -E 'time +2026-01-11 03:00:00 +\\Windows\\QuilmoStart.exe "ScheduledBackup"' "$work/notify.txt"
  check "and its wake-up entry" grep -q -E 'event 11.*QuilmoStart.exe "AppRunAfterWakeup"' "$work/notify.txt"

  # The device sleeps until the schedule wakes it.
  cedev power "$dev" off >/dev/null
  cedev run "$dev" --until 2026-01-11T04:00:00 >"$work/run.out"
  collect
  check "the notification fires the starter at 03:00" \
    grep -q -E '^2026-01-11 03:00:00 notification [0-9]+: \\Windows\\QuilmoStart.exe "ScheduledBackup" fires' "$work/run.out"
  check "the device wakes for it" grep -q 'wake-up: event 11 fires' "$work/run.out"
  check "the starter starts the main program with ScheduledBackup after its 10-second delay" \
    grep -q -E '^2026-01-11 03:00:1[0-9] pid [0-9]+ .*Quilmo Backup.exe "ScheduledBackup" started by' "$work/run.out"
  # The confirmation counts 30 seconds before the backup resets the device.
  check "the confirmation counts down 30 s, then the first reset (at 03:00:4x)" \
    grep -q -E '^2026-01-11 03:00:4[0-9] pid [0-9]+ .*Quilmo Backup.exe ended: ended by reset 1' "$work/run.out"
  check "the run went through both resets" grep -q '^boots: 2, resets: 2' "$work/run.out"
  check "log: \"Device will be powered off after scheduled backup\"" \
    logged CQuilmoApp 'Device will be powered off after scheduled backup'
  check "log: \"Scheduled Backup starting\"" logged CQuilmoApp 'Scheduled Backup starting'
  check "log: the options read from the key Unattended" \
    logged AUnattendedBackup 'Read \\Storage Card\\Scheduled.pbf from key Unattended 715'
  check "log: the resumed start runs the operation" logged CQuilmoApp 'detected that have done PRE_OPERATION'
  check "log: \"Operation completed\" and \"Set last backup time\"" \
    bash -c "grep -q 'Operation completed' '$work/log.txt' && grep -q 'Set last backup time' '$work/log.txt'"
  check "the image is written, named by its date" bash -c \
    "'$bin/cedev' ls '$dev' '\\Storage Card' | grep -q 'Scheduled_2026-01-11.pbf'"
  check "\"BackupReport.txt\" in the history folder says the backup succeeded" \
    has "$work/report.txt" 'Result : Backup succeeded'
  check "\"dwLastBackup*\" are written" last_backup_written
  check "the next day's start is registered" bash -c \
    "'$bin/cedev' notify '$dev' list | grep -q -E 'time +2026-01-12 03:00:00 +.*QuilmoStart.exe \"ScheduledBackup\"'"
  check "the post-boot popup is started with /turnOff" grep -q -E 'Halvey.exe .*/turnOff.* started by' "$work/run.out"
  check "its bubble shows the outcome" grep -q -E 'Halvey.exe: \[Quilmo Backup\] notification .* shown: The backup' \
    "$work/screenlog.txt"
  check "it suspends the device" grep -q -E 'power: off \(SetSystemPowerState "suspend" by pid' "$work/run.out"
  check "the device ends off" bash -c "'$bin/cedev' power '$dev' show | grep -qx 'power: off'"
  check "the Startup folder holds neither the resume nor the popup shortcut" startup_clean
}

scenario_merrow() {
  fresh_device merrow
  local m="$product\\Settings\\Merrow"
  setreg "$m" dwBatteryLifeThreshold dword 30
  setreg "$m" bAutoBackup dword 1
  store_options Merrow '\Storage Card\Merrow.pbf'
  cedev battery "$dev" 20 --ac off >/dev/null
  cedev run "$dev" --until 2026-01-10T09:10:00 '\Windows\Merrow.exe' '' >"$work/run.out"
  collect
  cedev cat "$dev" '\Windows\Merrow.log' >"$work/merrow.log"
  check "Merrow finds the battery low and asks for the backup" \
    has "$work/merrow.log" 'below, started QuilmoStart.exe /runbackupapp /args MerrowAutoBackup'
  check "the starter starts the main program with MerrowAutoBackup" \
    grep -q -E 'Quilmo Backup.exe "MerrowAutoBackup" started by' "$work/run.out"
  check "the confirmation counts down 30 s before the reset (at 09:00:3x)" \
    grep -q -E '^2026-01-10 09:00:3[0-9] pid [0-9]+ .*Quilmo Backup.exe ended: ended by reset 1' "$work/run.out"
  check "the run went through both resets" grep -q '^boots: 2, resets: 2' "$work/run.out"
  check "log: \"Merrow Autobackup starting\"" logged CQuilmoApp 'Merrow Autobackup starting'
  check "log: the options read from the key Merrow" \
    logged AUnattendedBackup 'Read \\Storage Card\\Merrow.pbf from key Merrow 715'
  check "the image is written, named by its date" bash -c \
    "'$bin/cedev' ls '$dev' '\\Storage Card' | grep -q 'Merrow_2026-01-10.pbf'"
  check "\"BackupReport.txt\" says the backup succeeded" has "$work/report.txt" 'Result : Backup succeeded'
  check "\"dwLastBackup*\" are written" last_backup_written
  check "the Startup folder holds neither the resume nor the popup shortcut" startup_clean
}

scenario_modes() {
  fresh_device modes
  cedev run "$dev" "$program" EnableFileScheduling >"$work/refused.out" || true
  collect
  check "EnableFileScheduling is refused without AllowFileScheduling" \
    has "$work/screenlog.txt" 'Invalid command line parameter'
  check "and writes no schedule" lacks "$work/settings.txt" 'dwSchedulePeriod'

  setreg "$product\\Config" AllowFileScheduling dword 1
  cedev run "$dev" "$program" EnableFileScheduling >"$work/enable.out"
  collect
  local s="$product\\Settings"
  check "log: \"Enabling File Scheduling from command line\"" \
    logged CQuilmoApp 'Enabling File Scheduling from command line'
  check "log: \"Storing saved options 719 to NextSchedule\"" logged CQuilmoApp 'Storing saved options 719 to NextSchedule'
  cedev reg "$dev" query "$s\\Scheduling" >"$work/scheduling.txt"
  check "the schedule is on, of the schedule-file period" bash -c \
    "grep -q -E 'dwEnable +REG_DWORD +0x00000001' '$work/scheduling.txt' &&
     grep -q -E 'dwSchedulePeriod +REG_DWORD +0x00000003' '$work/scheduling.txt'"
  check "its file is \"\\My Documents\\schedule.xml\"" \
    grep -q -F 'csScheduleDefPath    REG_SZ    \My Documents\schedule.xml' "$work/scheduling.txt"
  local key
  for key in NextSchedule Unattended; do
    cedev reg "$dev" query "$s\\$key" >"$work/$key.txt"
    check "\"$key\": file name and inclusion list \"dummy\", no reset, not remote, options 719" bash -c \
      "grep -q -E 'csUnattendedFilename +REG_SZ +dummy\$' '$work/$key.txt' &&
       grep -q -E 'csInclusionList +REG_SZ +dummy\$' '$work/$key.txt' &&
       grep -q -E 'bScheduledReset +REG_DWORD +0x00000000' '$work/$key.txt' &&
       grep -q -E 'bRemoteMode +REG_DWORD +0x00000000' '$work/$key.txt' &&
       grep -q -E 'dwUnattendedOptions +REG_DWORD +0x000002cf' '$work/$key.txt'"
  done
  check "no reset, no interactive window" bash -c \
    "grep -q '^boots: 0, resets: 0' '$work/enable.out' && ! grep -q 'interactive main window' '$work/log.txt'"

  # The file schedule is not the daily one the setup wizard starts.
  cedev run "$dev" "$program" StartScheduling >"$work/start.out"
  collect
  check "StartScheduling of a file schedule: \"Could not start scheduled backup\"" \
    logged CQuilmoApp 'Could not start scheduled backup'
  check "and registers nothing" bash -c "! '$bin/cedev' notify '$dev' list | grep -q QuilmoStart"

  cedev run "$dev" "$program" DisableFileScheduling >"$work/disable.out"
  collect
  check "log: \"Disabling File Scheduling from command line\"" \
    logged CQuilmoApp 'Disabling File Scheduling from command line'
  check "DisableFileScheduling ends without a reset" grep -q '^boots: 0, resets: 0' "$work/disable.out"
}

scenario_cancel() {
  fresh_device cancel
  setreg "$product\\Config" AllowLocalCommandLineOps dword 1
  store_options CommandLine ''
  # The task window's countdown is one second: the cancel button comes first.
  # The script then waits for the window's own end (its reset).
  printf 'dialog 132\nclick 2013\nadvance 3000\n' >"$work/cancel-backup.ui"
  cedev run --ui-script "$work/cancel-backup.ui" "$dev" "$program" 'LocalBackup "\Storage Card\Cancelled.pbf"' \
    >"$work/backup.out"
  collect
  check "backup: the task window logs \"Operation cancelled\"" logged CTaskProgressDlg 'Operation cancelled'
  check "backup: no task ran" lacks "$work/log.txt" 'Starting backup'
  check "backup: the device still resets after the cancel" grep -q '^boots: 2, resets: 2' "$work/backup.out"
  check "backup: the popup tells that the backup was cancelled (string 65377)" \
    grep -q -E 'Halvey.exe: \[Quilmo Backup\] notification .* shown: The backup was cancelled' "$work/screenlog.txt"
  check "backup: no boot-time copy of a volume is left behind" no_volume_copies
  check "backup: no image is written" bash -c "! '$bin/cedev' ls '$dev' '\\Storage Card' | grep -q Cancelled"
  check "backup: the Startup folder holds neither the resume nor the popup shortcut" startup_clean

  # An image to restore, then a file changed after it.
  cedev run "$dev" "$program" 'LocalBackup "\Storage Card\Kept.pbf"' >"$work/kept.out"
  printf 'changed after the backup' >"$work/changed.txt"
  cedev put "$dev" "$work/changed.txt" '\My Documents\changed.txt'
  cedev screenlog "$dev" >"$work/screenlog-before.txt"
  # The cancelled restore's start goes on to the main window: closed by its Cancel.
  printf 'dialog 132\nclick 2013\nadvance 1000\nclick 1002\ndialog 65361\nclick 2\n' >"$work/cancel-restore.ui"
  cedev run --ui-script "$work/cancel-restore.ui" "$dev" "$program" 'LocalRestore "\Storage Card\Kept.pbf"' \
    >"$work/restore.out"
  collect
  check "restore: \"Operation cancelled\" after the resumed start" bash -c \
    "sed -n '/Reboot complete to/,\$p' '$work/log.txt' | grep -q 'Operation cancelled'"
  check "restore: only the reset before the operation, none after the cancel" \
    grep -q '^boots: 1, resets: 1' "$work/restore.out"
  check "restore: the program ends with exit 0" bash -c \
    "! grep -E 'Quilmo Backup.exe ended: exit [1-9]' '$work/restore.out'"
  check "restore: no post-boot popup, no new message" bash -c \
    "! grep -q Halvey '$work/restore.out' && cmp -s '$work/screenlog-before.txt' '$work/screenlog.txt'"
  check "restore: no boot-time copy of a volume is left behind" no_volume_copies
  check "restore: nothing restored (the changed file stays)" bash -c \
    "'$bin/cedev' cat '$dev' '\\My Documents\\changed.txt' | grep -qx 'changed after the backup'"
  check "restore: the Startup folder holds neither the resume nor the popup shortcut" startup_clean
}

# The Nth counted call of a LocalBackup run struck by a reset, the device left
# off where it struck (a copy of the prepared device).
strike() {  # strike N
  rm -rf "$work/probe"
  cp -a "$work/reset" "$work/probe"
  cedev run --reset-after "$1" --max-resets 0 "$work/probe" "$program" 'LocalBackup "\Storage Card\Reset.pbf"' \
    >"$work/probe.out" || true
}
reboot_folder() { echo "$work/probe/fs/Program Files/Quilmo Backup/Reboot"; }

scenario_reset() {
  fresh_device reset
  setreg "$product\\Config" AllowLocalCommandLineOps dword 1
  store_options CommandLine ''
  # The first call after which the location file exists; every call before
  # it left the preparation unfinished.
  local lo=1 hi=400 mid
  while ((lo < hi)); do
    mid=$(((lo + hi) / 2))
    strike "$mid"
    if [[ -e "$(reboot_folder)/Location.txt" ]]; then hi=$mid; else lo=$((mid + 1)); fi
  done
  local n=$((lo - 1))
  strike "$n"
  echo "the state is saved and the location not yet written after call $n:"
  grep '^reset-after:' "$work/probe.out" || true
  check "call $n comes from the first start of the main program" \
    grep -q -E '^reset-after: call [0-9]+ .* in pid [0-9]+ .*Quilmo Backup.exe "LocalBackup' "$work/probe.out"
  check "at call $n \"Persist.dat\" and \"Persist.idx\" are written, \"Location.txt\" is not" bash -c \
    "test -s '$(reboot_folder)/Persist.dat' -a -s '$(reboot_folder)/Persist.idx' -a ! -e '$(reboot_folder)/Location.txt'"

  local before
  before=$(cedev ls "$dev" '\Windows\StartUp' | sort)
  cedev run --reset-after "$n" "$dev" "$program" 'LocalBackup "\Storage Card\Reset.pbf"' >"$work/run.out" || true
  collect
  check "the run resets after call $n" grep -q "^reset-after: call $n " "$work/run.out"
  check "the device boots; the program started by the shortcut ends at once, without a second reset" bash -c \
    "grep -q '^boots: 1, resets: 1' '$work/run.out' && ! grep -q -E 'ended: exit [1-9]|ended abnormally' '$work/run.out'"
  check "log: the unfinished preparation's state is ignored" \
    grep -q 'ignored the state of an unfinished reboot preparation' "$work/log.txt"
  check "the reboot folder and key are gone" bash -c \
    "test ! -e '$dev/fs/Program Files/Quilmo Backup/Reboot' && ! '$bin/cedev' reg '$dev' query '$product\\Reboot'"
  check "no boot-time copy of a volume is left behind" no_volume_copies
  check "the Startup folder holds what it held" bash -c \
    "[[ \"\$('$bin/cedev' ls '$dev' '\\Windows\\StartUp' | sort)\" == \"$before\" ]]"
  check "no image is left as if it were good" bash -c "! '$bin/cedev' ls '$dev' '\\Storage Card' | grep -q Reset"

  cedev run "$dev" "$program" 'LocalBackup "\Storage Card\Reset.pbf"' >"$work/rerun.out"
  collect
  check "a rerun goes through both resets" grep -q '^boots: 2, resets: 2' "$work/rerun.out"
  check "and its report says the backup succeeded" has "$work/report.txt" 'Result : Backup succeeded'
  check "the image exists" bash -c "'$bin/cedev' ls '$dev' '\\Storage Card' | grep -q 'Reset.pbf'"
}

for s in "${scenarios[@]}"; do
  if ! declare -F "scenario_$s" >/dev/null; then
    echo "unknown scenario $s (scheduled merrow modes cancel reset)" >&2
    exit 2
  fi
  echo "== $s"
  started=$SECONDS
  "scenario_$s"
  echo "-- $s: $((SECONDS - started)) s"
done
if ((failed)); then
  echo "$failed check(s) failed"
  exit 1
fi
echo "all checks passed"
