// Taking a path apart one step at a time, for code that follows it by descriptors.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <utility>

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

}  // namespace platform
