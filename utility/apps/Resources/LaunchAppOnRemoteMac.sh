# Launches an application on another machine: ssh logs in there as the user, finds the desktop
# entry with the application's ID in that user's data folders and starts it with gio, in the
# user's graphical session when one runs.
#
# The library fills in the four values below, each as one quoted shell word, and runs the text
# with /bin/sh, which reads it from its standard input. The text is a format: every percent
# sign that the shell is to see is written twice.
#
# Exit status: 0 launched; 2 a value the script cannot use; 3 no desktop entry with that ID
# there; 4 gio could not launch it; 5 gio is missing there; 255 ssh failed (no connection, an
# unknown or changed host key, authentication refused). The last line of standard error says
# what happened.
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
command -v gio >/dev/null 2>&1 || { say "gio is not installed on $(uname -n)"; exit 5; }

# The desktop entry: the data home first, then the shared data folders.
home_data=${XDG_DATA_HOME:-}
case $home_data in /*) ;; *) home_data=$HOME/.local/share ;; esac
entry=
set -f
IFS=:
for folder in $home_data ${XDG_DATA_DIRS:-/usr/local/share:/usr/share}; do
  if [ -f "$folder/applications/$app.desktop" ]; then
    entry=$folder/applications/$app.desktop
    break
  fi
done
unset IFS
set +f
[ -n "$entry" ] || { say "No application with the ID $app for $(id -un) on $(uname -n)"; exit 3; }

# The graphical session: the display and session bus of another process of ours that has one.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  for environ in /proc/[0-9]*/environ; do
    [ -O "$environ" ] && [ -r "$environ" ] || continue
    vars=$(tr '\0' '\n' 2>/dev/null <"$environ")
    case "
$vars" in
    *"
DISPLAY="?* | *"
WAYLAND_DISPLAY="?*) ;;
    *) continue ;;
    esac
    while IFS= read -r line; do
      case $line in
      DISPLAY=* | WAYLAND_DISPLAY=* | XAUTHORITY=* | DBUS_SESSION_BUS_ADDRESS=* | XDG_RUNTIME_DIR=*)
        export "$line" ;;
      esac
    done <<ENVIRON
$vars
ENVIRON
    break
  done
fi

# The application keeps none of this session's streams, so the session ends without it. gio
# gives it its own pid in GIO_LAUNCHED_DESKTOP_FILE_PID; the entry's file, which names the
# application beside it, is ours to give.
errors=$(mktemp) || exit 4
if GIO_LAUNCHED_DESKTOP_FILE=$entry gio launch "$entry" </dev/null >/dev/null 2>"$errors"; then
  rm -f "$errors"
  exit 0
fi
cat "$errors" >&2
rm -f "$errors"
say "Could not launch $app on $(uname -n)"
exit 4
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
