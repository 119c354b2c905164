#include "platform/files/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "platform/files/access_acl.h"
#include "platform/files/owned_fd.h"
#include "platform/files/path_steps.h"
#include "platform/files/temp_file.h"
#include "platform/text/errno_text.h"
#include "platform/text/utf8.h"

namespace platform {

namespace {

// The most one read(2) is asked to move; the kernel moves at most ~2 GiB anyway.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

bool Fail(std::string* err, const std::string& text) {
  if (err != nullptr) *err = text;
  return false;
}

// The access ACL of the regular file `name` in the open folder `dir`, whose status `st` was seen
// there; nullopt with errno set when it cannot be read, or the name no longer denotes that file.
// Opened for reading where we may (its descriptor answers for the ACL), else as a mere path.
std::optional<std::string> AclOf(int dir, const std::string& name, const struct stat& st) {
  OwnedFd fd(openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid() && errno == EACCES)
    fd.Reset(openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  struct stat now;
  if (fstat(fd.get(), &now) != 0) return std::nullopt;
  if (now.st_dev != st.st_dev || now.st_ino != st.st_ino) {
    errno = EAGAIN;
    return std::nullopt;
  }
  return ReadAccessAcl(fd.get());
}

bool Replace(const std::string& path, std::string_view contents, TempFile::Kind kind,
             std::string* err) try {
  // The path is walked as an edited file's is: step by step, each link only where the kernel's
  // protected_symlinks rule would follow it.
  PathEnd end;
  std::string why;
  if (!WalkPath(path, &end, &why)) return Fail(err, "cannot replace " + path + ": " + why);
  if (end.exists && !S_ISREG(end.st.st_mode))
    return Fail(err, "cannot replace " + path + ": " + end.shown + ": not a regular file");
  const std::string what =
      "cannot replace " + (end.shown == path ? path : path + " (" + end.shown + ")") + ": ";
  Original original{end.st, {}};
  if (end.exists) {
    std::optional<std::string> acl = AclOf(end.dir.get(), end.name, end.st);
    if (!acl) return Fail(err, what + "reading the ACL: " + ErrnoText(errno));
    original.acl = std::move(*acl);
  }
  if (!ReplaceInFolder(end.dir.get(), end.name, contents, end.exists ? &original : nullptr, nullptr,
                       kind, &why))
    return Fail(err, what + why);
  return true;
} catch (const std::exception&) {
  return Fail(err, "cannot replace " + path + ": " + ErrnoText(ENOMEM));
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::string* err) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  OwnedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return Fail(err, path + ": " + ErrnoText(errno)), std::nullopt;
  return ReadWholeDescriptor(fd.get(), path, err);
}

std::optional<std::string> ReadWholeDescriptor(int fd, const std::string& name, std::string* err) {
  try {
    struct stat st;
    if (fstat(fd, &st) != 0) return Fail(err, name + ": " + ErrnoText(errno)), std::nullopt;
    if (S_ISDIR(st.st_mode)) return Fail(err, name + ": " + ErrnoText(EISDIR)), std::nullopt;
    if (!S_ISREG(st.st_mode)) return Fail(err, name + ": not a regular file"), std::nullopt;
    // One byte beyond the size seen lets the read loop meet the end without growing; a file
    // that grows meanwhile (or reports no size, as in /proc) grows the buffer by doubling.
    std::string buf(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t len = 0;
    for (;;) {
      if (len == buf.size()) buf.resize(buf.size() * 2 + 4096);
      ssize_t n = pread(fd, buf.data() + len, std::min(buf.size() - len, kMaxChunk),
                        static_cast<off_t>(len));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Fail(err, name + ": " + ErrnoText(errno)), std::nullopt;
      }
      if (n == 0) break;
      len += static_cast<std::size_t>(n);
    }
    buf.resize(len);
    return buf;
  } catch (const std::exception&) {
    return Fail(err, name + ": " + ErrnoText(ENOMEM)), std::nullopt;
  }
}

std::optional<std::string> ReadTextFile(const std::string& path, std::string* err) {
  std::optional<std::string> bytes = ReadWholeFile(path, err);
  if (!bytes) return std::nullopt;
  if (!IsValidUtf8(*bytes)) {
    Fail(err, path + ": not UTF-8 text");
    return std::nullopt;
  }
  return bytes;
}

bool WriteAllBytes(int fd, std::string_view bytes, std::string* err) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), std::min(bytes.size(), kMaxChunk));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(err, "writing: " + ErrnoText(n == 0 ? ENOSPC : errno));
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool CopyFileBytes(int from, std::uint64_t offset, std::uint64_t length, int to, std::string* err) {
  auto in = static_cast<loff_t>(offset);
  bool in_kernel = true;
  std::string buffer;
  while (length > 0) {
    const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(length, kMaxChunk));
    ssize_t n = -1;
    if (in_kernel) {
      n = copy_file_range(from, &in, to, nullptr, step, 0);
      // Not between these files (another file system on an older kernel, a file system
      // without it): through user space instead.
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
        in_kernel = false;
        continue;
      }
    } else {
      if (buffer.empty()) buffer.resize(std::size_t{1} << 20);
      n = pread(from, buffer.data(), std::min(step, buffer.size()), in);
      if (n > 0) {
        for (std::string_view rest(buffer.data(), static_cast<std::size_t>(n)); !rest.empty();) {
          ssize_t w = write(to, rest.data(), rest.size());
          if (w < 0 && errno == EINTR) continue;
          if (w <= 0) return Fail(err, "writing: " + ErrnoText(w == 0 ? ENOSPC : errno));
          rest.remove_prefix(static_cast<std::size_t>(w));
        }
        in += n;
      }
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(err, "copying: " + ErrnoText(errno));
    }
    if (n == 0) return Fail(err, "the file shrank while it was copied");
    length -= static_cast<std::uint64_t>(n);
  }
  return true;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view contents, std::string* err) {
  return Replace(path, contents, TempFile::Kind::kUnnamed, err);
}

bool ReplaceFileThroughNamedTemp(const std::string& path, std::string_view contents,
                                 std::string* err) {
  return Replace(path, contents, TempFile::Kind::kNamed, err);
}

}  // namespace platform
