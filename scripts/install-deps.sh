#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests, packages and demonstrates with, where
# missing: scripts/install-deps.sh [--list]
#
# What the package build needs is read from debian/control: its Build-Depends (and
# Build-Depends-Arch, Build-Depends-Indep), plus build-essential, which dpkg-buildpackage
# always requires; so the two cannot drift apart. The list below adds only what the tests, the
# benchmarks, the fuzzing, the demos and the packaging checks need besides. Silent when
# everything is installed; afterwards dpkg-checkbuilddeps must agree that the package builds.
# --list prints the packages, one a line, and installs nothing. QRB_CONTROL names another
# control file (the tests give one).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
control=${QRB_CONTROL:-$top/debian/control}

packages=(
  clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev libplist-dev
  xinetd tftpd-hpa tftp-hpa libxml2-utils
  iproute2 util-linux procps hyperfine python3 sed
  xvfb libglib2.0-bin imagemagick xdotool
  python3-pyatspi gir1.2-atspi-2.0 python3-gi at-spi2-core
  polkitd pkexec dbus
  openssh-client openssh-server libcrypt-dev
  dpkg-dev fakeroot lintian desktop-file-utils appstream
  systemd-container mmdebstrap
)

# The package names of the source paragraph's build dependencies: continuation lines joined,
# comments dropped; of alternatives the first (as the build daemons take it), without version,
# architecture and profile restrictions or an architecture qualifier (":native").
build_depends() {
  local line field="" value="" in_field=0
  while IFS= read -r line || [ -n "$line" ]; do
    [[ $line == \#* ]] && continue
    [[ -z ${line//[[:space:]]/} ]] && break # the source paragraph ends
    if [[ $line == [[:space:]]* ]]; then
      [ "$in_field" -eq 1 ] && value+=" $line"
      continue
    fi
    field=${line%%:*}
    field=${field,,}
    case "$field" in
      build-depends | build-depends-arch | build-depends-indep)
        in_field=1
        value+=", ${line#*:}"
        ;;
      *) in_field=0 ;;
    esac
  done <"$control"
  local item name
  IFS=',' read -r -a items <<<"$value"
  for item in "${items[@]}"; do
    item=${item%%|*}
    item=$(sed -e 's/([^)]*)//g' -e 's/\[[^]]*\]//g' -e 's/<[^>]*>//g' <<<"$item")
    read -r name _ <<<"$item" || true
    name=${name%%:*}
    [ -n "$name" ] || continue
    # debhelper provides the compatibility level its Build-Depends names.
    [ "$name" = debhelper-compat ] && name=debhelper
    echo "$name"
  done
}

[ -r "$control" ] || { echo "cannot read $control" >&2; exit 1; }
mapfile -t from_control < <(build_depends)
if [ ${#from_control[@]} -eq 0 ]; then
  echo "$control names no build dependencies" >&2
  exit 1
fi
all=()
declare -A seen=()
for p in build-essential "${from_control[@]}" "${packages[@]}"; do
  [ -n "${seen[$p]:-}" ] && continue
  seen[$p]=1
  all+=("$p")
done

if [ "${1:-}" = --list ]; then
  printf '%s\n' "${all[@]}"
  exit 0
fi

declare -A installed=()
while read -r name status; do
  [ "$status" = "install ok installed" ] && installed[$name]=1
done < <(dpkg-query -W -f='${Package} ${Status}\n' "${all[@]}" 2>/dev/null || true)
missing=()
for p in "${all[@]}"; do
  [ -n "${installed[$p]:-}" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}; run this as root to install them." >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  apt-get -o DPkg::Lock::Timeout=900 update -qq
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
fi
# Versions the names above do not carry (debhelper-compat (= 13), ...) are checked as the
# package build will check them.
if ! out=$(dpkg-checkbuilddeps "$control" 2>&1); then
  echo "$out" >&2
  echo "the package's build dependencies are still not met (see above)" >&2
  exit 1
fi
