# Shared by the scripts/e2e-*.sh runs (sourced, not run): a scratch device
# with the built package, checks that print their outcome, and digests of a
# device (files, registry values, database records) to compare before and
# after a run. The sourcing script sets bin (the build's bin folder) first.

work="$(mktemp -d "${TMPDIR:-/tmp}/quilmo-e2e.XXXXXX")"
e2e_cleanup_hooks=()
e2e_cleanup() {
  local hook
  for hook in "${e2e_cleanup_hooks[@]}"; do eval "$hook" || true; done
  if [[ -z ${E2E_KEEP:-} ]]; then rm -rf "$work"; else echo "kept $work"; fi
}
trap e2e_cleanup EXIT

cedev() { "$bin/cedev" "$@"; }
program='\Program Files\Quilmo Backup\Quilmo Backup.exe'
product='HKLM\SOFTWARE\Quilmo Software\Quilmo Backup'
device_log='\temp\BackupLog.txt'
report='\Program Files\Quilmo Backup\Quilmo Backup History\BackupReport.txt'

failed=0
check() {  # check TEXT COMMAND...: runs the command quietly, prints the outcome
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "checked: $what"; else echo "FAILED:  $what"; failed=$((failed + 1)); fi
}
finish() {
  echo "run time: ${SECONDS} s"
  if ((failed)); then
    echo "$failed check(s) failed"
    exit 1
  fi
  echo "all checks passed"
}

# new_device DIR: the sample device with the product installed (a copy of
# E2E_DEVICE_TEMPLATE when that names one: scripts/e2e-template.sh); the
# command-line options without the password, so no dialog waits unless a
# run asks for one.
new_device() {
  if [[ -n ${E2E_DEVICE_TEMPLATE:-} && -d ${E2E_DEVICE_TEMPLATE:-} ]]; then
    cp -a "$E2E_DEVICE_TEMPLATE" "$1"
  else
    cedev create "$1" >/dev/null
    cedev install "$1" >/dev/null
  fi
  cedev reg "$1" set "$product\\Config" AllowLocalCommandLineOps dword 1 >/dev/null
  cedev reg "$1" set "$product\\Config" AllowRemoteCommandLineOps dword 1 >/dev/null
  cedev reg "$1" set "$product\\Settings\\CommandLine" dwUnattendedOptions dword 715 >/dev/null
}

# digest DEV NAME: the device's files (less the product's and the boot-time
# runner's logs), registry values and database records, into $work/NAME.
# The hives and volumes are compared value by value and record by record.
digest() {
  local dev=$1 out="$work/$2"
  mkdir -p "$out"
  (cd "$dev/fs" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum) |
    grep -v -E 'temp/BackupLog(Old)?\.txt$|/QuilmoInitLog\.txt$|\.volc?$|\.hv$' >"$out/files" || true
  { cedev reg "$dev" dump HKLM; cedev reg "$dev" dump HKCU; } >"$out/registry"
  cedev db "$dev" digest >"$out/databases"
}

# without_kiosk_config NAME...: drops the kiosk configuration key from
# those digests (each kiosk start copies the options file into it).
without_kiosk_config() {
  local d
  for d in "$@"; do
    awk '/^HKEY/ { skip = /\\kioskconfig$/ } !skip' "$work/$d/registry" >"$work/$d/registry.less"
    mv "$work/$d/registry.less" "$work/$d/registry"
  done
}

# same_digest A B: whether two digests agree; prints the differences.
same_digest() {
  local what ok=0
  for what in files registry databases; do
    if ! diff -q "$work/$1/$what" "$work/$2/$what" >/dev/null; then
      echo "-- $what differ ($1 <, $2 >):"
      diff "$work/$1/$what" "$work/$2/$what" | head -10
      ok=1
    fi
  done
  return $ok
}

# device_logs DEV: the product's log of the last fresh start and the one
# before it (a fresh start rotates the log).
device_logs() {
  cedev cat "$1" '\temp\BackupLogOld.txt' 2>/dev/null || true
  cedev cat "$1" "$device_log" 2>/dev/null || true
}
# logged DEV PATTERN: the product's log has a line matching the extended
# regular expression (after its "L CLASS LINE : " prefix).
# (Read whole first: grep -q ends early, which pipefail would take for a
# failed cat.)
logged() {
  local text
  text=$(device_logs "$1" | tr -d '\r')
  grep -q -E "^[LEW] [A-Za-z]+ [0-9]+ : ($2)\$" <<<"$text"
}
# boxes DEV: the screen log's message boxes (texts only), one a line.
boxes() { cedev screenlog "$1"; }

# A local port nothing listens on.
free_port() {
  local port=$((20000 + RANDOM % 20000))
  while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((20000 + RANDOM % 20000)); done
  echo "$port"
}

# stop_left_running DEV: ends the device programs that a run left running
# (`cedev run --until`), by their process ids, so that the next run starts
# from a quiet device. The resident system processes have no host process.
stop_left_running() {
  local pid
  for pid in $(cedev ps "$1" | awk 'NR > 1 && $1 ~ /^[0-9]+$/ && $1 < 1073741824 { print $1 }'); do
    kill "$pid" 2>/dev/null || true
  done
}

# phase TEXT: a heading, with the seconds since the script started.
phase() { echo "== $* [${SECONDS} s]"; }

# q TEXT: TEXT as a quoted word of a UI script (backslashes doubled).
q() { printf '"%s"' "${1//\\/\\\\}"; }

# ui_run NAME SCRIPT-TEXT [COMMAND-LINE]: a run of the main program on $dev
# under the UI script (kept as $work/NAME.ui); its output in $work/NAME.out,
# its exit code in $work/NAME.rc, its host seconds in $work/NAME.secs.
ui_run() {
  local name=$1 script=$2 args=${3:-}
  printf '%s\n' "$script" >"$work/$name.ui"
  local t0=$SECONDS rc=0
  local -a command=("$program")
  [[ -n $args ]] && command+=("$args")
  cedev run --ui-script "$work/$name.ui" "$dev" "${command[@]}" >"$work/$name.out" 2>&1 || rc=$?
  echo "$rc" >"$work/$name.rc"
  echo "$((SECONDS - t0))" >"$work/$name.secs"
  echo "$name: $((SECONDS - t0)) s"
}
# used_script NAME: the run ended well with every step of its script used.
used_script() { [[ $(cat "$work/$1.rc") == 0 ]]; }
# ui_checked NAME TEXT: the check TEXT that run NAME used its whole script;
# a failed run shows the lines that say why.
ui_checked() {
  check "$2" used_script "$1"
  used_script "$1" || grep -E '^ui script|^run:' "$work/$1.out" || true
}
