// launchdtool load|unload dictFile, launchdtool list daemonLabel
//
// Installed set-user-ID root: becomes root and runs launchctl to load or unload a daemon
// definition file or to list one daemon, passing the first 1024 bytes of its output on. It runs
// on behalf of any local user, so nothing the caller hands it is trusted: not the descriptors,
// the environment, the search path, the signal dispositions, the umask, nor the file named.
//
// Exit status: launchctl's own; 1 when the identity could not be changed, on a usage error, a
// missing or refused file, when root's resource limits or priorities could not be put back, when
// launchctl could not be run or was killed by a signal, or when its output could not be written.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "launchdtool/definition_file.h"
#include "launchdtool/launchctl_runner.h"
#include "launchdtool/root_defaults.h"

namespace {

// Gives 0, 1 and 2 a place (/dev/null) where the caller left them closed, so nothing we open
// later lands there and gets launchctl's input or output. They must survive exec, so they are
// the one place where close-on-exec is cleared rather than set.
bool MakeStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1) {
      int opened = open("/dev/null", O_RDWR | O_NOCTTY);
      if (opened != fd) return false;
    } else if (fcntl(fd, F_SETFD, 0) == -1) {
      return false;
    }
  }
  return true;
}

int Usage(const char* program) {
  std::fprintf(stderr, "Usage: %s [load|unload] dictFile\n\tlist daemonLabel", program);
  return 1;
}

// The caller's own search path is used only when the caller already is root: never in
// secure-execution mode (set-user-ID, file capabilities), where it is the caller's to choose.
std::string SearchPath(bool caller_is_root) {
  if (caller_is_root) {
    const char* path = getenv("PATH");
    if (path != nullptr && *path != '\0') return path;
  }
  return kTrustedSearchPath;
}

// Who started us, taken before we become root.
Caller TakeCaller() {
  Caller caller;
  caller.uid = getuid();
  caller.gid = getgid();
  int count = getgroups(0, nullptr);
  if (count > 0) {
    caller.groups.resize(static_cast<size_t>(count));
    count = getgroups(count, caller.groups.data());
    caller.groups.resize(count > 0 ? static_cast<size_t>(count) : 0);
  }
  return caller;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Started through a link named after another program, we would be a root process of that
  // name to everyone who looks (a link named xinetd, for one).
  prctl(PR_SET_NAME, "launchdtool", 0, 0, 0);
  // Interval timers survive exec: a caller's alarm would end us half way, and launchctl, whose
  // output we read, with us.
  const struct itimerval stopped = {};
  for (int timer : {ITIMER_REAL, ITIMER_VIRTUAL, ITIMER_PROF}) setitimer(timer, &stopped, nullptr);
  if (!MakeStandardDescriptors()) return 1;
  const bool caller_is_root = getauxval(AT_SECURE) == 0 && getuid() == 0;
  const Caller caller = TakeCaller();

  if (setgid(0) == -1) {
    std::fputs("setgid(0) returned -1\n", stderr);
    return 1;
  }
  // The caller's supplementary groups are no business of launchctl's.
  if (setgroups(0, nullptr) == -1) {
    std::fputs("setgroups(0) returned -1\n", stderr);
    return 1;
  }
  if (setuid(0) == -1) {
    std::fputs("setuid(0) returned -1\n", stderr);
    return 1;
  }
  // The caller's limits and priorities must not reach root's launchctl: with a small file-size
  // limit it would cut its own files short, with a small CPU limit die half way.
  std::string restore_error;
  if (!RestoreRootDefaults(&restore_error)) {
    std::fprintf(stderr, "%s\n", restore_error.c_str());
    return 1;
  }

  // A program may be started with no arguments at all (argc 0), or, where the kernel makes up
  // for that, with an empty name: either way there is no name to show.
  const char* program =
      argc > 0 && argv[0] != nullptr && argv[0][0] != '\0' ? argv[0] : "launchdtool";
  if (argc != 3) return Usage(program);
  const std::string verb = argv[1];
  const std::string operand = argv[2];
  const bool with_file = verb == "load" || verb == "unload";
  if (!with_file && verb != "list") return Usage(program);
  // launchctl would take it for an option.
  if (operand.starts_with("-")) return Usage(program);

  std::vector<std::string> args = {"launchctl", verb};
  if (with_file) {
    std::string resolved, reason;
    switch (CheckDefinitionFile(operand, caller, &resolved, &reason)) {
      case DefinitionCheck::kNotFound:
        std::fprintf(stderr, "File not found: %s\n", operand.c_str());
        return 1;
      case DefinitionCheck::kRefused:
        std::fprintf(stderr, "Refusing %s: %s\n", operand.c_str(), reason.c_str());
        return 1;
      case DefinitionCheck::kTrusted:
        break;
    }
    args.push_back("-w");
    args.push_back(resolved);
  } else {
    args.push_back(operand);
  }

  // Dispositions and the umask survive exec: the caller's must not reach launchctl, nor keep us
  // from reaping it (SIGCHLD ignored) or from finishing our work (SIGPIPE).
  signal(SIGCHLD, SIG_DFL);
  signal(SIGPIPE, SIG_IGN);
  umask(022);

  int status = 1;
  std::string err;
  if (!RunLaunchctl(SearchPath(caller_is_root), args, &status, &err)) {
    std::fprintf(stderr, "%s\n", err.c_str());
    return 1;
  }
  return status;
}
