// folder_access.h — can the server's user reach, read (and write) the served folder?
//
// in.tftpd runs with -s: started as root, it changes its root to the served folder and only then
// becomes its user (nobody). The folders above the served one are therefore entered by root, and
// their modes do not matter (a 0700 home folder above it serves fine); they must exist and be
// folders. The served folder itself is what its user meets: it must be able to enter and read
// it, and to write it when uploads (-c) are on. Only the mode bits are judged (owner, group and
// the user's groups, others); an ACL that grants more is not seen.
//
// The path is resolved once (symbolic links followed, as in.tftpd follows them), then walked from
// / one component at a time by descriptor (openat O_PATH|O_NOFOLLOW, fstat), so that what is
// judged is what was opened; a link that appears meanwhile is a problem, never followed.
#pragma once

#include <string>
#include <vector>

namespace tftpc {

struct FolderProblem {
  std::string path;     // the folder or ancestor at fault
  std::string problem;  // exact words: "/home/ann is 0700 and owned by ann: nobody cannot enter it"
};
struct FolderCheck {
  std::vector<FolderProblem> problems;  // empty: fine
  bool fixable_by_user = false;         // every faulty path is the calling user's own
  std::vector<std::string>
      fix_command;  // argv a user with rights would run (chmod ...), shown as text
  // Added: what FixFolderAccess changes (empty: nothing a chmod can mend), and for whom.
  std::string fix_path;     // the folder as resolved
  std::string fix_mode;     // chmod's words: "o+rx", "g+rwx", ...
  std::string server_user;  // as given to CheckFolderAccess
};
FolderCheck CheckFolderAccess(const std::string& folder, bool uploads,
                              const std::string& server_user = "nobody");
// Adds the missing bits to the folder (fchmod on a descriptor opened without following a link),
// when it is still the calling user's own; false with the reason in *err.
bool FixFolderAccess(const FolderCheck& check, bool uploads, std::string* err);  // as the user

}  // namespace tftpc
