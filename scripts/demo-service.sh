#!/usr/bin/env bash
# The real service: configtool and xinetdtool drive the real xinetd, which serves the real TFTP
# daemon (in.tftpd) on 127.0.0.1; the real client (tftp) fetches files from it.
#
# Everything runs in private mount, pid and network namespaces: our own /etc/xinetd.conf and
# /etc/xinetd.d lie over the machine's (bind mounts), a tmpfs lies over /run, and the loopback
# interface is the namespace's own. The machine's configuration, pid files, processes and
# network are never touched; when the script ends, every process it started dies with the
# namespace. Needs root; as an ordinary user it shows what it can.
#
# QRB_BUILD_DIR: the build folder holding configtool/configtool and xinetdtool/xinetdtool;
# or QRB_SBIN_DIR: the folder the programs are installed in (/usr/sbin for the package).
# Exit status 0 when every step did what it should.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${QRB_SBIN_DIR:-}" ]; then
  configtool=$QRB_SBIN_DIR/configtool
  xinetdtool=$QRB_SBIN_DIR/xinetdtool
else
  build=${QRB_BUILD_DIR:-$top/build/release}
  configtool=$build/configtool/configtool
  xinetdtool=$build/xinetdtool/xinetdtool
fi
port=6969
service_file=/etc/xinetd.d/tftp

step() { printf '\n== %s\n' "$*"; }
show() {
  printf '$'
  printf ' %q' "$@"
  printf '\n'
  "$@"
}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# The service as installed: disabled, serving a folder that is not ours yet.
write_service() {
  cat >"$1" <<EOF
service tftp
{
	disable		= yes
	type		= UNLISTED
	socket_type	= dgram
	protocol	= udp
	wait		= yes
	user		= root
	bind		= 127.0.0.1
	port		= $port
	server		= /usr/sbin/in.tftpd
	server_args	= --timeout 1 --secure /srv/tftp
}
EOF
}

# fetch NAME: asks the server for NAME, giving up after 3 seconds; prints what came.
fetch() {
  rm -f "$client/$1"
  printf '$ tftp 127.0.0.1 %s   (rexmt 1, timeout 3, get %s)\n' "$port" "$1"
  (cd "$client" && printf 'rexmt 1\ntimeout 3\nget %s\nquit\n' "$1" |
    timeout -k 2 10 tftp 127.0.0.1 "$port" | tr -d '\r' | sed -e 's/^\(tftp> \)*//' -e '/^$/d') ||
    true
  if [ -s "$client/$1" ]; then
    echo "received: $(cat "$client/$1")"
  else
    echo "received nothing"
  fi
}

fetched() { [ -s "$client/$1" ] && [ "$(cat "$client/$1")" = "$2" ]; }

# wait_until SECONDS CONDITION...: polls the condition every 0.1 s.
wait_until() {
  local tenths=$(($1 * 10))
  shift
  until "$@"; do
    tenths=$((tenths - 1))
    [ "$tenths" -gt 0 ] || return 1
    sleep 0.1
  done
}

running() {
  local comm
  for comm in /proc/[0-9]*/comm; do
    [ "$(cat "$comm" 2>/dev/null)" = "$1" ] && return 0
  done
  return 1
}
not_running() { ! running "$1"; }
listening() { ss -Hlun "sport = :$port" | grep -q 127.0.0.1; }

inside() {
  work=$1
  client=$work/client
  # Signals and processes stay in here only if this shell is a new pid namespace's first.
  [ "$$" -eq 1 ] || fail "not inside private namespaces"
  mount --make-rprivate /
  ip link set lo up
  mount -t tmpfs -o mode=0755 demo /run
  [ -L /var/run ] || mount -t tmpfs -o mode=0755 demo /var/run
  printf 'defaults\n{\n}\n\nincludedir /etc/xinetd.d\n' >"$work/xinetd.conf"
  mkdir "$work/xinetd.d"
  write_service "$work/xinetd.d/tftp"
  mount --bind "$work/xinetd.conf" /etc/xinetd.conf
  mount --bind "$work/xinetd.d" /etc/xinetd.d
  echo "Private namespaces: our own /etc/xinetd.conf, /etc/xinetd.d, /run and loopback."

  step "The TFTP service file, as installed (disabled)"
  show cat "$service_file"

  step "configtool enables the service and sets the folder it serves"
  show "$configtool" "$service_file" disable no yes
  echo
  show "$configtool" "$service_file" server_args "$work/one" /srv/tftp
  echo
  show grep -E 'disable|server_args' "$service_file"
  grep -q 'disable[[:space:]]*= no' "$service_file" || fail "the service is still disabled"

  step "xinetdtool starts xinetd"
  show timeout 30 "$xinetdtool" --start 2>&1
  wait_until 10 listening || fail "xinetd does not listen on 127.0.0.1:$port"
  echo "xinetd (pid $(cat /run/xinetd.pid)) listens on 127.0.0.1:$port"

  step "The client fetches a file"
  fetch hello.txt
  fetched hello.txt "served from one" || fail "the first folder was not served"

  step "configtool points the service at another folder; xinetdtool restarts xinetd"
  show "$configtool" "$service_file" server_args "$work/two" "$work/one"
  echo
  show grep server_args "$service_file"
  show timeout 30 "$xinetdtool" --restart 2>&1

  step "The client fetches the file again, now from the other folder"
  # The last in.tftpd lingers a second for more requests before xinetd serves anew.
  wait_until 10 not_running in.tftpd || fail "in.tftpd does not end"
  fetch hello.txt
  fetched hello.txt "served from two" || fail "the new folder was not served"

  step "xinetdtool stops xinetd"
  show timeout 30 "$xinetdtool" --stop 2>&1
  wait_until 10 not_running xinetd || fail "xinetd still runs"
  wait_until 10 not_running in.tftpd || fail "in.tftpd still runs"
  fetch hello.txt
  [ ! -s "$client/hello.txt" ] || fail "something still answers"
  echo "nothing answers"

  step "A server that dies leaves its pid file behind; the number no longer counts"
  show timeout 30 "$xinetdtool" --start 2>&1
  wait_until 10 listening || fail "xinetd does not listen on 127.0.0.1:$port"
  pid=$(cat /run/xinetd.pid)
  show kill -KILL "$pid"
  wait_until 10 not_running xinetd || fail "xinetd still runs"
  echo "pid file: $(cat /run/xinetd.pid); process $pid: gone"
  printf '$ %q --stop\n' "$xinetdtool"
  said=$(timeout 30 "$xinetdtool" --stop 2>&1) || fail "xinetdtool --stop failed: $said"
  [ -z "$said" ] || fail "xinetdtool --stop acted on a dead server's pid: $said"
  echo "(nothing to stop)"
  show timeout 30 "$xinetdtool" --start 2>&1
  wait_until 10 listening || fail "xinetd does not listen on 127.0.0.1:$port"
  echo "xinetd (pid $(cat /run/xinetd.pid)) listens on 127.0.0.1:$port"
  fetch hello.txt
  fetched hello.txt "served from two" || fail "the restarted server does not serve"
  show timeout 30 "$xinetdtool" --stop 2>&1
  wait_until 10 not_running xinetd || fail "xinetd still runs"
  echo
  echo "The real service did what it should at every step."
}

outside_as_user() {
  echo "The real service needs root: it runs xinetd and in.tftpd in private mount, pid and"
  echo "network namespaces. Run: sudo $0"
  step "What an ordinary user can see: configtool on a copy of the service file"
  copy=$(mktemp -d)
  trap 'rm -rf "$copy"' EXIT
  write_service "$copy/tftp"
  show "$configtool" "$copy/tftp" disable no yes
  echo
  show grep disable "$copy/tftp"
  if [ ! -e /usr/bin/pkexec ]; then
    step "xinetdtool refuses an ordinary user (no polkit to ask for a password)"
    printf '$ %s --start\n' "$xinetdtool"
    local said
    said=$(timeout 30 "$xinetdtool" --start 2>&1) || true
    if [ -n "$said" ]; then
      echo "$said"
    else
      echo "(nothing: the machine's own xinetd runs and its pid file names it)"
    fi
  fi
}

if [ "${1:-}" = --inside ]; then
  inside "$2"
  exit 0
fi

for program in "$configtool" "$xinetdtool"; do
  [ -x "$program" ] || fail "$program is not built (set QRB_BUILD_DIR or QRB_SBIN_DIR)"
done
if [ "$(id -u)" -ne 0 ]; then
  outside_as_user
  exit 0
fi
for tool in unshare ip ss timeout tftp /usr/sbin/xinetd /usr/sbin/in.tftpd; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # in.tftpd serves as an ordinary user
mkdir -m 755 "$work/one" "$work/two" "$work/client"
echo "served from one" >"$work/one/hello.txt"
echo "served from two" >"$work/two/hello.txt"
chmod 644 "$work/one/hello.txt" "$work/two/hello.txt"
timeout -k 5 150 unshare --mount --pid --net --fork --kill-child --mount-proc \
  bash "$0" --inside "$work"
