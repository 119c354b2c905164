#!/usr/bin/env bash
# scripts/check-docs.sh on the tree and on copies of its README and docs/ with one fault
# planted: the tree passes; each copy fails, naming the page, the line and the fault.
# Exit status 0 when every check held.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

"$top/scripts/check-docs.sh" "$top" >"$scratch/out" 2>&1 || { cat "$scratch/out"; fail "the tree"; }
echo "the tree: $(cat "$scratch/out")"

# copy_tree: $copy holds the README, docs/, man/ and every other page of the tree (the README of
# a folder that docs/ links to), each where it lies.
copy_tree() {
  rm -rf "$copy"
  mkdir -p "$copy"
  cp -r "$top/README.md" "$top/docs" "$top/man" "$top/platform" "$copy/"
  (cd "$top" && find . \( -name build -o -name .git \) -prune -o -name '*.md' -print) |
    while read -r page; do
      mkdir -p "$copy/$(dirname "$page")"
      cp "$top/$page" "$copy/$page"
    done
}

# page | the text appended to it | what the report must say
cases=(
  "README.md|See [the guide](docs/guide.md).|README.md:LINE: docs/guide.md: no such file"
  "docs/configtool.md|![A picture](images/missing.png)|docs/configtool.md:LINE: images/missing.png: no such file"
  "docs/files.md|[up](../docs/configtool.md#no-such-heading)|docs/files.md:LINE: ../docs/configtool.md#no-such-heading: no heading #no-such-heading in docs/configtool.md"
  "docs/testing.md|[here](#benchmarks-and-their-figure)|docs/testing.md:LINE: #benchmarks-and-their-figure: no heading"
  "docs/install.md|Pages: [a](configtool.md) and [b](../man/nosuch.8).|docs/install.md:LINE: ../man/nosuch.8: no such file"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r page line want <<<"$entry"
  copy="$scratch/tree"
  copy_tree
  printf '\n%s\n' "$line" >>"$copy/$page"
  want=${want//LINE/$(wc -l <"$copy/$page")}
  if "$top/scripts/check-docs.sh" "$copy" >"$scratch/out" 2>&1; then
    fail "$page with '$line' passed"
  fi
  grep -qF "$want" "$scratch/out" || { cat "$scratch/out"; fail "$page: no '$want'"; }
  [ "$(wc -l <"$scratch/out")" = 1 ] || { cat "$scratch/out"; fail "$page: more than the one fault"; }
  echo "refused: $want"
done

# Links that resolve pass: another site, a code span, a fenced block, a heading with code and
# punctuation, the second of two equal headings.
copy="$scratch/tree"
copy_tree
cat >>"$copy/docs/testing.md" <<'PAGE'

## A `code` heading: with (punctuation)!

## Twice

## Twice

[site](https://example.org/x.md) `[span](nosuch.md)` [a](#a-code-heading-with-punctuation)
[b](#twice-1) [c](testing.md#twice)

```
[fenced](nosuch.md)
```
PAGE
"$top/scripts/check-docs.sh" "$copy" >"$scratch/out" 2>&1 || { cat "$scratch/out"; fail "links that resolve"; }
echo "passed: links that resolve"

# A README of 200 lines is refused.
copy_tree
while [ "$(wc -l <"$copy/README.md")" -lt 200 ]; do echo >>"$copy/README.md"; done
if "$top/scripts/check-docs.sh" "$copy" >"$scratch/out" 2>&1; then fail "a README of 200 lines passed"; fi
grep -qF "README.md: 200 lines, at least 200" "$scratch/out" || { cat "$scratch/out"; fail "README length"; }
echo "refused: a README of 200 lines"
