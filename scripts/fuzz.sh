#!/usr/bin/env bash
# Builds the "fuzz" preset (clang, libFuzzer, address and undefined-behaviour
# sanitizers), writes the seed corpus and runs every fuzz program on it for a
# short time. Fails when a program finds a crash, a leak or a time-out, or
# when the build fails. QUILMO_FUZZ_SECONDS sets the time per program (20).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${QUILMO_FUZZ_SECONDS:-20}"
build=build-fuzz
# The entry points the readers provide; one missing is reported and skipped.
expected=(FuzzHeaderCheck FuzzIndexLoad FuzzDatabaseEntries FuzzXmlReaders FuzzDialogTemplate FuzzMenuBar FuzzUiScript FuzzScreenFile FuzzVolumeFile
          FuzzStoredRecord FuzzScheduleReader FuzzConfiguration FuzzDeployOptions)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"

seeds="$build/fuzz-seeds"
rm -rf "$seeds"
"$build/bin/quilmo_fuzz_seeds" "$seeds" >/dev/null

mapfile -t targets < <(grep -v '^$' "$build/fuzz/targets.txt" || true)
for name in "${expected[@]}"; do
  [[ " ${targets[*]} " == *" fuzz_$name "* ]] || echo "fuzz: entry point $name not written yet, skipped"
done

if ((${#targets[@]} == 0)); then
  echo "fuzz: no fuzz programs built yet, nothing run"
  exit 0
fi

passed=0
failed=0
for target in "${targets[@]}"; do
  work="$build/fuzz-work/$target"
  artifacts="$build/fuzz-artifacts/$target"
  rm -rf "$work"
  mkdir -p "$work" "$artifacts"
  log="$artifacts/run.log"
  # The first folder takes new inputs; the seed folder is only read.
  if "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "$seeds" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    echo "fuzz: $target passed ($runs inputs in ${seconds}s)"
    passed=$((passed + 1))
  else
    echo "fuzz: $target FAILED (inputs that fail are in $artifacts); end of its log:"
    tail -n 60 "$log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
