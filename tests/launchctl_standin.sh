#!/bin/sh
# Stands in for launchctl in the tests of launchdtool. What it does depends on the last part of
# its last argument (a label, or the name of a definition file):
#   *quiet*   prints nothing
#   *bytes*   prints a fixed text holding a NUL byte and no final newline
#   *slow*    prints 600 bytes, pauses, prints 600 more
#   *flood*   prints 1 MiB, then succeeds
#   *fail*    complains on standard error and exits with status 3
#   *killed*  kills itself with SIGKILL
#   *drained* prints 1 MiB, then creates the file named by its last argument with ".done" added
#   *limits*  reports its nice value, scheduling policy, I/O priority and resource limits
#   otherwise it reports its arguments, identities, umask, working folder, the name of the
#   process that started it, descriptors, blocked and ignored signals and the environment it
#   was given.
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
  *drained*)
    /usr/bin/head -c 1048576 /dev/zero | /usr/bin/tr '\0' d
    : >"$last.done"
    exit 0 ;;
  *limits*)
    # Fields 19 and 41 of the status line: the nice value and the scheduling policy.
    read -r stat </proc/$$/stat
    set -- $stat
    printf 'nice=%s policy=%s\n' "${19}" "${41}"
    printf 'io=%s\n' "$(/usr/bin/ionice -p $$)"
    # Soft and hard limits only, to fit in what is passed on.
    /usr/bin/tail -n +2 /proc/$$/limits | /usr/bin/cut -c27- | /usr/bin/tr -s ' '
    exit 0 ;;
esac
printf 'argc=%s\n' "$#"
for arg; do printf 'arg=[%s]\n' "$arg"; done
printf 'uid=%s euid=%s gid=%s groups=%s\n' "$(/usr/bin/id -ru)" "$(/usr/bin/id -u)" \
  "$(/usr/bin/id -rg)" "$(/usr/bin/id -G)"
printf 'umask=%s\n' "$(umask)"
printf 'cwd=%s\n' "$(pwd -P)"
printf 'parent=%s\n' "$(/usr/bin/cat /proc/$PPID/comm)"
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
