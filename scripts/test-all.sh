#!/usr/bin/env bash
# The whole test suite, from a fresh Debian machine (as root): installs what
# it needs, then builds and runs every test, and ends with one summary line.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

passed=0
failed=0
failures=()

# Runs one ctest preset and adds its counts to the summary.
run_ctest() {
  local preset=$1 log
  log=$(mktemp)
  if ctest --preset "$preset" 2>&1 | tee "$log"; then :; fi
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1 || true)
  if [[ -z $line ]]; then
    failed=$((failed + 1)); failures+=("ctest $preset: no result")
  else
    local total fails
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    fails=$(sed -E 's/.*tests passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - fails)); failed=$((failed + fails))
    ((fails == 0)) || failures+=("ctest $preset: $fails failed")
  fi
  rm -f "$log"
}

# Runs one Python unittest suite and adds its counts to the summary:
# expected failures count as passed, unexpected successes as failed, skips
# as neither.
run_unittest() {
  local name=$1 dir=$2 log status=0
  log=$(mktemp)
  echo "=== $name"
  python3 -m unittest discover -s "$dir" -v 2>&1 | tee "$log" || status=$?
  local counts ran bad skipped
  counts=$(grep -E '^(OK|FAILED)' "$log" | tail -1 || true)
  ran=$(sed -nE 's/^Ran ([0-9]+) tests? in .*/\1/p' "$log" | tail -1 || true)
  bad=$(grep -oE '(\(|, )(failures|errors|unexpected successes)=[0-9]+' <<<"$counts" \
        | awk -F= '{s += $2} END {print s + 0}' || true)
  skipped=$(grep -oE 'skipped=[0-9]+' <<<"$counts" | cut -d= -f2 || true)
  if [[ -z $ran || -z $counts ]]; then
    failed=$((failed + 1)); failures+=("$name: no result")
    rm -f "$log"; return
  fi
  ((status == 0 || bad > 0)) || bad=1
  local good=$((ran - bad - ${skipped:-0}))
  ((good > 0)) || good=0
  passed=$((passed + good)); failed=$((failed + bad))
  ((bad == 0)) || failures+=("$name: $bad failed")
  rm -f "$log"
}

# Runs one named check that is not a test suite.
run_check() {
  local name=$1; shift
  echo "=== $name"
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+=("$name"); fi
}

echo "=== Linux build on the Win32 stand-in"
cmake --preset linux >/dev/null
cmake --build --preset linux
run_ctest linux

echo "=== Reliability: seeded simulation, month-long soak, settings fuzzing"
run_check "seeded random simulation, 1000 seeds x 60 min" scripts/simulate.sh 1000 60
run_check "30-day soak" scripts/soak.sh 30
run_check "settings fuzzing, 45 s" scripts/fuzz.sh 45

echo "=== AddressSanitizer and UBSan build"
cmake --preset asan >/dev/null
cmake --build --preset asan
run_ctest asan

echo "=== Windows exe"
cmake --preset windows >/dev/null
cmake --build --preset windows
run_check "exe is static and imports only system DLLs" scripts/check-exe.sh build/windows/quorin.exe

echo "=== The exe under Wine"
make -C wine
run_unittest "Wine rig" wine/tests
run_unittest "the exe end to end under Wine" tests/e2e

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "summary: $passed passed, $failed failed"
((failed == 0))
