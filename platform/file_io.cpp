#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <utility>

#include "platform/utf8_text.h"

namespace platform {

namespace {

// The most one read(2) or write(2) is asked to move; the kernel moves at most ~2 GiB anyway.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxSymlinkHops = 40;

std::string ErrnoText(int e) {
  char buf[256];
  return strerror_r(e, buf, sizeof buf);  // the GNU variant returns the text
}

bool Fail(std::string* err, const std::string& text) {
  if (err != nullptr) *err = text;
  return false;
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes now; false (errno set) when close(2) reports a failure other than an interruption.
  bool Close() {
    int fd = std::exchange(fd_, -1);
    return fd < 0 || close(fd) == 0 || errno == EINTR;
  }

 private:
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int fd_;
};

// The folder part and the last component of a path ("a/b" -> "a", "b"; "b" -> ".", "b").
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The file a replacement acts on: its folder (open), its name there, and its status when it
// exists. Symbolic links are followed to the file they finally name.
struct Target {
  Fd dir;
  std::string name;
  std::string shown;  // the path of the final file, for messages
  bool exists = false;
  struct stat st {};
};

std::string ReadLinkAt(int dirfd, const std::string& name) {
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = readlinkat(dirfd, name.c_str(), buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) return buf.substr(0, n);
    buf.resize(buf.size() * 2);
  }
}

// Opens the folder of `path` and follows symbolic links to the file they finally name.
// Returns an error text, empty on success.
std::string ResolveTarget(const std::string& path, Target* t) {
  std::string current = path;  // relative to `base`
  std::string shown = path;    // the same place, for messages
  int base = AT_FDCWD;
  Fd base_holder;
  if (path.empty()) return ErrnoText(ENOENT);
  for (int hops = 0;; ++hops) {
    auto [dir, name] = SplitPath(current);
    if (name.empty() || name == "." || name == "..") return shown + ": " + ErrnoText(EISDIR);
    Fd dirfd(openat(base, dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirfd) return SplitPath(shown).first + ": " + ErrnoText(errno);
    struct stat st;
    if (fstatat(dirfd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return shown + ": " + ErrnoText(errno);
      t->exists = false;
    } else if (S_ISLNK(st.st_mode)) {
      if (hops >= kMaxSymlinkHops) return path + ": " + ErrnoText(ELOOP);
      std::string link = ReadLinkAt(dirfd.get(), name);
      if (link.empty()) return shown + ": " + ErrnoText(errno);
      // A relative target is resolved from the folder that holds the link.
      if (link[0] == '/') {
        base = AT_FDCWD;
        shown = link;
      } else {
        shown = SplitPath(shown).first + "/" + link;
        base_holder = std::move(dirfd);
        base = base_holder.get();
      }
      current = std::move(link);
      continue;
    } else if (!S_ISREG(st.st_mode)) {
      return shown + ": not a regular file";
    } else {
      t->exists = true;
      t->st = st;
    }
    t->dir = std::move(dirfd);
    t->name = name;
    t->shown = shown;
    return {};
  }
}

// An unpredictable hidden name beside `name`, short enough for any file system.
std::string TempName(const std::string& name) {
  unsigned char rnd[8] = {};
  std::size_t got = 0;
  while (got < sizeof rnd) {
    ssize_t n = getrandom(rnd + got, sizeof rnd - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // O_EXCL still keeps us safe; the name is merely guessable
    got += static_cast<std::size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string out(".");
  out.append(name, 0, 200).append(".tmp");
  for (unsigned char c : rnd) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

// A temporary file that is removed unless it was renamed into place.
class TempFile {
 public:
  TempFile(int dirfd, std::string name, Fd fd)
      : dirfd_(dirfd), name_(std::move(name)), fd_(std::move(fd)) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    fd_.Close();
    if (!committed_) unlinkat(dirfd_, name_.c_str(), 0);
  }
  Fd& fd() { return fd_; }
  const std::string& name() const { return name_; }
  void Commit() { committed_ = true; }

 private:
  int dirfd_;
  std::string name_;
  Fd fd_;
  bool committed_ = false;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), std::min(bytes.size(), kMaxChunk));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {  // no progress: the device takes no more
      errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool Replace(const std::string& path, std::string_view contents, std::string* err) {
  Target t;
  if (std::string why = ResolveTarget(path, &t); !why.empty())
    return Fail(err, "cannot replace " + path + ": " + why);
  const std::string what =
      "cannot replace " + (t.shown == path ? path : path + " (" + t.shown + ")") + ": ";

  // A file that exists starts private and takes the old mode once it is complete; a new one
  // gets 0666 less the umask (and the folder's default ACL) from open(2) itself.
  std::unique_ptr<TempFile> temp;
  for (int attempt = 0; !temp; ++attempt) {
    std::string name = TempName(t.name);
    Fd fd(openat(t.dir.get(), name.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                 t.exists ? 0600 : 0666));
    if (fd) {
      temp = std::make_unique<TempFile>(t.dir.get(), name, std::move(fd));
    } else if (errno != EEXIST || attempt >= 100) {
      return Fail(err, what + "creating a temporary file: " + ErrnoText(errno));
    }
  }
  const int fd = temp->fd().get();
  if (!WriteAll(fd, contents)) return Fail(err, what + "writing: " + ErrnoText(errno));
  struct stat mine;
  if (fstat(fd, &mine) != 0) return Fail(err, what + ErrnoText(errno));
  if (t.exists) {
    // Owner first: a change of owner clears the set-user-ID and set-group-ID bits.
    if ((mine.st_uid != t.st.st_uid || mine.st_gid != t.st.st_gid) &&
        fchown(fd, t.st.st_uid, t.st.st_gid) != 0)
      return Fail(err, what + "keeping the owner: " + ErrnoText(errno));
    if (fchmod(fd, t.st.st_mode & 07777) != 0)
      return Fail(err, what + "keeping the mode: " + ErrnoText(errno));
  }
  if (fsync(fd) != 0) return Fail(err, what + "syncing: " + ErrnoText(errno));
  if (!temp->fd().Close()) return Fail(err, what + "closing: " + ErrnoText(errno));
  // Rename only the file we wrote, never whatever else may have taken its name.
  struct stat now;
  if (fstatat(t.dir.get(), temp->name().c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
      now.st_dev != mine.st_dev || now.st_ino != mine.st_ino)
    return Fail(err, what + "the temporary file was replaced");
  if (renameat(t.dir.get(), temp->name().c_str(), t.dir.get(), t.name.c_str()) != 0)
    return Fail(err, what + "renaming: " + ErrnoText(errno));
  temp->Commit();
  if (fsync(t.dir.get()) != 0 && errno != EINVAL)
    return Fail(err, what + "the new contents are in place, but syncing the folder failed: " +
                         ErrnoText(errno));
  return true;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::string* err) {
  try {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) return Fail(err, path + ": " + ErrnoText(errno)), std::nullopt;
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return Fail(err, path + ": " + ErrnoText(errno)), std::nullopt;
    if (S_ISDIR(st.st_mode)) return Fail(err, path + ": " + ErrnoText(EISDIR)), std::nullopt;
    if (!S_ISREG(st.st_mode)) return Fail(err, path + ": not a regular file"), std::nullopt;
    // One byte beyond the size seen lets the read loop meet the end without growing; a file
    // that grows meanwhile (or reports no size, as in /proc) grows the buffer by doubling.
    std::string buf(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t len = 0;
    for (;;) {
      if (len == buf.size()) buf.resize(buf.size() * 2 + 4096);
      ssize_t n = read(fd.get(), buf.data() + len, std::min(buf.size() - len, kMaxChunk));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Fail(err, path + ": " + ErrnoText(errno)), std::nullopt;
      }
      if (n == 0) break;
      len += static_cast<std::size_t>(n);
    }
    buf.resize(len);
    return buf;
  } catch (const std::exception&) {
    return Fail(err, path + ": " + ErrnoText(ENOMEM)), std::nullopt;
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

bool ReplaceFileAtomically(const std::string& path, std::string_view contents, std::string* err) {
  try {
    return Replace(path, contents, err);
  } catch (const std::exception&) {
    return Fail(err, "cannot replace " + path + ": " + ErrnoText(ENOMEM));
  }
}

}  // namespace platform
