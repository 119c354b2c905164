#!/usr/bin/env bash
# Builds the release tree and runs every benchmark: the Google Benchmark programs, then each
# whole-process comparison script beside this one (bench/compare-*.sh), each printing a table.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" release
export QRB_BUILD_DIR="$top/build/release"
for program in "$top"/build/release/bench/bench_*; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" --benchmark_min_time=0.2
done
for script in "$top"/bench/compare-*.sh; do
  [ -x "$script" ] || continue
  echo "== $(basename "$script")"
  "$script"
done
