// exec_helper [--close FD] [--broken-stdout] [--ignore SIG] [--block SIG] [--no-args]
//             PROGRAM [ARG...]
//
// Starts PROGRAM the way a careless or hostile caller might: with a standard descriptor closed,
// with standard output a pipe nobody reads, with a signal ignored or blocked (both survive
// exec), or with no arguments at all (not even a program name). Options may repeat.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

int main(int argc, char* argv[]) {
  bool no_args = false;
  int i = 1;
  for (; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--close") == 0 && has_value) {
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
