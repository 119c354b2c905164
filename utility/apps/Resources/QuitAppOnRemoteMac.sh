# Quits an application on another machine: ssh logs in there as the user and sends the
# termination signal to each of that user's processes of the application with that desktop
# entry ID, then waits a few seconds for them to end.
#
# The library fills in the four values below, each as one quoted shell word, and runs the text
# with /bin/sh, which reads it from its standard input. The text is a format: every percent
# sign that the shell is to see is written twice.
#
# Exit status: 0 quit, or it was not running; 2 a value the script cannot use; 6 it still
# runs after the signal; 255 ssh failed (no connection, an unknown or changed host key,
# authentication refused). The last line of standard error says what happened.
set -u
app=%@
machine=%@
user=%@
password=%@

say() { printf '%%s\n' "$*" >&2; }

case $machine in
'' | -*) say "Not a machine name: $machine"; exit 2 ;;
esac
case $app in
'' | */*) say "Not an application ID: $app"; exit 2 ;;
esac

# Prints the value as one single-quoted word for the shell on the other side.
quote() {
  rest=$1 word=
  while :; do
    case $rest in
    *\'*)
      word=$word${rest%%%%\'*}\'\\\'\'
      rest=${rest#*\'}
      ;;
    *) printf "'%%s'" "$word$rest"; return ;;
    esac
  done
}

# What runs on the other machine, as that user, read by its shell from standard input.
remote_script() {
  printf 'app=%%s\n' "$(quote "$app")"
  cat <<'REMOTE'
set -u
say() { printf '%%s\n' "$*" >&2; }

# systemd names an application's unit after its ID with "-" written as \x2d.
escaped= rest=$app
while [ -n "$rest" ]; do
  char=${rest%%"${rest#?}"}
  rest=${rest#?}
  case $char in
  -) escaped="$escaped\\x2d" ;;
  *) escaped=$escaped$char ;;
  esac
done

# Whether the unit named is the application's: app-[LAUNCHER-]ID-RANDOM.scope or
# app-[LAUNCHER-]ID[@RANDOM].service. A launcher's name is no ID ("flatpak" must not match
# app-flatpak-org.gimp.GIMP-12345.scope), and more parts than these leave the ID ambiguous.
is_app_unit() {
  unit=$1
  case $unit in
  *.scope)
    unit=${unit%%.scope}
    case $unit in
    *-) return 1 ;;
    *-*) unit=${unit%%-*} ;;
    *) return 1 ;;
    esac
    ;;
  *.service)
    unit=${unit%%.service}
    unit=${unit%%%%@*}
    ;;
  *) return 1 ;;
  esac
  case $unit in
  app-*) unit=${unit#app-} ;;
  *) return 1 ;;
  esac
  # The escaped ID holds no "-": what follows the first one is all of the rest but one part.
  [ "$unit" = "$escaped" ] || [ "${unit#*-}" = "$escaped" ]
}

# One of our processes belongs to the application when its control group is the application's
# unit, or when gio launched it from the application's desktop entry. The group is the one in
# the unified hierarchy, or in systemd's own where the unified one holds the process at its top
# or is not there; its line may come anywhere in the file.
belongs() {
  unified= systemd=
  while IFS= read -r line; do
    case $line in
    0::*) unified=${line#0::} ;;
    *:name=systemd:*) systemd=${line#*:name=systemd:} ;;
    esac
  done 2>/dev/null <"$1/cgroup"
  case $unified in '' | /) unified=$systemd ;; esac
  case $unified in
  */*) if is_app_unit "${unified##*/}"; then return 0; fi ;;
  esac
  [ -r "$1/environ" ] || return 1
  file= file_pid=
  while IFS= read -r line; do
    case $line in
    GIO_LAUNCHED_DESKTOP_FILE=*) file=${line#*=} ;;
    GIO_LAUNCHED_DESKTOP_FILE_PID=*) file_pid=${line#*=} ;;
    esac
  done <<ENVIRON
$(tr '\0' '\n' 2>/dev/null <"$1/environ")
ENVIRON
  [ "$file_pid" = "${1#/proc/}" ] || return 1
  case $file in
  */"$app.desktop") return 0 ;;
  esac
  return 1
}

pids=
for process in /proc/[0-9]*; do
  [ -O "$process" ] && [ "${process#/proc/}" != "$$" ] || continue
  if belongs "$process"; then pids="$pids ${process#/proc/}"; fi
done
[ -n "$pids" ] || exit 0
kill -TERM $pids 2>/dev/null

# A process has ended when it is gone or left only as a zombie.
running() {
  for pid in $pids; do
    stat=
    read -r stat 2>/dev/null <"/proc/$pid/stat" || continue
    case ${stat##*)} in
    " Z "*) ;;
    *) return 0 ;;
    esac
  done
  return 1
}
tries=0
while running; do
  tries=$((tries + 1))
  if [ "$tries" -gt 50 ]; then
    say "$app still runs on $(uname -n) after the termination signal"
    exit 6
  fi
  sleep 0.1
done
exit 0
REMOTE
}

# Unknown hosts are refused, never added: the user's known_hosts decide. No forwarding of the
# user's configuration applies to this one command.
set -- -x -T -o StrictHostKeyChecking=yes -o ClearAllForwardings=yes -o ConnectTimeout=15
if [ -n "$user" ]; then set -- "$@" -l "$user"; fi
if [ -z "$password" ]; then
  remote_script | ssh "$@" -o BatchMode=yes -- "$machine" /bin/sh -s
  exit
fi

# ssh takes the password from a helper it runs, which reads it from ssh's environment: it is
# never in a file or in any program's arguments.
folder=$(mktemp -d) || exit 2
trap 'rm -rf "$folder"' EXIT
trap 'exit 129' HUP INT TERM
cat >"$folder/askpass" <<'ASKPASS'
#!/bin/sh
case ${1:-} in
*assword*) printf '%%s\n' "$QRB_REMOTE_PASSWORD" ;;
*) exit 1 ;;
esac
ASKPASS
chmod 700 "$folder/askpass" || exit 2
remote_script | QRB_REMOTE_PASSWORD=$password SSH_ASKPASS=$folder/askpass \
  SSH_ASKPASS_REQUIRE=force ssh "$@" -o BatchMode=no -o NumberOfPasswordPrompts=1 \
  -- "$machine" /bin/sh -s
