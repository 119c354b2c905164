#!/usr/bin/env bash
# Checks the README and the pages of docs/: the README stays a short introduction (fewer than
# 200 lines), and every relative link or image in README.md and docs/*.md names a file that
# exists, and, with a #fragment, a heading of that file (GitHub's anchors). Links to other
# sites are not followed. Usage: scripts/check-docs.sh [TREE] (the tree this script is in by
# default). Prints one line per fault and exits with 1 when there is any.
set -euo pipefail
top=${1:-$(cd "$(dirname "$0")/.." && pwd)}
exec python3 - "$top" <<'PYTHON'
import os, re, sys, unicodedata

top = sys.argv[1]
faults = []

def strip_code(text):
    """The text without fenced code blocks; line numbers are kept (blank lines instead)."""
    lines, fence = [], None
    for line in text.split("\n"):
        m = re.match(r"^\s*(```+|~~~+)", line)
        if fence:
            lines.append("")
            if m and m.group(1)[0] == fence[0] and len(m.group(1)) >= len(fence):
                fence = None
            continue
        if m:
            fence = m.group(1)
            lines.append("")
            continue
        lines.append(line)
    return lines

def slug(heading):
    """The anchor GitHub gives a heading: its text as rendered, lower case, without
    punctuation other than '-' and '_', spaces made '-'."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link's text stays
    text = re.sub(r"<[^>]+>", "", text)
    text = text.replace("`", "").replace("*", "")
    text = text.strip().lower()
    out = []
    for ch in text:
        if ch in "-_ " or ch.isalnum() or unicodedata.category(ch).startswith("M"):
            out.append("-" if ch == " " else ch)
    return "".join(out)

anchors_of = {}

def anchors(path):
    if path not in anchors_of:
        seen, found = {}, set()
        with open(path, encoding="utf-8") as f:
            for line in strip_code(f.read()):
                m = re.match(r"^ {0,3}#{1,6}\s+(.*?)\s*#*\s*$", line)
                if not m:
                    continue
                base = slug(m.group(1))
                n = seen.get(base, 0)
                seen[base] = n + 1
                found.add(base if n == 0 else f"{base}-{n}")
        anchors_of[path] = found
    return anchors_of[path]

link = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")

def check(md):
    name = os.path.relpath(md, top)
    with open(md, encoding="utf-8") as f:
        lines = strip_code(f.read())
    for number, line in enumerate(lines, 1):
        line = re.sub(r"`[^`]*`", lambda m: " " * len(m.group(0)), line)  # code spans
        for m in link.finditer(line):
            target = m.group(1)
            if not target or re.match(r"^[a-zA-Z][a-zA-Z0-9+.-]*:", target):
                continue  # another site (https:, mailto:)
            path, _, fragment = target.partition("#")
            where = os.path.normpath(os.path.join(os.path.dirname(md), path)) if path else md
            if not os.path.exists(where):
                faults.append(f"{name}:{number}: {target}: no such file")
                continue
            if fragment and where.endswith(".md"):
                if fragment.lower() not in anchors(where):
                    faults.append(f"{name}:{number}: {target}: no heading #{fragment} in "
                                  f"{os.path.relpath(where, top)}")

readme = os.path.join(top, "README.md")
with open(readme, encoding="utf-8") as f:
    count = len(f.read().splitlines())
if count >= 200:
    faults.append(f"README.md: {count} lines, at least 200")
docs = os.path.join(top, "docs")
pages = [readme] + sorted(os.path.join(docs, p) for p in os.listdir(docs) if p.endswith(".md"))
for page in pages:
    check(page)
for fault in faults:
    print(fault)
if faults:
    sys.exit(1)
print(f"README.md: {count} lines; links of {len(pages)} pages resolve")
PYTHON
