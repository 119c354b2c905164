#include "platform/files/lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/text/errno_text.h"

namespace platform {

namespace {

// Replacements seen in a row before giving up: a file renamed over this often while we wait
// is being fought over, not edited.
constexpr int kMaxRetries = 1000;

// Unlocks explicitly (a forked child may still hold a copy of the descriptor) and closes.
void Release(int fd) {
  if (fd < 0) return;
  int saved = errno;
  flock(fd, LOCK_UN);
  close(fd);
  errno = saved;
}

}  // namespace

std::optional<FileLock> FileLock::Acquire(const std::string& path, std::string* err) {
  auto fail = [&](const std::string& why) {
    if (err != nullptr) *err = "cannot lock " + path + ": " + why;
    return std::nullopt;
  };
  for (int attempt = 0; attempt < kMaxRetries; ++attempt) {
    // flock(2) works on a read-only descriptor. O_NONBLOCK keeps a FIFO from stalling the
    // open; it has no effect on a regular file or on the lock.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fail(ErrnoText(errno));
    FileLock lock(fd);  // closes on every early return
    struct stat held;
    if (fstat(fd, &held) != 0) return fail(ErrnoText(errno));
    if (!S_ISREG(held.st_mode)) return fail("not a regular file");
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) return fail(ErrnoText(errno));
    }
    // While we waited the file may have been replaced by a rename: then the lock guards a
    // file nobody will read again, and the new one is locked instead.
    struct stat named;
    if (stat(path.c_str(), &named) != 0) {
      if (errno == ENOENT) continue;  // removed meanwhile: open whatever comes next
      return fail(ErrnoText(errno));
    }
    if (named.st_dev == held.st_dev && named.st_ino == held.st_ino) return lock;
  }
  return fail("the file keeps being replaced");
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Release(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileLock::~FileLock() {
  Release(fd_);
}

}  // namespace platform
