#!/usr/bin/env bash
# Builds the Debian packages from the working tree: scripts/package.sh [OUTPUT_FOLDER]
#
# The tree is copied (without .git and build folders) into build/package/source, where
# dpkg-buildpackage builds in a folder of its own (build/deb there), without tests; the .deb
# files land in OUTPUT_FOLDER (default build/package). The normal build folders are not
# touched.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/build/package}
for tool in dpkg-buildpackage dh fakeroot; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$top/build/package/source
rm -rf "$stage"
mkdir -p "$stage"
tar -C "$top" --exclude=./.git --exclude=./build --exclude='./build-*' -cf - . | tar -C "$stage" -xf -
rm -f "$out"/*.deb "$out"/*.buildinfo "$out"/*.changes
(
  cd "$stage"
  export DEB_BUILD_OPTIONS="nocheck noddebs parallel=${QRB_PACKAGE_JOBS:-2}"
  dpkg-buildpackage -us -uc -b
) >"$out/build.log" 2>&1 || { tail -n 60 "$out/build.log" >&2; echo "package build failed: $out/build.log" >&2; exit 1; }
# dpkg-buildpackage leaves its results beside the tree it built.
mv "$stage"/../*.deb "$stage"/../*.buildinfo "$stage"/../*.changes "$out"/ 2>/dev/null || true
ls "$out"/*.deb
