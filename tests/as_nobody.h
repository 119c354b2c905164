// For unit tests: runs a piece of a test as the unprivileged user "nobody".
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace test_support {

// Runs `body` in a forked child that has become the user "nobody" (65534, no groups); the result
// is the child's exit status (100 when the change of identity failed, 128 + N when killed by
// signal N). The body reports its own failures on standard error.
inline int AsNobody(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
        setresuid(65534, 65534, 65534) != 0)
      _exit(100);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace test_support
