#!/usr/bin/env bash
# The main program's command-line backup and restore through the desktop
# host: starts build/bin/hostservice on a free local port, points the sample
# device at it, runs "RemoteBackup" through its resets (the image lands in
# the host's folder), changes a file, runs "RemoteRestore" through its
# resets and checks that the file is back and the report says so. Run it
# after the build (./scripts/build.sh): scripts/demo-remote.sh [BIN-DIR].
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/bin}"  # the build's bin folder
work="$(mktemp -d "${TMPDIR:-/tmp}/demo-remote.XXXXXX")"
host=""
cleanup() {
  if [ -n "$host" ]; then kill "$host" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
cedev() { "$bin/cedev" "$@"; }
dev="$work/device"
program='\Program Files\Quilmo Backup\Quilmo Backup.exe'
product='HKLM\SOFTWARE\Quilmo Software\Quilmo Backup'
report='\Program Files\Quilmo Backup\Quilmo Backup History\BackupReport.txt'
# A port nothing listens on.
port=$((20000 + RANDOM % 20000))
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((20000 + RANDOM % 20000)); done

failed=0
check() {  # check TEXT COMMAND...
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "checked: $what"; else echo "FAILED:  $what"; failed=1; fi
}

mkdir -p "$work/host"
"$bin/hostservice" --port "$port" --folder "$work/host" >"$work/host.log" 2>&1 &
host=$!
cedev create "$dev" >/dev/null
cedev install "$dev" >/dev/null
cedev reg "$dev" set "$product\\Config" AllowRemoteCommandLineOps dword 1 >/dev/null
cedev reg "$dev" set "$product\\Settings" csHostName sz 127.0.0.1 >/dev/null
cedev reg "$dev" set "$product\\Settings" dwPort dword "$port" >/dev/null
cedev reg "$dev" set "$product\\Settings" bUseDefaultPort dword 0 >/dev/null
# The command-line options without the password, so no dialog waits.
cedev reg "$dev" set "$product\\Settings\\CommandLine" dwUnattendedOptions dword 715 >/dev/null
echo "host service on 127.0.0.1:$port, folder $work/host"

printf 'the backed-up letter' >"$work/original"
cedev put "$dev" "$work/original" '\My Documents\remote letter.txt'

echo "== RemoteBackup through its resets"
cedev run "$dev" "$program" 'RemoteBackup \temp\Remote.pbf' | grep -E '^(boots:)'
check "the image is in the host's folder" test -s "$work/host/Remote.pbf"
check "the report says the backup succeeded" \
  bash -c "'$bin/cedev' cat '$dev' '$report' | iconv -f utf-16 -t utf-8 | grep -q '^Result : Backup succeeded'"

echo "== a file changed, then RemoteRestore through its resets"
printf 'changed after the backup' >"$work/letter"
target='remote letter.txt'
cedev put "$dev" "$work/letter" "\\My Documents\\$target"
cedev run "$dev" "$program" 'RemoteRestore \temp\Remote.pbf' | grep -E '^(boots:)'
cedev get "$dev" "\\My Documents\\$target" "$work/restored"
check "\"\\My Documents\\$target\" is back as it was backed up" cmp -s "$work/original" "$work/restored"
check "the report says the restore succeeded" \
  bash -c "'$bin/cedev' cat '$dev' '$report' | iconv -f utf-16 -t utf-8 | grep -q '^Result : Restore succeeded'"
[ "$failed" = 0 ] && echo "all checks passed" || { echo "a check failed"; exit 1; }
