#!/usr/bin/env bash
# A month (or DAYS) of simulated attract mode with occasional visitors, every
# invariant checked, the heap compared between the first and the last day.
# Writes the soak rows of the reliability table of README.md.
#   scripts/soak.sh [DAYS [SEED]]   default: 30 days, seed 1
set -euo pipefail
cd "$(dirname "$0")/.."
days=${1:-30}
seed=${2:-1}

cmake --preset linux >/dev/null
cmake --build --preset linux --target reliability_soak
mkdir -p build/reliability
status=0
build/linux/tests/reliability/reliability_soak --days "$days" --seed "$seed" --stats build/reliability/soak.stats ||
  status=$?
tests/reliability/make_report.sh
exit "$status"
