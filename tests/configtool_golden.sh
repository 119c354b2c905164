#!/usr/bin/env bash
# Runs configtool over the fuzz seeds (property lists and text edits) and tests/golden/inputs and prints, for each run,
# its exit status, its standard output, whether it said anything on standard error, and the
# SHA-256 of the file afterwards ("same" when untouched). The listing kept in
# tests/golden/configtool_outputs.txt was made by an earlier configtool; the test compares a
# new build's listing with it, so that every file written stays byte for byte the same.
#   configtool_golden.sh CONFIGTOOL [EXPECTED]   (without EXPECTED: print the listing)
set -euo pipefail
tool=$1
expected=${2:-}
top=$(cd "$(dirname "$0")/.." && pwd)
seeds=$top/tests/fuzz/seeds
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # run NAME SOURCE ARGS...: one edit of a fresh copy of SOURCE
  local name=$1 source=$2 status out err sum
  shift 2
  cp "$source" "$work/file"
  status=0
  out=$("$tool" "$work/file" "$@" 2>"$work/err") || status=$?
  sum=same
  cmp -s "$source" "$work/file" || sum=$(sha256sum <"$work/file" | cut -c1-64)
  err=quiet
  [ -s "$work/err" ] && err=said
  printf '%s\t%s\t%s\t%q\t%s\t%s\n' "$name" "$(printf '%q ' "$@")" "$status" "$out" "$err" "$sum"
}

listing() {
  local f key
  for f in "$seeds"/plist/* "$top"/tests/golden/inputs/*; do
    for key in Label ProgramArguments a k key list s x y neg "zeta & <tag>" "minus one"; do
      run "${f#"$top"/tests/}" "$f" "$key" /srv/tftp
      run "${f#"$top"/tests/}" "$f" "$key"
    done
  done
  # A text seed is the text, the parameter, the old and the new value, separated by 0xFF.
  for f in "$seeds"/text_edit/*; do
    python3 - "$f" "$work" <<'PY'
import sys
parts = open(sys.argv[1], "rb").read().split(b"\xff", 3) + [b""] * 3
for i, p in enumerate(parts[:4]):
    open("%s/part%d" % (sys.argv[2], i), "wb").write(p)
PY
    run "${f#"$top"/tests/}" "$work/part0" "$(cat "$work/part1")" "$(cat "$work/part3")" \
      "$(cat "$work/part2")"
  done
}

if [ -z "$expected" ]; then
  listing
else
  listing >"$work/listing"
  diff -u "$expected" "$work/listing"
fi
