#include "platform/files/access_acl.h"

#include <sys/xattr.h>

#include <cerrno>

namespace platform {

namespace {

constexpr char kAccessAcl[] = "system.posix_acl_access";

// No ACL here, or no ACLs on this file system.
bool IsNone(int error) {
  return error == ENODATA || error == EOPNOTSUPP || error == ENOTSUP;
}

}  // namespace

std::optional<std::string> ReadAccessAcl(int fd) {
  // An O_PATH descriptor takes no attribute calls of its own; its /proc link does.
  const std::string by_proc = "/proc/self/fd/" + std::to_string(fd);
  auto get = [&](void* buf, std::size_t size) {
    ssize_t n = fgetxattr(fd, kAccessAcl, buf, size);
    if (n < 0 && errno == EBADF) n = getxattr(by_proc.c_str(), kAccessAcl, buf, size);
    return n;
  };
  // The ACL may change between asking its size and reading it: ask again then.
  for (int attempt = 0; attempt < 10; ++attempt) {
    ssize_t size = get(nullptr, 0);
    if (size < 0) {
      if (IsNone(errno)) return std::string();
      return std::nullopt;
    }
    std::string acl(static_cast<std::size_t>(size), '\0');
    ssize_t n = get(acl.data(), acl.size());
    if (n >= 0) {
      acl.resize(static_cast<std::size_t>(n));
      return acl;
    }
    if (IsNone(errno)) return std::string();
    if (errno != ERANGE) return std::nullopt;
  }
  errno = ERANGE;
  return std::nullopt;
}

bool SetAccessAcl(int fd, std::string_view acl) {
  if (acl.empty()) return fremovexattr(fd, kAccessAcl) == 0 || IsNone(errno);
  return fsetxattr(fd, kAccessAcl, acl.data(), acl.size(), 0) == 0;
}

}  // namespace platform
