#!/usr/bin/env bash
# Whole-process timings of launchctl against systemd's own, inside a Debian 12 container booted
# with real systemd (tests/launchctl_container.sh; needs root):
#   (a) launchctl load + unload of the package's TFTP job (units written to /run, daemon-reload,
#       socket started; stopped, units removed, daemon-reload);
#   (d) the same with -w, as launchdtool runs it (units in /etc, enabled; disabled, removed);
#   (b) systemctl start + stop of equivalent hand-written units that are already installed;
#   (c) what systemd needs to load new units by hand: the two units written, daemon-reload,
#       start; stop, units removed, daemon-reload: (a) without the translation.
# Each loop runs inside the container in one shell, so entering the container is not counted.
# Prints the mean wall-clock time of one round of each, in milliseconds.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QRB_BUILD_DIR:-$top/build/release}
runs=${RUNS:-20}
. "$top/tests/launchctl_container.sh"
in_private_mounts "$0" "$@"
container_prepare "$build/launchctl/launchctl" "$build/launchdtool/launchdtool" \
  "$build/configtool/configtool" "$top/service/tftp.plist"
# The units launchctl makes for the job, without its mark, as an administrator would write them.
mkdir -p "$root/srv/tftp" "$root/etc/qrb-bench"
cat >"$root/etc/qrb-bench/hand.service" <<'UNIT'
[Unit]
Description=TFTP server
[Service]
Type=exec
ExecStart=/usr/sbin/in.tftpd -s /srv/tftp
StandardInput=socket
UNIT
cat >"$root/etc/qrb-bench/hand.socket" <<'UNIT'
[Unit]
Description=TFTP server socket
[Socket]
ListenDatagram=69
BindIPv6Only=both
Accept=no
UNIT
cp "$root/etc/qrb-bench/hand."* "$root/etc/systemd/system/"
cat >"$root/etc/qrb-bench/loops.sh" <<'LOOPS'
set -e
runs=$1 job=/etc/qrb-tftp-controller/tftp.plist
persistent_job=$job
mean() { echo $(( ($(date +%s%N) - $1) / runs / 1000 )); }
# -w is not used: the units go to /run as with the hand-made round (c) below.
sed '/<key>Disabled</{n;s|<true/>|<false/>|}' $job >/etc/qrb-bench/enabled.plist
job=/etc/qrb-bench/enabled.plist
t=$(date +%s%N)
for i in $(seq $runs); do launchctl load $job; launchctl unload $job; done
a=$(mean $t)
t=$(date +%s%N)
for i in $(seq $runs); do launchctl load -w $persistent_job; launchctl unload -w $persistent_job; done
d=$(mean $t)
t=$(date +%s%N)
for i in $(seq $runs); do systemctl start hand.socket; systemctl stop hand.socket hand.service; done
b=$(mean $t)
rm /etc/systemd/system/hand.*
systemctl daemon-reload
t=$(date +%s%N)
for i in $(seq $runs); do
  cp /etc/qrb-bench/hand.service /etc/qrb-bench/hand.socket /run/systemd/system/
  systemctl daemon-reload
  systemctl start hand.socket
  systemctl stop hand.socket hand.service
  rm /run/systemd/system/hand.service /run/systemd/system/hand.socket
  systemctl daemon-reload
done
c=$(mean $t)
ms() { printf '%d.%d' $(($1 / 1000)) $(($1 % 1000 / 100)); }
printf '%-66s %9s\n' "one round, mean of $runs" "ms"
printf '%-66s %9s\n' "(a) launchctl load + unload (translation, units, reload, start/stop)" "$(ms $a)"
printf '%-66s %9s\n' "(d) launchctl load -w + unload -w (as launchdtool asks: enabled)" "$(ms $d)"
printf '%-66s %9s\n' "(b) systemctl start + stop of installed hand-written units" "$(ms $b)"
printf '%-66s %9s\n' "(c) hand-written units copied in, reload, start + stop, removed, reload" "$(ms $c)"
LOOPS
container_boot
in_container sh /etc/qrb-bench/loops.sh "$runs"
