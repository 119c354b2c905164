// The lock that makes starts, restarts and stops of the super-server take turns: without it two
// starts at once both find no server and both start one. A lock file in a folder only root may
// change, locked whole (flock) through a descriptor of our own: the lock goes with the
// descriptor, so it is released when the holder closes it or ends, however it ends, and no
// program we start inherits it.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/files/owned_fd.h"

namespace xinetdtool {

class ControlLock {
 public:
  // Takes the lock file `name` in `folder`, made (mode 0600) when missing, waiting at most
  // `wait` for another holder to let go. Nothing when the folder is not root's alone (owned by
  // root, writable by nobody else: anyone else could swap the file for one of theirs while we
  // hold it), when the file is not ours (not a regular file, a link, not owned by root, writable
  // by group or others, or known by another name too), or when it stays held; *reason then
  // says which.
  static std::optional<ControlLock> Take(const std::string& folder, const std::string& name,
                                         std::chrono::milliseconds wait, std::string* reason);

  ControlLock(ControlLock&&) = default;
  ControlLock& operator=(ControlLock&&) = default;

 private:
  explicit ControlLock(platform::OwnedFd fd) : fd_(std::move(fd)) {}
  platform::OwnedFd fd_;  // closing it lets go of the lock
};

}  // namespace xinetdtool
