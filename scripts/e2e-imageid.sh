#!/usr/bin/env bash
# "RemoteRestore" with "ImageId" end to end through `cedev run`: an image id
# makes the restore take its host from the desktop agent's key ("Server",
# "BackupPort") rather than from the remote options. The remote options
# name a port nothing listens on, the agent's key the host service: the
# restore only succeeds through the agent's host, before its reset and
# after it. Run after the build: scripts/e2e-imageid.sh [BIN-DIR].
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(realpath "${1:-build/bin}")"
source scripts/e2e-lib.sh

dev="$work/device"
letter='\My Documents\remote letter.txt'
agent='HKLM\SOFTWARE\Quilmo Software\Quilmo Agent'
mkdir -p "$work/host"
"$bin/hostservice" --port 0 --folder "$work/host" >"$work/host.log" 2>&1 &
host=$!
e2e_cleanup_hooks+=("kill $host 2>/dev/null")
for _ in $(seq 100); do grep -q 'listening on' "$work/host.log" && break; sleep 0.1; done
port=$(sed -n 's/^hostservice listening on [^:]*:\([0-9]*\) .*/\1/p' "$work/host.log" | head -n 1)
[[ -n $port ]] || { echo "the host service did not start"; cat "$work/host.log"; exit 1; }
echo "host service on 127.0.0.1:$port"

new_device "$dev"
cedev reg "$dev" set "$product\\Settings" csHostName sz 127.0.0.1 >/dev/null
cedev reg "$dev" set "$product\\Settings" dwPort dword "$port" >/dev/null
cedev reg "$dev" set "$product\\Settings" bUseDefaultPort dword 0 >/dev/null
printf 'the backed-up letter' >"$work/original"
cedev put "$dev" "$work/original" "$letter"

phase "RemoteBackup to the host, through the remote options"
t0=$SECONDS
cedev run "$dev" "$program" 'RemoteBackup \temp\Remote.pbf' | grep -E '^boots:'
echo "backup: $((SECONDS - t0)) s"
check "the image is in the host's folder" test -s "$work/host/Remote.pbf"

phase "the remote options point nowhere, the desktop agent at the host; a file changed"
dead_port=$(free_port)
cedev reg "$dev" set "$product\\Settings" dwPort dword "$dead_port" >/dev/null
cedev reg "$dev" set "$agent" Server sz 127.0.0.1 >/dev/null
cedev reg "$dev" set "$agent" BackupPort dword "$port" >/dev/null
printf 'changed after the backup' >"$work/changed"
cedev put "$dev" "$work/changed" "$letter"

phase "RemoteRestore with ImageId 7, through its resets"
t0=$SECONDS
cedev run "$dev" "$program" 'RemoteRestore \temp\Remote.pbf ImageId 7' >"$work/restore.out" || true
grep -E '^boots:' "$work/restore.out" || true
echo "restore: $((SECONDS - t0)) s"
check "the restore went through its resets" grep -q -E '^boots: 3, resets: 3' "$work/restore.out"
check "the image id is logged" logged "$dev" 'Restore of imageid 7'
check "the host came from the desktop agent's key" logged "$dev" 'Set HostName to \[127\.0\.0\.1\]'
check "the restore after the reset reached the agent's host" logged "$dev" "ConnectToHost 127\\.0\\.0\\.1:$port .*"
check "the remote options' host was never tried" bash -c "! grep -q ':$dead_port' <('$bin/cedev' cat '$dev' '\\temp\\BackupLogOld.txt'; '$bin/cedev' cat '$dev' '$device_log')"
cedev get "$dev" "$letter" "$work/restored"
check "the file is back as it was backed up" cmp -s "$work/original" "$work/restored"
check "the report says the restore succeeded" \
  bash -c "'$bin/cedev' cat '$dev' '$report' | iconv -f UTF-16 -t UTF-8 | grep -q '^Result : Restore succeeded'"
check "the host service heard the restore's outcome" grep -q -i 'complete' "$work/host.log"
finish
