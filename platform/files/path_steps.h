// Taking a path apart one step at a time, for code that follows it by descriptors.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "platform/files/owned_fd.h"

namespace platform {

// The folder part and the last component of a path ("a/b" -> "a", "b"; "b" -> ".", "b";
// "/b" -> "/", "b").
inline std::pair<std::string, std::string> SplitPath(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The target of the symbolic link `name` in the folder `dirfd`; empty (errno set) on failure.
inline std::string ReadLinkAt(int dirfd, const std::string& name) {
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = readlinkat(dirfd, name.c_str(), buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) return buf.substr(0, n);
    buf.resize(buf.size() * 2);
  }
}

// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxSymlinkHops = 40;

// Where a walk along a path stands: the rest of the path, relative to the folder `base` (the
// working folder at first), and the same place as a message names it.
struct PathWalk {
  explicit PathWalk(const std::string& path) : current(path), shown(path) {}

  // Goes on at the target of the symbolic link `name` in the open folder `dir`: from the root
  // for an absolute target, else from that folder, which the walk then keeps open. False, with
  // errno set, when the link cannot be read.
  bool FollowLink(OwnedFd dir, const std::string& name) {
    std::string link = ReadLinkAt(dir.get(), name);
    if (link.empty()) return false;
    if (link[0] == '/') {
      base = AT_FDCWD;
      shown = link;
    } else {
      shown = SplitPath(shown).first + "/" + link;
      base_holder = std::move(dir);
      base = base_holder.get();
    }
    current = std::move(link);
    return true;
  }

  std::string current;
  std::string shown;
  int base = AT_FDCWD;
  OwnedFd base_holder;
};

}  // namespace platform
