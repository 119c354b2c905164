#!/usr/bin/env bash
# Runs one scenario of scenarios.py against a program driven through AT-SPI:
#
#   run.sh SCENARIO PROGRAM [CONFIGTOOL XINETDTOOL]
#   run.sh polkit-user PROGRAM CONFIGTOOL XINETDTOOL XINETD_STANDIN   (polkit_user.sh)
#   run.sh measure PROGRAM NAME [PROGRAM NAME]...   (bench/app_measure.py, on a session alone)
#   run.sh --on-this-system SCENARIO PROGRAM        (the session alone, on the system as it is)
#
# The session is the test's own: Xvfb on a display it finds free, a session bus, the
# accessibility bus (at-spi-bus-launcher, which starts the registry), a home and runtime folder
# of its own. Every scenario but "harness" (and "measure") drives the real service and needs
# root: it runs in private mount, pid and network namespaces, where a tmpfs lies over /run and
# /var/run, our /etc/xinetd.conf and /etc/xinetd.d (holding the service file the package
# installs) lie over the machine's, a logger of the test's own takes /dev/log (an overlay over
# /dev) and writes /var/log/syslog (a tmpfs), the built CONFIGTOOL and XINETDTOOL are
# /usr/sbin/configtool and /usr/sbin/xinetdtool (an overlay over /usr/sbin), and the real
# xinetd and in.tftpd serve on the namespace's own port 69. Every process started is ended by
# the trap; the run fails when one is left. Exit status 77 (with the reason) where the scenario
# cannot run here. With --on-this-system the caller has made the whole system the scenario
# drives (a container booted for it, its back end installed): no namespaces, only the session,
# and the caller looks for what is left.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # Debian's, which has python3-pyatspi

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# start_session WORK: the X server, the session bus and the accessibility bus, each the first of
# a process group of its own (the accessibility bus starts a bus daemon and the registry below
# it), their pids in $session_pids; DISPLAY, DBUS_SESSION_BUS_ADDRESS, HOME and XDG_RUNTIME_DIR
# exported.
session_pids=()
session_left=
start_session() {
  local work=$1 i
  export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime
  mkdir -p -m 700 "$HOME" "$XDG_RUNTIME_DIR"
  unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME WAYLAND_DISPLAY SESSION_MANAGER
  # Each writes where it can be found, on a descriptor of its own; we wait for the line.
  setsid Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x1024x24 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
  session_pids+=($!)
  setsid dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >"$work/dbus.log" 2>&1 &
  session_pids+=($!)
  for ((i = 0; i < 200; i++)); do
    [ -s "$work/display" ] && [ -s "$work/bus" ] && break
    sleep 0.05
  done
  [ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  [ -s "$work/bus" ] || fail "the session bus did not start: $(cat "$work/dbus.log")"
  export DISPLAY=:$(head -n 1 "$work/display")
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
  export DBUS_SESSION_BUS_ADDRESS
  setsid /usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/atspi.log" 2>&1 &
  session_pids+=($!)
}

# stop_session: ends the process groups start_session started, youngest first, and waits until
# none of their processes is left.
stop_session() {
  local i j group
  for ((i = ${#session_pids[@]} - 1; i >= 0; i--)); do
    group=${session_pids[i]}
    kill -TERM -- "-$group" 2>/dev/null
    wait "$group" 2>/dev/null
    for ((j = 0; j < 100; j++)); do
      pgrep -g "$group" >/dev/null || break
      sleep 0.05
    done
    if pgrep -g "$group" >/dev/null; then
      echo "FAILED: left after the session: $(pgrep -l -g "$group" | tr '\n' ' ')" >&2
      kill -KILL -- "-$group" 2>/dev/null
      session_left=1
    fi
  done
  session_pids=()
}

# drive WORK SCENARIO ARG...: the scenario itself (or the measures), with the session's
# environment.
drive() {
  local work=$1 scenario=$2 script=$here/scenarios.py
  shift
  if [ "$scenario" = measure ]; then
    script=$here/../../bench/app_measure.py
    shift
  fi
  # Bounded below the test's own time limit, so that the trap still tears the session down.
  QRB_APP_WORK=$work QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 QT_QPA_PLATFORM=xcb \
    PYTHONDONTWRITEBYTECODE=1 timeout -k 5 "${QRB_APP_SECONDS:-200}" "$python" "$script" "$@"
}

# others: the processes of this pid namespace other than this shell and its own children.
others() {
  local dir pid
  for dir in /proc/[0-9]*; do
    pid=${dir#/proc/}
    [ "$pid" -eq $$ ] && continue
    [ "$(awk '{print $4}' "$dir/stat" 2>/dev/null)" = $$ ] &&
      [ "$(cat "$dir/comm" 2>/dev/null)" = bash ] && continue
    [ -r "$dir/comm" ] && echo "$pid $(cat "$dir/comm")"
  done
}

# inside WORK SCENARIO PROGRAM CONFIGTOOL XINETDTOOL: the first process of new namespaces.
inside() {
  local work=$1 scenario=$2 program=$3 configtool=$4 xinetdtool=$5 status left i
  . "$here/../sandbox_common.sh"
  fail() {
    echo "FAILED: $*" >&2
    exit 1
  }
  ip link set lo up || fail "no loopback"
  # The service's files as the package installs them: xinetd reads /etc/xinetd.d.
  mkdir -p "$work/etc/xinetd.d" /run/sandbox/sbin/upper /run/sandbox/sbin/work
  printf 'defaults\n{\n}\n\nincludedir /etc/xinetd.d\n' >"$work/etc/xinetd.conf"
  cp "$here/../../service/xinetd-tftp" "$work/etc/xinetd.d/tftp"
  mount --bind "$work/etc/xinetd.conf" /etc/xinetd.conf &&
    mount --bind "$work/etc/xinetd.d" /etc/xinetd.d || fail "cannot lay the service files"
  cp "$configtool" /run/sandbox/sbin/upper/configtool &&
    cp "$xinetdtool" /run/sandbox/sbin/upper/xinetdtool &&
    mount -t overlay overlay \
      -o lowerdir=/usr/sbin,upperdir=/run/sandbox/sbin/upper,workdir=/run/sandbox/sbin/work \
      /usr/sbin || fail "cannot lay the back end over /usr/sbin"
  # The system logger: /dev/log ours (an overlay over /dev), /var/log/syslog on a tmpfs.
  mkdir -p /run/sandbox/dev/upper /run/sandbox/dev/work
  mount -t overlay overlay \
    -o lowerdir=/dev,upperdir=/run/sandbox/dev/upper,workdir=/run/sandbox/dev/work /dev &&
    mount -t tmpfs -o mode=1777 sandbox /dev/shm &&
    mount -t tmpfs -o mode=0755 sandbox /var/log || fail "cannot lay a logger's files"
  rm -f /dev/log
  trap 'stop_session' EXIT
  setsid "$python" "$here/syslog_sink.py" /dev/log /var/log/syslog &
  session_pids+=($!)
  for ((i = 0; i < 200; i++)); do
    [ -S /dev/log ] && break
    sleep 0.05
  done
  [ -S /dev/log ] || fail "the system logger did not start"
  start_session "$work"
  drive "$work" "$scenario" "$program"
  status=$?
  stop_session
  [ -z "$session_left" ] || status=1
  # The back end's servers end with the scenario's Stop; anything left is a fault. xinetd, left
  # with no service by the hang-up, exits on its own a moment after the port is free.
  for ((i = 0; i < 50; i++)); do
    left=$(others)
    [ -z "$left" ] && break
    sleep 0.1
  done
  if [ -n "$left" ]; then
    echo "FAILED: processes left after the scenario:" >&2
    echo "$left" >&2
    for pid in $(awk '{print $1}' <<<"$left"); do kill -KILL "$pid" 2>/dev/null; done
    [ "$status" -ne 0 ] || status=1
  fi
  exit "$status"
}

if [ "${1:-}" = --inside ]; then
  shift
  inside "$@"
fi

on_this_system=
if [ "${1:-}" = --on-this-system ]; then
  on_this_system=1
  shift
fi
[ $# -ge 2 ] || { echo "usage: $0 SCENARIO PROGRAM [CONFIGTOOL XINETDTOOL]" >&2; exit 2; }
scenario=$1
program=$(realpath "$2")
for tool in Xvfb dbus-daemon /usr/libexec/at-spi-bus-launcher "$python"; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps.sh installs it)"
done
"$python" -c 'import pyatspi' 2>/dev/null || skip "python3-pyatspi is not installed"
[ -f "$program" ] && [ -x "$program" ] || fail "$program is not built"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT  # also when the scenario is skipped below
chmod 755 "$work"  # the server's user reaches the folders below
if [ "$scenario" = harness ] || [ "$scenario" = measure ] || [ -n "$on_this_system" ]; then
  trap 'stop_session; rm -rf "$work"' EXIT
  start_session "$work"
  drive "$work" "$@"
  status=$?
  stop_session
  [ -z "$session_left" ] || status=1
  exit "$status"
fi

[ "$(id -u)" -eq 0 ] || skip "the real service needs root (private namespaces, port 69)"
if [ "$scenario" = polkit-user ]; then
  # polkit_sandbox.sh makes the namespaces, the system bus and polkitd, the users and the
  # back end in /usr/sbin; polkit_user.sh is its scenario.
  [ $# -eq 5 ] || fail "polkit-user needs CONFIGTOOL XINETDTOOL STANDIN"
  for tool in setpriv pkexec pkttyagent pkaction dbus-send /usr/sbin/xinetd; do
    command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps.sh installs it)"
  done
  [ -x /usr/lib/polkit-1/polkitd ] || [ -x /usr/libexec/polkitd ] || skip "polkitd is missing"
  trap 'rm -rf "$work"' EXIT
  cp "$here/polkit_user.sh" "$work/scenario.sh" || fail "no scenario"
  APP_DIR=$(dirname "$program") APP_TESTS=$here PYTHON=$python \
    timeout -k 5 240 unshare --mount --pid --net --fork --kill-child --mount-proc \
    sh "$here/../polkit_sandbox.sh" "$work" "$here/../../polkit/org.qrb.tftpcontroller.policy" \
    "$here/../polkit_agent.py" "$(realpath "$5")" "$(realpath "$3")" "$(realpath "$4")"
  status=$?
  [ "$status" -ne 97 ] || skip "the sandbox could not be made"
  exit "$status"
fi
[ $# -eq 4 ] || fail "the scenario $scenario needs CONFIGTOOL and XINETDTOOL"
for tool in unshare ip tftp /usr/sbin/xinetd /usr/sbin/in.tftpd; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps.sh installs it)"
done
trap 'rm -rf "$work"' EXIT
timeout -k 5 240 unshare --mount --pid --net --fork --kill-child --mount-proc \
  bash "$0" --inside "$work" "$scenario" "$program" "$3" "$4"
status=$?
[ "$status" -ne 97 ] || skip "the private namespaces could not be made"
exit "$status"
