// exec_helper [--close FD] [--broken-stdout] [--full-stdout MARK] [--ignore SIG] [--block SIG]
//             [--alarm MS] [--no-args] PROGRAM [ARG...]
//
// Starts PROGRAM the way a careless or hostile caller might: with a standard descriptor closed,
// with standard output a pipe nobody reads, with a signal ignored or blocked (both survive
// exec), with an alarm set to go off MS milliseconds later (it survives exec too), or with no
// arguments at all (not even a program name). Options may repeat.
//
// --full-stdout MARK: PROGRAM's standard output is a pipe already full, which this helper
// leaves unread until the file MARK appears (at most 5 seconds), then reads to its end. It
// says on standard error whether MARK came while the pipe was full ("MARK came while full") or
// not ("MARK never came"), and exits with PROGRAM's status.
#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

// Makes standard output a full pipe and forks: the child goes on to exec, this process waits
// for `mark`, drains the pipe and exits with the child's status.
void FullStdout(const char* mark) {
  int ends[2];
  if (pipe(ends) != 0) _exit(2);
  fcntl(ends[1], F_SETFL, O_NONBLOCK);
  char block[4096] = {};
  while (write(ends[1], block, sizeof block) > 0) {
  }
  fcntl(ends[1], F_SETFL, 0);
  pid_t pid = fork();
  if (pid < 0) _exit(2);
  if (pid == 0) {
    dup2(ends[1], 1);
    close(ends[0]);
    close(ends[1]);
    return;
  }
  close(ends[1]);
  bool came = false;
  for (int tries = 0; tries < 500 && !came; ++tries) {
    came = access(mark, F_OK) == 0;
    if (!came) usleep(10000);
  }
  std::fputs(came ? "MARK came while full\n" : "MARK never came\n", stderr);
  while (read(ends[0], block, sizeof block) > 0) {
  }
  int status = 0;
  waitpid(pid, &status, 0);
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
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
