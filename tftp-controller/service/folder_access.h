// folder_access.h — can the server's user reach, read (and write) the served folder?
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
};
FolderCheck CheckFolderAccess(const std::string& folder, bool uploads,
                              const std::string& server_user = "nobody");
bool FixFolderAccess(const FolderCheck& check, bool uploads, std::string* err);  // as the user

}  // namespace tftpc
