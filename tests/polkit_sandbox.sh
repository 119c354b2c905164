#!/bin/sh
# Runs one scenario of the administrator-rights tests as root inside private mount and pid
# namespaces, against the real polkit:
#
#   unshare -m -p -f --mount-proc /bin/sh polkit_sandbox.sh WORK POLICY AGENT STANDIN PROGRAM...
#
# A tmpfs lies over /run, and in it the sandbox starts its own system message bus
# (dbus-daemon --system) and the real polkitd, which reads the project's policy file POLICY
# and the rules below. /usr/sbin and /etc get writable layers of their own (overlayfs, the
# changes in the tmpfs): three test users exist only in here (added to /etc/passwd, /etc/group
# and /etc/shadow in the layer); the recording stand-in STANDIN lies over /usr/sbin/xinetd;
# each PROGRAM is copied where every user can run it, and xinetdtool and configtool among them
# also where the policy's actions name them (/usr/sbin); the TFTP service's files the package
# installs (service/) lie where configtool lets a granted user edit them. Every process
# started here dies with this shell, the namespace's first process. polkitd is started by the
# sandbox, never by the bus, so that once stopped it stays stopped. Then WORK/scenario.sh runs with the helpers below; what it produces lands in WORK:
# NAME.out, NAME.err, NAME.status per run, "record" (the stand-in's), "checks" (one line per
# authorization check polkit made for one of our actions or pkexec's own) and polkitd.log.
# Exit status 97: the sandbox could not be made (sandbox_common.sh).
#
# The users: qrbyes, whom the rules let control the TFTP service (the example rule of
# docs/administrator-rights.md); qrbno, whom they refuse; qrbask, whom they leave to the
# policy's default (the administrator's password, kept a while) and who is that administrator,
# with the password "sandbox password".
# shellcheck disable=SC2015,SC2317  # "a && b || fail" is meant; the helpers are used by the scenario
set -u
work=$1
policy=$2
agent=$3
standin=$4
shift 4
box=/run/sandbox

tests=$(cd "$(dirname "$0")" && pwd)
. "$tests/sandbox_common.sh"

# Writable layers over /usr/sbin and /etc, before anything is laid over files in them.
for tree in /usr/sbin /etc; do
  layer=/run/layers$tree
  mkdir -p $layer/lower $layer/upper $layer/work && mount --bind $tree $layer/lower &&
    mount -t overlay -o lowerdir=$layer/lower,upperdir=$layer/upper,workdir=$layer/work \
      sandbox-layer $tree || fail "cannot lay a writable layer over $tree"
done
mkdir -m 0755 /run/dbus $box/actions $box/rules.d $box/none ||
  fail "no folders in /run"
: >$box/record && : >$box/checks && chmod 666 $box/record $box/checks || fail "no record"
trap 'cp $box/record "$work/record"; cp $box/checks "$work/checks"' EXIT

# The test users, in the account files of the layer over /etc, which only this namespace sees
# (real files, as configtool would meet them, not mount points).
for user in qrbyes qrbno qrbask; do
  ! grep -q "^$user:" /etc/passwd || fail "the machine has a user $user already"
done
uid=61000
for user in qrbyes qrbno qrbask; do
  uid=$((uid + 1))
  while getent passwd $uid >/dev/null || getent group $uid >/dev/null; do uid=$((uid + 1)); done
  echo "$user:x:$uid:$uid:sandbox user:/nonexistent:/bin/sh" >>/etc/passwd
  echo "$user:x:$uid:" >>/etc/group
done
{
  echo 'qrbyes:!:19000:0:99999:7:::'
  echo 'qrbno:!:19000:0:99999:7:::'
  # "sandbox password", SHA-512 crypt.
  echo 'qrbask:$6$qrbsandbox$ZIbzZiKanhp2ZcrO9qGL8PqgLOHIR5YR6hkC.NTjX9kz0ljoyq9/pch4JsHkwCQPR9qC2U108YiCWgKyY5COw0:19000:0:99999:7:::'
} >>/etc/shadow
[ "$(id -u qrbask 2>/dev/null)" = "$uid" ] || fail "the test users are not seen"

# The machine's actions and ours; our rules only (the distribution's own rules still apply).
cp /usr/share/polkit-1/actions/* $box/actions/ 2>/dev/null
cp "$policy" $box/actions/ || fail "cannot copy the policy"
# /bin/sh under an action that keeps its authentication, as ours do: a program of the tests'
# own choosing run after polkit's yes.
cat >$box/actions/org.qrb.sandbox.policy <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE policyconfig PUBLIC "-//freedesktop//DTD PolicyKit Policy Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/PolicyKit/1/policyconfig.dtd">
<policyconfig>
  <action id="org.qrb.sandbox.sh">
    <description>sandbox shell</description>
    <message>sandbox shell</message>
    <defaults>
      <allow_any>auth_admin_keep</allow_any>
      <allow_inactive>auth_admin_keep</allow_inactive>
      <allow_active>auth_admin_keep</allow_active>
    </defaults>
    <annotate key="org.freedesktop.policykit.exec.path">/bin/sh</annotate>
  </action>
</policyconfig>
EOF
mount --bind $box/actions /usr/share/polkit-1/actions || fail "cannot lay our actions over polkit's"
cat >$box/rules.d/10-sandbox.rules <<'EOF'
// Each check of one of our actions, or of pkexec's own, is written down; qrbyes may control
// the TFTP service (our actions, as the example rule of docs/administrator-rights.md grants
// them), qrbno may not, anyone else meets the policy's default, with qrbask as the administrator.
polkit.addRule(function(action, subject) {
  if (action.id.indexOf("org.qrb.tftpcontroller.") != 0 &&
      action.id != "org.freedesktop.policykit.exec")
    return null;
  var line = action.id + " user=" + subject.user + " program=" + action.lookup("program") +
             " pkexec=" + (action.lookup("command_line") !== undefined);
  polkit.spawn(["/bin/sh", "-c", 'echo "$1" >>/run/sandbox/checks', "sh", line]);
  if (subject.user == "qrbno") return polkit.Result.NO;
  if (action.id.indexOf("org.qrb.tftpcontroller.") == 0 && subject.user == "qrbyes")
    return polkit.Result.YES;
  return null;
});
polkit.addAdminRule(function(action, subject) {
  return ["unix-user:qrbask"];
});
EOF
mkdir -p /etc/polkit-1/rules.d || fail "no /etc/polkit-1/rules.d"
mount --bind $box/rules.d /etc/polkit-1/rules.d || fail "cannot lay our rules over polkit's"

# Our own system bus and polkit on it.
mount --bind $box/none /usr/share/dbus-1/system-services || fail "cannot turn bus activation off"
dbus-daemon --system --nofork --nopidfile --nosyslog 2>"$work/dbus.log" &
i=0
until [ -S /run/dbus/system_bus_socket ]; do
  i=$((i + 1))
  [ "$i" -lt 200 ] || fail "the system bus does not start"
  sleep 0.05
done
polkitd=/usr/lib/polkit-1/polkitd
[ -x $polkitd ] || polkitd=/usr/libexec/polkitd
$polkitd >"$work/polkitd.log" 2>&1 &
polkitd_pid=$!
# Asking before it holds its name would have the bus start another.
i=0
until dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
  org.freedesktop.DBus.NameHasOwner string:org.freedesktop.PolicyKit1 2>/dev/null |
  grep -q 'boolean true'; do
  i=$((i + 1))
  [ "$i" -lt 200 ] || fail "polkitd does not start: $(cat "$work/polkitd.log")"
  sleep 0.05
done
pkaction --action-id org.qrb.tftpcontroller.xinetdtool >/dev/null 2>&1 ||
  fail "polkit does not know our actions: $(cat "$work/polkitd.log")"

lay_standin "$standin"
for program do
  cp "$program" $box/ && chmod 755 "$box/${program##*/}" || fail "cannot copy $program"
  case ${program##*/} in
    xinetdtool | configtool)
      cp "$program" /usr/sbin/ && chmod 755 "/usr/sbin/${program##*/}" ||
        fail "cannot install $program" ;;
  esac
done
# The TFTP service's files as the package installs them, and a folder to serve.
mkdir -p /etc/qrb-tftp-controller $box/served &&
  cp "$tests/../service/xinetd-tftp" /etc/xinetd.d/tftp &&
  cp "$tests/../service/tftp.plist" /etc/qrb-tftp-controller/tftp.plist ||
  fail "cannot install the service's files"
cp "$agent" $box/agent.py || fail "no agent"
cd $box || fail "no $box"

# run_as USER NAME PROGRAM ARG...: one of the programs (or, given with its path, any program)
# as USER (without groups), under this shell (pkexec refuses to serve a process whose parent
# is process 1).
run_as() {
  user=$1
  name=$2
  program=$3
  shift 3
  case $program in /*) ;; *) program=$box/$program ;; esac
  timeout -k 5 60 setpriv --reuid="$user" --regid="$user" --clear-groups \
    "$program" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.status"
}

# run_with_agent USER PASSWORD NAME PROGRAM ARG...: the same (PROGRAM as for run_as), with polkit's text authentication
# agent (pkttyagent) registered for the program's process, which answers each password prompt
# with PASSWORD; the agent's transcript lands in WORK/NAME.agent.
run_with_agent() {
  user=$1
  password=$2
  name=$3
  program=$4
  shift 4
  case $program in /*) ;; *) program=$box/$program ;; esac
  timeout -k 5 60 /usr/bin/python3 $box/agent.py "$user" "$password" "$work/$name.agent" \
    "$work/$name.out" "$work/$name.err" "$program" "$@"
  echo $? >"$work/$name.status"
}

# stop_polkit: polkitd ends; nothing starts it again.
stop_polkit() {
  kill "$polkitd_pid" && wait "$polkitd_pid"
}

. "$work/scenario.sh"
exit 0
