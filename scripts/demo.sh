#!/usr/bin/env bash
# The demo: installs what is missing, builds, then runs each part of the demonstration.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" -eq 0 ]; then
  "$top/scripts/install-deps.sh"
else
  "$top/scripts/install-deps.sh" || echo "(continuing with what is installed)"
fi
"$top/scripts/build.sh" release configtool xinetdtool launchdtool tftp-controller >/dev/null
export QRB_BUILD_DIR="$top/build/release"
for part in configtool service controller; do
  script="$top/scripts/demo-$part.sh"
  [ -x "$script" ] || continue
  echo
  echo "######## $part"
  "$script"
done
