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

# Runs one Python unittest suite and adds its counts to the summary.
run_unittest() {
  local dir=$1 log
  log=$(mktemp)
  echo "=== python3 -m unittest: $dir"
  if python3 -m unittest discover -s "$dir" -v 2>&1 | tee "$log"; then :; fi
  local ran bad
  ran=$(sed -nE 's/^Ran ([0-9]+) tests? in .*/\1/p' "$log" | tail -1)
  if [[ -z $ran ]]; then
    failed=$((failed + 1)); failures+=("unittest $dir: no result")
  else
    bad=0
    for n in $(grep -E '^FAILED \(' "$log" | grep -oE '(failures|errors)=[0-9]+' | cut -d= -f2); do
      bad=$((bad + n))
    done
    passed=$((passed + ran - bad)); failed=$((failed + bad))
    ((bad == 0)) || failures+=("unittest $dir: $bad failed")
  fi
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

echo "=== AddressSanitizer and UBSan build"
cmake --preset asan >/dev/null
cmake --build --preset asan
run_ctest asan

echo "=== Windows exe"
cmake --preset windows >/dev/null
cmake --build --preset windows
run_check "exe is static and imports only system DLLs" scripts/check-exe.sh build/windows/quorin.exe

echo "=== The Wine rig: virtual COM1 and prefixes"
make -C wine
run_unittest wine/tests

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "summary: $passed passed, $failed failed"
((failed == 0))
