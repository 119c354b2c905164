#include "platform/files/temp_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/files/access_acl.h"
#include "platform/text/errno_text.h"

namespace platform {

namespace {

// The most one write(2) is asked to move; the kernel moves at most ~2 GiB anyway.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
// Names tried before giving up when each one chosen is already taken.
constexpr int kMaxNameAttempts = 100;

// An unpredictable hidden name beside `name`, short enough for any file system.
std::string TempName(const std::string& name) {
  unsigned char rnd[8] = {};
  std::size_t got = 0;
  while (got < sizeof rnd) {
    ssize_t n = getrandom(rnd + got, sizeof rnd - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // creation still refuses a name in use; it is merely guessable
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

bool Fail(std::string* err, const std::string& text) {
  if (err != nullptr) *err = text;
  return false;
}

}  // namespace

std::unique_ptr<TempFile> TempFile::Create(int dirfd, const std::string& name, mode_t mode,
                                           Kind kind) {
  std::unique_ptr<TempFile> t(new TempFile(dirfd, name, kind));
  if (kind == Kind::kUnnamed) {
    t->fd_ = openat(dirfd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (t->fd_ >= 0) return t;
    // No unnamed files on this file system (EOPNOTSUPP), or a kernel that predates them and
    // takes the flags for opening the folder itself (EISDIR) or refuses them (EINVAL).
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return nullptr;
    t->kind_ = Kind::kNamed;
  }
  for (int attempt = 1;; ++attempt) {
    std::string temp = TempName(name);
    t->fd_ = openat(dirfd, temp.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
    if (t->fd_ >= 0) {
      t->temp_name_ = std::move(temp);
      return t;
    }
    if (errno != EEXIST || attempt >= kMaxNameAttempts) return nullptr;
  }
}

TempFile::~TempFile() {
  const int saved = errno;  // a caller may still be reading the reason of a failure
  if (fd_ >= 0) close(fd_);
  if (!temp_name_.empty()) unlinkat(dirfd_, temp_name_.c_str(), 0);
  errno = saved;
}

bool TempFile::Fill(std::string_view contents, const Original* like, std::string* err) {
  return FillBy(
      [&](int fd, std::string* why) {
        return WriteAll(fd, contents) || Fail(why, "writing: " + ErrnoText(errno));
      },
      like, err);
}

bool TempFile::FillBy(const Writer& write, const Original* like, std::string* err) {
  if (!write(fd_, err)) return false;
  if (like != nullptr) {
    struct stat mine;
    if (fstat(fd_, &mine) != 0) return Fail(err, ErrnoText(errno));
    // Owner first: a change of owner clears the set-user-ID and set-group-ID bits.
    if ((mine.st_uid != like->st.st_uid || mine.st_gid != like->st.st_gid) &&
        fchown(fd_, like->st.st_uid, like->st.st_gid) != 0)
      return Fail(err, "keeping the owner: " + ErrnoText(errno));
    // Created 0600, an inherited ACL's mask is empty until the mode is set: the ACL goes first.
    if (!SetAccessAcl(fd_, like->acl)) return Fail(err, "keeping the ACL: " + ErrnoText(errno));
    if (fchmod(fd_, like->st.st_mode & 07777) != 0)
      return Fail(err, "keeping the mode: " + ErrnoText(errno));
  }
  if (fsync(fd_) != 0) return Fail(err, "syncing: " + ErrnoText(errno));
  return true;
}

TempFile::Outcome TempFile::GiveName(std::string* err) {
  const std::string by_proc = "/proc/self/fd/" + std::to_string(fd_);
  for (int attempt = 1;; ++attempt) {
    std::string temp = TempName(name_);
    // Linking the descriptor itself needs no /proc, but older kernels allow it only to holders
    // of CAP_DAC_READ_SEARCH (ENOENT otherwise); the /proc link serves everyone else.
    if (linkat(fd_, "", dirfd_, temp.c_str(), AT_EMPTY_PATH) == 0 ||
        ((errno == ENOENT || errno == EPERM) &&
         linkat(AT_FDCWD, by_proc.c_str(), dirfd_, temp.c_str(), AT_SYMLINK_FOLLOW) == 0)) {
      temp_name_ = std::move(temp);
      return Outcome::kInstalled;
    }
    const int e = errno;
    if (e == EEXIST && attempt < kMaxNameAttempts) continue;
    Fail(err, "naming the temporary file: " + ErrnoText(e));
    // No /proc here, or a hard link refused to us (protected_hardlinks).
    return e == ENOENT || e == EPERM ? Outcome::kNotNameable : Outcome::kFailed;
  }
}

TempFile::Outcome TempFile::Install(std::string* err, const struct stat* replaced) {
  struct stat mine;
  if (fstat(fd_, &mine) != 0) return Fail(err, ErrnoText(errno)), Outcome::kFailed;
  if (temp_name_.empty()) {
    if (Outcome named = GiveName(err); named != Outcome::kInstalled) return named;
  }
  // A failed close can report a write that did not reach the disk (NFS).
  if (close(std::exchange(fd_, -1)) != 0 && errno != EINTR)
    return Fail(err, "closing: " + ErrnoText(errno)), Outcome::kFailed;
  // Rename only the file we wrote, never whatever else may have taken its name.
  struct stat now;
  if (fstatat(dirfd_, temp_name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
      now.st_dev != mine.st_dev || now.st_ino != mine.st_ino)
    return Fail(err, "the temporary file was replaced"), Outcome::kFailed;
  // The name must still denote the file that was read and locked: what took its place since
  // (a link to a file elsewhere, another file moved in) is left as it is.
  if (replaced != nullptr) {
    struct stat named;
    if (fstatat(dirfd_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_dev != replaced->st_dev || named.st_ino != replaced->st_ino)
      return Fail(err, "the file was replaced or removed while it was edited; nothing was written"),
             Outcome::kFailed;
  }
  if (renameat(dirfd_, temp_name_.c_str(), dirfd_, name_.c_str()) != 0)
    return Fail(err, "renaming: " + ErrnoText(errno)), Outcome::kFailed;
  temp_name_.clear();  // the name is the replaced file's now
  return Outcome::kInstalled;
}

bool ReplaceInFolder(int dirfd, const std::string& name, std::string_view contents,
                     const Original* existing, const struct stat* replaced, TempFile::Kind kind,
                     std::string* why) {
  return ReplaceInFolder(
      dirfd, name,
      [&](int fd, std::string* err) {
        return WriteAll(fd, contents) || Fail(err, "writing: " + ErrnoText(errno));
      },
      existing, replaced, kind, why);
}

bool ReplaceInFolder(int dirfd, const std::string& name, const TempFile::Writer& write,
                     const Original* existing, const struct stat* replaced, TempFile::Kind kind,
                     std::string* why) {
  auto write_through = [&](TempFile::Kind k) {
    // A file that exists starts private and takes the old mode once it is complete; a new one
    // gets 0666 less the umask (and the folder's default ACL) when it is created.
    std::unique_ptr<TempFile> temp = TempFile::Create(dirfd, name, existing ? 0600 : 0666, k);
    if (!temp) {
      Fail(why, "creating a temporary file: " + ErrnoText(errno));
      return TempFile::Outcome::kFailed;
    }
    if (!temp->FillBy(write, existing, why)) return TempFile::Outcome::kFailed;
    return temp->Install(why, replaced);
  };
  TempFile::Outcome done = write_through(kind);
  // Rare: an unnamed file that cannot be named here (neither /proc nor the right to link the
  // descriptor itself). The contents are written again, into a file named from the start.
  if (done == TempFile::Outcome::kNotNameable) done = write_through(TempFile::Kind::kNamed);
  if (done != TempFile::Outcome::kInstalled) return false;
  if (fsync(dirfd) != 0 && errno != EINVAL)
    return Fail(
        why, "the new contents are in place, but syncing the folder failed: " + ErrnoText(errno));
  return true;
}

}  // namespace platform
