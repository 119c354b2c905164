#!/usr/bin/env bash
# The Debian packages as an administrator meets them: tests/package_test.sh [DEB_FOLDER]
# (default build/package, where scripts/package.sh puts them).
#
# 1. lintian reports no error; the programs, their modes and the manual pages are in the package;
#    the controller application's package holds the program, its desktop files and bundle, and
#    depends on the back end's of the same version.
# 2. Inside private mount and pid namespaces, /usr, /etc and /var get a writable layer of their
#    own (overlayfs over the machine's, the changes in a tmpfs), so the machine's system is
#    never touched: `apt-get install ./...deb` installs the three packages, the real-service
#    demo runs against the installed programs, the installed name-mapping rules map names on
#    the real server (tests/remap_test.sh), the installed desktop entry and metainfo pass
#    desktop-file-validate and appstreamcli validate, a small program is built against the
#    development package (whose pkg-config file names /usr and the package's version), and
#    `apt-get purge` removes them; then no file of theirs, and nothing new in /usr or /etc, may
#    be left.
# Needs root; skipped otherwise. Exit status 0 when every check held.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
main=qrb-tftp-controller
dev=libqrb-desktop-dev
app=tftp-controller
app_id=org.qrb.TftpController

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

inside() {
  local debs=$1 layer=$2
  [ "$$" -eq 1 ] || fail "not inside private namespaces"
  mount --make-rprivate /
  mount -t tmpfs -o mode=0755 package-test "$layer"
  local tree
  for tree in usr etc var; do
    mkdir -p "$layer/lower/$tree" "$layer/upper/$tree" "$layer/work/$tree"
    mount --bind "/$tree" "$layer/lower/$tree"
    mount -t overlay -o "lowerdir=$layer/lower/$tree,upperdir=$layer/upper/$tree,workdir=$layer/work/$tree" \
      "package-test-$tree" "/$tree"
  done
  echo "Private namespaces: /usr, /etc and /var are layers of our own."

  echo "== apt-get install"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "$debs"/${main}_*.deb "$debs"/${dev}_*.deb "$debs"/${app}_*.deb >"$layer/install.log" 2>&1 ||
    { cat "$layer/install.log"; fail "apt-get install"; }
  local p
  for p in $main $dev $app; do
    [ "$(dpkg-query -W -f='${db:Status-Abbrev}' $p)" = "ii " ] || fail "$p is not installed"
  done
  [ "$(stat -c '%a %U %G' /usr/sbin/launchdtool)" = "4755 root root" ] ||
    fail "launchdtool is $(stat -c '%a %U %G' /usr/sbin/launchdtool)"
  for p in configtool xinetdtool launchctl; do
    [ "$(stat -c '%a %U %G' /usr/sbin/$p)" = "755 root root" ] || fail "/usr/sbin/$p"
    [ -f /usr/share/man/man8/$p.8.gz ] || fail "no manual page for $p"
  done
  [ -f /usr/share/man/man8/launchdtool.8.gz ] || fail "no manual page for launchdtool"
  xmllint --noout --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd \
    /usr/share/polkit-1/actions/org.qrb.tftpcontroller.policy || fail "the policy file"
  echo "installed: programs in /usr/sbin (launchdtool 4755 root), manual pages, polkit policy"

  echo "== the real service, with the installed programs"
  QRB_SBIN_DIR=/usr/sbin "$top/scripts/demo-service.sh" >"$layer/demo.log" 2>&1 ||
    { cat "$layer/demo.log"; fail "the demo with the installed programs"; }
  grep -q "The real service did what it should at every step." "$layer/demo.log" ||
    fail "the demo did not finish"
  grep -F '$ timeout 30 /usr/sbin/xinetdtool --start' "$layer/demo.log" >/dev/null &&
    grep -F '$ /usr/sbin/configtool /etc/xinetd.d/tftp disable no yes' "$layer/demo.log" >/dev/null ||
    fail "the demo did not run the installed programs"
  echo "the demo ran the installed configtool and xinetdtool on the real service"

  echo "== the controller application's files"
  desktop-file-validate /usr/share/applications/$app_id.desktop || fail "the desktop entry"
  appstreamcli validate --no-net /usr/share/metainfo/$app_id.metainfo.xml || fail "the metainfo"
  [ -f /usr/share/icons/hicolor/scalable/apps/$app_id.svg ] || fail "no icon"
  [ -f /usr/share/man/man1/$app.1.gz ] || fail "no manual page for $app"
  [ -x /usr/bin/$app ] && [ -f /usr/share/$app/Info.plist ] || fail "no program or bundle"
  "$top/tests/remap_test.sh" /usr/share/qrb-tftp-controller/tftpd.remap >"$layer/remap.log" 2>&1 ||
    { cat "$layer/remap.log"; fail "the installed name-mapping rules"; }
  echo "desktop entry and metainfo valid; the installed name-mapping rules map names on in.tftpd"

  echo "== a program built against the development package"
  local build=$layer/consumer
  mkdir "$build"
  cat >"$build/main.cpp" <<'EOF'
#include <QApplication>
#include <QComboBox>
#include <cstdio>

#include "utility/apps/app_utilities.h"
#include "utility/widgets/qrb_popup_button.h"
#include "utility/qrb_shell_command.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QComboBox button;
  QRBPopupButton::replaceItemsWithTitles(button, {"one", "two"});
  auto runner = QRBShellCommand::Create();
  platform::Dictionary r = runner->launch("/bin/echo", {"linked"});
  std::printf("%s%s %g %d\n", r.StringFor(commandOutputKey)->c_str(), appFirstLaunchKey,
              AppVersion(), button.count());
  return 0;
}
EOF
  # Qt's headers want position-independent code, which their pkg-config files leave out.
  # shellcheck disable=SC2046  # pkg-config gives words
  g++ -std=c++20 -fPIC -o "$build/consumer" "$build/main.cpp" $(pkg-config --cflags --libs qrb-desktop) \
    >"$build/log" 2>&1 || { cat "$build/log"; fail "building against qrb-desktop"; }
  [ "$(QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$build "$build/consumer" 2>/dev/null)" = "$(printf 'linked\nAppFirstLaunch 0 2')" ] || fail "the consumer's output"
  [ -n "$(find /usr/share/qrb-desktop -name '*.po' -o -path '*/Resources/*')" ] ||
    fail "no resources or catalogs in /usr/share/qrb-desktop"
  # debian/changelog gives both versions; the file names the package's prefix.
  local version
  version=$(dpkg-query -W -f='${Version}' $dev)
  version=${version#*:}
  version=${version%%[-~+]*}
  [ "$(pkg-config --modversion qrb-desktop)" = "$version" ] ||
    fail "qrb-desktop.pc has version $(pkg-config --modversion qrb-desktop), the package $version"
  [ "$(pkg-config --variable=prefix qrb-desktop)" = /usr ] ||
    fail "qrb-desktop.pc names the prefix $(pkg-config --variable=prefix qrb-desktop)"
  echo "built and ran a program with pkg-config qrb-desktop $version (prefix /usr)"
  # The application services alone bring no Qt.
  printf '#include "utility/apps/app_utilities.h"\nint main() { return AppIsRunning("org.qrb.None"); }\n' \
    >"$build/apps.cpp"
  # shellcheck disable=SC2046  # pkg-config gives words
  g++ -std=c++20 -o "$build/apps" "$build/apps.cpp" $(pkg-config --cflags --libs qrb-apps) \
    >"$build/apps.log" 2>&1 || { cat "$build/apps.log"; fail "building against qrb-apps"; }
  "$build/apps" || fail "the program of the application services"
  ! ldd "$build/apps" | grep -i libQt || fail "a program built with pkg-config qrb-apps links Qt"
  echo "built and ran a program with pkg-config qrb-apps: it links no Qt"

  echo "== apt-get purge"
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q $app $main $dev >"$layer/purge.log" 2>&1 ||
    { cat "$layer/purge.log"; fail "apt-get purge"; }
  for p in $main $dev $app; do
    case "$(dpkg-query -W -f='${db:Status-Abbrev}' $p 2>/dev/null || true)" in
      "" | "un "* | "pn "*) ;;
      *) fail "$p is still known to dpkg: $(dpkg-query -W -f='${db:Status-Abbrev}' $p)" ;;
    esac
  done
  # No file of the packages' is left, nor anything else new in /usr or /etc.
  local left
  left=$(for p in "$debs"/${main}_*.deb "$debs"/${dev}_*.deb "$debs"/${app}_*.deb; do
    dpkg-deb --fsys-tarfile "$p" | tar -t
  done |
    sed 's|^\./|/|' | while read -r path; do
      [ "$path" != / ] && [ -e "$path" ] && [ ! -d "$path" ] && echo "$path"
    done || true)
  [ -z "$left" ] || fail "left behind: $left"
  for tree in usr etc; do
    left=$(cd "$layer/upper/$tree" && find . -mindepth 1 |
      while read -r path; do
        # A folder of the machine's that only changed and changed back stays as a copy.
        if [ -d "$path" ] && [ ! -L "$path" ] && [ -d "$layer/lower/$tree/$path" ]; then continue; fi
        # The indexes the desktop's tools rebuild, through their dpkg triggers, whenever a
        # package adds or removes a desktop entry or an icon: theirs, kept up to date, not ours.
        case "/$tree/${path#./}" in
          /usr/share/applications/mimeinfo.cache | /usr/share/icons/hicolor/icon-theme.cache) continue ;;
        esac
        echo "/$tree/${path#./}"
      done)
    [ -z "$left" ] || fail "left behind in /$tree: $left"
  done
  left=$(cd "$layer/upper/var" && find . -path ./log -prune -o -name "*qrb*" -print)
  [ -z "$left" ] || fail "left behind in /var: $left"
  echo "purged: nothing of the packages is left"
  echo
  echo "The packages installed, served and went away cleanly."
}

if [ "${1:-}" = --inside ]; then
  inside "$2" "$3"
  exit 0
fi

debs=$(cd "${1:-$top/build/package}" && pwd)
ls "$debs"/${main}_*.deb "$debs"/${dev}_*.deb "$debs"/${app}_*.deb >/dev/null 2>&1 ||
  fail "no packages in $debs (scripts/package.sh builds them)"

echo "== lintian"
lintian --fail-on error,warning "$debs"/${main}_*.deb "$debs"/${dev}_*.deb "$debs"/${app}_*.deb ||
  fail "lintian reports errors"
echo "lintian: no errors, no warnings"

echo "== contents"
listing=$(dpkg-deb -c "$debs"/${main}_*.deb)
for want in '-rwsr-xr-x root/root .* ./usr/sbin/launchdtool$' '-rwxr-xr-x root/root .* ./usr/sbin/configtool$' \
  '-rwxr-xr-x root/root .* ./usr/sbin/xinetdtool$' ' ./usr/share/man/man8/xinetdtool.8.gz$' \
  ' ./usr/share/polkit-1/actions/org.qrb.tftpcontroller.policy$' ' ./etc/xinetd.d/tftp$' \
  '-rwxr-xr-x root/root .* ./usr/sbin/launchctl$' ' ./usr/share/man/man8/launchctl.8.gz$' \
  '-rw-r--r-- root/root .* ./etc/qrb-tftp-controller/tftp.plist$' \
  '-rw-r--r-- root/root .* ./usr/share/qrb-tftp-controller/tftpd.remap$'; do
  grep -q -- "$want" <<<"$listing" || fail "$main lacks $want"
done
[ "$(dpkg-deb --ctrl-tarfile "$debs"/${main}_*.deb | tar -xO ./conffiles)" = "$(printf '%s\n' \
  /etc/qrb-tftp-controller/tftp.plist /etc/xinetd.d/tftp)" ] || fail "$main's conffiles"
echo "$main holds the programs (launchdtool -rwsr-xr-x root), manual pages, policy and the service's files"
listing=$(dpkg-deb -c "$debs"/${app}_*.deb)
for want in '-rwxr-xr-x root/root .* ./usr/bin/tftp-controller$' \
  ' ./usr/share/applications/org.qrb.TftpController.desktop$' \
  ' ./usr/share/icons/hicolor/scalable/apps/org.qrb.TftpController.svg$' \
  ' ./usr/share/metainfo/org.qrb.TftpController.metainfo.xml$' \
  ' ./usr/share/tftp-controller/Info.plist$' ' ./usr/share/man/man1/tftp-controller.1.gz$'; do
  grep -q -- "$want" <<<"$listing" || fail "$app lacks $want"
done
# The program and the back end it runs come from one build.
version=$(dpkg-deb -f "$debs"/${main}_*.deb Version)
grep -qF "qrb-tftp-controller (= $version)" <<<"$(dpkg-deb -f "$debs"/${app}_*.deb Depends)" ||
  fail "$app does not depend on $main (= $version): $(dpkg-deb -f "$debs"/${app}_*.deb Depends)"
echo "$app holds the program, its desktop entry, icon, metainfo, bundle and manual page, and depends on $main (= $version)"

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped installing: needs root (private namespaces, apt-get)"
  exit 0
fi
for tool in unshare apt-get dpkg-deb xmllint g++ pkg-config; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
layer=$(mktemp -d)
trap 'rmdir "$layer" 2>/dev/null || true' EXIT
timeout -k 5 600 unshare --mount --pid --fork --kill-child --mount-proc bash "$0" --inside "$debs" "$layer"
