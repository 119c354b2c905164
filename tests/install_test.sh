#!/usr/bin/env bash
# The development files as a host meets them, and where their version and library list come
# from: tests/install_test.sh BUILD_FOLDER (a fully built, not sanitized, build folder).
#
# 1. `cmake --install BUILD --prefix P` into a scratch folder (every component but "service",
#    whose files have absolute folders such as /etc, which --prefix does not move; that one is
#    staged under DESTDIR, so nothing is written outside the scratch folder): pkg-config, given only P's
#    pkgconfig folder, names P in every path (never the configured prefix), the version of
#    debian/changelog, and exactly the static libraries built under platform/ and utility/, each
#    installed under P; a host program built with those flags links and runs. The
#    application services alone (qrb-apps) bring no Qt: a host built with their flags links
#    no Qt library, and reports a failed launch on standard error.
# 2. A staged install (DESTDIR, as the Debian package is built) keeps the configured prefix.
# 3. debian/changelog is the one source of the version: no other file of the tree names it.
# 4. A copy of the tree configured with a new library under utility/ (used through the
#    interface library `utility`) and another changelog version installs and links the new library in order and
#    carries the new version; a changelog without a version, or libraries that use one another
#    in a circle, stop the configuration with the reason.
# 5. The controller application's files under P: its desktop entry (desktop-file-validate),
#    icon, metainfo (appstreamcli validate, the changelog's version and date), bundle
#    Info.plist, manual page and the service's name-mapping rules. In the copy of 4, texts
#    given to _() in the program's sources (a source added after configuring too, its tests
#    never) reach the template tftp-controller.pot, a catalog po/LANG.po is compiled and
#    installed into the bundle, and the bundle beside a program in the build tree gets both.
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
# As `cmake --install --prefix` does, one component at a time, refusing (before it writes) any
# file whose folder is absolute: such a file would land outside the prefix, on this machine.
for component in Unspecified development; do
  cmake -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_COMPONENT=$component \
    -DCMAKE_ERROR_ON_ABSOLUTE_INSTALL_DESTINATION=ON -P "$build/cmake_install.cmake" \
    >>"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; fail "cmake --install --prefix $prefix --component $component"; }
done
DESTDIR=$scratch/service-stage cmake --install "$build" --component service >"$scratch/service.log" 2>&1 ||
  { cat "$scratch/service.log"; fail "DESTDIR=... cmake --install --component service"; }
[ -n "$(find "$scratch/service-stage" -path '*/xinetd.d/tftp')" ] &&
  [ -n "$(find "$scratch/service-stage" -path '*/qrb-tftp-controller/tftp.plist')" ] ||
  fail "the component service does not hold the service file and the job definition"
pcdir=$prefix/$libdir/pkgconfig
for name in qrb-apps qrb-widgets qrb-desktop; do
  [ -f "$pcdir/$name.pc" ] || fail "no $pcdir/$name.pc"
  grep -q "$configured_prefix" "$pcdir/$name.pc" && [ "$configured_prefix" != "$prefix" ] &&
    fail "$name.pc still names the configured prefix $configured_prefix"
done
pc() { PKG_CONFIG_PATH=$pcdir pkg-config "$@" qrb-desktop; }
[ "$(pc --variable=prefix)" = "$prefix" ] || fail "prefix is $(pc --variable=prefix), not $prefix"
[ "$(pc --modversion)" = "$version" ] || fail "version $(pc --modversion), not $version"
# Every path of ours in the flags lies under P.
for flag in $(pc --cflags-only-I --libs-only-L --static); do
  case "$flag" in
    -I"$prefix"/include/qrb | -L"$prefix/$libdir"/qrb) ours=1 ;;
    -I*/qrb | -L*/qrb) fail "a path outside the prefix: $flag" ;;
  esac
done
[ "${ours:-}" = 1 ] || fail "no path under $prefix in $(pc --cflags --libs)"
for folder in "$(pc --variable=includedir)/utility/apps" "$(pc --variable=includedir)/utility/widgets" \
  "$(pc --variable=datadir)/cmake" "$(pc --variable=datadir)/utility/apps/locale/en"; do
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
apps_linked=$(PKG_CONFIG_PATH=$pcdir pkg-config --libs-only-l qrb-apps | tr ' ' '\n' |
  sed -n 's/^-l\(platform_.*\|utility_.*\)$/\1/p')
widgets_only=$(comm -13 <(sort <<<"$apps_linked") <(sort <<<"$linked"))
[ "$(echo $widgets_only)" = "platform_widgets utility_widgets" ] ||
  fail "qrb-desktop adds to qrb-apps: $(echo $widgets_only), not the two widget libraries"
echo "qrb-apps links: $(echo $apps_linked)"

mkdir "$scratch/host"
cat >"$scratch/host/main.cpp" <<'EOF'
#include <QApplication>
#include <QComboBox>
#include <cstdio>

#include "platform/bundle/bundle.h"
#include "utility/apps/app_utilities.h"
#include "utility/widgets/qrb_popup_button.h"
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
# The widget library has the linker keep its alert panel, which the host calls nothing of.
nm "$scratch/host/host" | grep -qw qrb_alert_panel_installed ||
  fail "the host linked against qrb-desktop has no alert panel"
echo "a host built with pkg-config against $prefix links and runs"

echo "== the application services without Qt"
apps_flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs qrb-apps)
[[ $apps_flags != *[Qq]t[56]* ]] || fail "pkg-config qrb-apps names Qt: $apps_flags"
cat >"$scratch/host/apps.cpp" <<'EOF2'
#include <cstdio>

#include "platform/apps/process_manager.h"
#include "platform/bundle/bundle.h"
#include "utility/apps/app_utilities.h"
#include "utility/apps/remote_control.h"

int main(int argc, char** argv) {
  platform::SetMainBundlePath(argc > 1 ? argv[1] : ".");
  ProcessSerialNumber psn{kNoProcess, kNoProcess};
  bool running = ProcessIsRunning("org.qrb.NoSuchApplication", &psn);
  bool launched = LaunchApp("not an application id");
  std::printf("%d %d %d %s\n", AppIsRunning("org.qrb.NoSuchApplication"), running, launched,
              UserLibraryPath().empty() ? "no folder" : "folder");
  return 0;
}
EOF2
# shellcheck disable=SC2086  # pkg-config gives words
g++ -std=c++20 -o "$scratch/host/apps" "$scratch/host/apps.cpp" $apps_flags \
  >"$scratch/host/apps.log" 2>&1 || { cat "$scratch/host/apps.log"; fail "building a host against qrb-apps"; }
qt=$(ldd "$scratch/host/apps" | grep -i 'libQt' || true)
[ -z "$qt" ] || fail "the host of the application services links Qt: $qt"
nm "$scratch/host/apps" | grep -qw qrb_alert_panel_installed &&
  fail "the host of the application services carries the widget library's alert panel"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$scratch/host/apps" "$scratch/host" 2>"$scratch/host/apps.err")
[ "$out" = "0 0 0 folder" ] || fail "the host of the application services printed: $out"
[ "$(cat "$scratch/host/apps.err")" = "Can't launch application: not an application id" ] ||
  fail "the failed launch was reported as: $(cat "$scratch/host/apps.err")"
echo "a host of the application services alone links no Qt, and alerts on standard error"

echo "== the controller application's files"
app=org.qrb.TftpController
share=$prefix/share
changelog_date=$(sed -n '0,/^ -- /s/^ -- .*>  [A-Za-z]*, \([0-9]*\) \([A-Za-z]*\) \([0-9]*\) .*/\1 \2 \3/p' \
  "$top/debian/changelog")
release_date=$(date -u -d "$changelog_date" +%F) || fail "debian/changelog's date: $changelog_date"
desktop=$share/applications/$app.desktop
[ -f "$desktop" ] || fail "no $desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
grep -qx 'Exec=tftp-controller' "$desktop" || fail "$desktop does not start tftp-controller"
grep -qx "Icon=$app" "$desktop" || fail "$desktop does not name the icon $app"
icon=$share/icons/hicolor/scalable/apps/$app.svg
[ "$(xmllint --xpath 'local-name(/*)' "$icon")" = svg ] || fail "$icon is no SVG image"
metainfo=$share/metainfo/$app.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $metainfo"
[ "$(xmllint --xpath 'string(/component/launchable[@type="desktop-id"])' "$metainfo")" = "$app.desktop" ] ||
  fail "$metainfo does not launch $app.desktop"
[ "$(xmllint --xpath 'string(/component/releases/release[1]/@version)' "$metainfo")" = "$version" ] &&
  [ "$(xmllint --xpath 'string(/component/releases/release[1]/@date)' "$metainfo")" = "$release_date" ] ||
  fail "$metainfo's newest release is not $version of $release_date"
plist_string() { xmllint --xpath "string(/plist/dict/key[.='$2']/following-sibling::*[1])" "$1"; }
info=$share/tftp-controller/Info.plist
[ "$(plist_string "$info" CFBundleIdentifier)" = "$app" ] &&
  [ "$(plist_string "$info" CFBundleVersion)" = "$version" ] &&
  [ -n "$(plist_string "$info" CFBundleName)" ] ||
  fail "$info: $(tr -d '\n\t' <"$info")"
cmp -s "$share/qrb-tftp-controller/tftpd.remap" "$top/service/tftpd.remap" ||
  fail "no $share/qrb-tftp-controller/tftpd.remap"
[ -f "$share/man/man1/tftp-controller.1" ] || fail "no manual page tftp-controller.1"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
  "$share/man/man1/tftp-controller.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "tftp-controller.1: $warnings"
grep -q '^"Project-Id-Version: tftp-controller '"$version"'\\n"$' "$build/tftp-controller/data/tftp-controller.pot" ||
  fail "no template $build/tftp-controller/data/tftp-controller.pot of version $version"
echo "desktop entry, icon, metainfo ($version, $release_date), Info.plist, manual page, name-mapping rules"

echo "== a staged install"
DESTDIR=$scratch/stage cmake --install "$build" --component development >"$scratch/stage.log" 2>&1 ||
  { cat "$scratch/stage.log"; fail "DESTDIR=... cmake --install"; }
for name in qrb-apps qrb-widgets qrb-desktop; do
  staged=$scratch/stage$configured_prefix/$libdir/pkgconfig/$name.pc
  [ -f "$staged" ] || fail "no $staged"
  grep -qx "prefix=$configured_prefix" "$staged" || fail "$staged: $(head -1 "$staged")"
done
echo "staged under DESTDIR, the pkg-config files name $configured_prefix"

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
# The controller's texts: a source of the program, its test, and a German catalog.
mkdir -p "$copy/tftp-controller/probe" "$copy/tftp-controller/data/po"
cat >"$copy/tftp-controller/probe/probe.cpp" <<'EOF2'
#include <libintl.h>
#define _(s) gettext(s)
const char* Probe() { return _("Serve this folder"); }
const char* Key() { return "not a text for people"; }
EOF2
printf '#define _(s) s\nconst char* Seen() { return _("only a test sees this"); }\n' \
  >"$copy/tftp-controller/probe/probe_test.cpp"
cat >"$copy/tftp-controller/data/po/de.po" <<'EOF2'
msgid ""
msgstr ""
"Content-Type: text/plain; charset=UTF-8\n"

msgid "Serve this folder"
msgstr "Diesen Ordner bereitstellen"
EOF2
# Without the real program, one that is only its bundle stands in for it.
if [ ! -e "$copy/tftp-controller/window/CMakeLists.txt" ]; then
  mkdir -p "$copy/tftp-controller/window"
  echo 'int main() { return 0; }' >"$copy/tftp-controller/window/standin.cpp"
  printf 'add_executable(tftp-controller standin.cpp)\nqrb_bundle(tftp-controller INSTALL)\n' \
    >"$copy/tftp-controller/window/CMakeLists.txt"
fi
configure() {
  cmake -S "$copy" -B "$copy/build" -G Ninja -DQRB_TESTS=OFF -DQRB_BENCH=OFF \
    -DCMAKE_INSTALL_PREFIX=/opt/qrb >"$scratch/configure.log" 2>&1
}
configure || { cat "$scratch/configure.log"; fail "configuring the copy"; }
template=$copy/build/qrb-apps.pc.in
grep -qx 'Version: 7.8.9' "$template" || fail "$(grep Version "$template")"
libs=$(sed -n 's/^Libs: //p' "$template")
[[ $libs == *" -lutility_apps "*"-lutility_extra "*"-lplatform_text "* ]] ||
  fail "the new library is not linked after its user and before what it uses: $libs"
grep -q 'libutility_extra\.a' "$copy/build/cmake_install.cmake" ||
  fail "the new library is not installed"
echo "the new library is installed and linked in order; version 7.8.9"

data=$copy/build/tftp-controller/data
# A source added after configuring is read too.
printf '#define _(s) s\nconst char* Later() { return _("Choose folder"); }\n' \
  >"$copy/tftp-controller/probe/later.cpp"
# The program's bundle files alone (the real program would take long to build).
ninja -C "$copy/build" tftp-controller_data_bundle >"$scratch/data.log" 2>&1 ||
  { cat "$scratch/data.log"; fail "building the program's bundle in the copy"; }
pot=$data/tftp-controller.pot
grep -qx 'msgid "Serve this folder"' "$pot" && grep -qx 'msgid "Choose folder"' "$pot" ||
  fail "the template lacks the program's texts: $(grep msgid "$pot" | tr '\n' ' ')"
grep -q 'not a text for people\|only a test sees this' "$pot" && fail "the template holds texts not given to _()"
grep -q '^#: tftp-controller/probe/probe.cpp:3$' "$pot" || fail "the template names no source line"
grep -qx '"Project-Id-Version: tftp-controller 7.8.9\\n"' "$pot" || fail "the template's version"
bundle=$(dirname "$(find "$copy/build/tftp-controller" -name Info.plist -not -path "$data/*" | head -1)")
for folder in "$data" "$bundle"; do
  mo=$folder/locale/de/LC_MESSAGES/tftp-controller.mo
  [ -f "$mo" ] && msgunfmt "$mo" | grep -qx 'msgstr "Diesen Ordner bereitstellen"' ||
    fail "no German catalog $mo"
done
[ "$(plist_string "$bundle/Info.plist" CFBundleVersion)" = 7.8.9 ] ||
  fail "the bundle beside the program has no Info.plist of 7.8.9"
DESTDIR=$scratch/copy-stage cmake -P "$data/cmake_install.cmake" >"$scratch/data-install.log" 2>&1 ||
  { cat "$scratch/data-install.log"; fail "installing the controller's files of the copy"; }
installed=$scratch/copy-stage/opt/qrb/share
[ -f "$installed/tftp-controller/locale/de/LC_MESSAGES/tftp-controller.mo" ] ||
  fail "the German catalog is not installed into the bundle"
[ "$(xmllint --xpath 'string(//release[1]/@version)' "$installed/metainfo/$app.metainfo.xml")" = 7.8.9 ] &&
  [ "$(plist_string "$installed/tftp-controller/Info.plist" CFBundleVersion)" = 7.8.9 ] ||
  fail "the copy's metainfo and Info.plist do not carry 7.8.9"
echo "the program's texts reach the template, the German catalog the bundle, both carry 7.8.9"

echo 'target_link_libraries(utility_extra PUBLIC utility_apps)' >>"$copy/utility/CMakeLists.txt"
configure && fail "libraries in a circle were configured"
grep -q "use one another in a circle" "$scratch/configure.log" || { cat "$scratch/configure.log"; fail "no reason for the circle"; }
sed -i '1s/.*/qrb-tftp-controller unstable; urgency=medium/' "$copy/debian/changelog"
rm -rf "$copy/build"
configure && fail "a changelog without a version was configured"
grep -q "which gives the version" "$scratch/configure.log" || { cat "$scratch/configure.log"; fail "no reason for the changelog"; }
echo "a circle of libraries and a changelog without a version stop the configuration"
echo
echo "The development files install under any prefix, from one version and the tree's libraries."
