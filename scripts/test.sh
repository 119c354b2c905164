#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice (a normal build and one with
# AddressSanitizer and UndefinedBehaviorSanitizer), builds the Debian packages and tests them
# (tests/package_test.sh), then runs each fuzz target for a while.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
fuzz_seconds=${FUZZ_SECONDS:-60}
"$top/scripts/install-deps.sh"
"$top/scripts/check-layering.sh"

for flavour in release asan; do
  echo "== $flavour build"
  "$top/scripts/build.sh" "$flavour"
  echo "== $flavour tests"
  (cd "$top/build/$flavour" && ctest --output-on-failure -j2 --timeout 600)
done

echo "== Debian packages"
"$top/scripts/package.sh"
"$top/tests/package_test.sh" "$top/build/package"

if [ "$fuzz_seconds" -gt 0 ]; then
  echo "== fuzz targets, ${fuzz_seconds}s each"
  "$top/scripts/build.sh" fuzz
  for target in "$top"/build/fuzz/tests/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus="$top/build/fuzz/corpus/$name"
    mkdir -p "$corpus"
    seeds="$top/tests/fuzz/seeds/${name#fuzz_}"
    [ -d "$seeds" ] || seeds=
    echo "-- $name"
    log="$top/build/fuzz/$name.log"
    if ! "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="$top/build/fuzz/" \
      "$corpus" ${seeds:+"$seeds"} >"$log" 2>&1; then
      tail -n 60 "$log"
      echo "$name found a fault" >&2
      exit 1
    fi
    tail -n 8 "$log"
  done
fi
echo "all tests passed"
