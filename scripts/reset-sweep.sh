#!/usr/bin/env bash
# The reset sweep: runs one operation on copies of a device, resetting the
# device right after each of its device-changing calls in turn, and checks
# that the device survives every one of those resets.
#
#   scripts/reset-sweep.sh [OPTIONS] PROGRAM [COMMAND-LINE]
#
# A plain run on a copy counts the operation's calls (cedev run
# --count-calls: file, registry and process calls of every program of the
# run, over all its boots) and gives the state after it. Then for N from 1
# to one past the count (every N while that is at most --max-runs runs,
# else every Pth for the smallest prime P that fits) a fresh copy runs
# `cedev run --reset-after N`, which resets the device after call N, boots
# it and goes on until the device is idle. Checked for each N:
#   no crash    cedev exits 0 and no device program ended abnormally (an end
#               by the reset is no crash);
#   no hang     each run ends within --timeout host seconds;
#   Startup     "\Windows\StartUp" holds the files it held before (names and
#               contents);
#   no torn file every file of the device is as before the operation or as
#               after the plain run (--vary names files whose content may be
#               anything, such as logs), and none of those two is lost;
#   hives       both hives open and read (cedev reg dump HKLM and HKCU);
#   rerun       a later plain run of the same operation exits 0.
# The hive files and the device's databases are checked by reading them,
# not by their bytes.
#
# Options:
#   --device DIR     the device to start from (default: a fresh sample device,
#                    created and installed with cedev)
#   --bin DIR        the build's bin folder (default: build/bin)
#   --only N[,N...]  these N only
#   --spread K       K values of N spread evenly from 1 to one past the count
#                    (the short form)
#   --max-runs R     at most R reset runs (400)
#   --timeout S      host seconds per run (120)
#   --vary PATH      a device path, "/" for "\", relative to the root, that may
#                    hold any content afterwards; shell patterns, case
#                    ignored (repeatable)
#   --keep DIR       keep the copies of failed runs in DIR
# Prints one line per N and a summary; exits 1 when any check failed.
set -uo pipefail

bin="$(cd "$(dirname "$0")/.." && pwd)/build/bin"
device="" only="" spread="" maxRuns=400 timeout=120 keep=""
vary=()
while [ $# -gt 0 ]; do
  case "$1" in
    --device) device="$2"; shift 2 ;;
    --bin) bin="$2"; shift 2 ;;
    --only) only="$2"; shift 2 ;;
    --spread) spread="$2"; shift 2 ;;
    --max-runs) maxRuns="$2"; shift 2 ;;
    --timeout) timeout="$2"; shift 2 ;;
    --vary) vary+=("$2"); shift 2 ;;
    --keep) keep="$2"; shift 2 ;;
    --*) echo "reset-sweep: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  sed -n '2,/^set -uo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
program="$1"
cmdline="${2:-}"
cedev="$bin/cedev"
[ -x "$cedev" ] || { echo "reset-sweep: no $cedev (build first)" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/reset-sweep.XXXXXX")"
trap 'rm -rf "$work"' EXIT

if [ -z "$device" ]; then
  device="$work/sample"
  if ! "$cedev" create "$device" >"$work/create.log" 2>&1 || ! "$cedev" install "$device" >>"$work/create.log" 2>&1
  then
    cat "$work/create.log" >&2
    echo "reset-sweep: the sample device could not be made" >&2
    exit 2
  fi
fi

# The content of every file of a device as "HASH PATH" lines (PATH relative
# to the device root), hive and database files left out.
fingerprint() {
  (cd "$1/fs" && find . -type f ! -name '*.hv' ! -name '*.hv-*' ! -name '*.vol' ! -name '*.vol-*' -print0 |
     sort -z | xargs -0 -r sha256sum) | sed 's#  \./# #'
}

varies() {
  local path="$1" pattern
  shopt -s nocasematch
  for pattern in "${vary[@]+"${vary[@]}"}"; do
    # shellcheck disable=SC2053  # the pattern is meant to match
    if [[ "$path" == $pattern ]]; then shopt -u nocasematch; return 0; fi
  done
  shopt -u nocasematch
  return 1
}

startup() { (cd "$1/fs/Windows/StartUp" 2>/dev/null && find . -type f -print0 | sort -z | xargs -0 -r sha256sum); }

run() {  # run DIR LOG ARGS...: a cedev run under the time limit; its exit code
  local dir="$1" log="$2"
  shift 2
  timeout --kill-after=10 "$((timeout + 30))" "$cedev" run --timeout "$timeout" "$@" "$dir" "$program" \
    ${cmdline:+"$cmdline"} >"$log" 2>&1
}

# The plain run: the count and the state after the operation.
cp -a "$device" "$work/ref"
run "$work/ref" "$work/ref.log" --count-calls
refStatus=$?
if [ $refStatus -ne 0 ]; then
  tail -20 "$work/ref.log" >&2
  echo "reset-sweep: the plain run failed (exit $refStatus)" >&2
  exit 1
fi
total=$(sed -n 's/^run: calls counted: \([0-9]*\) .*/\1/p' "$work/ref.log" | tail -1)
[ -n "$total" ] || { echo "reset-sweep: the plain run printed no count" >&2; exit 1; }
echo "reset-sweep: $program \"$cmdline\": $(grep '^run: calls counted' "$work/ref.log" | tail -1 | cut -d: -f3-)"

declare -A before after
while read -r hash path; do before["$path"]=$hash; done < <(fingerprint "$device")
while read -r hash path; do after["$path"]=$hash; done < <(fingerprint "$work/ref")
startupBefore="$(startup "$device")"

# The N to reset after.
points=()
if [ -n "$only" ]; then
  IFS=, read -r -a points <<<"$only"
elif [ -n "$spread" ]; then
  last=$((total + 1))
  for ((k = 0; k < spread; k++)); do
    n=$((spread > 1 ? 1 + k * (last - 1) / (spread - 1) : 1))
    [ "${#points[@]}" -gt 0 ] && [ "${points[-1]}" -eq "$n" ] && continue
    points+=("$n")
  done
else
  last=$((total + 1)) step=1
  if [ "$last" -gt "$maxRuns" ]; then
    isPrime() { local n=$1 d; for ((d = 2; d * d <= n; d++)); do ((n % d)) || return 1; done; return 0; }
    step=2
    while ! isPrime $step || [ $(((last + step - 1) / step)) -gt "$maxRuns" ]; do step=$((step + 1)); done
  fi
  for ((n = 1; n <= last; n += step)); do points+=("$n"); done
  echo "reset-sweep: ${#points[@]} reset runs, N from 1 to $last step $step"
fi

# Checks one device after its reset run; prints the problems found.
check() {
  local dir="$1" hash path
  [ "$(startup "$dir")" = "$startupBefore" ] || echo "the Startup folder changed"
  declare -A seen=()
  while read -r hash path; do
    seen["$path"]=1
    varies "$path" && continue
    if [ "${before[$path]:-}" != "$hash" ] && [ "${after[$path]:-}" != "$hash" ]; then
      if [ -z "${before[$path]:-}" ] && [ -z "${after[$path]:-}" ]; then
        echo "torn: \\${path//\//\\} is left over (in neither state)"
      else
        echo "torn: \\${path//\//\\} is neither its old nor its new content"
      fi
    fi
  done < <(fingerprint "$dir")
  for path in "${!before[@]}"; do
    [ -n "${after[$path]:-}" ] && [ -z "${seen[$path]:-}" ] && ! varies "$path" && echo "lost: \\${path//\//\\}"
  done
  for hive in HKLM HKCU; do
    "$cedev" reg "$dir" dump "$hive" >/dev/null 2>&1 || echo "the hive $hive cannot be read"
  done
}

failed=0 struck=0
start=$SECONDS
for n in "${points[@]}"; do
  dev="$work/dev"
  rm -rf "$dev"
  cp -a "$device" "$dev"
  problems=()
  run "$dev" "$work/run.log" --reset-after "$n"
  status=$?
  if [ $status -eq 124 ] || [ $status -eq 137 ]; then
    problems+=("hang: the reset run did not end within $timeout s")
  elif [ $status -ne 0 ]; then
    problems+=("the reset run failed (exit $status): $(grep -E '^run: |failed' "$work/run.log" | tail -1)")
  fi
  if grep -q 'ended abnormally' "$work/run.log"; then
    problems+=("crash: $(grep 'ended abnormally' "$work/run.log" | head -1)")
  fi
  where=$(sed -n 's/^reset-after: call [0-9]* ([a-z]*) was \([A-Za-z]*\), a [a-z]* call, in pid [0-9]* \([^"]*\) ".*/\1 in \2/p' \
    "$work/run.log" | head -1)
  if [ -n "$where" ]; then struck=$((struck + 1)); else where="no reset (past the end)"; fi
  while IFS= read -r line; do [ -n "$line" ] && problems+=("$line"); done < <(check "$dev")
  run "$dev" "$work/rerun.log"
  status=$?
  [ $status -eq 0 ] || problems+=("rerun: the plain run after it failed (exit $status): $(tail -1 "$work/rerun.log")")
  if [ ${#problems[@]} -eq 0 ]; then
    echo "N=$n: $where: ok"
  else
    failed=$((failed + 1))
    echo "N=$n: $where: FAILED"
    printf '    %s\n' "${problems[@]}"
    if [ -n "$keep" ]; then
      mkdir -p "$keep"
      rm -rf "$keep/N$n"
      mv "$dev" "$keep/N$n"
      cp "$work/run.log" "$keep/N$n.run.log"
      cp "$work/rerun.log" "$keep/N$n.rerun.log"
    fi
  fi
done
echo "reset-sweep: ${#points[@]} runs ($struck reset), $failed failed, $((SECONDS - start)) s"
[ $failed -eq 0 ]
