#include "platform/files/edited_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <thread>
#include <utility>

#include "platform/files/io.h"
#include "platform/files/path_steps.h"
#include "platform/files/temp_file.h"
#include "platform/text/errno_text.h"

namespace platform {

namespace {

// Replacements seen in a row while waiting before giving up: a file renamed over this often is
// being fought over, not edited.
constexpr int kMaxRelocks = 1000;
// How often a lock held by another process is tried again.
constexpr std::chrono::milliseconds kLockRetry(5);

constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

bool Fail(std::string* err, const std::string& text) {
  if (err != nullptr) *err = text;
  return false;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The kernel's own rule for following a link (fs.protected_symlinks): in a sticky folder that
// anyone may write to, a link is followed only by its owner, or when it belongs to the folder's
// owner. Anyone could have put it there.
bool MayFollow(const struct stat& folder, const struct stat& link) {
  const bool shared = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  return !shared || link.st_uid == geteuid() || link.st_uid == folder.st_uid;
}

}  // namespace

std::optional<EditedFile> EditedFile::Open(const std::string& path,
                                           std::chrono::milliseconds lock_wait, Failure* failure,
                                           std::string* err) try {
  const auto deadline = std::chrono::steady_clock::now() + lock_wait;
  auto unusable = [&](const std::string& why) {
    *failure = Failure::kUnusable;
    Fail(err, why);
    return std::nullopt;
  };
  auto busy = [&](const std::string& why) {
    *failure = Failure::kBusy;
    Fail(err, "cannot lock " + path + ": " + why);
    return std::nullopt;
  };
  if (path.empty()) return unusable(ErrnoText(ENOENT));

  // Find the file: each step opened relative to the folder before it, each link read rather
  // than followed by the kernel, so that what is opened is what was looked at.
  EditedFile file;
  file.path_ = path;
  PathWalk walk(path);
  for (int hops = 0;; ++hops) {
    auto [folder, name] = SplitPath(walk.current);
    if (name.empty() || name == "." || name == "..")
      return unusable(walk.shown + ": not a regular file");
    OwnedFd dir(openat(walk.base, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return unusable(SplitPath(walk.shown).first + ": " + ErrnoText(errno));
    struct stat st;
    if (fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return unusable(walk.shown + ": " + ErrnoText(errno));
    if (S_ISLNK(st.st_mode)) {
      if (hops >= kMaxSymlinkHops) return unusable(path + ": " + ErrnoText(ELOOP));
      struct stat folder_st;
      if (fstat(dir.get(), &folder_st) != 0) return unusable(walk.shown + ": " + ErrnoText(errno));
      if (!MayFollow(folder_st, st))
        return unusable(walk.shown +
                        ": a symbolic link in a sticky folder anyone may write to, owned neither "
                        "by us nor by the folder's owner, is not followed");
      if (!walk.FollowLink(std::move(dir), name))
        return unusable(walk.shown + ": " + ErrnoText(errno));
      continue;
    }
    // Looked at before it is opened: opening a device can have effects of its own.
    if (!S_ISREG(st.st_mode)) return unusable(walk.shown + ": not a regular file");
    OwnedFd fd(openat(dir.get(), name.c_str(), kOpenFlags));
    if (!fd.valid()) {
      if (errno == ELOOP) continue;  // it became a link since: look again
      return unusable(walk.shown + ": " + ErrnoText(errno));
    }
    if (fstat(fd.get(), &file.st_) != 0) return unusable(walk.shown + ": " + ErrnoText(errno));
    if (!S_ISREG(file.st_.st_mode)) return unusable(walk.shown + ": not a regular file");
    file.dir_ = std::move(dir);
    file.name_ = std::move(name);
    file.fd_ = std::move(fd);
    file.shown_ = std::move(walk.shown);
    break;
  }

  for (int relocks = 0;; ++relocks) {
    while (flock(file.fd_.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) return busy(ErrnoText(errno));
      if (std::chrono::steady_clock::now() >= deadline)
        return busy("the file is locked by another process");
      std::this_thread::sleep_for(kLockRetry);
    }
    // While we waited, another run may have renamed its new file over the name: our lock then
    // guards a file nobody will read again, and the new one is locked instead. Whatever else
    // took the name (a link, nothing) is not followed now.
    struct stat named;
    if (fstatat(file.dir_.get(), file.name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
      return busy("the file was removed while waiting for its lock");
    if (SameFile(named, file.st_)) return file;
    if (!S_ISREG(named.st_mode) || relocks >= kMaxRelocks)
      return busy("the file was replaced while waiting for its lock");
    flock(file.fd_.get(), LOCK_UN);
    file.fd_.Reset(openat(file.dir_.get(), file.name_.c_str(), kOpenFlags));
    if (!file.fd_.valid() || fstat(file.fd_.get(), &file.st_) != 0 || !S_ISREG(file.st_.st_mode))
      return busy("the file was replaced while waiting for its lock");
  }
} catch (const std::exception&) {
  *failure = Failure::kUnusable;
  Fail(err, path + ": " + ErrnoText(ENOMEM));
  return std::nullopt;
}

EditedFile::~EditedFile() {
  // Unlocked explicitly: a child forked meanwhile may still hold a copy of the descriptor.
  if (fd_.valid()) flock(fd_.get(), LOCK_UN);
}

std::optional<std::string> EditedFile::Read(std::string* err) const {
  return ReadWholeDescriptor(fd_.get(), shown_, err);
}

long EditedFile::ReadAt(std::uint64_t offset, char* buf, std::size_t size, std::string* err) const {
  for (;;) {
    ssize_t n = pread(fd_.get(), buf, size, static_cast<off_t>(offset));
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    Fail(err, shown_ + ": " + ErrnoText(errno));
    return -1;
  }
}

bool EditedFile::ReplaceSpliced(std::uint64_t keep_before, std::string_view middle,
                                std::uint64_t keep_from, std::uint64_t end, std::string* err) try {
  const std::string what =
      "cannot replace " + (shown_ == path_ ? path_ : path_ + " (" + shown_ + ")") + ": ";
  auto fill = [&](int out, std::string* why) {
    if (!CopyFileBytes(fd_.get(), 0, keep_before, out, why)) return false;
    if (!WriteAllBytes(out, middle, why)) return false;
    return keep_from >= end || CopyFileBytes(fd_.get(), keep_from, end - keep_from, out, why);
  };
  std::string why;
  if (!ReplaceInFolder(dir_.get(), name_, fill, &st_, &st_, TempFile::Kind::kUnnamed, &why))
    return Fail(err, what + why);
  return true;
} catch (const std::exception&) {
  return Fail(err, "cannot replace " + path_ + ": " + ErrnoText(ENOMEM));
}

bool EditedFile::ReplaceBy(const TempFile::Writer& write, std::string* err) try {
  const std::string what =
      "cannot replace " + (shown_ == path_ ? path_ : path_ + " (" + shown_ + ")") + ": ";
  std::string why;
  if (!ReplaceInFolder(dir_.get(), name_, write, &st_, &st_, TempFile::Kind::kUnnamed, &why))
    return Fail(err, what + why);
  return true;
} catch (const std::exception&) {
  return Fail(err, "cannot replace " + path_ + ": " + ErrnoText(ENOMEM));
}

bool EditedFile::Replace(std::string_view contents, std::string* err) try {
  const std::string what =
      "cannot replace " + (shown_ == path_ ? path_ : path_ + " (" + shown_ + ")") + ": ";
  std::string why;
  if (!ReplaceInFolder(dir_.get(), name_, contents, &st_, &st_, TempFile::Kind::kUnnamed, &why))
    return Fail(err, what + why);
  return true;
} catch (const std::exception&) {
  return Fail(err, "cannot replace " + path_ + ": " + ErrnoText(ENOMEM));
}

}  // namespace platform
