#!/usr/bin/env bash
# The controller as a user meets it: the real tftp-controller under Xvfb, driven through the
# accessibility bus by the names of its controls, against the real xinetd and in.tftpd in
# private namespaces. It chooses a folder, presses Start, and the real tftp client fetches a
# file; uploads go on and a file arrives; Stop, and the client gets no answer. Each step it
# checks is printed. Needs root (the namespaces); QRB_BUILD_DIR: the build folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QRB_BUILD_DIR:-$top/build/release}
if [ "$(id -u)" -ne 0 ]; then
  echo "(the controller's part runs as root: it makes private namespaces for the service)"
  exit 0
fi
bash "$top/tests/app_atspi/run.sh" xinetd "$build/tftp-controller/tftp-controller/tftp-controller" \
  "$build/configtool/configtool" "$build/xinetdtool/xinetdtool"
