#!/usr/bin/env bash
# Whole-process timings of configtool beside the tools that do the same edit otherwise:
#   (a) one small edit of an xinetd service file, against sed -i;
#   (b) one edit at the top of a 64 MiB text file, against sed -i; and, as durable as ours,
#       against sed -i then sync of the file and its folder, and cp then sync (the kernel's own
#       copy: the floor of any durable rewrite);
#   (c) 8 million replacements on one 16 MiB line, against the same run replacing nothing;
#   (d) an edit of a 23 MiB property list, against libplist's own parse and XML write
#       (plist_roundtrip) and against python3's plistlib making the same edit.
# Then the peak memory (maximum resident set, /usr/bin/time) of one run of each: the text edit
# beside sed, the XML edit beside plistlib, and the edit of the same list in binary form
# (about 10 MiB) beside the file's size.
# Each command runs on a fresh copy of its file (hyperfine --prepare). The table shows wall-clock
# medians and their ratio (the verdict), and beside it the ratio of CPU time (user + system),
# which a busy machine disturbs less.
# configtool syncs the new file and its folder to disk before it answers; sed and plistlib
# do not, so the comparisons favour them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QRB_BUILD_DIR:-$top/build/release}
tool=$build/configtool/configtool
roundtrip=$build/bench/plist_roundtrip
runs=${RUNS:-15}
for need in "$tool" "$(command -v hyperfine)" "$(command -v python3)" /usr/bin/time; do
  [ -x "$need" ] || { echo "missing: $need" >&2; exit 1; }
done

work=$(mktemp -d)
shm=
trap 'rm -rf "$work"; [ -z "$shm" ] || rm -rf "$shm"' EXIT
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
have_plist=
if [ -f "$top/bench/make-large-plist.py" ]; then
  # Its root starts like a daemon description: "ProgramArguments" ends in a folder.
  python3 "$top/bench/make-large-plist.py" plist.src >/dev/null &&
    python3 "$top/bench/make-large-plist.py" bplist.src --binary >/dev/null && have_plist=1
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

# Prints "median-wall-seconds cpu-seconds" of each command, one line each, from one hyperfine
# run (cpu is the mean of user + system time).
medians() {
  local json=$1
  shift
  hyperfine -N --style none --warmup 2 --runs "$runs" --export-json "$json" "$@" \
    >/dev/null 2>"$json.log" || { cat "$json.log" >&2; return 1; }
  python3 -c 'import json,sys
for r in json.load(open(sys.argv[1]))["results"]: print(r["median"], r["user"] + r["system"])' \
    "$json"
}

cat >row.py <<'EOF'
import sys
name, ours, other, target, limit, kind = sys.argv[1:]
ow, oc = map(float, ours.split())
tw, tc = map(float, other.split())
ok = ow / tw <= float(limit) if kind == "max" else tw / ow >= float(limit)
verdict = "" if kind == "ref" else "ok" if ok else "MISSED"
print("%-44s %8.1f %8.1f %6.2f %6.2f   %-12s %s" % (name, ow * 1000, tw * 1000, ow / tw, oc / tc,
                                                   target, verdict))
EOF
# name, ours, other (each "wall cpu"), target text, limit, max|min: ours/other at most the limit,
# or other/ours at least it; ref: no target. The verdict goes by the wall-clock medians.
rows=()
row() { rows+=("$(python3 row.py "$@")"); }

mapfile -t m < <(medians a.json \
  --prepare "cp service.src service" "$tool service disable no yes" \
  --prepare "cp service.src service" "sed -i 0,/disable/{/disable/s/yes/no/g} service")
row "(a) service file edit vs sed -i" "${m[0]}" "${m[1]}" "<= 1x" 1 max

# The same in a memory file system, where syncing costs nothing: the programs' own cost.
if shm=$(mktemp -d -p /dev/shm 2>/dev/null); then
  cp service.src "$shm/service.src"
  mapfile -t m < <(medians a2.json \
    --prepare "cp $shm/service.src $shm/service" "$tool $shm/service disable no yes" \
    --prepare "cp $shm/service.src $shm/service" \
    "sed -i 0,/disable/{/disable/s/yes/no/g} $shm/service")
  rm -rf "$shm"
  row "(a) the same on tmpfs (no cost to sync)" "${m[0]}" "${m[1]}" "reference" 1 ref
fi

mapfile -t m < <(medians b.json \
  --prepare "cp big.src big" "$tool big first new old" \
  --prepare "cp big.src big" "sed -i 0,/first/{/first/s/old/new/g} big")
row "(b) 64 MiB file, edit at the top vs sed -i" "${m[0]}" "${m[1]}" "<= 1x" 1 max

# As durable as configtool: the new file and the folder synced before the command ends.
mapfile -t m < <(medians b2.json \
  --prepare "cp big.src big" "$tool big first new old" \
  --prepare "cp big.src big" "sh -c 'sed -i 0,/first/{/first/s/old/new/g} big && sync big .'" \
  --prepare "rm -f big2" "sh -c 'cp big.src big2 && sync big2 .'")
row "(b) the same vs sed -i + sync" "${m[0]}" "${m[1]}" "<= 0.6x" 0.6 max
row "(b) the same vs cp + sync" "${m[0]}" "${m[2]}" "<= 2x" 2 max

mapfile -t m < <(medians c.json \
  --prepare "cp line.src line" "$tool line k cd ab" \
  --prepare "cp line.src line" "$tool line k cd zz")
row "(c) 8M replacements on a 16 MiB line vs none" "${m[0]}" "${m[1]}" "<= 3x" 3 max

if [ -n "$have_plist" ] && [ -x "$roundtrip" ]; then
  mapfile -t m < <(medians d.json \
    --prepare "cp plist.src plist" "$tool plist ProgramArguments /srv/tftp" \
    --prepare "cp plist.src plist" "$roundtrip plist" \
    --prepare "cp plist.src plist" "python3 plistlib-edit.py plist ProgramArguments /srv/tftp")
  row "(d) 23 MiB plist edit vs plist_roundtrip" "${m[0]}" "${m[1]}" "<= 1.2x" 1.2 max
  row "(d) 23 MiB plist edit vs python3 plistlib" "${m[0]}" "${m[2]}" "<= 0.2x" 0.2 max
else
  echo "(d) skipped: needs bench/make-large-plist.py and $roundtrip" >&2
fi

printf '%-44s %8s %8s %6s %6s   %-12s %s\n' "$runs runs each, wall-clock medians" "ours ms" \
  "other ms" ratio "cpu" target verdict
printf '%s\n' "${rows[@]}"

# Peak memory in KiB of one run of a command on a fresh copy of a file.
peak() {
  local src=$1 dst=$2
  shift 2
  cp "$src" "$dst"
  /usr/bin/time -f %M -o peak.txt "$@" >/dev/null 2>&1 || true
  cat peak.txt
}
# name, ours KiB, other KiB, target text, limit: ours/other at most the limit.
memrow() {
  python3 -c 'import sys
name, ours, other, target, limit = sys.argv[1:]
r = int(ours) / int(other)
print("%-44s %8d %8d %6.2f   %-12s %s" % (name, int(ours) // 1024, int(other) // 1024, r, target,
      "ok" if r <= float(limit) else "MISSED"))' "$@"
}
echo
printf '%-44s %8s %8s %6s   %-12s %s\n' "peak memory (maximum resident set)" "ours MiB" \
  "other" ratio target verdict
memrow "(b) 64 MiB text edit vs an 8 MiB bound" "$(peak big.src big "$tool" big first new old)" \
  8192 "< 1x" 0.999
if [ -n "$have_plist" ]; then
  memrow "(d) 23 MiB XML plist edit vs plistlib" \
    "$(peak plist.src plist "$tool" plist ProgramArguments /srv/tftp)" \
    "$(peak plist.src plist python3 plistlib-edit.py plist ProgramArguments /srv/tftp)" \
    "<= 1x" 1
  memrow "(e) $(($(stat -c %s bplist.src) >> 20)) MiB binary plist edit vs the file" \
    "$(peak bplist.src bplist "$tool" bplist ProgramArguments /srv/tftp)" \
    "$(($(stat -c %s bplist.src) / 1024))" "<= 6x" 6
fi
