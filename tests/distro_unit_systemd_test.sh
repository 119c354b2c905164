#!/usr/bin/env bash
# distro_unit_systemd_test.sh CONTROLLER_SYSTEM_TESTS LAUNCHCTL LAUNCHDTOOL CONFIGTOOL PLIST
#
# The controller's system part against the real systemd of a booted Debian 12 container
# (launchctl_container.sh): Debian's own tftpd-hpa unit runs in.tftpd, logging with -v -v to
# the journal; the unit test BootedSystemd.* reads the journal and takes the unit over through
# systemd's D-Bus API from outside; after a reboot the unit stays off and port 69 stays free.
# Then the same with a unit file of the server's own, enabled.
# Exit 77 (skipped, reason printed) where no container can boot.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/launchctl_container.sh"
in_private_mounts "$0" "$@"

tests=$1
shift
failures=0
check() {  # check WHAT COMMAND...: the command must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
not() { ! "$@"; }
udp69_listening() { nsenter -t "$container_pid" -n ss -Huln 'sport = :69' | grep -q .; }

container_prepare "$@"
# The cached root keeps the distribution's server masked; here it runs as installed, verbose.
rm -f "$root/etc/systemd/system/tftpd-hpa.service"
sed -i 's/^TFTP_OPTIONS=.*/TFTP_OPTIONS="--secure -v -v"/' "$root/etc/default/tftpd-hpa"
echo hello >"$root/srv/tftp/hello.txt"
chmod a+r "$root/srv/tftp/hello.txt"
container_boot

for _ in $(seq 1 100); do udp69_listening && break; sleep 0.1; done
check "the distribution's tftpd-hpa serves port 69 after boot" udp69_listening
QRB_CONTAINER_PID=$container_pid "$tests" --gtest_filter='BootedSystemd.*' --gtest_brief=1
check "the journal is read and the unit taken over (BootedSystemd)" test $? -eq 0
check "nothing listens on port 69 after the take-over" not udp69_listening

container_poweroff
container_boot
check "after a reboot the unit stays off" \
  test "$(in_container systemctl is-active tftpd-hpa.service)" = inactive
check "after a reboot nothing listens on port 69" not udp69_listening

# A unit file of its own, enabled: the take-over disables it.
in_container systemctl unmask -q tftpd-hpa.service
cat >"$root/etc/systemd/system/tftpd-hpa.service" <<'UNIT'
[Unit]
Description=TFTP server (a unit file of its own)
[Service]
ExecStart=/usr/sbin/in.tftpd --foreground --listen --user tftp --address :69 --secure -v -v /srv/tftp
[Install]
WantedBy=multi-user.target
UNIT
in_container systemctl daemon-reload
in_container systemctl enable -q --now tftpd-hpa.service
for _ in $(seq 1 100); do udp69_listening && break; sleep 0.1; done
check "the unit file of its own serves port 69" udp69_listening
QRB_CONTAINER_PID=$container_pid QRB_UNIT_FILE_STATE=enabled "$tests" \
  --gtest_filter='BootedSystemd.*' --gtest_brief=1
check "an enabled unit file is taken over (BootedSystemd)" test $? -eq 0
container_poweroff
container_boot
check "after a reboot the disabled unit stays off" \
  test "$(in_container systemctl is-active tftpd-hpa.service)" = inactive
check "after a reboot nothing listens on port 69" not udp69_listening

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
