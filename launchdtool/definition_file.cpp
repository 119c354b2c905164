#include "launchdtool/definition_file.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/magic.h>
#include <stdlib.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include "launchdtool/unique_fd.h"

namespace {

// File systems whose owners and modes are not recorded on a disk but made up: by the kernel
// for what it shows (proc, sysfs and the like), or by whoever runs the daemon behind a FUSE
// mount. There a file "owned by root, writable by nobody else" can hold anything: the caller's
// own command line, for one.
struct PseudoFileSystem {
  unsigned long magic;
  const char* name;
};
constexpr PseudoFileSystem kPseudoFileSystems[] = {
    {PROC_SUPER_MAGIC, "proc"},
    {SYSFS_MAGIC, "sysfs"},
    {DEBUGFS_MAGIC, "debugfs"},
    {TRACEFS_MAGIC, "tracefs"},
    {SECURITYFS_MAGIC, "securityfs"},
    {CGROUP_SUPER_MAGIC, "cgroup"},
    {CGROUP2_SUPER_MAGIC, "cgroup2"},
    {BPF_FS_MAGIC, "bpf"},
    {0x62656570, "configfs"},
    {DEVPTS_SUPER_MAGIC, "devpts"},
    {PSTOREFS_MAGIC, "pstore"},
    {EFIVARFS_MAGIC, "efivarfs"},
    {0x19800202, "mqueue"},
    {BINFMTFS_MAGIC, "binfmt_misc"},
    {SELINUX_MAGIC, "selinuxfs"},
    {SMACK_MAGIC, "smackfs"},
    {AAFS_MAGIC, "apparmorfs"},
    {NSFS_MAGIC, "nsfs"},
    {PIPEFS_MAGIC, "pipefs"},
    {SOCKFS_MAGIC, "sockfs"},
    {ANON_INODE_FS_MAGIC, "anon_inodefs"},
    {RDTGROUP_SUPER_MAGIC, "resctrl"},
    {BINDERFS_SUPER_MAGIC, "binder"},
    {USBDEVICE_SUPER_MAGIC, "usbdevfs"},
    {OPENPROM_SUPER_MAGIC, "openpromfs"},
    {XENFS_SUPER_MAGIC, "xenfs"},
    {FUSE_SUPER_MAGIC, "fuse"},
    {0x65735543, "fusectl"},
};

// The name of the pseudo file system `fd` lies on, or null when it lies on one that records
// owners and modes. A descriptor whose file system cannot be told counts as pseudo.
const char* PseudoFileSystemOf(int fd) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return "unknown";
  for (const PseudoFileSystem& pseudo : kPseudoFileSystems) {
    if (static_cast<unsigned long>(fs.f_type) == pseudo.magic) return pseudo.name;
  }
  return nullptr;
}

// For its lifetime, file-system checks are made with the caller's user, group and
// supplementary groups; the effective ids stay root's. Only for a process that is root.
class CallersRights {
 public:
  explicit CallersRights(const Caller& caller) {
    taken_ = setgroups(caller.groups.size(), caller.groups.data()) == 0;
    setfsgid(caller.gid);
    setfsuid(caller.uid);
    // setfsuid and setfsgid report no failure; asking again with an impossible id returns the
    // id in force.
    taken_ = taken_ && static_cast<uid_t>(setfsuid(-1)) == caller.uid &&
             static_cast<gid_t>(setfsgid(-1)) == caller.gid;
  }
  ~CallersRights() {
    setfsuid(0);
    setfsgid(0);
    setgroups(0, nullptr);
  }
  CallersRights(const CallersRights&) = delete;
  CallersRights& operator=(const CallersRights&) = delete;
  bool taken() const { return taken_; }

 private:
  bool taken_ = false;
};

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

DefinitionCheck CheckDefinitionFile(const std::string& path, const Caller& caller,
                                    std::string* resolved, std::string* reason) {
  // The caller names the file; root's rights must not tell the caller more than the caller
  // could learn alone (whether /root/private/x exists, where a private link points).
  CallersRights as_caller(caller);
  if (!as_caller.taken()) return Refuse(reason, "cannot check it with the caller's rights");

  // launchctl opens the file again by name after we are done. That is only safe when nobody but
  // root can change what the name denotes: so the name handed on has no links left in it, and
  // every folder on it, and the file itself, must be root's alone, on a file system where
  // owners and modes mean what they say.
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
    if (const char* pseudo = PseudoFileSystemOf(folder.get()))
      return Refuse(reason, "folder " + name.substr(0, folder_end) +
                                " is on a pseudo file system (" + pseudo + ")");
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
  if (const char* pseudo = PseudoFileSystemOf(file.get()))
    return Refuse(reason, std::string("on a pseudo file system (") + pseudo + ")");
  *resolved = std::move(name);
  return DefinitionCheck::kTrusted;
}
