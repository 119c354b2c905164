#include "tftp-controller/service/folder_access.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tftpc {
namespace {

constexpr uid_t kSomeoneElse = 1234;
constexpr gid_t kNogroup = 65534;  // nobody's group on Debian

// A scratch tree judged for nobody: what is wrong, whether the caller may mend it, and what the
// mend leaves. Rows that give a file away or to nobody's group need root.
TEST(FolderAccess, JudgesTheServedFolderForNobody) {
  char tmpl[] = "/tmp/folder_access_test.XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string top = tmpl;
  chmod(top.c_str(), 0755);
  const bool root = geteuid() == 0;
  struct Case {
    const char* name;
    const char* folder;  // under top
    mode_t mode;
    bool uploads;
    bool others;          // the folder given to someone else
    bool nogroup;         // the folder's group is nobody's
    const char* problem;  // a part of the first problem; empty: none
    std::size_t count;    // problems
    bool fixable;
    const char* fix_mode;
    mode_t fixed;  // the mode after FixFolderAccess (when fixable)
  } cases[] = {
      {"fine", "a", 0755, false, false, false, "", 0, false, "", 0755},
      {"closed", "b", 0700, false, false, false,
       "is 0700 and owned by root: nobody cannot enter "
       "it nor read it",
       1, true, "o+rx", 0705},
      {"no search", "c", 0744, false, false, false, "nobody cannot enter it", 1, true, "o+rx",
       0745},
      {"no read", "d", 0711, false, false, false, "nobody cannot read it", 1, true, "o+rx", 0715},
      {"uploads", "e", 0755, true, false, false, "nobody cannot write to it, so uploads fail", 1,
       true, "o+rwx", 0757},
      {"uploads, closed", "f", 0700, true, false, false, "cannot enter it nor read it", 2, true,
       "o+rwx", 0707},
      {"nobody's group", "g", 0750, true, false, true, "cannot write to it", 1, true, "g+rwx",
       0770},
      {"nobody's group, fine", "h", 0750, false, false, true, "", 0, false, "", 0750},
      {"someone else's", "i", 0700, false, true, false, "owned by 1234", 1, false, "o+rx", 0700},
      {"below a closed folder of someone else's", "j/deep", 0755, false, false, false, "", 0, false,
       "", 0755},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!root && (c.others || c.nogroup || std::string(c.folder).find('/') != std::string::npos))
      continue;
    const std::string folder = top + "/" + c.folder;
    std::filesystem::create_directories(folder);
    ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
    if (c.nogroup) {
      ASSERT_EQ(chown(folder.c_str(), -1, kNogroup), 0);
    }
    if (c.others) {
      ASSERT_EQ(chown(folder.c_str(), kSomeoneElse, -1), 0);
    }
    if (std::string(c.name).starts_with("below")) {
      const std::string above = top + "/j";
      ASSERT_EQ(chmod(above.c_str(), 0700), 0);
      ASSERT_EQ(chown(above.c_str(), kSomeoneElse, kSomeoneElse), 0);
    }
    const FolderCheck check = CheckFolderAccess(folder, c.uploads);
    ASSERT_EQ(check.problems.size(), c.count);
    if (c.count == 0) continue;
    std::string problem = check.problems[0].problem;
    if (root) {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    } else {  // owned by the caller, not root: the words but the owner's name
      EXPECT_NE(problem.find(std::string(c.problem).substr(0, 8)), std::string::npos) << problem;
    }
    EXPECT_EQ(check.problems[0].path, folder);
    EXPECT_EQ(check.fixable_by_user, c.fixable);
    EXPECT_EQ(check.fix_mode, c.fix_mode);
    std::string err;
    if (!c.fixable) {
      EXPECT_EQ(check.fix_command, (std::vector<std::string>{"sudo", "chmod", c.fix_mode, folder}));
      EXPECT_FALSE(FixFolderAccess(check, c.uploads, &err));
      EXPECT_NE(err.find("is not yours; it takes: sudo chmod"), std::string::npos) << err;
    } else {
      EXPECT_TRUE(check.fix_command.empty());
      ASSERT_TRUE(FixFolderAccess(check, c.uploads, &err)) << err;
      EXPECT_TRUE(CheckFolderAccess(folder, c.uploads).problems.empty());
    }
    struct stat st;
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.fixed);
  }

  // What no chmod mends: the words name the path.
  std::ofstream(top + "/file") << "x";
  std::filesystem::create_directory_symlink(top + "/b", top + "/link");
  struct Odd {
    std::string folder, user, problem;
  } odd[] = {
      {top + "/missing", "nobody", top + "/missing does not exist."},
      {top + "/file", "nobody", top + "/file is not a folder."},
      {top + "/file/below", "nobody", top + "/file/below is not a folder."},
      {"srv/tftp", "nobody", "\"srv/tftp\" is not a full path."},
      {top + "/a", "no-such-user-here", "The server's user no-such-user-here does not exist."},
  };
  for (const Odd& o : odd) {
    SCOPED_TRACE(o.folder);
    const FolderCheck check = CheckFolderAccess(o.folder, false, o.user);
    ASSERT_EQ(check.problems.size(), 1u);
    EXPECT_EQ(check.problems[0].problem, o.problem);
    EXPECT_FALSE(check.fixable_by_user);
    EXPECT_TRUE(check.fix_command.empty());
    std::string err;
    EXPECT_FALSE(FixFolderAccess(check, false, &err));
    EXPECT_EQ(err, o.problem);
  }
  // A link is judged by the folder it leads to, named as such; root itself is never refused.
  ASSERT_EQ(chmod((top + "/b").c_str(), 0700), 0);
  const FolderCheck linked = CheckFolderAccess(top + "/link", false);
  ASSERT_EQ(linked.problems.size(), 1u);
  EXPECT_EQ(linked.problems[0].path, top + "/b");
  EXPECT_TRUE(CheckFolderAccess(top + "/link", true, "root").problems.empty());
  std::filesystem::remove_all(top);
}

}  // namespace
}  // namespace tftpc
