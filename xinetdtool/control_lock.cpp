#include "xinetdtool/control_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace xinetdtool {
namespace {

bool Refuse(std::string* reason, std::string text) {
  *reason = std::move(text);
  return false;
}

// Whether the folder is root's alone; `what` names it in the reason.
bool RootsAlone(const struct stat& st, const std::string& what, std::string* reason) {
  if (st.st_uid != 0) return Refuse(reason, what + " is not owned by root");
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return Refuse(reason, what + " is writable by group or others");
  return true;
}

// Tries for the lock until `wait` has passed, looking again at growing intervals (5 ms, doubled
// up to a tenth of a second): a holder normally lets go within a few seconds.
bool Lock(int fd, std::chrono::milliseconds wait, const std::string& what, std::string* reason) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + wait;
  std::chrono::milliseconds step(5);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK)
      return Refuse(reason, "cannot lock " + what + ": " + std::strerror(errno));
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
      const std::string waited = wait.count() % 1000 == 0
                                     ? std::to_string(wait.count() / 1000) + " seconds"
                                     : std::to_string(wait.count()) + " ms";
      return Refuse(reason, what + " is still held by another xinetdtool after " + waited);
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(step, deadline - now));
    step = std::min(step * 2, std::chrono::milliseconds(100));
  }
}

}  // namespace

std::optional<ControlLock> ControlLock::Take(const std::string& folder, const std::string& name,
                                             std::chrono::milliseconds wait, std::string* reason) {
  const std::string what = folder + "/" + name;
  platform::OwnedFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat st;
  if (!dir.valid() || fstat(dir.get(), &st) != 0) {
    Refuse(reason, "cannot open the folder " + folder + ": " + std::strerror(errno));
    return std::nullopt;
  }
  if (!RootsAlone(st, "the folder " + folder, reason)) return std::nullopt;
  // Never through a link, never blocking (a FIFO opens at once), never a terminal of ours.
  platform::OwnedFd fd(openat(dir.get(), name.c_str(),
                              O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                              0600));
  if (!fd.valid()) {
    Refuse(reason, "cannot open " + what + ": " + std::strerror(errno));
    return std::nullopt;
  }
  // Judge what was opened.
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    Refuse(reason, what + " is not a regular file");
    return std::nullopt;
  }
  if (!RootsAlone(st, what, reason)) return std::nullopt;
  if (st.st_nlink != 1) {
    Refuse(reason, what + " has other names");
    return std::nullopt;
  }
  if (!Lock(fd.get(), wait, what, reason)) return std::nullopt;
  return ControlLock(std::move(fd));
}

}  // namespace xinetdtool
