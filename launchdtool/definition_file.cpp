#include "launchdtool/definition_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "launchdtool/unique_fd.h"

namespace {

// Someone other than root could add, remove or rename entries of the folder. A sticky folder
// (as /tmp) lets others add entries of their own but not remove or rename root's.
bool FolderOpenToOthers(const struct stat& st) {
  return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0;
}

DefinitionCheck Refuse(std::string* reason, std::string text) {
  *reason = std::move(text);
  return DefinitionCheck::kRefused;
}

}  // namespace

DefinitionCheck CheckDefinitionFile(const std::string& path, std::string* resolved,
                                    std::string* reason) {
  // launchctl opens the file again by name after we are done. That is only safe when nobody but
  // root can change what the name denotes: so the name handed on has no links left in it, and
  // every folder on it, and the file itself, must be root's alone.
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return DefinitionCheck::kNotFound;
  std::string name(real);
  free(real);

  // Walk the resolved name one folder at a time, following no link, so each folder examined is
  // the one the name passes through.
  UniqueFd folder(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) return DefinitionCheck::kNotFound;
  size_t folder_end = 1;  // the folder examined is name[0, folder_end)
  size_t start = 1;       // where the next component begins
  for (;;) {
    struct stat st;
    if (fstat(folder.get(), &st) != 0) return DefinitionCheck::kNotFound;
    if (st.st_uid != 0)
      return Refuse(reason, "folder " + name.substr(0, folder_end) + " is not owned by root");
    if (FolderOpenToOthers(st))
      return Refuse(reason,
                    "folder " + name.substr(0, folder_end) + " is writable by group or others");
    size_t slash = name.find('/', start);
    if (slash == std::string::npos) break;
    std::string component = name.substr(start, slash - start);
    UniqueFd next(
        openat(folder.get(), component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.valid()) return DefinitionCheck::kNotFound;
    folder = std::move(next);
    folder_end = slash;
    start = slash + 1;
  }

  std::string last = name.substr(start);
  if (last.empty()) return Refuse(reason, "not a regular file");  // the root folder itself
  // Look before opening: opening a device or a pipe as root can block or have effects.
  struct stat st;
  if (fstatat(folder.get(), last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return DefinitionCheck::kNotFound;
  if (!S_ISREG(st.st_mode)) return Refuse(reason, "not a regular file");
  UniqueFd file(openat(folder.get(), last.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.valid()) return DefinitionCheck::kNotFound;
  // Judge what was opened, not what the name denoted a moment before.
  if (fstat(file.get(), &st) != 0) return DefinitionCheck::kNotFound;
  if (!S_ISREG(st.st_mode)) return Refuse(reason, "not a regular file");
  if (st.st_uid != 0) return Refuse(reason, "not owned by root");
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return Refuse(reason, "writable by group or others");
  *resolved = std::move(name);
  return DefinitionCheck::kTrusted;
}
