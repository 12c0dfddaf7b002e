#!/usr/bin/env bash
# Seeded random whole-program runs, every invariant checked on every event;
# two batches at once, one per core. Writes the simulation rows of
# the reliability table of README.md. A failing seed is printed with its trace and
# the command that replays it.
#   scripts/simulate.sh [SEEDS [MINUTES [FIRST_SEED]]]   default: 1000 seeds
#   of 60 simulated minutes from seed 1. PRESET=asan runs the sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-1000}
minutes=${2:-60}
first=${3:-1}
preset=${PRESET:-linux}

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target reliability_sim
bin=build/$preset/tests/reliability/reliability_sim
out=build/reliability
mkdir -p "$out"
rm -f "$out"/sim-*.stats "$out"/sim-*.log

half=$((count / 2))
pids=()
if ((half > 0)); then
  "$bin" --first "$first" --count "$half" --minutes "$minutes" --stats "$out/sim-1.stats" >"$out/sim-1.log" 2>&1 &
  pids+=($!)
fi
"$bin" --first $((first + half)) --count $((count - half)) --minutes "$minutes" --stats "$out/sim-2.stats" \
  >"$out/sim-2.log" 2>&1 &
pids+=($!)
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

for log in "$out"/sim-*.log; do
  # Everything from the first failure on: seed, what failed, the trace.
  awk '/^FAILED seed/ { failed = 1 } failed && /^seeds run/ { exit } failed' "$log"
done
tail -n 1 "$out"/sim-*.log
for f in "$out"/sim-*.stats; do [[ -f $f ]] || { echo "a batch left no stats: $f"; status=1; }; done

# Sums, except the first seed (the smallest) and the deepest or most (the largest).
awk -F'\t' '
  !($1 in v) { order[++n] = $1; v[$1] = $2; next }
  $1 == "first seed" { if ($2 < v[$1]) v[$1] = $2; next }
  $1 ~ /deepest|most/ { if ($2 > v[$1]) v[$1] = $2; next }
  { v[$1] += $2 }
  END { for (i = 1; i <= n; i++) printf "%s\t%s\n", order[i], v[order[i]] }
' "$out"/sim-*.stats >"$out/simulate.stats"
if ((status != 0)) && ! grep -q '^invariant violations' "$out/simulate.stats"; then
  printf 'invariant violations\t1\n' >>"$out/simulate.stats"
fi
tests/reliability/make_report.sh
exit "$status"
