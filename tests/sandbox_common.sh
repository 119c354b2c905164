# The set-up the tests' sandboxes share (polkit_sandbox.sh, xinetdtool_sandbox.sh), sourced
# first thing: a tmpfs over /run (and /var/run), so that the machine's pid files are never read
# or written, and /run/sandbox, where every user may write. fail MESSAGE ends the script with
# exit status 97: the sandbox could not be made.
# shellcheck shell=sh disable=SC2015  # "a && b || fail" is meant

fail() {
  echo "sandbox: $*" >&2
  exit 97
}

# Signals sent from here must not reach any process outside: refuse to run anywhere but as
# the first process of a pid namespace of our own.
[ "$$" -eq 1 ] || fail "not the first process of a new pid namespace"
[ "$(id -u)" -eq 0 ] || fail "needs root"
mount --make-rprivate / || fail "cannot make the mounts private"
mount -t tmpfs -o mode=0755 sandbox /run || fail "cannot mount a tmpfs over /run"
if [ ! -L /var/run ]; then
  mount -t tmpfs -o mode=0755 sandbox /var/run || fail "cannot mount a tmpfs over /var/run"
fi
[ ! -e /var/run/xinetd.pid ] || fail "/var/run is not the private tmpfs"
mkdir -m 1777 /run/sandbox || fail "no /run/sandbox"

# lay_standin STANDIN: a copy of the stand-in STANDIN (xinetd_standin), /run/sandbox/xinetd,
# lies over /usr/sbin/xinetd.
lay_standin() {
  cp "$1" /run/sandbox/xinetd && chmod 755 /run/sandbox/xinetd || fail "cannot copy the stand-in"
  mount --bind /run/sandbox/xinetd /usr/sbin/xinetd || fail "cannot lay the stand-in over xinetd"
  cmp -s /usr/sbin/xinetd "$1" || fail "/usr/sbin/xinetd is not the stand-in"
}
