#!/bin/sh
# Stands in for launchctl in the tests of launchdtool. What it does depends on the last part of
# its last argument (a label, or the name of a definition file):
#   *quiet*   prints nothing
#   *bytes*   prints a fixed text holding a NUL byte and no final newline
#   *slow*    prints 600 bytes, pauses, prints 600 more
#   *flood*   prints 1 MiB, then succeeds
#   *fail*    complains on standard error and exits with status 3
#   *killed*  kills itself with SIGKILL
#   otherwise it reports its arguments, identities, umask, working folder, descriptors, blocked
#   and ignored signals and the environment it was given.
for last; do :; done
case ${last##*/} in
  *quiet*) exit 0 ;;
  *bytes*) printf 'one\ttwo\000three\r\nfour'; exit 0 ;;
  *slow*)
    /usr/bin/head -c 600 /dev/zero | /usr/bin/tr '\0' a
    /usr/bin/sleep 0.3
    /usr/bin/head -c 600 /dev/zero | /usr/bin/tr '\0' b
    exit 0 ;;
  # Its status is that of tr, which dies if the pipe is closed on it.
  *flood*) /usr/bin/head -c 1048576 /dev/zero | /usr/bin/tr '\0' c; exit ;;
  *fail*) echo "launchctl: failing as asked" >&2; exit 3 ;;
  *killed*) kill -KILL $$ ;;
esac
printf 'argc=%s\n' "$#"
for arg; do printf 'arg=[%s]\n' "$arg"; done
printf 'uid=%s euid=%s gid=%s groups=%s\n' "$(/usr/bin/id -ru)" "$(/usr/bin/id -u)" \
  "$(/usr/bin/id -rg)" "$(/usr/bin/id -G)"
printf 'umask=%s\n' "$(umask)"
printf 'cwd=%s\n' "$(pwd -P)"
printf 'stdin=%s\n' "$(/usr/bin/readlink /proc/$$/fd/0)"
if [ -e /proc/$$/fd/47 ]; then echo 'fd47=open'; else echo 'fd47=closed'; fi
while read -r key value; do
  case $key in
    SigBlk:) echo "blocked=$value" ;;
    SigIgn:) echo "ignored=$value" ;;
  esac
done </proc/$$/status
echo 'environment:'
/usr/bin/tr '\0' '\n' </proc/$$/environ
