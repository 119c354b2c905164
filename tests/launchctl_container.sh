# Sourced by the tests and benchmarks of launchctl and the controller: a Debian 12 system booted
# with real systemd in a systemd-nspawn container, the built programs installed in it.
#
# The root file system is made once (mmdebstrap, else debootstrap) and kept in
# $QRB_ROOT_CACHE-KEY (default /var/tmp/qrb-launchctl-root-KEY), KEY naming the package list:
# a root made for another list is another folder, so a run never removes a root another run may
# have booted. Each run boots an overlay of it whose changes live in a scratch folder and vanish
# with the run, so the cache stays as it was made. Needs root.
#   container_prepare LAUNCHCTL LAUNCHDTOOL CONFIGTOOL PLIST  (makes the overlay; or skips)
#   container_root                         (the overlay alone, in $root, nothing installed)
#   container_binds+=(--bind-ro=SRC:DST)   (host files seen inside, given before the boot)
#   container_boot / container_poweroff                      (a reboot is the two in turn)
#   in_container CMD...   as root inside;   as_tester CMD...   as the ordinary user "tester"
# A reason to skip is printed and the caller exits with status 77 (see skip).

# The overlay is mounted in a mount namespace of the run's own, so that it vanishes with the run
# however the run ends. (Call as: in_private_mounts "$0" "$@", first thing.)
in_private_mounts() {
  if [ "$(id -u)" -eq 0 ] && [ -z "${QRB_PRIVATE_MOUNTS:-}" ]; then
    QRB_PRIVATE_MOUNTS=1 exec unshare -m --propagation private bash "$@"
  fi
}

# Every package any container test needs, in this one list: the system and TFTP peers, and for
# the controller application its Qt runtime, an X server and the accessibility stack its tests
# drive it through.
packages=systemd,systemd-sysv,dbus,tftpd-hpa,tftp-hpa,libplist3,libxml2,libutf8proc2,libssl3,passwd,iproute2,procps,netbase
packages+=,xinetd,libqt6widgets6,libqt6dbus6,qt6-qpa-plugins,xvfb,at-spi2-core,python3-pyatspi
root_cache=${QRB_ROOT_CACHE:-/var/tmp/qrb-launchctl-root}-$(printf %s "$packages" | sha256sum | cut -c1-12)
container_binds=()
container_pid=
nspawn_pid=

skip() {
  echo "SKIPPED: $*"
  exit 77
}

# Makes the cached root when it is missing, under a lock (two test runs may start at once).
make_root() {
  exec 9>"$root_cache.lock"
  flock 9
  # A root made for another list of packages is made again.
  if [ "$(cat "$root_cache/.qrb-packages" 2>/dev/null)" != "$packages" ]; then
    if [ -e "$root_cache" ] && [ ! -e "$root_cache/.qrb-packages" ]; then
      echo "$root_cache exists but was not made by these tests" >"$work/mkroot.log"
      return 1
    fi
    rm -rf "$root_cache.new" "$root_cache"
    if command -v mmdebstrap >/dev/null; then
      mmdebstrap --quiet --variant=minbase --include=$packages bookworm "$root_cache.new" \
        http://deb.debian.org/debian >"$work/mkroot.log" 2>&1 || return 1
    elif command -v debootstrap >/dev/null; then
      debootstrap --variant=minbase --include=$packages bookworm "$root_cache.new" \
        http://deb.debian.org/debian >"$work/mkroot.log" 2>&1 || return 1
    else
      echo "neither mmdebstrap nor debootstrap is installed" >"$work/mkroot.log"
      return 1
    fi
    # The distribution's own TFTP server would take port 69.
    ln -sf /dev/null "$root_cache.new/etc/systemd/system/tftpd-hpa.service"
    echo "$packages" >"$root_cache.new/.qrb-packages"
    mv "$root_cache.new" "$root_cache"
  fi
  flock -u 9
}

container_root() {
  [ "$(id -u)" -eq 0 ] || skip "the systemd container needs root"
  command -v systemd-nspawn >/dev/null || skip "systemd-nspawn is not installed (systemd-container)"
  work=$(mktemp -d /var/tmp/qrb-launchctl-run.XXXXXX)
  trap container_cleanup EXIT
  make_root || skip "no Debian 12 root could be made: $(tail -3 "$work/mkroot.log")"
  mkdir "$work/upper" "$work/ovl" "$work/root"
  mount -t overlay qrb-launchctl -o "lowerdir=$root_cache,upperdir=$work/upper,workdir=$work/ovl" \
    "$work/root" || skip "overlay file systems cannot be mounted here"
  root=$work/root
}

container_prepare() {
  local f
  for f in "$1" "$2" "$3" "$4"; do
    [ -f "$f" ] || { echo "no such file: $f" >&2; exit 1; }
  done
  container_root
  install -m 0755 "$1" "$root/usr/sbin/launchctl"
  install -m 4755 -o root -g root "$2" "$root/usr/sbin/launchdtool"
  install -m 0755 "$3" "$root/usr/sbin/configtool"
  mkdir -p "$root/etc/qrb-tftp-controller"
  install -m 0644 "$4" "$root/etc/qrb-tftp-controller/tftp.plist"
  chroot "$root" /usr/sbin/useradd -m tester
}

container_boot() {
  systemd-nspawn -q -D "$root" -b --register=no --keep-unit --private-network \
    "${container_binds[@]}" \
    >>"$work/console.log" 2>&1 </dev/null &
  nspawn_pid=$!
  container_pid=
  local state=
  for _ in $(seq 1 600); do
    [ -n "$container_pid" ] || container_pid=$(pgrep -P "$nspawn_pid" -x systemd | head -1)
    if [ -n "$container_pid" ]; then
      state=$(in_container /bin/systemctl is-system-running 2>/dev/null) || true
      case $state in running | degraded) return 0 ;; esac
    fi
    kill -0 "$nspawn_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "--- console:"; tail -20 "$work/console.log"
  container_poweroff
  skip "systemd did not boot in the container (state: ${state:-none})"
}

container_poweroff() {
  [ -n "$nspawn_pid" ] || return 0
  [ -z "$container_pid" ] || in_container /bin/systemctl poweroff >/dev/null 2>&1 || true
  for _ in $(seq 1 300); do
    kill -0 "$nspawn_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$nspawn_pid" 2>/dev/null || true
  wait "$nspawn_pid" 2>/dev/null || true
  nspawn_pid= container_pid=
}

container_cleanup() {
  container_poweroff
  if [ -n "${root:-}" ]; then umount "$root" 2>/dev/null || umount -l "$root" 2>/dev/null; fi
  rm -rf "$work"
}

in_container() {
  nsenter -t "$container_pid" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"
}

as_tester() {
  nsenter -t "$container_pid" -a env -i -C /home/tester PATH=/usr/bin:/bin HOME=/home/tester \
    /usr/bin/setpriv --reuid=tester --regid=tester --init-groups "$@"
}
