#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and demonstrates with, where missing.
set -euo pipefail
packages=(
  g++ cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libplist-dev libxml2-dev libutf8proc-dev libssl-dev
  xinetd tftpd-hpa tftp-hpa libxml2-utils
  iproute2 util-linux procps hyperfine python3 sed
  qt6-base-dev libglib2.0-dev libxcb1-dev gettext xvfb
  libpolkit-gobject-1-dev polkitd pkexec dbus
  openssh-client openssh-server libglib2.0-bin libcrypt-dev
  debhelper dpkg-dev fakeroot lintian
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
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
