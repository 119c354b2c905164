#!/usr/bin/env bash
# launchctl_systemd_test.sh LAUNCHCTL LAUNCHDTOOL CONFIGTOOL PLIST
#
# launchctl against the real systemd of a booted Debian 12 container (launchctl_container.sh).
# An ordinary user serves files with the package's TFTP job definition through the
# set-user-ID launchdtool, across reboots; hostile definitions inject nothing and a unit
# launchctl did not make is left alone. Exit 77 (skipped, reason printed) where no container
# can boot.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/launchctl_container.sh"
in_private_mounts "$0" "$@"

failures=0
check() {  # check WHAT COMMAND...: the command must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
# A file fetched with the real TFTP client from 127.0.0.1 as the user, its text on stdout.
fetch() {
  as_tester /bin/sh -c "rm -f got; tftp -m binary 127.0.0.1 -c get $1 got >/dev/null 2>&1; cat got 2>/dev/null"
}
not() { ! "$@"; }
udp69_listening() { nsenter -t "$container_pid" -n ss -Huln 'sport = :69' | grep -q .; }

definition=/etc/qrb-tftp-controller/tftp.plist
container_prepare "$@"
mkdir -p "$root/srv/a" "$root/srv/b" "$root/etc/qrb-test"
echo "from folder a" >"$root/srv/a/a.txt"
echo "from folder b" >"$root/srv/b/b.txt"
chmod -R a+rX "$root/srv"
container_boot

# Serving: the package's (disabled) definition, loaded by the user through launchdtool.
check "configtool sets the folder a" \
  test "$(in_container configtool $definition ProgramArguments /srv/a)" = 1
out=$(as_tester /usr/sbin/launchdtool load $definition 2>&1)
check "load succeeds ($out)" test $? -eq 0
check "the job's socket is active" in_container systemctl is-active -q org.qrb.tftp.socket
check "a tftp client gets a file of folder a" test "$(fetch a.txt)" = "from folder a"
listed=$(as_tester /usr/sbin/launchdtool list org.qrb.tftp)
pid=$(printf '%s\n' "$listed" | sed -n 's/^\t"PID" = \([0-9]*\);$/\1/p')
check "list shows the job with the PID of in.tftpd" \
  test -n "$pid" -a "$(in_container cat /proc/${pid:-0}/comm)" = in.tftpd
check "list shows its label and arguments" \
  grep -qx $'\t\t"/srv/a";' <<<"$listed"
check "list shows the label" grep -qx $'\t"Label" = "org.qrb.tftp";' <<<"$listed"
out=$(as_tester /usr/sbin/launchdtool list no.such.job 2>&1)
check "list of an unknown label fails with launchd's message" \
  grep -qx 'Could not find service "no.such.job" in domain for port' <<<"$out"
check "list alone has the header and the job" \
  test "$(in_container launchctl list | head -2 | cut -f1,3 | tr '\t' ' ')" \
  = "$(printf 'PID Label\n%s org.qrb.tftp' "$pid")"
out=$(in_container launchctl load $definition 2>&1)
check "load without -w of a Disabled job fails, saying so ($out)" \
  grep -q 'nothing found to load' <<<"$out"
in_container configtool $definition ProgramArguments /srv/b >/dev/null
check "unload succeeds" as_tester /usr/sbin/launchdtool unload $definition
check "nothing listens after unload" not udp69_listening
check "load again succeeds" as_tester /usr/sbin/launchdtool load $definition
check "the new folder is served" test "$(fetch b.txt)" = "from folder b"
check "the old folder is not" test -z "$(fetch a.txt)"

# Across reboots: load -w (what launchdtool asks) lasts; unload -w is gone for good.
container_poweroff
container_boot
check "after a reboot the service still answers" test "$(fetch b.txt)" = "from folder b"
check "unload -w succeeds" as_tester /usr/sbin/launchdtool unload $definition
check "no unit of the job is left" \
  test -z "$(in_container sh -c 'ls /etc/systemd/system/org.qrb.tftp.* /run/systemd/system/org.qrb.tftp.*' 2>/dev/null)"
container_poweroff
container_boot
check "after unload -w and a reboot nothing listens on port 69" not udp69_listening

# Hostile definitions.
write_plist() {  # write_plist NAME BODY
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>%s</dict></plist>\n' \
    "$2" >"$root/etc/qrb-test/$1.plist"
}
write_plist newline '<key>Label</key><string>inject</string><key>RunAtLoad</key><true/>
<key>ProgramArguments</key><array><string>/bin/true</string><string>x
ExecStartPre=/usr/bin/touch /injected</string></array>'
out=$(as_tester /usr/sbin/launchdtool load /etc/qrb-test/newline.plist 2>&1)
check "a newline in an argument is refused, naming the key ($out)" \
  grep -q 'ProgramArguments holds a control character' <<<"$out"
check "and nothing is installed or run" \
  in_container sh -c 'test ! -e /injected && ! ls /etc/systemd/system/inject* /run/systemd/system/inject* 2>/dev/null'

# The program writes each of its arguments on a line of its own, as it received them.
write_plist args '<key>Label</key><string>args job/x-y</string><key>RunAtLoad</key><true/>
<key>ProgramArguments</key><array><string>/bin/sh</string><string>-c</string>
<string>printf "%s|\n" "$@" &gt;/run/args.out</string><string>sh</string><string>100%n %%</string>
<string>$HOME</string><string>${PATH}</string><string>a\b"c '"'"'d</string><string></string>
</array>'
check "a job with % and \$ in its arguments and label loads (no -w, as root)" \
  in_container launchctl load /etc/qrb-test/args.plist
for _ in $(seq 1 50); do in_container test -s /run/args.out && break; sleep 0.1; done
expected=$(printf '%s|\n' '100%n %%' '$HOME' '${PATH}' "a\\b\"c 'd" '')
check "the arguments arrive as written" test "$(in_container cat /run/args.out)" = "$expected"
check "its unit lives in /run until the next boot" in_container test -f '/run/systemd/system/args\x20job-x\x2dy.service'
check "unload removes it" in_container launchctl unload /etc/qrb-test/args.plist
check "no unit of it is left" in_container test ! -e '/run/systemd/system/args\x20job-x\x2dy.service'

cat >"$root/etc/systemd/system/foreign.service" <<'UNIT'
[Service]
ExecStart=/bin/sleep infinity
UNIT
cp "$root/etc/systemd/system/foreign.service" "$work/foreign.copy"
in_container systemctl daemon-reload
in_container systemctl start foreign.service
write_plist foreign '<key>Label</key><string>foreign</string><key>RunAtLoad</key><true/>
<key>ProgramArguments</key><array><string>/bin/true</string></array>'
out=$(as_tester /usr/sbin/launchdtool load /etc/qrb-test/foreign.plist 2>&1)
check "a label naming another's unit is refused ($out)" grep -q 'not made by launchctl' <<<"$out"
out=$(as_tester /usr/sbin/launchdtool unload /etc/qrb-test/foreign.plist 2>&1)
check "unload of it is refused ($out)" grep -q 'Could not find specified service' <<<"$out"
check "the foreign unit is untouched" cmp -s "$work/foreign.copy" "$root/etc/systemd/system/foreign.service"
check "and still runs" in_container systemctl is-active -q foreign.service

# A job that fails to start leaves nothing behind and reports systemd's reason.
write_plist broken '<key>Label</key><string>broken</string><key>RunAtLoad</key><true/>
<key>ProgramArguments</key><array><string>/no/such/program</string></array>'
out=$(in_container launchctl load -w /etc/qrb-test/broken.plist 2>&1)
check "a job that cannot start fails with systemd's reason ($out)" grep -q 'broken.service' <<<"$out"
check "and leaves no unit behind" \
  test -z "$(in_container sh -c 'ls -d /etc/systemd/system/broken* /etc/systemd/system/*/broken* /run/systemd/system/broken*' 2>/dev/null)"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
