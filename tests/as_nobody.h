// For unit tests: runs a piece of a test as the unprivileged user "nobody", or as an ordinary user.
#pragma once

#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace test_support {

// A test's forked child, killed and reaped when it goes out of scope: a failed assertion must
// not leave it running, holding the test's output open.
class ForkedChild {
 public:
  explicit ForkedChild(pid_t pid) : pid_(pid) {}
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;
  ~ForkedChild() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  pid_t pid() const { return pid_; }
  // Waits for the child to end: its exit status, or 128 + N when killed by signal N.
  int Wait() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_;
};

// Runs `body` in a forked child; the result is the child's exit status (128 + N when killed by
// signal N).
inline int InChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return ForkedChild(pid).Wait();
}

// The user and group "nobody".
constexpr uid_t kNobody = 65534;

// Makes the calling process the user "nobody" (no groups).
inline bool BecomeNobody() {
  return setgroups(0, nullptr) == 0 && setresgid(kNobody, kNobody, kNobody) == 0 &&
         setresuid(kNobody, kNobody, kNobody) == 0;
}

// Makes the calling process an ordinary user's: nobody's when it runs as root, else its own
// user's. Its processes may then be inspected as those a user starts can, which a change of
// identity otherwise forbids.
inline bool BecomeOrdinaryUser() {
  if (geteuid() == 0 && !BecomeNobody()) return false;
  return prctl(PR_SET_DUMPABLE, 1) == 0;
}

// Runs `body` in a forked child that has become the user "nobody"; 100 when the change of
// identity failed. The body reports its own failures on standard error.
inline int AsNobody(const std::function<int()>& body) {
  return InChild([&] { return BecomeNobody() ? body() : 100; });
}

// The same as an ordinary user (BecomeOrdinaryUser).
inline int AsOrdinaryUser(const std::function<int()>& body) {
  return InChild([&] { return BecomeOrdinaryUser() ? body() : 100; });
}

}  // namespace test_support
