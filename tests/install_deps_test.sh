#!/usr/bin/env bash
# scripts/install-deps.sh against the control files it reads: tests/install_deps_test.sh
#
# 1. The packages it derives from a control file are build-essential and the first alternative
#    of each build dependency of the source paragraph, as dpkg's own parser (Dpkg::Deps) reads
#    them, for a file with every form a control file allows and for debian/control itself.
# 2. On this machine (where the tests' run has installed everything) it prints nothing and
#    dpkg-checkbuilddeps agrees the package builds.
# 3. A version the installed packages do not meet fails with dpkg-checkbuilddeps' reason; an
#    ordinary user missing a package is told to run it as root, and nothing is installed.
# Exit status 0 when every check held.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
script=$top/scripts/install-deps.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# The build dependencies' package names as dpkg reads them: the first of each alternative.
dpkg_reads() {
  perl -MDpkg::Control::Info -MDpkg::Deps -e '
    my $source = Dpkg::Control::Info->new($ARGV[0])->get_source();
    for my $field (qw(Build-Depends Build-Depends-Arch Build-Depends-Indep)) {
      next unless defined $source->{$field};
      for my $dep (deps_parse($source->{$field}, build_dep => 1)->get_deps()) {
        $dep = ($dep->get_deps())[0] if $dep->isa("Dpkg::Deps::OR");
        my $name = $dep->{package};
        print(($name eq "debhelper-compat" ? "debhelper" : $name), "\n");
      }
    }' "$1"
}

cat >"$scratch/control" <<'EOF'
Source: example
# A comment line is no field.
Section: admin
Build-Depends: debhelper-compat (= 13),
               cmake (>= 3.25),
# nor inside a field
               libfoo-dev|libbar-dev [linux-any],
               g++:native,
               libbaz-dev <!nocheck>,
	       tabbed-dev (>= 1) [amd64] <!nodoc>,
               ,
Build-Depends-Indep: doc-tool
build-depends-arch:
 arch-dev
Build-Conflicts: conflicting-dev
Standards-Version: 4.6.2

Package: example
Architecture: any
Depends: runtime-only
Build-Depends: not-in-the-source-paragraph
EOF

echo "== the packages a control file names"
want=$(printf 'build-essential\n'; dpkg_reads "$scratch/control")
[ "$(echo $want)" = "build-essential debhelper cmake libfoo-dev g++ libbaz-dev tabbed-dev arch-dev doc-tool" ] ||
  fail "dpkg reads the fixture as: $(echo $want)"
for control in "$scratch/control" "$top/debian/control"; do
  want=$(printf 'build-essential\n'; dpkg_reads "$control")
  got=$(QRB_CONTROL=$control "$script" --list)
  [ "$(head -n "$(wc -l <<<"$want")" <<<"$got" | sort)" = "$(sort <<<"$want")" ] ||
    fail "$control: derived $(echo $got), dpkg reads $(echo $want)"
  for absent in libbar-dev conflicting-dev runtime-only not-in-the-source-paragraph 4.6.2 nocheck; do
    grep -qx -- "$absent" <<<"$got" && fail "$control: $absent is listed"
  done
  [ "$(sort <<<"$got" | uniq -d)" = "" ] || fail "$control: listed twice: $(sort <<<"$got" | uniq -d)"
done
grep -qx lintian <<<"$got" || fail "the tests' own packages are not listed"
echo "build-essential and each build dependency as dpkg reads them, then the tests' packages"

echo "== on this machine"
out=$("$script" 2>&1) || fail "scripts/install-deps.sh: $out"
[ -z "$out" ] || fail "scripts/install-deps.sh is not silent with everything installed: $out"
dpkg-checkbuilddeps "$top/debian/control" || fail "dpkg-checkbuilddeps"
echo "silent, and dpkg-checkbuilddeps agrees"

echo "== what it cannot meet"
printf 'Source: example\nBuild-Depends: debhelper-compat (= 99), cmake\n' >"$scratch/newer"
if out=$(QRB_CONTROL=$scratch/newer "$script" 2>&1); then
  fail "a debhelper-compat level no debhelper provides passed"
fi
grep -q "Unmet build dependencies: debhelper-compat (= 99)" <<<"$out" || fail "the reason: $out"
printf 'Source: example\nBuild-Depends: qrb-no-such-package\n' >"$scratch/missing"
chmod 644 "$scratch/missing"
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
else
  as_user=()
fi
if "${as_user[@]}" test -x "$script"; then
  out=$(QRB_CONTROL=$scratch/missing "${as_user[@]}" "$script" 2>&1) && fail "a missing package passed"
  grep -q "^Missing packages: qrb-no-such-package; run this as root" <<<"$out" || fail "the reason: $out"
  echo "an unmet version and, for an ordinary user, a missing package fail with the reason"
else
  echo "an unmet version fails with the reason (skipped the ordinary user: cannot run $script)"
fi
echo
echo "scripts/install-deps.sh installs what debian/control names, and says what it cannot."
