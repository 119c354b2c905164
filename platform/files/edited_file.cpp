#include "platform/files/edited_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <thread>
#include <utility>

#include "platform/files/access_acl.h"
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
  // Out of descriptors or memory is no fault of the file's: the run failed, not the edit.
  auto cannot = [&](int error, const std::string& why) {
    if (error != EMFILE && error != ENFILE && error != ENOMEM) return unusable(why);
    *failure = Failure::kNoResources;
    Fail(err, "cannot open " + path + ": " + why);
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
  for (int attempt = 0;; ++attempt) {
    PathEnd end;
    std::string why;
    if (!WalkPath(path, &end, &why)) return cannot(errno, why);
    if (!end.exists) return unusable(end.shown + ": " + ErrnoText(ENOENT));
    // Looked at before it is opened: opening a device can have effects of its own.
    if (!S_ISREG(end.st.st_mode)) return unusable(end.shown + ": not a regular file");
    OwnedFd fd(openat(end.dir.get(), end.name.c_str(), kOpenFlags));
    if (!fd.valid()) {
      const int error = errno;
      // It became a link since: walk again.
      if (error == ELOOP && attempt < kMaxSymlinkHops) continue;
      return cannot(error, end.shown + ": " + ErrnoText(error));
    }
    if (fstat(fd.get(), &file.st_) != 0) return unusable(end.shown + ": " + ErrnoText(errno));
    if (!S_ISREG(file.st_.st_mode)) return unusable(end.shown + ": not a regular file");
    file.dir_ = std::move(end.dir);
    file.name_ = std::move(end.name);
    file.fd_ = std::move(fd);
    file.shown_ = std::move(end.shown);
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
  *failure = Failure::kNoResources;
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
                                std::uint64_t keep_from, std::uint64_t end, std::string* err) {
  return ReplaceBy(
      [&](int out, std::string* why) {
        if (!CopyFileBytes(fd_.get(), 0, keep_before, out, why)) return false;
        if (!WriteAllBytes(out, middle, why)) return false;
        return keep_from >= end || CopyFileBytes(fd_.get(), keep_from, end - keep_from, out, why);
      },
      err);
}

bool EditedFile::Replace(std::string_view contents, std::string* err) {
  return ReplaceBy([&](int out, std::string* why) { return WriteAllBytes(out, contents, why); },
                   err);
}

// The new file takes the old one's mode, owner and access ACL (never the folder's default).
bool EditedFile::ReplaceBy(const TempFile::Writer& write, std::string* err) try {
  const std::string what =
      "cannot replace " + (shown_ == path_ ? path_ : path_ + " (" + shown_ + ")") + ": ";
  Original original{st_, {}};
  if (std::optional<std::string> acl = ReadAccessAcl(fd_.get()))
    original.acl = std::move(*acl);
  else
    return Fail(err, what + "reading the ACL: " + ErrnoText(errno));
  std::string why;
  if (!ReplaceInFolder(dir_.get(), name_, write, &original, &st_, TempFile::Kind::kUnnamed, &why))
    return Fail(err, what + why);
  return true;
} catch (const std::exception&) {
  return Fail(err, "cannot replace " + path_ + ": " + ErrnoText(ENOMEM));
}

}  // namespace platform
