#include "platform/files/owned_fd.h"

#include <unistd.h>

namespace platform {

OwnedFd& OwnedFd::operator=(OwnedFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int OwnedFd::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void OwnedFd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);  // on Linux the descriptor is gone even when close reports EINTR
  fd_ = fd;
}

}  // namespace platform
