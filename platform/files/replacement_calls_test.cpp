// What a replacement does at the system calls it makes. This test program is linked with
// --wrap for fchmod, fsetxattr, fremovexattr and linkat: every such call of the units under
// test comes here first, to be watched, or (linkat) refused as an older kernel refuses it.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/files/edited_file.h"
#include "platform/files/io.h"
#include "platform/files/replacers_testing.h"
#include "tests/posix_acl.h"
#include "tests/scratch_folder.h"

namespace {

// The mode and access ACL a regular file had each time its ACL or mode was about to change.
struct Seen {
  mode_t mode;
  std::string acl;
};
std::atomic<bool> watching{false};
std::mutex seen_lock;
std::vector<Seen> seen;

void Look(int fd) {
  struct stat st;
  if (!watching || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  char buf[4096];
  ssize_t n = fgetxattr(fd, test_support::kAccessAcl, buf, sizeof buf);
  std::lock_guard<std::mutex> hold(seen_lock);
  seen.push_back({st.st_mode, n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : ""});
}

// Linking an open file by its descriptor (AT_EMPTY_PATH) refused with EPERM, as kernels that
// allow it only to holders of CAP_DAC_READ_SEARCH may; and the links made through /proc.
std::atomic<bool> refuse_descriptor_links{false};
std::atomic<int> refused{0}, proc_links{0};

}  // namespace

extern "C" int __real_fchmod(int fd, mode_t mode);
extern "C" int __wrap_fchmod(int fd, mode_t mode) {
  Look(fd);
  return __real_fchmod(fd, mode);
}
extern "C" int __real_fsetxattr(int fd, const char* name, const void* value, size_t size,
                                int flags);
extern "C" int __wrap_fsetxattr(int fd, const char* name, const void* value, size_t size,
                                int flags) {
  Look(fd);
  return __real_fsetxattr(fd, name, value, size, flags);
}
extern "C" int __real_fremovexattr(int fd, const char* name);
extern "C" int __wrap_fremovexattr(int fd, const char* name) {
  Look(fd);
  return __real_fremovexattr(fd, name);
}
extern "C" int __real_linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath,
                             int flags);
extern "C" int __wrap_linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath,
                             int flags) {
  if (refuse_descriptor_links && (flags & AT_EMPTY_PATH) != 0) {
    ++refused;
    errno = EPERM;
    return -1;
  }
  const int r = __real_linkat(olddirfd, oldpath, newdirfd, newpath, flags);
  if (r == 0 && std::string_view(oldpath).starts_with("/proc/self/fd/")) ++proc_links;
  return r;
}

namespace platform {
namespace {

using replacers_testing::kReplacers;
using replacers_testing::Slurp;

// The new file of an existing file is created 0600 and stays so (an ACL inherited from the
// folder masked to nothing) until it takes the old file's ACL and mode: whatever the umask and
// the folder's default ACL, nobody else may open it even for a moment.
TEST(ReplacementCalls, TheNewFileIsNoWiderThan0600UntilItTakesTheOldMode) {
  using test_support::AclEntry;
  const std::string everyone_all = test_support::AclValue({{AclEntry::kOwner, 7},
                                                           {AclEntry::kUser, 7, 4321},
                                                           {AclEntry::kOwningGroup, 7},
                                                           {AclEntry::kMask, 7},
                                                           {AclEntry::kOther, 7}});
  for (const auto& [how, replace] : kReplacers) {
    for (mode_t mask : {0, 022}) {
      for (bool default_acl : {false, true}) {
        for (mode_t mode : {0600, 0640, 0666}) {
          SCOPED_TRACE(std::string(how) + ", umask " + std::to_string(mask) +
                       (default_acl ? ", default ACL" : "") + ", mode " + std::to_string(mode));
          const test_support::ScratchFolder folder("replacement_calls_test");
          const std::string conf = folder.File("conf");
          std::ofstream(conf) << "old";
          ASSERT_EQ(chmod(conf.c_str(), mode), 0);
          if (default_acl && setxattr(folder.path().c_str(), test_support::kDefaultAcl,
                                      everyone_all.data(), everyone_all.size(), 0) != 0) {
            ASSERT_EQ(errno, EOPNOTSUPP) << "no ACLs here";
            continue;
          }
          seen.clear();
          const mode_t old_mask = umask(mask);
          watching = true;
          std::string err;
          const bool replaced = replace(conf, "new", &err);
          watching = false;
          umask(old_mask);
          ASSERT_TRUE(replaced) << err;
          ASSERT_FALSE(seen.empty()) << "neither ACL nor mode was set";
          for (const Seen& s : seen)
            EXPECT_TRUE(test_support::NoWiderThan0600(s.mode, s.acl)) << std::oct << s.mode;
          struct stat st;
          ASSERT_EQ(stat(conf.c_str(), &st), 0);
          EXPECT_EQ(st.st_mode & 07777, mode);
          EXPECT_EQ(test_support::AccessAclOf(conf), "");
          EXPECT_EQ(Slurp(conf), "new");
        }
      }
    }
  }
}

// Where the descriptor itself may not be linked (EPERM), the unnamed file is named through
// /proc/self/fd, once, and written only once.
TEST(ReplacementCalls, ADescriptorLinkRefusedWithEpermIsMadeThroughProc) {
  for (const auto& [how, replace] : kReplacers) {
    if (std::string_view(how) == "named") continue;
    SCOPED_TRACE(how);
    const test_support::ScratchFolder folder("replacement_calls_test");
    const std::string conf = folder.File("conf");
    std::ofstream(conf) << "old";
    refused = 0;
    proc_links = 0;
    refuse_descriptor_links = true;
    std::string err;
    const bool replaced = replace(conf, "new", &err);
    refuse_descriptor_links = false;
    ASSERT_TRUE(replaced) << err;
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(proc_links, 1);
    EXPECT_EQ(Slurp(conf), "new");
    EXPECT_EQ(folder.Names(), std::set<std::string>{"conf"});
  }
}

}  // namespace
}  // namespace platform
