#!/usr/bin/env bash
# Runs every fuzz target (or those named after the seconds) for a while on a scratch copy of
# its stored corpus, one at a time and one worker each, and prints per target the executions
# done and whether anything was found. New corpus entries and crashing inputs stay in the
# scratch folder, never in the repository. Exits 1 when any target found something.
#
#   fuzz/run-fuzzers.sh <build folder> <seconds per target> [target...]
# With FUZZ_LOG_DIR set, each run's whole output goes to <FUZZ_LOG_DIR>/<target>.log instead of
# the scratch folder; FUZZ_SCRATCH moves the scratch folder (default <build>/fuzz-scratch).
set -uo pipefail

build=${1:?build folder}
seconds=${2:?seconds per target}
shift 2
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(pdu_decode text_hex result_lines reply_poll gsm_listing receive_870 cdma_answer
    service_centre send_verdict)
fi
scratch=${FUZZ_SCRATCH:-$build/fuzz-scratch}
found=0
summary=()
for target in "${targets[@]}"; do
  program=$build/fuzz/fuzz_$target
  if [ ! -x "$program" ]; then
    echo "run-fuzzers: $program is not built" >&2
    exit 2
  fi
  corpus=$scratch/$target/corpus
  artifacts=$scratch/$target/artifacts
  rm -rf "$scratch/$target"
  mkdir -p "$corpus" "$artifacts"
  cp "$here/corpus/$target"/* "$corpus"/
  log=$scratch/$target/run.log
  if [ -n "${FUZZ_LOG_DIR:-}" ]; then
    mkdir -p "$FUZZ_LOG_DIR"
    log=$FUZZ_LOG_DIR/$target.log
  fi
  echo "== fuzz_$target for ${seconds}s (log: $log)"
  "$program" -max_total_time="$seconds" -print_final_stats=1 \
    -timeout=25 -rss_limit_mb=2048 -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1
  status=$?
  executions=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' |
    tail -n 1)
  crashes=$(find "$artifacts" -type f | wc -l)
  if [ $status -ne 0 ] || [ "$crashes" -ne 0 ]; then
    found=1
    verdict="FOUND (exit $status, $crashes artifacts in $artifacts)"
    grep -E 'invariant broken|ERROR: |SUMMARY: ' "$log" | head -n 5
  else
    verdict="nothing found"
  fi
  summary+=("$(printf '%-16s %12s executions  %s' "$target" "${executions:-?}" "$verdict")")
done
echo "== fuzz summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
exit $found
