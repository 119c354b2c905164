# The controller run by an ordinary user, qrbask, whose rights come from the real polkitd
# through one password typed into polkit's text agent: sourced by ../polkit_sandbox.sh (as its
# scenario, root, the first process of private mount, pid and network namespaces) with
# APP_DIR (the program's bundle folder), APP_TESTS (this folder) and PYTHON set by run.sh.
# The real xinetd takes the stand-in's place; the user's session (session bus, accessibility
# bus) runs as qrbask on an Xvfb of its own; the scenario "polkit-user" of scenarios.py drives
# the window as qrbask. Passes when the scenario passes and the agent asked for the password
# exactly once. Exit status 97: the sandbox could not be made.
# shellcheck shell=sh disable=SC2154  # work, box, fail come from polkit_sandbox.sh
umount /usr/sbin/xinetd || fail "cannot take the stand-in away"
ip link set lo up || fail "no loopback"
printf 'defaults\n{\n}\n\nincludedir /etc/xinetd.d\n' >/etc/xinetd.conf || fail "no xinetd.conf"
user=qrbask
home=$box/home
mkdir -p "$home/runtime" "$home/work" "$box/served" "$box/other" &&
  chown -R "$user:$user" "$home" && chmod 700 "$home/runtime" || fail "no home for $user"
echo "served from one" >"$box/served/hello.txt" && echo "served from two" >"$box/other/hello.txt" &&
  chmod 644 "$box/served/hello.txt" "$box/other/hello.txt" || fail "no folders to serve"
cp -r "$APP_DIR" "$box/app" && chmod -R a+rX "$box/app" || fail "cannot copy the program"

as_user() {
  setpriv --reuid="$user" --regid="$user" --clear-groups env HOME="$home" \
    XDG_RUNTIME_DIR="$home/runtime" "$@"
}

pids=""
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x1024x24 3>"$box/display" \
  >"$work/xvfb.log" 2>&1 &
pids="$! $pids"
as_user dbus-daemon --session --nofork --print-address=3 3>"$box/bus" >"$work/dbus.log" 2>&1 &
pids="$! $pids"
i=0
until [ -s "$box/display" ] && [ -s "$box/bus" ]; do
  i=$((i + 1))
  [ "$i" -lt 200 ] || fail "no X server or session bus"
  sleep 0.05
done
DISPLAY=:$(head -n 1 "$box/display")
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$box/bus")
export DISPLAY DBUS_SESSION_BUS_ADDRESS
as_user /usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/atspi.log" 2>&1 &
pids="$! $pids"

# The program as the user, with polkit's agent for it answering the password prompts.
env HOME="$home" XDG_RUNTIME_DIR="$home/runtime" QRB_AGENT_SECONDS=200 \
  QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 QT_QPA_PLATFORM=xcb \
  /usr/bin/python3 "$box/agent.py" "$user" 'sandbox password' "$work/app.agent" \
  "$work/app.out" "$work/app.err" "$box/app/tftp-controller" &
agent=$!
as_user QRB_APP_WORK="$home/work" QRB_SERVED="$box/served" QRB_OTHER="$box/other" \
  PYTHONDONTWRITEBYTECODE=1 "$PYTHON" "$APP_TESTS/scenarios.py" polkit-user attach
status=$?
wait "$agent"
for pid in $pids; do
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
done
prompts=$(grep -c 'Password:' "$work/app.agent")
echo "the agent asked for the password $prompts time(s):"
tr -d '\r' <"$work/app.agent" | grep -o 'AUTHENTICATING FOR [^ ]*'
echo "polkit's checks of our actions for $user:"
grep "user=$user" "$box/checks" | sort | uniq -c
if [ "$status" -eq 0 ] && [ "$prompts" -ne 1 ]; then
  echo "FAILED: a Start, a folder change and a Stop should ask once" >&2
  status=1
fi
# Each right comes from our two actions, never from pkexec's generic one (a password each time).
if [ "$status" -eq 0 ] && grep -q "org.freedesktop.policykit.exec" "$work/app.agent" "$box/checks"
then
  echo "FAILED: pkexec's own action was checked" >&2
  status=1
fi
for tool in configtool xinetdtool; do
  if [ "$status" -eq 0 ] && ! grep -q "tftpcontroller.$tool user=$user" "$box/checks"; then
    echo "FAILED: polkit was never asked about $tool for $user" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] || cat "$work/app.err" >&2
exit "$status"
