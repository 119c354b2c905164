#include "platform/files/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

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

// The file a replacement acts on: its folder (open), its name there, and its status when it
// exists. Symbolic links are followed to the file they finally name.
struct Target {
  OwnedFd dir;
  std::string name;
  std::string shown;  // the path of the final file, for messages
  bool exists = false;
  struct stat st {};
};

// Opens the folder of `path` and follows symbolic links to the file they finally name.
// Returns an error text, empty on success.
std::string ResolveTarget(const std::string& path, Target* t) {
  PathWalk walk(path);
  if (path.empty()) return ErrnoText(ENOENT);
  for (int hops = 0;; ++hops) {
    auto [dir, name] = SplitPath(walk.current);
    if (name.empty() || name == "." || name == "..") return walk.shown + ": " + ErrnoText(EISDIR);
    OwnedFd dirfd(openat(walk.base, dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirfd.valid()) return SplitPath(walk.shown).first + ": " + ErrnoText(errno);
    struct stat st;
    if (fstatat(dirfd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return walk.shown + ": " + ErrnoText(errno);
      t->exists = false;
    } else if (S_ISLNK(st.st_mode)) {
      if (hops >= kMaxSymlinkHops) return path + ": " + ErrnoText(ELOOP);
      if (!walk.FollowLink(std::move(dirfd), name)) return walk.shown + ": " + ErrnoText(errno);
      continue;
    } else if (!S_ISREG(st.st_mode)) {
      return walk.shown + ": not a regular file";
    } else {
      t->exists = true;
      t->st = st;
    }
    t->dir = std::move(dirfd);
    t->name = name;
    t->shown = walk.shown;
    return {};
  }
}

bool Replace(const std::string& path, std::string_view contents, TempFile::Kind kind,
             std::string* err) try {
  Target t;
  if (std::string why = ResolveTarget(path, &t); !why.empty())
    return Fail(err, "cannot replace " + path + ": " + why);
  const std::string what =
      "cannot replace " + (t.shown == path ? path : path + " (" + t.shown + ")") + ": ";
  std::string why;
  if (!ReplaceInFolder(t.dir.get(), t.name, contents, t.exists ? &t.st : nullptr, nullptr, kind,
                       &why))
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
