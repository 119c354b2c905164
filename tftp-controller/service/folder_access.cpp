#include "tftp-controller/service/folder_access.h"

#include <fcntl.h>
#include <grp.h>
#include <libintl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "platform/files/owned_fd.h"
#include "platform/text/errno_text.h"
#include "platform/text/string_format.h"
#include "tftp-controller/service/say.h"

#define _(s) gettext(s)

namespace tftpc {

namespace {

struct Account {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

std::optional<Account> LookUp(const std::string& user) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry, *found = nullptr;
  while (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
    buffer.resize(buffer.size() * 2);
  if (found == nullptr) return std::nullopt;
  Account account{entry.pw_uid, entry.pw_gid, std::vector<gid_t>(16)};
  int count = static_cast<int>(account.groups.size());
  // Too few places: getgrouplist says how many it needs.
  while (getgrouplist(user.c_str(), account.gid, account.groups.data(), &count) < 0) {
    account.groups.resize(static_cast<std::size_t>(count) + 1);
    count = static_cast<int>(account.groups.size());
  }
  account.groups.resize(static_cast<std::size_t>(count));
  return account;
}

std::string NameOfUser(uid_t uid) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry, *found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return found->pw_name;
  return std::to_string(uid);
}

// Which of the three classes of mode bits apply to the account: 6 (owner), 3 (group) or 0.
int ClassShift(const struct stat& st, const Account& account) {
  if (st.st_uid == account.uid) return 6;
  const bool member =
      st.st_gid == account.gid ||
      std::find(account.groups.begin(), account.groups.end(), st.st_gid) != account.groups.end();
  return member ? 3 : 0;
}

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Walks the resolved path from / by descriptor; the folder's descriptor (O_PATH), or nothing
// with the problem in *problem.
std::optional<platform::OwnedFd> Walk(const std::string& path, FolderProblem* problem) {
  platform::OwnedFd at(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  std::string shown;
  for (std::size_t start = 1; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    shown += "/" + name;
    platform::OwnedFd next(openat(at.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!next.valid() || fstat(next.get(), &st) != 0) {
      *problem = {shown, Say(_("%@ cannot be looked at: %@"), {shown, platform::ErrnoText(errno)})};
      return std::nullopt;
    }
    if (!S_ISDIR(st.st_mode)) {
      *problem = {shown, S_ISLNK(st.st_mode)
                             ? Say(_("%@ became a symbolic link while it was checked."), {shown})
                             : Say(_("%@ is not a folder."), {shown})};
      return std::nullopt;
    }
    at = std::move(next);
  }
  return at;
}

// The bits the class at `shift` lacks for the folder: read and search, and write for uploads.
mode_t Missing(const struct stat& st, int shift, bool uploads) {
  const mode_t wanted = (uploads ? 07 : 05) << shift;
  return wanted & ~st.st_mode;
}

}  // namespace

FolderCheck CheckFolderAccess(const std::string& folder, bool uploads,
                              const std::string& server_user) {
  FolderCheck check;
  check.server_user = server_user;
  const std::optional<Account> account = LookUp(server_user);
  if (!account) {
    check.problems.push_back({"", Say(_("The server's user %@ does not exist."), {server_user})});
    return check;
  }
  if (folder.empty() || folder[0] != '/') {
    check.problems.push_back({folder, Say(_("\"%@\" is not a full path."), {folder})});
    return check;
  }
  char resolved[PATH_MAX];
  if (realpath(folder.c_str(), resolved) == nullptr) {
    const int error = errno;
    check.problems.push_back(
        {folder, error == ENOENT ? Say(_("%@ does not exist."), {folder})
                 : error == ENOTDIR
                     ? Say(_("%@ is not a folder."), {folder})
                     : Say(_("%@ cannot be looked at: %@"), {folder, platform::ErrnoText(error)})});
    return check;
  }
  FolderProblem problem;
  std::optional<platform::OwnedFd> fd = Walk(resolved, &problem);
  struct stat st;
  if (fd && fstat(fd->get(), &st) != 0) {
    problem = {resolved,
               Say(_("%@ cannot be looked at: %@"), {resolved, platform::ErrnoText(errno)})};
    fd.reset();
  }
  if (!fd) {
    check.problems.push_back(problem);
    return check;
  }
  if (account->uid == 0) return check;

  const int shift = ClassShift(st, *account);
  const mode_t missing = Missing(st, shift, uploads);
  if (missing == 0) return check;
  const std::string head = Say(_("%@ is %@ and owned by %@: %@"),
                               {resolved, Octal(st.st_mode), NameOfUser(st.st_uid), server_user});
  if (missing & (05 << shift)) {
    const bool search = missing & (01 << shift), read = missing & (04 << shift);
    check.problems.push_back({resolved, head + " " +
                                            (search && read ? _("cannot enter it nor read it")
                                             : search       ? _("cannot enter it")
                                                            : _("cannot read it"))});
  }
  if (missing & (02 << shift))
    check.problems.push_back({resolved, head + " " + _("cannot write to it, so uploads fail")});

  std::string mode = shift == 6 ? "u+" : shift == 3 ? "g+" : "o+";
  mode += uploads ? "rwx" : "rx";
  check.fix_path = resolved;
  check.fix_mode = mode;
  check.fixable_by_user = st.st_uid == geteuid();
  if (!check.fixable_by_user) check.fix_command = {"sudo", "chmod", mode, resolved};
  return check;
}

bool FixFolderAccess(const FolderCheck& check, bool uploads, std::string* err) {
  auto fail = [err](std::string why) {
    if (err) *err = std::move(why);
    return false;
  };
  if (check.problems.empty()) return true;
  if (check.fix_path.empty()) return fail(check.problems.front().problem);
  const std::optional<Account> account = LookUp(check.server_user);
  FolderProblem problem;
  std::optional<platform::OwnedFd> parent = Walk(check.fix_path, &problem);
  if (!account || !parent) return fail(account ? problem.problem : check.problems.front().problem);
  // fchmod needs a descriptor opened for real, not O_PATH; reopened without following a link.
  platform::OwnedFd fd(openat(parent->get(), ".", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0)
    return fail(Say(_("%@ cannot be opened: %@"), {check.fix_path, platform::ErrnoText(errno)}));
  if (st.st_uid != geteuid())
    return fail(Say(_("%@ is not yours; it takes: %@"),
                    {check.fix_path, "sudo chmod " + check.fix_mode + " " + check.fix_path}));
  const mode_t missing = Missing(st, ClassShift(st, *account), uploads);
  if (missing != 0 && fchmod(fd.get(), (st.st_mode & 07777) | missing) != 0)
    return fail(Say(_("%@ cannot be changed: %@"), {check.fix_path, platform::ErrnoText(errno)}));
  return true;
}

}  // namespace tftpc
