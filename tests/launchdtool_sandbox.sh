#!/bin/sh
# launchdtool_sandbox.sh TOOL HELPER STANDIN DIR COMMAND [ARG...]
#
# Run in a private mount namespace (unshare -m) by the tests of launchdtool. Installs TOOL
# set-user-ID root as DIR/bin/launchdtool, a plain copy as DIR/bin/launchdtool-plain and HELPER
# as DIR/bin/exec_helper, all on a fresh tmpfs (so it does not matter whether the file system
# holding DIR allows set-user-ID programs); puts STANDIN at /usr/sbin/launchctl on a tmpfs laid
# over /usr/sbin; then runs COMMAND. The mounts vanish with the namespace: nothing of the
# machine changes.
set -eu
tool=$1 helper=$2 standin=$3 dir=$4
shift 4
mount --make-rprivate /
mount -t tmpfs -o mode=0755 launchdtool-test "$dir/bin"
cp "$tool" "$dir/bin/launchdtool"
chown 0:0 "$dir/bin/launchdtool"
chmod 4755 "$dir/bin/launchdtool"
cp "$tool" "$dir/bin/launchdtool-plain"
chmod 0755 "$dir/bin/launchdtool-plain"
cp "$helper" "$dir/bin/exec_helper"
chmod 0755 "$dir/bin/exec_helper"
mount -t tmpfs -o mode=0755 launchdtool-test /usr/sbin
cp "$standin" /usr/sbin/launchctl
chmod 0755 /usr/sbin/launchctl
exec "$@"
