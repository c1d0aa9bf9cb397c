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
#   rerun       a later plain run of the same operation exits 0, and the
#               checks above hold after it too; a boot-time copy ("<file>c")
#               or a restore's staging file ("<file>~qr") beside its file
#               that the reset left may stay until then, not after it.
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
#   --may-leave PATH a device path (as for --vary) that a start cut short by
#                    the reset may leave for the next start to clear: allowed
#                    after the reset run, not after the rerun (repeatable)
#   --ends K         with the step or --spread: also the first K and the last K
#                    values of N
#   --step P         every Pth N from 1 (in place of the smallest prime that fits
#                    --max-runs)
#   --jobs J         J reset runs at once (1)
#   --keep DIR       keep the copies of failed runs in DIR
# Prints one line per N and a summary; exits 1 when any check failed.
set -uo pipefail

bin="$(cd "$(dirname "$0")/.." && pwd)/build/bin"
device="" only="" spread="" maxRuns=400 timeout=120 keep="" ends=0 step="" jobs=1
vary=() mayLeave=()
while [ $# -gt 0 ]; do
  case "$1" in
    --device) device="$2"; shift 2 ;;
    --bin) bin="$2"; shift 2 ;;
    --only) only="$2"; shift 2 ;;
    --spread) spread="$2"; shift 2 ;;
    --max-runs) maxRuns="$2"; shift 2 ;;
    --timeout) timeout="$2"; shift 2 ;;
    --vary) vary+=("$2"); shift 2 ;;
    --may-leave) mayLeave+=("$2"); shift 2 ;;
    --keep) keep="$2"; shift 2 ;;
    --ends) ends="$2"; shift 2 ;;
    --step) step="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
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

varies() {  # varies PATH [PATTERN...]: PATH matches one of the patterns (default: --vary)
  local path="$1" pattern
  shift
  [ $# -gt 0 ] || set -- "${vary[@]+"${vary[@]}"}"
  shopt -s nocasematch
  for pattern in "$@"; do
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
last=$((total + 1))
if [ -n "$only" ]; then
  IFS=, read -r -a points <<<"$only"
elif [ -n "$spread" ]; then
  for ((k = 0; k < spread; k++)); do
    points+=($((spread > 1 ? 1 + k * (last - 1) / (spread - 1) : 1)))
  done
else
  if [ -z "$step" ]; then
    step=1
    if [ "$last" -gt "$maxRuns" ]; then
      isPrime() { local n=$1 d; for ((d = 2; d * d <= n; d++)); do ((n % d)) || return 1; done; return 0; }
      step=2
      while ! isPrime $step || [ $(((last + step - 1) / step)) -gt "$maxRuns" ]; do step=$((step + 1)); done
    fi
  fi
  for ((n = 1; n <= last; n += step)); do points+=("$n"); done
fi
if [ -z "$only" ] && [ "$ends" -gt 0 ]; then
  for ((n = 1; n <= ends && n <= last; n++)); do points+=("$n"); done
  for ((n = last - ends + 1; n <= last; n++)); do [ $n -ge 1 ] && points+=("$n"); done
fi
mapfile -t points < <(printf '%s\n' "${points[@]}" | sort -n -u)
if [ -z "$only" ]; then
  echo "reset-sweep: ${#points[@]} reset runs, N from 1 to $last${step:+ step $step}${spread:+ spread $spread}$([ "$ends" -gt 0 ] && echo ", ends $ends")"
fi

# Checks one device after its reset run (mode "reset") or after the plain
# run that follows it (mode "rerun"); prints the problems found. A boot-time
# copy ("<file>c") or a restore's staging file ("<file>~qr") beside its file
# that a cut-short operation left may stay until the next operation, not
# after it.
check() {
  local dir="$1" mode="$2" hash path
  [ "$(startup "$dir")" = "$startupBefore" ] || echo "the Startup folder changed"
  declare -A seen=()
  while read -r hash path; do
    seen["$path"]=1
    varies "$path" && continue
    if [ "${before[$path]:-}" != "$hash" ] && [ "${after[$path]:-}" != "$hash" ]; then
      if [ -z "${before[$path]:-}" ] && [ -z "${after[$path]:-}" ]; then
        [ "$mode" = reset ] && [[ "$path" == *c ]] && [ -f "$dir/fs/${path%c}" ] && continue
        [ "$mode" = reset ] && [[ "$path" == *~qr ]] && [ -f "$dir/fs/${path%~qr}" ] && continue
        [ "$mode" = reset ] && [ ${#mayLeave[@]} -gt 0 ] && varies "$path" "${mayLeave[@]}" && continue
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

# One reset run and its checks, in its own folder; writes its report to
# $work/out/N (first line "ok" or "FAILED", then "where" and the problems).
sweepOne() {
  local n="$1" dir="$work/run$1" status where line
  local dev="$dir/dev" problems=()
  mkdir -p "$dir"
  cp -a "$device" "$dev"
  run "$dev" "$dir/run.log" --reset-after "$n"
  status=$?
  if [ $status -eq 124 ] || [ $status -eq 137 ]; then
    problems+=("hang: the reset run did not end within $timeout s")
  elif [ $status -ne 0 ]; then
    problems+=("the reset run failed (exit $status): $(grep -E '^run: |failed' "$dir/run.log" | tail -1)")
  fi
  if grep -q 'ended abnormally' "$dir/run.log"; then
    problems+=("crash: $(grep 'ended abnormally' "$dir/run.log" | head -1)")
  fi
  where=$(sed -n 's/^reset-after: call [0-9]* ([a-z]*) was \([A-Za-z]*\), a [a-z]* call, in pid [0-9]* \([^"]*\) ".*/\1 in \2/p' \
    "$dir/run.log" | head -1)
  while IFS= read -r line; do [ -n "$line" ] && problems+=("$line"); done < <(check "$dev" reset)
  run "$dev" "$dir/rerun.log"
  status=$?
  if [ $status -ne 0 ]; then
    problems+=("rerun: the plain run after it failed (exit $status): $(grep -E '^run: |failed' "$dir/rerun.log" | tail -1)")
  else
    while IFS= read -r line; do [ -n "$line" ] && problems+=("rerun: $line"); done < <(check "$dev" rerun)
  fi
  {
    if [ ${#problems[@]} -eq 0 ]; then echo ok; else echo FAILED; fi
    echo "${where:-}"
    for line in "${problems[@]+"${problems[@]}"}"; do echo "$line"; done
  } >"$work/out/$n.tmp"
  if [ ${#problems[@]} -gt 0 ] && [ -n "$keep" ]; then
    mkdir -p "$keep"
    rm -rf "$keep/N$n"
    mv "$dev" "$keep/N$n"
    cp "$dir/run.log" "$keep/N$n.run.log"
    cp "$dir/rerun.log" "$keep/N$n.rerun.log"
  fi
  rm -rf "$dir"
  mv "$work/out/$n.tmp" "$work/out/$n"
}

# Prints the report of N (in the order of the points) once it is there.
report() {
  local n="$1" verdict where
  { read -r verdict; read -r where; } <"$work/out/$n"
  if [ -n "$where" ]; then struck=$((struck + 1)); else where="no reset (past the end)"; fi
  if [ "$verdict" = ok ]; then
    echo "N=$n: $where: ok"
  else
    failed=$((failed + 1))
    echo "N=$n: $where: FAILED"
    tail -n +3 "$work/out/$n" | sed 's/^/    /'
  fi
}

failed=0 struck=0
start=$SECONDS
mkdir -p "$work/out"
next=0  # the first point not yet reported
for ((i = 0; i < ${#points[@]}; i++)); do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  sweepOne "${points[$i]}" &
  while [ $next -le $i ] && [ -f "$work/out/${points[$next]}" ]; do report "${points[$next]}"; next=$((next + 1)); done
done
wait
while [ $next -lt ${#points[@]} ]; do report "${points[$next]}"; next=$((next + 1)); done
echo "reset-sweep: ${#points[@]} runs ($struck reset), $failed failed, $((SECONDS - start)) s"
[ $failed -eq 0 ]
