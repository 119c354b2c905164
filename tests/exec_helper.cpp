// exec_helper [--close FD] [--broken-stdout] [--full-stdout MARK] [--slow-stdout]
//             [--ignore SIG] [--block SIG] [--alarm MS] [--fail-limit RESOURCE ERRNO] [--no-args]
//             PROGRAM [ARG...]
//
// Starts PROGRAM the way a careless or hostile caller might: with a standard descriptor closed,
// with standard output a pipe nobody reads, with a signal ignored or blocked (both survive
// exec), with an alarm set to go off MS milliseconds later (it survives exec too), or with no
// arguments at all (not even a program name). Options may repeat.
//
// --slow-stdout: PROGRAM's standard output is a pipe in non-blocking mode (which belongs to the
// pipe, so PROGRAM gets it too), already full; this helper waits a moment, then drains it a
// little at a time, and passes on to its own standard output what PROGRAM wrote. It exits with
// PROGRAM's status.
//
// --fail-limit RESOURCE ERRNO: every attempt to set the resource limit RESOURCE (a number, as
// RLIMIT_NOFILE) fails with the error number ERRNO, in PROGRAM and all it starts (a seccomp
// filter; only root may install one without giving up set-user-ID programs). Reading limits
// still works.
//
// --full-stdout MARK: PROGRAM's standard output is a pipe already full, which this helper
// leaves unread until the file MARK appears (at most 5 seconds), then reads to its end. It
// says on standard error whether MARK came while the pipe was full ("MARK came while full") or
// not ("MARK never came"), and exits with PROGRAM's status.
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

// Fills a pipe, then forks: the child (which goes on to exec) gets the pipe's writing end as
// its standard output and -1 back; this process gets the reading end, the child's pid and how
// many bytes it wrote itself. The writing end stays non-blocking when `nonblocking`.
int ForkOntoFullPipe(bool nonblocking, pid_t* pid, std::size_t* filled) {
  int ends[2];
  if (pipe(ends) != 0) _exit(2);
  fcntl(ends[1], F_SETFL, O_NONBLOCK);
  char block[4096] = {};
  *filled = 0;
  for (ssize_t n; (n = write(ends[1], block, sizeof block)) > 0;) *filled += n;
  while (write(ends[1], block, 1) == 1) ++*filled;
  if (!nonblocking) fcntl(ends[1], F_SETFL, 0);
  *pid = fork();
  if (*pid < 0) _exit(2);
  if (*pid == 0) {
    dup2(ends[1], 1);
    close(ends[0]);
    close(ends[1]);
    return -1;
  }
  close(ends[1]);
  return ends[0];
}

[[noreturn]] void ExitAsChild(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

// Makes standard output a full pipe and forks: the child goes on to exec, this process waits
// for `mark`, drains the pipe and exits with the child's status.
void FullStdout(const char* mark) {
  pid_t pid;
  std::size_t filled;
  const int in = ForkOntoFullPipe(false, &pid, &filled);
  if (in < 0) return;
  bool came = false;
  for (int tries = 0; tries < 500 && !came; ++tries) {
    came = access(mark, F_OK) == 0;
    if (!came) usleep(10000);
  }
  std::fputs(came ? "MARK came while full\n" : "MARK never came\n", stderr);
  char block[4096];
  while (read(in, block, sizeof block) > 0) {
  }
  ExitAsChild(pid);
}

// Makes standard output a full non-blocking pipe and forks: the child goes on to exec, this
// process drains the pipe slowly and passes on what came after its own filling.
void SlowStdout() {
  pid_t pid;
  std::size_t filled;
  const int in = ForkOntoFullPipe(true, &pid, &filled);
  if (in < 0) return;
  usleep(100000);  // PROGRAM meets the full pipe first
  char block[1024];
  for (ssize_t n; (n = read(in, block, sizeof block)) > 0; usleep(5000)) {
    const std::size_t got = static_cast<std::size_t>(n);
    const std::size_t skip = std::min(filled, got);
    filled -= skip;
    if (got > skip && write(1, block + skip, got - skip) != static_cast<ssize_t>(got - skip))
      _exit(2);
  }
  ExitAsChild(pid);
}

#if defined(__x86_64__)
constexpr std::uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kArch = AUDIT_ARCH_AARCH64;
#endif

// Installs a seccomp filter under which setting the limit `resource` fails with `error`:
// prlimit64 with that resource and a new limit, and setrlimit with that resource.
bool FailLimit(std::uint32_t resource, std::uint32_t error) {
#ifdef __NR_setrlimit
  constexpr int kSetrlimit = __NR_setrlimit;
#else
  constexpr int kSetrlimit = -1;
#endif
  constexpr std::uint32_t kArg0 = offsetof(seccomp_data, args[0]);
  constexpr std::uint32_t kArg1 = offsetof(seccomp_data, args[1]);
  constexpr std::uint32_t kArg2 = offsetof(seccomp_data, args[2]);
  const std::uint32_t fail = SECCOMP_RET_ERRNO | (error & SECCOMP_RET_DATA);
  // Jumps count the instructions skipped.
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_prlimit64, 2, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(kSetrlimit), 10, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      // prlimit64(pid, resource, new, old): fails when resource matches and new is not null.
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kArg1),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, resource, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kArg2),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kArg2 + 4),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_RET | BPF_K, fail),
      // setrlimit(resource, new)
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kArg0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, resource, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, fail),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  bool no_args = false;
  int i = 1;
  for (; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--full-stdout") == 0 && has_value) {
      FullStdout(argv[++i]);
    } else if (std::strcmp(argv[i], "--close") == 0 && has_value) {
      close(std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--broken-stdout") == 0) {
      int ends[2];
      if (pipe(ends) != 0 || dup2(ends[1], 1) != 1) return 2;
      close(ends[0]);
      close(ends[1]);
    } else if (std::strcmp(argv[i], "--ignore") == 0 && has_value) {
      signal(std::atoi(argv[++i]), SIG_IGN);
    } else if (std::strcmp(argv[i], "--block") == 0 && has_value) {
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, std::atoi(argv[++i]));
      sigprocmask(SIG_BLOCK, &set, nullptr);
    } else if (std::strcmp(argv[i], "--alarm") == 0 && has_value) {
      const long ms = std::atol(argv[++i]);
      struct itimerval alarm = {};
      alarm.it_value.tv_sec = ms / 1000;
      alarm.it_value.tv_usec = (ms % 1000) * 1000;
      setitimer(ITIMER_REAL, &alarm, nullptr);
    } else if (std::strcmp(argv[i], "--slow-stdout") == 0) {
      SlowStdout();
    } else if (std::strcmp(argv[i], "--fail-limit") == 0 && i + 2 < argc) {
      const int resource = std::atoi(argv[++i]);
      if (!FailLimit(resource, std::atoi(argv[++i]))) {
        std::perror("seccomp");
        return 2;
      }
    } else if (std::strcmp(argv[i], "--no-args") == 0) {
      no_args = true;
    } else {
      break;
    }
  }
  if (i >= argc) {
    std::fputs("usage: exec_helper [OPTION]... PROGRAM [ARG...]\n", stderr);
    return 2;
  }
  char* none[] = {nullptr};
  execve(argv[i], no_args ? none : argv + i, environ);
  std::perror(argv[i]);
  return 127;
}
