#!/usr/bin/env bash
# Fuzzes the settings path (the stand-in's INI reader and the program's
# conversion) with libFuzzer under AddressSanitizer and UBSan, starting from
# the seed corpus in tests/reliability/corpus (which it never writes to).
# Writes the fuzzing rows of the reliability table of README.md.
#   scripts/fuzz.sh [SECONDS]   default: 600
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
out=build/reliability
work=build/fuzz/corpus        # what the fuzzer learns, kept between runs
artifacts=build/fuzz/artifacts
mkdir -p "$out" "$work" "$artifacts"
log=$out/fuzz.log

status=0
build/fuzz/tests/reliability/settings_fuzzer -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$work" tests/reliability/corpus >"$log" 2>&1 || status=$?
grep -a -E '^#[0-9]+ +DONE|^Done ' "$log" || true
if ((status != 0)); then
  echo "the fuzzer failed (status $status); the input is in $artifacts/:"
  grep -a -E 'property broken|ERROR|SUMMARY|Test unit written' "$log" || tail -n 30 "$log"
fi

execs=$(grep -a '^stat::number_of_executed_units' "$log" | awk '{ print $2 }' | tail -n 1)
cov=$(grep -a -o 'cov: [0-9]*' "$log" | tail -n 1 | awk '{ print $2 }')
{
  printf 'seconds fuzzed\t%s\n' "$seconds"
  printf 'inputs fuzzed (executions)\t%s\n' "${execs:-0}"
  printf 'inputs in the corpus\t%s\n' "$(ls "$work" | wc -l)"
  printf 'code edges covered\t%s\n' "${cov:-0}"
  printf 'invariant violations\t%s\n' "$((status != 0))"
} >"$out/fuzz.stats"
tests/reliability/make_report.sh
exit "$status"
