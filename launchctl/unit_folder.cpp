#include "launchctl/unit_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/files/io.h"
#include "platform/text/errno_text.h"

namespace launchctl {

const std::vector<std::string> kSystemUnitFolders = {
    "/etc/systemd/system.control",   "/run/systemd/system.control",  "/run/systemd/transient",
    "/run/systemd/generator.early",  "/etc/systemd/system",          "/etc/systemd/system.attached",
    "/run/systemd/system",           "/run/systemd/system.attached", "/run/systemd/generator",
    "/usr/local/lib/systemd/system", "/lib/systemd/system",          "/usr/lib/systemd/system",
    "/run/systemd/generator.late"};

std::optional<UnitFolder> UnitFolder::Open(const std::string& path, std::string* err) {
  UnitFolder folder;
  folder.path_ = path;
  folder.fd_.Reset(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.fd_.valid()) {
    if (errno != ENOENT) *err = path + ": " + platform::ErrnoText(errno);
    return std::nullopt;
  }
  return folder;
}

UnitFolder::Presence UnitFolder::Inspect(const std::string& name, std::string* text) const {
  platform::OwnedFd fd(
      openat(fd_.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    struct stat st;
    const bool absent =
        fstatat(fd_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
    return absent ? Presence::kAbsent : Presence::kForeign;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Presence::kForeign;
  std::string why;
  std::optional<std::string> contents = platform::ReadWholeDescriptor(fd.get(), name, &why);
  if (!contents || !contents->starts_with(kMarker)) return Presence::kForeign;
  if (text != nullptr) *text = std::move(*contents);
  return Presence::kOurs;
}

bool UnitFolder::Add(const UnitFile& file, std::string* err) const {
  const std::string shown = path_ + "/" + file.name;
  // Unnamed while written: a process killed half way leaves nothing behind.
  platform::OwnedFd fd(openat(fd_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
  if (!fd.valid()) {
    *err = shown + ": " + platform::ErrnoText(errno);
    return false;
  }
  std::string_view rest = file.text;
  while (!rest.empty()) {
    const ssize_t n = write(fd.get(), rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *err = shown + ": " + platform::ErrnoText(n < 0 ? errno : EIO);
      return false;
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  if (fchmod(fd.get(), 0644) != 0 || fsync(fd.get()) != 0) {
    *err = shown + ": " + platform::ErrnoText(errno);
    return false;
  }
  // A link never replaces a name: a unit that appeared meanwhile stays as it is.
  const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
  if (linkat(AT_FDCWD, self.c_str(), fd_.get(), file.name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    *err = shown + ": " + platform::ErrnoText(errno);
    return false;
  }
  return true;
}

bool UnitFolder::AddAll(const std::vector<UnitFile>& files, std::string* err) const {
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (Add(files[i], err)) continue;
    for (std::size_t j = 0; j < i; ++j) unlinkat(fd_.get(), files[j].name.c_str(), 0);
    fsync(fd_.get());
    return false;
  }
  if (fsync(fd_.get()) != 0) {
    *err = path_ + ": " + platform::ErrnoText(errno);
    for (const UnitFile& f : files) unlinkat(fd_.get(), f.name.c_str(), 0);
    return false;
  }
  return true;
}

bool UnitFolder::RemoveOurs(const std::string& name, std::string* err) const {
  switch (Inspect(name)) {
    case Presence::kAbsent:
      return true;
    case Presence::kForeign:
      *err = path_ + "/" + name + " was not made by launchctl; left as it is";
      return false;
    case Presence::kOurs:
      break;
  }
  if (unlinkat(fd_.get(), name.c_str(), 0) != 0 && errno != ENOENT) {
    *err = path_ + "/" + name + ": " + platform::ErrnoText(errno);
    return false;
  }
  fsync(fd_.get());
  return true;
}

std::vector<UnitFile> UnitFolder::Ours() const {
  std::vector<UnitFile> out;
  const int dup_fd = fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0);
  if (dup_fd < 0) return out;
  DIR* dir = fdopendir(dup_fd);
  if (dir == nullptr) {
    close(dup_fd);
    return out;
  }
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (!name.ends_with(".service") && !name.ends_with(".socket")) continue;
    std::string text;
    if (Inspect(name, &text) == Presence::kOurs) out.push_back({name, std::move(text)});
  }
  closedir(dir);
  std::sort(out.begin(), out.end(),
            [](const UnitFile& a, const UnitFile& b) { return a.name < b.name; });
  return out;
}

}  // namespace launchctl
