#!/usr/bin/env bash
# app_systemd_test.sh TFTP_CONTROLLER CONFIGTOOL XINETDTOOL LAUNCHCTL LAUNCHDTOOL
#
# The controller on a Debian 12 machine booted with real systemd (launchctl_container.sh), where
# the distribution's tftpd-hpa unit serves port 69 and xinetd is installed as Debian installs
# it. The built programs are bound into the container where the package puts them (the
# program's folder is its bundle, /usr/share/tftp-controller), with the package's disabled
# service file; inside, as root, under Xvfb, the AT-SPI harness (tests/app_atspi, scenario
# "systemd") takes over from tftpd-hpa through the window, serves a folder, fetches and puts
# with the real client, reads both transfers in "Transfers" from the journal, and stops; then
# the package's job definition is loaded through launchdtool and the window's Stop job unloads
# it. After a reboot the distribution's unit stays off and nothing listens on port 69.
# Exit 77 (skipped, reason printed) where no container can boot.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/launchctl_container.sh"
in_private_mounts "$0" "$@"

[ $# -eq 5 ] || {
  echo "usage: $0 TFTP_CONTROLLER CONFIGTOOL XINETDTOOL LAUNCHCTL LAUNCHDTOOL" >&2
  exit 2
}
program=$1 configtool=$2 xinetdtool=$3 launchctl=$4 launchdtool=$5
for f in "$program" "$configtool" "$xinetdtool" "$launchctl" "$launchdtool"; do
  [ -x "$f" ] || { echo "not built: $f" >&2; exit 1; }
done
bundle=$(cd "$(dirname "$program")" && pwd)
[ -f "$bundle/Info.plist" ] || { echo "no bundle beside $program" >&2; exit 1; }

failures=0
check() {  # check WHAT COMMAND...: the command must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
not() { ! "$@"; }
udp69_listening() { nsenter -t "$container_pid" -n ss -Huln 'sport = :69' | grep -q .; }
# The processes of the session, the program and the server left in the container, by name
# (xinetd, started at boot, stays).
left_behind() {
  local name found=1
  for name in tftp-controller Xvfb at-spi-bus-laun at-spi2-registr in.tftpd; do
    in_container pgrep -l -x "$name" && found=0
  done
  return $found
}

container_root
# The cached root keeps the distribution's server masked; here it runs as installed.
rm -f "$root/etc/systemd/system/tftpd-hpa.service"
install -m 0644 "$here/../service/xinetd-tftp" "$root/etc/xinetd.d/tftp"
install -m 0755 "$launchctl" "$root/usr/sbin/launchctl"
install -m 4755 -o root -g root "$launchdtool" "$root/usr/sbin/launchdtool"
mkdir -p "$root/etc/qrb-tftp-controller"
install -m 0644 "$here/../service/tftp.plist" "$root/etc/qrb-tftp-controller/tftp.plist"
container_binds+=(
  "--bind-ro=$(realpath "$configtool"):/usr/sbin/configtool"
  "--bind-ro=$(realpath "$xinetdtool"):/usr/sbin/xinetdtool"
  "--bind-ro=$(realpath "$program"):/usr/bin/tftp-controller"
  "--bind-ro=$bundle:/usr/share/tftp-controller"
  "--bind-ro=$here/app_atspi:/usr/lib/qrb-tests/app_atspi"
)
container_boot

for _ in $(seq 1 100); do udp69_listening && break; sleep 0.1; done
check "the distribution's tftpd-hpa serves port 69 after boot" udp69_listening
in_container LANG=C.UTF-8 timeout -k 5 600 /bin/bash /usr/lib/qrb-tests/app_atspi/run.sh \
  --on-this-system systemd /usr/bin/tftp-controller
status=$?
[ "$status" -ne 77 ] || skip "the harness cannot run in the container"
check "the scenario passed: take-over, Start, get, put, Transfers from the journal, Stop, Stop job" \
  test "$status" -eq 0
check "nothing of the session or the service is left" not left_behind

container_poweroff
container_boot
check "after a reboot tftpd-hpa.service stays off" \
  test "$(in_container systemctl is-active tftpd-hpa.service)" = inactive
check "after a reboot the stopped service stays stopped: nothing listens on port 69" \
  not udp69_listening

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
