#!/usr/bin/env bash
# Whole-process timings of configtool beside the tools that do the same edit otherwise:
#   (a) one small edit of an xinetd service file, against sed -i;
#   (b) one edit at the top of a 64 MiB text file, against sed -i;
#   (c) 8 million replacements on one 16 MiB line, against the same run replacing nothing;
#   (d) an edit of a 23 MiB property list, against libplist's own parse and XML write
#       (plist_roundtrip) and against python3's plistlib making the same edit.
# Each command runs on a fresh copy of its file (hyperfine --prepare); the table shows medians.
# configtool syncs the new file and its folder to disk before it answers; sed and plistlib
# do not, so the comparisons favour them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QRB_BUILD_DIR:-$top/build/release}
tool=$build/configtool/configtool
roundtrip=$build/bench/plist_roundtrip
runs=${RUNS:-15}
for need in "$tool" "$(command -v hyperfine)" "$(command -v python3)"; do
  [ -x "$need" ] || { echo "missing: $need" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

python3 - <<'EOF'
service = ("service tftp\n{\n\tdisable\t\t= yes\n\tsocket_type\t= dgram\n\tprotocol\t= udp\n"
           "\twait\t\t= yes\n\tuser\t\t= root\n\tserver\t\t= /usr/libexec/tftpd\n"
           "\tserver_args\t= -s /private/tftpboot\n}\n")
open("service.src", "w").write(service)
with open("big.src", "w") as f:
    f.write("first = old\n")
    line = "filler = the quick brown fox jumps over the lazy dog %08d\n"
    f.write("".join(line % i for i in range((64 << 20) // len(line % 0))))
open("line.src", "w").write("k = " + "ab" * (8 << 20) + "\n")
EOF
plist_key=
if [ -f "$top/bench/make-large-plist.py" ]; then
  python3 "$top/bench/make-large-plist.py" plist.src >/dev/null
  # The edit: the last string of the first array of strings under a top-level key.
  plist_key=$(python3 - <<'EOF'
import plistlib
root = plistlib.load(open("plist.src", "rb"))
for key, value in root.items():
    if isinstance(value, list) and value and isinstance(value[-1], str):
        print(key)
        break
    if isinstance(value, str):
        print(key)
        break
EOF
)
fi
cat >plistlib-edit.py <<'EOF'
import plistlib, sys
path, key, value = sys.argv[1:]
with open(path, "rb") as f:
    root = plistlib.load(f)
old = root[key]
if isinstance(old, list):
    old[-1] = value
else:
    root[key] = value
with open(path, "wb") as f:
    plistlib.dump(root, f)
EOF

# Median seconds of each command, one line each, from one hyperfine run.
medians() {
  local json=$1
  shift
  hyperfine -N --style none --warmup 2 --runs "$runs" --export-json "$json" "$@" >/dev/null
  python3 -c 'import json,sys
for r in json.load(open(sys.argv[1]))["results"]: print(r["median"])' "$json"
}

rows=()
row() {  # name, ours, theirs, target text, ratio limit, "max"|"min"
  local ratio verdict
  ratio=$(python3 -c "print('%.2f' % ($2 / $3))")
  if [ "$6" = max ]; then
    verdict=$(python3 -c "print('ok' if $2 / $3 <= $5 else 'MISSED')")
  else
    verdict=$(python3 -c "print('ok' if $3 / $2 >= $5 else 'MISSED')")
  fi
  rows+=("$(printf '%-44s %10.2f %10.2f %7s   %-14s %s' "$1" "$(python3 -c "print($2*1000)")" \
    "$(python3 -c "print($3*1000)")" "$ratio" "$4" "$verdict")")
}

mapfile -t m < <(medians a.json \
  --prepare "cp service.src service" "$tool service disable no yes" \
  --prepare "cp service.src service" "sed -i 0,/disable/{/disable/s/yes/no/g} service")
row "(a) service file edit vs sed -i" "${m[0]}" "${m[1]}" "<= 1x" 1 max

mapfile -t m < <(medians b.json \
  --prepare "cp big.src big" "$tool big first new old" \
  --prepare "cp big.src big" "sed -i 0,/first/{/first/s/old/new/g} big")
row "(b) 64 MiB file, edit at the top vs sed -i" "${m[0]}" "${m[1]}" "<= 1x" 1 max

mapfile -t m < <(medians c.json \
  --prepare "cp line.src line" "$tool line k cd ab" \
  --prepare "cp line.src line" "$tool line k cd zz")
row "(c) 8M replacements on a 16 MiB line vs none" "${m[0]}" "${m[1]}" "<= 3x" 3 max

if [ -n "$plist_key" ] && [ -x "$roundtrip" ]; then
  mapfile -t m < <(medians d.json \
    --prepare "cp plist.src plist" "$tool plist $plist_key /srv/tftp" \
    --prepare "cp plist.src plist" "$roundtrip plist" \
    --prepare "cp plist.src plist" "python3 plistlib-edit.py plist $plist_key /srv/tftp")
  row "(d) 23 MiB plist edit vs plist_roundtrip" "${m[0]}" "${m[1]}" "<= 1.5x" 1.5 max
  row "(d) 23 MiB plist edit vs python3 plistlib" "${m[0]}" "${m[2]}" ">= 5x faster" 5 min
else
  echo "(d) skipped: needs bench/make-large-plist.py and $roundtrip" >&2
fi

printf '%-44s %10s %10s %7s   %-14s %s\n' "median of $runs runs" "ours ms" "other ms" ratio target \
  verdict
printf '%s\n' "${rows[@]}"
