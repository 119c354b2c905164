#!/usr/bin/env bash
# scripts/check-layering.sh on the tree and on copies of it with one include too many: the
# tree passes; each copy fails, naming the unit and the rule it breaks.
# Exit status 0 when every check held.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

"$top/scripts/check-layering.sh" >"$scratch/out" 2>&1 || { cat "$scratch/out"; fail "the tree"; }
echo "the tree: $(cat "$scratch/out")"

# unit | the line added to it | what the report must say
cases=(
  "platform/apps/process_stat.h|#include \"platform/widgets/table_view.h\"|platform/apps/process_stat.h includes platform/widgets/table_view.h: platform/apps may not include platform/widgets"
  "platform/apps/workspace.cpp|#include \"platform/bundle/bundle.h\"|platform/apps/workspace.cpp includes platform/bundle/bundle.h: platform/apps may not include platform/bundle"
  "platform/bundle/bundle.cpp|#include \"platform/apps/alert.h\"|platform/bundle/bundle.cpp includes platform/apps/alert.h: platform/bundle may not include platform/apps"
  "platform/widgets/panels.cpp|#include \"platform/apps/workspace.h\"|platform/widgets/panels.cpp includes platform/apps/workspace.h: widgets reach platform/apps only through its alert.h"
  "utility/apps/app_utilities.cpp|#include <QMessageBox>|utility/apps/app_utilities.cpp includes Qt: only the widget folders and the application's window and system may"
  "platform/apps/alert.cpp|#include <QApplication>|platform/apps/alert.cpp includes Qt"
  "utility/apps/remote_control.h|#include \"utility/widgets/qrb_table_view.h\"|utility/apps/remote_control.h includes utility/widgets/qrb_table_view.h: utility/apps may not include utility/widgets"
  "platform/extra/extra.cpp|int extra;|platform/extra holds units but has no rule"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r unit line expected <<<"$entry"
  copy=$scratch/copy
  rm -rf "$copy"
  mkdir "$copy"
  (cd "$top" && tar -cf - scripts platform utility configtool xinetdtool launchdtool launchctl) |
    tar -C "$copy" -xf -
  mkdir -p "$(dirname "$copy/$unit")"
  echo "$line" >>"$copy/$unit"
  if "$copy/scripts/check-layering.sh" >"$scratch/out" 2>&1; then
    fail "$unit with $line passed"
  fi
  grep -qF "$expected" "$scratch/out" ||
    fail "$unit with $line: $(cat "$scratch/out")"
  echo "$unit with $line: refused"
done
echo
echo "The layering check passes the tree and refuses each include that breaks its rules."
