#!/usr/bin/env bash
# The main sheet's menu opens the connection dialog, the network share
# manager and the about box of a running main program (`cedev run
# --ui-script`, advanced mode, the share manager offered), and their
# effects are checked on the device:
#   - connection: a test against build/bin/hostservice is seen in the host
#     service's log, what OK stores is what was typed; against a closed port
#     the failure box comes at once (no retries while testing); ports out of
#     range are clamped, an over-long host name cut, the PPP peer stored by
#     its name;
#   - shares: the connect dialog cancelled and naming a share nobody offers
#     change nothing (logged, no box); one offered by the network is
#     connected through the platform's connect dialog (its record in HKCU "Comm\Redir\Connections\NAME", its
#     files under \Network\NAME, "RegisterFSRoot" set), a share without a
#     stored remote name is listed as such, the hint shows once per run, and
#     disconnecting removes the record, the folder and, with the last share,
#     "RegisterFSRoot";
#   - about: both links open through the shell (the screen log records the
#     addresses) and show as opened links; the version button shows the
#     installed versions.
# Run after the build: scripts/e2e-options-links.sh [BIN-DIR].
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(realpath "${1:-build/bin}")"
source scripts/e2e-lib.sh

dev="$work/device"
settings="$product\\Settings"
connections='HKCU\Comm\Redir\Connections'
redir='HKLM\Comm\Redir'

# reg_value KEY NAME: the value's data as `cedev reg query` shows it (a
# DWORD as its decimal number); nothing when it is missing.
reg_value() {
  cedev reg "$dev" query "$1" 2>/dev/null |
    awk -v name="$2" -F '    ' '$2 == name { d = $4; if ($3 == "REG_DWORD") { sub(/.*\(/, "", d); sub(/\).*/, "", d) } print d }'
}
reg_is() { [[ $(reg_value "$1" "$2") == "$3" ]]; }
no_value() { [[ -z $(reg_value "$1" "$2") ]]; }
no_key() { ! cedev reg "$dev" query "$1"; }
# The menu: the main sheet waits for its start timer, the dialog closes,
# then the sheet is closed.
sheet_open='program "Quilmo Backup.exe"
dialog 200
advance 1100'
sheet_close='dialog 65361
click 2'

phase "the device: advanced mode, the share manager and the vendor link offered"
new_device "$dev"
cedev reg "$dev" set "$product\\Config" BasicModeEnabled dword 0 >/dev/null
cedev reg "$dev" set "$product\\Config" ShowManageNetworkShares dword 1 >/dev/null
cedev reg "$dev" set "$product\\Config" VendorProvidedVersion dword 1 >/dev/null
cedev reg "$dev" set "$product\\Config" VendorUrl sz 'https://vendor.example/support' >/dev/null

phase "connection: a test against the host service, then OK"
mkdir -p "$work/host"
"$bin/hostservice" --port 0 --folder "$work/host" >"$work/host.log" 2>&1 &
host_pid=$!
e2e_cleanup_hooks+=("kill $host_pid")
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^hostservice listening on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$work/host.log")
  [[ -n $port ]] && break
  sleep 0.1
done
[[ -n $port ]] || { echo "the host service did not start:"; cat "$work/host.log"; exit 1; }
ui_run connect "$sheet_open
menu 32815
dialog 248
check 2078 1
expect-enabled 2115 1
expect-enabled 2093 0
expect-text 2093 5533
select 2053 1
expect-enabled 2085 1
set 2085 127.0.0.1
check 2107 0
focus 2093
set 2093 $port
focus 2085
click 2115
box 65083 ok
box 65090 ok
dialog 248
click 1
$sheet_close"
# The host logs the close a moment after the device has sent it.
for _ in $(seq 50); do grep -q ' disconnected$' "$work/host.log" && break; sleep 0.1; done
check "the connection run used its whole UI script" used_script connect
check "the test connected with the dialog's time-out, no retries, testing" \
  logged "$dev" "ConnectToHost 127\.0\.0\.1:$port timeout:10 retries:0 testing:1"
check "the host service saw the device connect" grep -q -E '^127\.0\.0\.1:[0-9]+ connected$' "$work/host.log"
check "the host service accepted it" grep -q -E '^127\.0\.0\.1:[0-9]+ accepted$' "$work/host.log"
check "the test closed the connection at once" grep -q -E '^127\.0\.0\.1:[0-9]+ disconnected$' "$work/host.log"
check "OK stored the host name typed" reg_is "$settings" csHostName 127.0.0.1
check "OK stored the port typed" reg_is "$settings" dwPort "$port"
check "OK stored the port as not the default one" reg_is "$settings" bUseDefaultPort 0
check "OK stored the host link as enabled" reg_is "$settings" bRemoteEnabled 1
check "OK stored a named host, not the PPP peer" reg_is "$settings" bMethod 0

phase "connection: a closed port, ports out of range, an over-long host name"
closed=$(free_port)
long_host=$(printf 'h%.0s' $(seq 300))
ui_run closed "$sheet_open
menu 32815
dialog 248
expect-text 2085 127.0.0.1
expect-text 2093 $port
focus 2093
set 2093 $closed
focus 2085
click 2115
box 65087 ok
dialog 248
expect-text 2093 $closed
focus 2093
set 2093 80
focus 2085
expect-text 2093 1024
focus 2093
set 2093 99999
focus 2085
expect-text 2093 65535
set 2085 $long_host
expect-text 2085 ${long_host:0:260}
focus 2093
set 2093 1000
click 1
$sheet_close"
check "the closed-port run used its whole UI script" used_script closed
# A retrying connect would take the whole 10 s time-out more than the run
# that connected at once (a slow build makes every run slow).
check "the failure box came before the time-out (no retries while testing)" \
  test "$(($(cat "$work/closed.secs") - $(cat "$work/connect.secs")))" -lt 10
check "the failed test was logged" logged "$dev" "Failed to connect to host connect\(\) Failed : 10061"
check "the screen log shows the failure text" \
  bash -c "'$bin/cedev' screenlog '$dev' | grep -q -F 'The desktop computer did not answer.'"
check "a port below the range typed before OK is stored as 1024" reg_is "$settings" dwPort 1024
# The dialog keeps 260 characters; the stored options keep 128 of them.
check "the host name is stored cut to the options' 128 characters" \
  reg_is "$settings" csHostName "${long_host:0:128}"

phase "connection: the PPP peer, the default port, the host link off"
ui_run peer "$sheet_open
menu 32815
dialog 248
select 2053 0
expect-enabled 2085 0
check 2107 1
expect-enabled 2093 0
expect-text 2093 5533
check 2078 0
expect-enabled 2115 0
expect-enabled 2053 0
click 1
$sheet_close"
check "the PPP peer run used its whole UI script" used_script peer
check "the PPP peer is stored by its name, whatever was typed" reg_is "$settings" csHostName ppp_peer
check "the PPP peer is stored as the method" reg_is "$settings" bMethod 1
check "the default port is stored" reg_is "$settings" dwPort 5533
check "the default port is stored as such" reg_is "$settings" bUseDefaultPort 1
check "the host link is stored as off" reg_is "$settings" bRemoteEnabled 0

phase "shares: one offered by the network is connected through the dialog"
mkdir -p "$work/images" "$work/loose"
printf 'an image' >"$work/images/week.pbf"
printf 'notes' >"$work/images/notes.txt"
printf 'loose' >"$work/loose/loose.txt"
cedev share "$dev" add Images "$work/images" --offered >/dev/null
# A share connected outside the dialog whose record lost its remote name.
cedev share "$dev" add Loose "$work/loose" >/dev/null
cedev reg "$dev" delete "$connections\\Loose" RemoteName >/dev/null
remote=$(cedev share "$dev" list | awk -F '\t' '$1 == "Images" { print $3 }')
check "before: the offered share is no folder of the device" bash -c "! '$bin/cedev' ls '$dev' '\\Network\\Images'"
ui_run share_connect "$sheet_open
menu 32816
box 65311 ok
dialog 250
expect-item 2076 =Loose 1 None
expect-enabled 2080 0
click 2075
dialog 1540
click 2
dialog 250
click 2075
dialog 1540
set 1152 Nowhere
click 1
dialog 250
click 2075
dialog 1540
select 1120 0
expect-text 1152 $(q "$remote")
click 1
dialog 250
expect-item 2076 =Images 1 $(q "$remote")
expect-item 2076 =Loose 1 None
click 1
$sheet_close"
check "the connecting run used its whole UI script (the hint once)" used_script share_connect
check "the share's record names its remote name" reg_is "$connections\\Images" RemoteName "$remote"
check "RegisterFSRoot is set" reg_is "$redir" RegisterFSRoot 1
check "the share's files are listed under \\Network\\Images" \
  bash -c "'$bin/cedev' ls '$dev' '\\Network\\Images' | grep -q ' week\\.pbf\$' &&
           '$bin/cedev' ls '$dev' '\\Network\\Images' | grep -q ' notes\\.txt\$'"
check "the platform counts it connected" bash -c "'$bin/cedev' share '$dev' list | grep -q -P '^Images\\t.*\\tconnected\$'"
check "the cancelled connect dialog was logged" \
  logged "$dev" "CNetworkShareManager::WNetConnectionDialog1 canceled by user"
check "a share the network does not offer failed without a box, logged" \
  logged "$dev" "CNetworkShareManager::WNetConnectionDialog1 failed.*"
check "the success was logged" \
  logged "$dev" "CNetworkShareManager::WNetConnectionDialog1 succeeded for .*Images connected to 2 devices"

phase "shares: disconnecting one, then the last"
ui_run share_drop "$sheet_open
menu 32816
box 65311 ok
dialog 250
list-tap 2076 =Images
expect-enabled 2080 1
click 2080
expect-enabled 2080 0
expect-item 2076 0 0 Loose
click 1
$sheet_close"
check "the first disconnecting run used its whole UI script" used_script share_drop
check "the share's record is gone" no_key "$connections\\Images"
check "its folder is gone" bash -c "! '$bin/cedev' ls '$dev' '\\Network\\Images'"
check "the platform counts it offered only" bash -c "'$bin/cedev' share '$dev' list | grep -q -P '^Images\\t.*\\toffered\$'"
check "RegisterFSRoot stays while a share is left" reg_is "$redir" RegisterFSRoot 1
ui_run share_last "$sheet_open
menu 32816
box 65311 ok
dialog 250
list-tap 2076 =Loose
click 2080
expect-enabled 2080 0
click 1
$sheet_close"
check "the last disconnecting run used its whole UI script" used_script share_last
check "the last share's record is gone" no_key "$connections\\Loose"
check "RegisterFSRoot is deleted with the last share" no_value "$redir" RegisterFSRoot
check "\\Network holds no share" bash -c "[[ -z \$('$bin/cedev' ls '$dev' '\\Network') ]]"

phase "about: the links and the version button"
version=$(reg_value "$settings" csVersion)
ui_run about "$sheet_open
menu 32818
dialog 100
expect-text 2116 \"Quilmo Backup\"
expect-text 2117 $(q "Version $version")
expect-visible 2070 1
expect-text 2122 http://www.quilmo.example/backup
tap 2122
expect-text 2121 https://vendor.example/support
tap 2121
screenshot about
click 2215
dialog 377
expect-text 2128 \"Installed versions\"
screenshot versions
click 1
dialog 100
click 1
$sheet_close"
opened() { cedev screenlog "$dev" | grep -F ": [open] $1 "; }
check "the about run used its whole UI script" used_script about
check "the product link opened through the shell" opened http://www.quilmo.example/backup
check "the vendor link opened through the shell" opened https://vendor.example/support
# link_drawn ID: the about box's control ID was drawn as an opened link.
link_drawn() { grep -E "<control [^>]* id=\"$1\" [^>]*underline=\"1\" textColor=\"#551A8B\"" "$dev/about.screen.xml"; }
check "the product link is drawn as an opened link" link_drawn 2122
check "the vendor link is drawn as an opened link" link_drawn 2121
check "the version dialog listed the program's installed version" \
  grep -q -F "Quilmo Backup.exe : $version" "$dev/versions.screen.xml"
finish
