#!/usr/bin/env bash
# The README's pictures of the controller, taken from the real program: it runs under Xvfb in
# the sandbox of its AT-SPI tests (private namespaces; the real xinetd and in.tftpd on the
# namespace's own port 69) and is driven by the accessible names of its controls, as a user
# would: stopped; serving /srv/tftp with a transfer listed; after a diagnosis. Writes
# docs/images/controller-stopped.png, controller-serving.png and controller-diagnosis.png.
# Needs root, Xvfb, python3-pyatspi and imagemagick (scripts/install-deps.sh installs them).
# QRB_BUILD_DIR: the build folder (build/release).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QRB_BUILD_DIR:-$top/build/release}
if ! command -v import >/dev/null; then
  echo "import is missing (Debian package imagemagick)" >&2
  exit 1
fi
mkdir -p "$top/docs/images"
QRB_PICTURES=$top/docs/images exec bash "$top/tests/app_atspi/run.sh" pictures \
  "$build/tftp-controller/tftp-controller/tftp-controller" "$build/configtool/configtool" \
  "$build/xinetdtool/xinetdtool"
