#!/bin/sh
# Stands in for the xinetd super-server in xinetdtool's tests. It records how it was started
# ("NAME start uid=R euid=E [arg]...") and each hang-up and termination signal it gets
# ("NAME HUP", "NAME TERM") in /run/sandbox/record, prints one line without a newline (the
# launch's output), and leaves a server running in the background, as xinetd does. The
# server's pid goes into the file given with "-pidfile FILE", or to standard output without
# one. The server's name (its comm) is the name this script was run by.
record=/run/sandbox/record
name=${0##*/}
line="$name start uid=$(id -ru) euid=$(id -u)"
for arg do line="$line [$arg]"; done
echo "$line" >>"$record" 2>/dev/null

if [ "$#" -eq 2 ] && [ "$1" = -pidfile ]; then
  pidfile=$2
else
  pidfile=/run/sandbox/ready.$$
fi
rm -f "$pidfile"
(
  trap 'echo "$name HUP" >>"$record" 2>/dev/null' HUP
  trap 'echo "$name TERM" >>"$record" 2>/dev/null; exit 0' TERM
  exec </dev/null >/dev/null 2>&1
  # The subshell's own pid: the parent of the shell started here.
  sh -c 'echo $PPID' >"$pidfile.new" && mv "$pidfile.new" "$pidfile"
  while :; do
    sleep 1 &
    wait $!
  done
) &
i=0
while [ ! -s "$pidfile" ] && [ "$i" -lt 500 ]; do
  sleep 0.02
  i=$((i + 1))
done
if [ "$pidfile" = "/run/sandbox/ready.$$" ]; then
  cat "$pidfile"
  rm -f "$pidfile"
else
  printf '%s stand-in started' "$name"
fi
