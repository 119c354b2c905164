#!/bin/sh
# Runs one scenario of xinetdtool's tests as root inside private mount and pid namespaces:
#
#   unshare -m -p -f --mount-proc /bin/sh xinetdtool_sandbox.sh WORK TOOL STANDIN
#
# A tmpfs lies over /run (and /var/run), so the machine's pid file is never read or written;
# the stand-in STANDIN (xinetd_standin) lies over /usr/sbin/xinetd; every process started here
# dies with this shell, the namespace's first process. Then WORK/scenario.sh runs with the
# helpers below; what it produces lands in WORK: NAME.out, NAME.err, NAME.status per run,
# and "record", the stand-in's record. Exit status 97: the sandbox could not be made
# (sandbox_common.sh).
# shellcheck disable=SC2015,SC2317  # "a && b || fail" is meant; the helpers are used by the scenario
set -u
work=$1
tool=$2
standin=$3

. "$(dirname "$0")/sandbox_common.sh"
: >/run/sandbox/record && chmod 666 /run/sandbox/record || fail "no record"
trap 'cp /run/sandbox/record "$work/record"' EXIT
lay_standin "$standin"
cp "$standin" /run/sandbox/other && chmod 755 /run/sandbox/other || fail "cannot copy the stand-in"
# A copy any user can run, wherever the build lies.
cp "$tool" /run/sandbox/xinetdtool && chmod 755 /run/sandbox/xinetdtool || fail "no xinetdtool"
cd /run/sandbox || fail "no /run/sandbox"

# run NAME ARG...: xinetdtool as root.
run() {
  name=$1
  shift
  timeout -k 5 30 /run/sandbox/xinetdtool "$@" >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.status"
}

# run_as_nobody NAME ARG...: xinetdtool as an ordinary user without groups.
run_as_nobody() {
  name=$1
  shift
  timeout -k 5 30 setpriv --reuid=65534 --regid=65534 --clear-groups \
    /run/sandbox/xinetdtool "$@" >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.status"
}

# settle CONDITION: waits up to 10 seconds until the shell condition holds.
settle() {
  i=0
  until eval "$1"; do
    i=$((i + 1))
    [ "$i" -lt 200 ] || return 1
    sleep 0.05
  done
}

# serve: a live stand-in server named in the pid file; the record starts empty after it.
serve() {
  /usr/sbin/xinetd -pidfile /run/xinetd.pid >/dev/null
  : >/run/sandbox/record
}

# real_xinetd: the installed xinetd takes the stand-in's place, alone on a tmpfs laid over
# /usr/sbin, with a configuration of ours: UDP echo, a service of its own, on port 7 of the
# namespace's own network (the scenario must run in a network namespace of its own).
real_xinetd() {
  [ "$(grep -c : /proc/net/dev)" -eq 1 ] || fail "no network namespace of our own"
  umount /usr/sbin/xinetd || fail "cannot take the stand-in away"
  cp /usr/sbin/xinetd /run/sandbox/real-xinetd &&
    mount -t tmpfs -o mode=0755 sandbox /usr/sbin &&
    cp /run/sandbox/real-xinetd /usr/sbin/xinetd || fail "cannot copy xinetd"
  printf '%s\n' 'defaults' '{' '}' 'service echo' '{' '  type = INTERNAL UNLISTED' \
    '  id = echo-dgram' '  socket_type = dgram' '  protocol = udp' '  port = 7' \
    '  user = root' '  wait = yes' '  disable = no' '}' >/run/sandbox/xinetd.conf &&
    mount --bind /run/sandbox/xinetd.conf /etc/xinetd.conf || fail "cannot configure xinetd"
}

# upgrade_xinetd: what an upgrade of the package does to a running server: a new copy of
# xinetd takes the place of the file it runs.
upgrade_xinetd() {
  cp /run/sandbox/real-xinetd /usr/sbin/xinetd.new && mv /usr/sbin/xinetd.new /usr/sbin/xinetd ||
    fail "cannot replace xinetd"
}

# servers: the pid of each live process named xinetd, one a line.
servers() {
  for dir in /proc/[0-9]*; do
    [ "$(cat "$dir/comm" 2>/dev/null)" = xinetd ] && alive "${dir#/proc/}" && echo "${dir#/proc/}"
  done
}

# hide_processes: /proc shows an ordinary user only its own processes (hidepid).
hide_processes() {
  mount -o remount,hidepid=invisible /proc 2>/dev/null || mount -o remount,hidepid=2 /proc ||
    fail "cannot remount /proc with hidepid"
}

# alive PID: the process runs (a zombie does not).
alive() {
  [ -r "/proc/$1/stat" ] && ! grep -q '^[0-9]* ([^)]*) [ZX]' "/proc/$1/stat"
}

. "$work/scenario.sh"
exit 0
