#!/usr/bin/env bash
# Fails when a unit includes a folder of ours it may not: each part of the tree builds only on
# the parts below it (platform/README.md), and the set-user-ID program on nothing of ours.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

# folder -> the folders of ours its units may include, besides their own.
declare -A allowed=(
  [platform/text]=""
  [platform/files]="platform/text"
  [platform/plist]="platform/text platform/files"
  [platform/process]="platform/text platform/files"
  [platform/net]=""
  [platform/bundle]="platform/text platform/files platform/plist platform/process"
  [platform/apps]="platform/text platform/files platform/plist platform/process"
  [platform/widgets]="platform/text platform/files platform/plist platform/process platform/bundle platform/apps"
  [utility]="platform/text platform/files platform/plist platform/process platform/net"
  [utility/apps]="utility platform/text platform/files platform/plist platform/process platform/net platform/bundle platform/apps"
  [utility/widgets]="utility platform/text platform/files platform/plist platform/process platform/net platform/bundle platform/widgets"
  [configtool]="utility platform/text platform/files platform/plist"
  [xinetdtool]="utility platform/text platform/files platform/plist platform/process"
  [launchdtool]=""
  [launchctl]="platform/text platform/files platform/plist platform/process"
  [tftp-controller/service]="utility utility/apps platform/text platform/files platform/plist platform/process platform/net platform/bundle platform/apps"
  [tftp-controller/checks]="tftp-controller/service utility utility/apps platform/text platform/files platform/plist platform/process platform/net platform/bundle platform/apps"
  [tftp-controller/system]="tftp-controller/service utility platform/text platform/files platform/plist platform/process platform/net platform/bundle platform/apps"
  [tftp-controller/window]="tftp-controller/service tftp-controller/checks tftp-controller/system utility utility/apps utility/widgets platform/text platform/files platform/plist platform/process platform/net platform/bundle platform/apps platform/widgets"
  [tftp-controller]="tftp-controller/window tftp-controller/service utility utility/apps utility/widgets platform/text platform/files platform/plist platform/process platform/net platform/bundle platform/apps platform/widgets"
)

status=0
for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] || continue
  for unit in "$folder"/*.h "$folder"/*.cpp; do
    [ -e "$unit" ] || continue
    case "$unit" in *_test.cpp) continue ;; esac
    while IFS= read -r included; do
      target=$(dirname "$included")
      ok=0
      for may in "$folder" ${allowed[$folder]}; do
        [ "$target" = "$may" ] && ok=1
      done
      if [ "$ok" -eq 0 ]; then
        echo "$unit includes $included: $folder may not include $target" >&2
        status=1
      fi
      # Widgets meet the application services at one seam only: the alert.
      if [ "$folder" = platform/widgets ] && [ "$target" = platform/apps ] &&
        [ "$included" != platform/apps/alert.h ]; then
        echo "$unit includes $included: widgets reach platform/apps only through its alert.h" >&2
        status=1
      fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$unit")
    # Only the widget folders use Qt, so that a host of the other libraries links none.
    case "$folder" in
      */widgets | tftp-controller | tftp-controller/window | tftp-controller/system) ;;
      *)
        if grep -q '^#include <Q' "$unit"; then
          echo "$unit includes Qt: only the widget folders and the application's window and system may" >&2
          status=1
        fi
        ;;
    esac
  done
done
# Every folder of units is in the table above, so that none escapes the check.
while IFS= read -r folder; do
  folder=${folder#./}
  case "$folder" in build* | tests* | bench* | examples* | scripts* | man* | debian*) continue ;; esac
  if [ -z "${allowed[$folder]+set}" ]; then
    echo "$folder holds units but has no rule in $0" >&2
    status=1
  fi
done < <(find . -name '*.cpp' -not -path './build*' -not -path './.git/*' -printf '%h\n' | sort -u)
[ "$status" -eq 0 ] && echo "layering: every include is allowed"
exit "$status"
