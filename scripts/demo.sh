#!/usr/bin/env bash
# The main job: sets up and builds, creates and installs the sample device,
# backs it up with the main program's command line ("LocalBackup", with a
# password) across its resets, changes files, registry values and database
# records, restores it ("LocalRestore") across both resets, and checks that
# every file, registry value and database record is back as it was backed
# up, less what the product itself writes after its snapshot. Each check is
# printed; the script fails when one fails.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ -z ${DEMO_NO_BUILD:-} ]]; then
  ./scripts/setup.sh
  ./scripts/build.sh
fi
dev="${DEMO_DEVICE:-$PWD/out/demo-device}"
work="$dev.work"
rm -rf "$dev" "$work"
mkdir -p "$(dirname "$dev")" "$work"
bin=build/bin
cedev() { "$bin/cedev" "$@"; }
program='\Program Files\Quilmo Backup\Quilmo Backup.exe'
image='\Storage Card\Demo Backup.pbf'
product='HKLM\SOFTWARE\Quilmo Software\Quilmo Backup'
history='\Program Files\Quilmo Backup\Quilmo Backup History'
password=demo-secret

failed=0
check() {  # check TEXT COMMAND...: runs the command quietly, prints the outcome
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "checked: $what"; else echo "FAILED:  $what"; failed=$((failed + 1)); fi
}
utf16() { iconv -f UTF-16 -t UTF-8; }

# Every key below a root with its values, one line per value.
regdump() {
  local key=$1 out line first=1
  local -a subs=()
  out=$(cedev reg "$dev" query "$key") || return 1
  while IFS= read -r line; do
    if [[ $first == 1 ]]; then first=0; continue; fi
    if [[ $line == HKEY_* ]]; then subs+=("$line"); else echo "$key:$line"; fi
  done <<<"$out"
  for line in "${subs[@]}"; do regdump "$line"; done
}

# Left out of the comparison: what the product writes after its snapshot
# (its log and the boot-time runner's, the history and report, the post-boot
# popup's shortcut and message file, the restored hive's copy, "dwLastBackup*",
# "csDefaultBackupFilename" and the history folder's value), the storage card that holds the image, and the
# files that hold what is compared otherwise: the database volumes and their
# boot-time copies (record by record) and the registry hives (value by value).
registry_filter='dwLastBackup|csDefaultBackupFilename|csBackupHistoryFolder'
# The restore itself fits the synchronisation state and the notification
# queue to the restored data.
database_filter='SyncStateKeys|DB_notify_queue'

snapshot() {  # snapshot NAME: the files, the registry and the database digests
  mkdir -p "$work/$1"
  (cd "$dev/fs" && find . -type f | LC_ALL=C sort | while IFS= read -r f; do
    printf '%s %s\n' "$(sha256sum <"$f" | cut -c1-16)" "$f"
  done) >"$work/$1/files.all"
  grep -v -E 'temp/BackupLog(Old)?\.txt$|/QuilmoInitLog\.txt$|/Quilmo Backup History/|Windows/StartUp/Halvey\.lnk$|temp/popupMessage\.txt$|\.volc?$|\.hv$|temp/HK(LM|CU)\.img$|^[0-9a-f]+ \./Storage Card/' \
    "$work/$1/files.all" >"$work/$1/files" || true
  { regdump HKLM; regdump HKCU; } | grep -v -E "$registry_filter" >"$work/$1/registry"
  cedev db "$dev" digest | grep -v -E "$database_filter" >"$work/$1/databases"
}

echo "== the sample device, with the product installed through its package"
cedev create "$dev"
cedev install "$dev" >/dev/null
cedev reg "$dev" set "$product\\Config" AllowLocalCommandLineOps dword 1
echo "command-line work allowed: $product\\Config AllowLocalCommandLineOps = 1"

echo "== LocalBackup to \"$image\" with a password, through the reset before the backup and the one after it"
# The main program's first start asks for the password; the post-boot
# popup's bubble is dismissed (its second button) once it shows.
printf 'program "Quilmo Backup.exe"\ndialog 231\nset 2018 %s\nset 2021 %s\nclick 1\nprogram Halvey.exe\nbubble 124\n' \
  "$password" "$password" >"$work/backup.ui"
cedev run --ui-script "$work/backup.ui" "$dev" "$program" "LocalBackup \"$image\"" | tee "$work/backup.out" |
  grep -E '^(run:|reset|boots:)'
check "the backup run went through two resets" grep -q '^boots: 2, resets: 2' "$work/backup.out"
check "the image exists on the storage card" bash -c "cedev() { \"$bin/cedev\" \"\$@\"; }; cedev ls '$dev' '\\Storage Card' | grep -q 'Demo Backup.pbf'"
cedev cat "$dev" "$history\\BackupReport.txt" | utf16 >"$work/backup-report.txt" || true
check "\"BackupReport.txt\" is in \"Quilmo Backup History\" and says the backup succeeded" \
  grep -q '^Result : Backup succeeded' "$work/backup-report.txt"
cedev reg "$dev" query "$product\\Settings" >"$work/settings.txt"
for value in dwLastBackupHigh dwLastBackupLow dwLastBackupResult dwLastBackupSize; do
  check "\"$value\" is written" grep -q "$value" "$work/settings.txt"
done
cedev cat "$dev" '\temp\BackupLog.txt' >"$work/backup-log.txt"
check "the backup asked for the password and enciphers the image" grep -q 'Encryption Flag set' "$work/backup-log.txt"
snapshot before
echo "backed-up state: $(wc -l <"$work/before/files") files, $(wc -l <"$work/before/registry") registry values," \
  "$(wc -l <"$work/before/databases") databases"

echo "== changes: files, registry values and database records"
echo "changed after the backup" >"$work/changed.txt"
cedev put "$dev" "$work/changed.txt" '\My Documents\Personal\Budget list 513.txt'
rm -f "$dev/fs/My Documents/Recipe photo 170.txt"
cedev reg "$dev" set 'HKCU\ControlPanel\Owner' Name sz 'Changed Owner'
cedev reg "$dev" set 'HKLM\Ident' Name sz 'ChangedDevice'
cedev db "$dev" dump SystemHeap 'Contacts Database' >"$work/contacts.txt"
record=$(awk '/^record /{print $2}' "$work/contacts.txt" | head -n 1)
cedev db "$dev" delete SystemHeap 'Contacts Database' "$record"
echo "changed a file, deleted a file, set two registry values, deleted contact record $record"
snapshot changed
check "the changed files differ from the backed-up state" bash -c "! cmp -s '$work/before/files' '$work/changed/files'"
check "the changed registry differs" bash -c "! cmp -s '$work/before/registry' '$work/changed/registry'"
check "the changed databases differ" bash -c "! cmp -s '$work/before/databases' '$work/changed/databases'"

echo "== LocalRestore of \"$image\", the image's password given, through both resets"
printf 'program "Quilmo Backup.exe"\ndialog 231\nset 2018 %s\nclick 1\nprogram Halvey.exe\nbubble 124\n' "$password" >"$work/restore.ui"
cedev run --ui-script "$work/restore.ui" "$dev" "$program" "LocalRestore \"$image\"" | tee "$work/restore.out" |
  grep -E '^(run:|reset|boots:)'
# The boot-time runner resets once more after it put the hives in place.
check "the restore run went through its two resets and the boot-time runner's" \
  grep -q '^boots: 3, resets: 3' "$work/restore.out"
cedev cat "$dev" "$history\\BackupReport.txt" | utf16 >"$work/restore-report.txt" || true
check "the report says the restore succeeded" grep -q '^Result : Restore succeeded' "$work/restore-report.txt"
cedev screenlog "$dev" >"$work/screenlog.txt"
check "the post-boot popup showed the restore's outcome" \
  grep -q 'Halvey.exe: \[Quilmo Backup\] notification .* shown: The restore finished' "$work/screenlog.txt"
check "the popup's bubble was dismissed with its OK button" \
  grep -q 'Halvey.exe: \[Quilmo Backup\] notification .* button "OK" (cmd:124) pressed' "$work/screenlog.txt"
check "the popup ran once: its shortcut and message file are gone" \
  test ! -e "$dev/fs/Windows/StartUp/Halvey.lnk" -a ! -e "$dev/fs/temp/popupMessage.txt"
check "the Startup folder holds no resume shortcut" test ! -e "$dev/fs/Windows/StartUp/DeployRB.lnk"
snapshot after
check "every file equals the backed-up state" diff "$work/before/files" "$work/after/files"
check "every registry value equals the backed-up state" diff "$work/before/registry" "$work/after/registry"
check "every database record equals the backed-up state" diff "$work/before/databases" "$work/after/databases"
for what in files registry databases; do
  if ! diff -q "$work/before/$what" "$work/after/$what" >/dev/null; then
    echo "-- $what: backed up (<) and restored (>)"
    diff "$work/before/$what" "$work/after/$what" | head -20 || true
  fi
done
echo "== the boxes the device showed"
cedev screenlog "$dev" | tail -5
if ((failed)); then
  echo "$failed check(s) failed"
  exit 1
fi
echo "all checks passed"
