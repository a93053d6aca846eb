#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz: clang, AddressSanitizer and UBSan) and runs each
# for FUZZ_SECONDS (60 by default), then prints one line per target with its executions.
#
# The committed seeds (fuzz/corpus/<target>) are only read: each target works in
# build/fuzz/corpus/<target>, a copy of the seeds that keeps what earlier runs found, and a
# crash lands in build/fuzz/findings/<target>/. FUZZ_TARGETS="a b" runs only those targets.
# Exits non-zero when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
ALL_TARGETS=(config_parse records command_line report_url archive_walk login_launch)
read -r -a targets <<< "${FUZZ_TARGETS:-${ALL_TARGETS[*]}}"
case "$FUZZ_SECONDS" in ''|*[!0-9]*) echo "fuzz: FUZZ_SECONDS must be a number of seconds" >&2; exit 2 ;; esac

echo "== build fuzz"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

out=build/fuzz
summary=()
failed=0
for target in "${targets[@]}"; do
  binary="$out/fuzz/${target}_fuzzer"
  [ -x "$binary" ] || { echo "fuzz: no target $target (known: ${ALL_TARGETS[*]})" >&2; exit 2; }
  corpus="$out/corpus/$target"
  findings="$out/findings/$target"
  scratch="$out/scratch/$target"
  log="$out/logs/$target.log"
  mkdir -p "$corpus" "$findings" "$scratch" "$(dirname "$log")"
  cp -n fuzz/corpus/"$target"/* "$corpus"/

  echo "== fuzz $target for ${FUZZ_SECONDS} s (log: $log)"
  status=0
  # The targets that write files do so below TMPDIR: a folder of the build tree, removed after.
  TMPDIR="$PWD/$scratch" "$binary" "$corpus" -max_total_time="$FUZZ_SECONDS" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?
  rm -rf "$scratch"

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  files=$(find "$corpus" -type f | wc -l)
  if [ "$status" -eq 0 ]; then
    verdict="no findings"
  else
    failed=1
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
    verdict="FINDING (exit $status${artifact:+, input $artifact}; see $log)"
    tail -n 40 "$log"
  fi
  summary+=("$(printf 'fuzz %-13s %12s executions in %s s, corpus %s files: %s' \
    "$target" "${runs:-?}" "$FUZZ_SECONDS" "$files" "$verdict")")
done

echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
