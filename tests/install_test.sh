#!/usr/bin/env bash
# The development files as a host meets them, and where their version and library list come
# from: tests/install_test.sh BUILD_FOLDER (a fully built, not sanitized, build folder).
#
# 1. `cmake --install BUILD --prefix P` into a scratch folder: pkg-config, given only P's
#    pkgconfig folder, names P in every path (never the configured prefix), the version of
#    debian/changelog, and exactly the static libraries built under platform/ and utility/, each
#    installed under P; a host program built with those flags links and runs.
# 2. A staged install (DESTDIR, as the Debian package is built) keeps the configured prefix.
# 3. debian/changelog is the one source of the version: no other file of the tree names it.
# 4. A copy of the tree configured with a new library under utility/ (used through the
#    interface library `utility`) and another changelog version installs and links the new library in order and
#    carries the new version; a changelog without a version, or libraries that use one another
#    in a circle, stop the configuration with the reason.
# Exit status 0 when every check held.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: $0 BUILD_FOLDER}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
libdir=$(cache CMAKE_INSTALL_LIBDIR)
configured_prefix=$(cache CMAKE_INSTALL_PREFIX)
[ -n "$libdir" ] && [ -n "$configured_prefix" ] || fail "$build is no configured build folder"
version=$(cmake -DCHANGELOG="$top/debian/changelog" -P "$top/cmake/qrb_version.cmake")

echo "== cmake --install --prefix"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; fail "cmake --install --prefix $prefix"; }
pcdir=$prefix/$libdir/pkgconfig
[ -f "$pcdir/qrb-desktop.pc" ] || fail "no $pcdir/qrb-desktop.pc"
pc() { PKG_CONFIG_PATH=$pcdir pkg-config "$@" qrb-desktop; }
[ "$(pc --variable=prefix)" = "$prefix" ] || fail "prefix is $(pc --variable=prefix), not $prefix"
[ "$(pc --modversion)" = "$version" ] || fail "version $(pc --modversion), not $version"
grep -q "$configured_prefix" "$pcdir/qrb-desktop.pc" && [ "$configured_prefix" != "$prefix" ] &&
  fail "qrb-desktop.pc still names the configured prefix $configured_prefix"
# Every path of ours in the flags lies under P.
for flag in $(pc --cflags-only-I --libs-only-L --static); do
  case "$flag" in
    -I"$prefix"/include/qrb | -L"$prefix/$libdir"/qrb) ours=1 ;;
    -I*/qrb | -L*/qrb) fail "a path outside the prefix: $flag" ;;
  esac
done
[ "${ours:-}" = 1 ] || fail "no path under $prefix in $(pc --cflags --libs)"
for folder in "$(pc --variable=includedir)/utility/desktop" "$(pc --variable=datadir)/cmake" \
  "$(pc --variable=datadir)/utility/desktop/locale/en"; do
  [ -d "$folder" ] && [[ $folder == "$prefix"/* ]] || fail "no folder $folder"
done
echo "pkg-config qrb-desktop names $prefix, version $version"

echo "== the libraries"
built=$(cd "$build" && find platform utility -name 'lib*.a' -printf '%f\n' | sed 's/^lib\(.*\)\.a$/\1/' | sort)
installed=$(find "$prefix/$libdir/qrb" -name 'lib*.a' -printf '%f\n' | sed 's/^lib\(.*\)\.a$/\1/' | sort)
linked=$(pc --libs-only-l | tr ' ' '\n' | sed -n 's/^-l\(platform_.*\|utility_.*\)$/\1/p')
[ -n "$built" ] || fail "no library built under $build/platform or $build/utility"
[ "$installed" = "$built" ] || fail "installed: $(echo $installed), built: $(echo $built)"
[ "$(sort <<<"$linked")" = "$built" ] || fail "linked: $(echo $linked), built: $(echo $built)"
[ "$(sort -u <<<"$linked" | wc -l)" = "$(wc -l <<<"$linked")" ] || fail "a library linked twice"
echo "installed and linked: $(echo $linked)"

mkdir "$scratch/host"
cat >"$scratch/host/main.cpp" <<'EOF'
#include <QApplication>
#include <QComboBox>
#include <cstdio>

#include "platform/desktop/bundle.h"
#include "utility/desktop/app_utilities.h"
#include "utility/desktop/qrb_popup_button.h"
#include "utility/network_addresses.h"
#include "utility/qrb_array.h"
#include "utility/qrb_shell_command.h"
#include "utility/qrb_string.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QComboBox button;
  QRBPopupButton::replaceItemsWithTitles(button, {"one", "two"});
  platform::Dictionary r = QRBShellCommand::Create()->launch("/bin/echo", {"linked"});
  platform::Bundle bundle(argc > 1 ? argv[1] : ".");
  platform::Array empty;
  std::vector<std::string> addresses = QRBApplication::allIPAddresses();
  std::printf("%s%s %d %s %s %d\n", r.StringFor(commandOutputKey)->c_str(),
              bundle.localizedStringForKey("key", "fallback").c_str(), button.count(),
              QRBString::md5Hash("").c_str(), bundle.developmentRegion().c_str(),
              QRBArray::objectWithValue(empty, platform::Value("x")) == nullptr);
  return 0;
}
EOF
# Qt's headers want position-independent code, which their pkg-config files leave out.
# shellcheck disable=SC2046  # pkg-config gives words
g++ -std=c++20 -fPIC -o "$scratch/host/host" "$scratch/host/main.cpp" $(pc --cflags --libs) \
  >"$scratch/host/log" 2>&1 || { cat "$scratch/host/log"; fail "building a host against $prefix"; }
out=$(QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$scratch/host "$scratch/host/host" "$scratch/host" 2>/dev/null)
[ "$out" = "$(printf 'linked\nfallback 2 D41D8CD98F00B204E9800998ECF8427E en 1')" ] ||
  fail "the host printed: $out"
echo "a host built with pkg-config against $prefix links and runs"

echo "== a staged install"
DESTDIR=$scratch/stage cmake --install "$build" --component development >"$scratch/stage.log" 2>&1 ||
  { cat "$scratch/stage.log"; fail "DESTDIR=... cmake --install"; }
staged=$scratch/stage$configured_prefix/$libdir/pkgconfig/qrb-desktop.pc
[ -f "$staged" ] || fail "no $staged"
grep -qx "prefix=$configured_prefix" "$staged" || fail "$staged: $(head -1 "$staged")"
echo "staged under DESTDIR, qrb-desktop.pc names $configured_prefix"

echo "== the version's one source"
others=$(cd "$top" && grep -rlwF --exclude=changelog -- "$version" CMakeLists.txt cmake man \
  polkit debian 2>/dev/null || true)
[ -z "$others" ] || fail "besides debian/changelog, $others name the version $version"
echo "only debian/changelog names $version"

echo "== a copy of the tree with a new library and version"
copy=$scratch/tree
mkdir "$copy"
tar -C "$top" --exclude=./.git --exclude=./build --exclude='./build-*' -cf - . | tar -C "$copy" -xf -
# Found after its users, and used by them only through the interface library `utility`.
mkdir "$copy/utility/extra"
echo 'qrb_folder_library(utility_extra platform_text)' >"$copy/utility/extra/CMakeLists.txt"
echo 'int QrbExtra() { return 1; }' >"$copy/utility/extra/extra.cpp"
printf 'add_subdirectory(extra)\ntarget_link_libraries(utility INTERFACE utility_extra)\n' \
  >>"$copy/utility/CMakeLists.txt"
sed -i '1s/([^)]*)/(7.8.9-1)/' "$copy/debian/changelog"
configure() {
  cmake -S "$copy" -B "$copy/build" -G Ninja -DQRB_TESTS=OFF -DQRB_BENCH=OFF \
    -DCMAKE_INSTALL_PREFIX=/opt/qrb >"$scratch/configure.log" 2>&1
}
configure || { cat "$scratch/configure.log"; fail "configuring the copy"; }
template=$copy/build/qrb-desktop.pc.in
grep -qx 'Version: 7.8.9' "$template" || fail "$(grep Version "$template")"
libs=$(sed -n 's/^Libs: //p' "$template")
[[ $libs == *" -lutility_desktop "*"-lutility_extra "*"-lplatform_text "* ]] ||
  fail "the new library is not linked after its user and before what it uses: $libs"
grep -q 'libutility_extra\.a' "$copy/build/cmake_install.cmake" ||
  fail "the new library is not installed"
echo "the new library is installed and linked in order; version 7.8.9"

echo 'target_link_libraries(utility_extra PUBLIC utility_desktop)' >>"$copy/utility/CMakeLists.txt"
configure && fail "libraries in a circle were configured"
grep -q "use one another in a circle" "$scratch/configure.log" || { cat "$scratch/configure.log"; fail "no reason for the circle"; }
sed -i '1s/.*/qrb-tftp-controller unstable; urgency=medium/' "$copy/debian/changelog"
rm -rf "$copy/build"
configure && fail "a changelog without a version was configured"
grep -q "which gives the version" "$scratch/configure.log" || { cat "$scratch/configure.log"; fail "no reason for the changelog"; }
echo "a circle of libraries and a changelog without a version stop the configuration"
echo
echo "The development files install under any prefix, from one version and the tree's libraries."
