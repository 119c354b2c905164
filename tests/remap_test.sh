#!/usr/bin/env bash
# The service's name-mapping rules on the real server: tests/remap_test.sh RULES_FILE
#
# The real in.tftpd, given the rules with -m (and -s, as the service runs it), serves a folder
# of the test's own on loopback inside private mount, pid and network namespaces; the real
# client (tftp) asks for names as clients of other systems write them. Each asked name must
# bring exactly the file the table names, or nothing; a name that climbs out of the folder
# brings nothing. Needs root (namespaces, the server's change to the user nobody): exit
# status 77, skipped, otherwise. Exit status 0 when every check held.
set -euo pipefail
rules=$(realpath "${1:?usage: $0 RULES_FILE}")
port=6969

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

inside() {
  local served=$1 client=$2
  [ "$$" -eq 1 ] || fail "not inside private namespaces"
  ip link set lo up
  # Every address of the namespace, which has only its loopback (a named address would be
  # looked up with AI_ADDRCONFIG, which finds none where loopback is all there is).
  /usr/sbin/in.tftpd --foreground --ipv4 --address ":$port" --verbose \
    --map-file "$rules" --secure "$served" &
  local tenths=50
  until ss -Huln "sport = :$port" | grep -q .; do
    tenths=$((tenths - 1))
    [ "$tenths" -gt 0 ] || fail "in.tftpd does not listen on port $port"
    sleep 0.1
  done

  # asked name | the served file that must arrive ("-": nothing may)
  local failures=0 asked expected got
  while IFS='|' read -r asked expected; do
    rm -f "$client/got"
    (cd "$client" && printf 'binary\nrexmt 1\ntimeout 3\nget %s got\nquit\n' "$asked" |
      timeout -k 2 10 tftp 127.0.0.1 "$port" >/dev/null 2>&1) || true
    if [ "$expected" = - ]; then
      if [ -s "$client/got" ]; then
        echo "FAILED: $asked brought \"$(cat "$client/got")\", nothing should arrive" >&2
        failures=$((failures + 1))
      else
        echo "ok: $asked brings nothing"
      fi
      continue
    fi
    got=$(cat "$client/got" 2>/dev/null || echo "(nothing)")
    if [ "$got" = "$(cat "$served/$expected")" ]; then
      echo "ok: $asked brings $expected"
    else
      echo "FAILED: $asked brought \"$got\", not $expected" >&2
      failures=$((failures + 1))
    fi
  done <<'TABLE'
BOOT\PXELINUX.0|boot/pxelinux.0
boot/pxelinux.0|boot/pxelinux.0
Boot/PxeLinux.0|boot/pxelinux.0
\BOOT\PXELINUX.0|boot/pxelinux.0
BOOT\\PXELINUX.0|boot/pxelinux.0
BOOT\PXELINUX.CFG\DEFAULT|boot/pxelinux.cfg/default
FIRMWARE.BIN|firmware.bin
BOOT\MISSING.0|-
..\SECRET|-
..\..\SECRET|-
BOOT\..\..\SECRET|-
TABLE
  [ "$failures" -eq 0 ] || fail "$failures names were not mapped as they should be"
}

if [ "${2:-}" = --inside ]; then
  inside "$3" "$4"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: needs root (private namespaces, in.tftpd changes to the user nobody)"
  exit 77
fi
for tool in /usr/sbin/in.tftpd /usr/bin/tftp unshare ip ss timeout; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
[ -r "$rules" ] || fail "cannot read $rules"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
# The served folder, and beside it a file no name may reach.
served=$scratch/served
mkdir -p "$served/boot/pxelinux.cfg" "$scratch/client"
echo "the boot loader" >"$served/boot/pxelinux.0"
echo "the boot menu" >"$served/boot/pxelinux.cfg/default"
echo "a router's firmware" >"$served/firmware.bin"
echo "outside the served folder" >"$scratch/SECRET"
cp "$scratch/SECRET" "$scratch/secret"
chmod -R a+rX "$served"
timeout -k 5 60 unshare --mount --pid --net --fork --kill-child --mount-proc \
  bash "$0" "$rules" --inside "$served" "$scratch/client"
echo "The rules map backslashes to slashes and upper case to lower case, and nothing more."
