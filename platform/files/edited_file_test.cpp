#include "platform/files/edited_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "platform/files/io.h"
#include "tests/as_nobody.h"
#include "tests/posix_acl.h"
#include "tests/scratch_folder.h"

namespace platform {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kLongWait(20000);

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::optional<EditedFile> OpenFile(const std::string& path, std::string* err,
                                   milliseconds wait = kLongWait,
                                   EditedFile::Failure* failure = nullptr) {
  EditedFile::Failure ignored;
  return EditedFile::Open(path, wait, failure ? failure : &ignored, err);
}

class EditedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(path_) << "original";
    ASSERT_EQ(pipe2(to_parent_, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(to_child_, O_CLOEXEC), 0);
  }
  void TearDown() override {
    for (int fd : {to_parent_[0], to_parent_[1], to_child_[0], to_child_[1]}) close(fd);
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
  }

  // A second process that opens the file for editing, says whether it got it ('L' or 'E'),
  // and holds it until told to go.
  void StartContender() {
    child_ = fork();
    if (child_ != 0) return;
    std::string err;
    auto file = OpenFile(path_, &err);
    char c = file ? 'L' : 'E';
    if (write(to_parent_[1], &c, 1) != 1 || read(to_child_[0], &c, 1) != 1) _exit(2);
    _exit(0);
  }
  bool ContenderHasLock() {
    pollfd p{to_parent_[0], POLLIN, 0};
    return poll(&p, 1, 0) == 1;
  }
  char ContenderAnswer() {
    char c = '?';
    return read(to_parent_[0], &c, 1) == 1 ? c : '?';
  }
  int EndContender() {
    char c = 'x';
    EXPECT_EQ(write(to_child_[1], &c, 1), 1);
    int status = -1;
    waitpid(child_, &status, 0);
    child_ = -1;
    return status;
  }
  // Waits until the contender holds the file with this inode open (and so waits for its lock).
  bool ContenderHasOpen(ino_t ino) {
    const std::string fds = "/proc/" + std::to_string(child_) + "/fd";
    for (int i = 0; i < 4000; ++i) {
      std::error_code ec;
      for (const auto& e : std::filesystem::directory_iterator(fds, ec)) {
        struct stat st;
        if (stat(e.path().c_str(), &st) == 0 && st.st_ino == ino) return true;
      }
      std::this_thread::sleep_for(milliseconds(5));
    }
    return false;
  }
  ino_t Inode() {
    struct stat st {};
    EXPECT_EQ(stat(path_.c_str(), &st), 0);
    return st.st_ino;
  }
  std::set<std::string> Names() const { return folder_.Names(); }

  const test_support::ScratchFolder folder_{"edited_file_test"};
  const std::string dir_ = folder_.path(), path_ = folder_.File("conf");
  int to_parent_[2] = {-1, -1}, to_child_[2] = {-1, -1};
  pid_t child_ = -1;
};

TEST_F(EditedFileTest, SecondProcessWaitsUntilTheFirstReleases) {
  std::string err;
  auto file = OpenFile(path_, &err);
  ASSERT_TRUE(file) << err;
  EXPECT_EQ(file->Read(&err), "original");
  StartContender();
  ASSERT_TRUE(ContenderHasOpen(Inode()));
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_FALSE(ContenderHasLock());
  // Moving the file keeps it locked.
  std::optional<EditedFile> moved = std::move(file);
  file.reset();
  EXPECT_FALSE(ContenderHasLock());
  moved.reset();
  EXPECT_EQ(ContenderAnswer(), 'L');
  EXPECT_EQ(EndContender(), 0);
  EXPECT_TRUE(OpenFile(path_, &err)) << err;  // released again: at once
}

TEST_F(EditedFileTest, WaiterLocksTheFileThatReplacedTheOneItWaitedFor) {
  std::string err;
  auto file = OpenFile(path_, &err);
  ASSERT_TRUE(file) << err;
  const ino_t old_ino = Inode();
  int old_fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  StartContender();
  ASSERT_TRUE(ContenderHasOpen(old_ino));
  ASSERT_TRUE(file->Replace("replaced", &err)) << err;
  ASSERT_NE(Inode(), old_ino);
  file.reset();
  EXPECT_EQ(ContenderAnswer(), 'L');
  // The contender holds the new file, not the old one.
  int new_fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(flock(new_fd, LOCK_EX | LOCK_NB), -1);
  EXPECT_EQ(errno, EWOULDBLOCK);
  EXPECT_EQ(flock(old_fd, LOCK_EX | LOCK_NB), 0);
  close(new_fd);
  close(old_fd);
  EXPECT_EQ(EndContender(), 0);
}

TEST_F(EditedFileTest, GivesUpOnALockHeldTooLong) {
  int holder = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(holder, LOCK_SH), 0);  // a reader's lock is enough to keep us out
  std::string err;
  EditedFile::Failure failure;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(OpenFile(path_, &err, milliseconds(300), &failure));
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(300));
  EXPECT_EQ(failure, EditedFile::Failure::kBusy);
  EXPECT_EQ(err, "cannot lock " + path_ + ": the file is locked by another process");
  close(holder);
  EXPECT_EQ(Slurp(path_), "original");
}

TEST_F(EditedFileTest, RefusesWhatIsNoFileToEdit) {
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);  // must not stall the open
  ASSERT_EQ(mkdir((dir_ + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("loop", (dir_ + "/loop").c_str()), 0);
  const std::pair<std::string, std::string> cases[] = {
      {dir_ + "/missing", dir_ + "/missing: No such file or directory"},
      {dir_ + "/nofolder/x", dir_ + "/nofolder: No such file or directory"},
      {dir_ + "/fifo", dir_ + "/fifo: not a regular file"},
      {dir_ + "/sub", dir_ + "/sub: not a regular file"},
      {dir_ + "/sub/..", dir_ + "/sub/..: not a regular file"},
      {dir_ + "/loop", dir_ + "/loop: Too many levels of symbolic links"},
  };
  for (const auto& [path, message] : cases) {
    std::string err;
    EditedFile::Failure failure;
    EXPECT_FALSE(OpenFile(path, &err, kLongWait, &failure)) << path;
    EXPECT_EQ(failure, EditedFile::Failure::kUnusable) << path;
    EXPECT_EQ(err, message);
  }
}

// Links are followed step by step to the file, which is replaced; the links stay. In a sticky
// folder anyone may write to, only a link of ours or of the folder's owner is followed.
TEST_F(EditedFileTest, FollowsLinksOnlyWhereTheKernelWould) {
  if (geteuid() != 0) GTEST_SKIP() << "links of other users need root";
  const std::string shared = dir_ + "/shared";
  ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(chown(shared.c_str(), 4321, 4321), 0);
  struct Case {
    uid_t link_owner;
    bool followed;
  };
  for (const Case& c : {Case{0, true}, Case{4321, true}, Case{5555, false}}) {
    SCOPED_TRACE(c.link_owner);
    std::ofstream(path_) << "original";
    const std::string link = shared + "/link";
    unlink(link.c_str());
    ASSERT_EQ(symlink(path_.c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), c.link_owner, c.link_owner), 0);
    std::string err;
    auto file = OpenFile(link, &err);
    EXPECT_EQ(file.has_value(), c.followed) << err;
    if (file) {
      EXPECT_EQ(file->Read(&err), "original");
      EXPECT_TRUE(file->Replace("edited", &err)) << err;
      EXPECT_EQ(Slurp(path_), "edited");
    } else {
      EXPECT_NE(err.find("is not followed"), std::string::npos) << err;
      EXPECT_EQ(Slurp(path_), "original");
    }
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
  }
}

// Between the read and the write the name is taken by something else: a link to a file
// elsewhere, or (renameat2 RENAME_EXCHANGE) a private file of root's. Nothing is written, the
// file taking the name keeps its contents, and nothing is left behind.
TEST_F(EditedFileTest, NeverWritesANameThatNoLongerDenotesTheLockedFile) {
  const std::string victim = dir_ + "/victim";
  const std::string secret = dir_ + "/secret";
  struct Case {
    const char* what;
    std::function<void()> swap;
    std::string now_named;  // what the name holds afterwards
  };
  const Case cases[] = {
      {"link",
       [&] {
         ASSERT_EQ(rename(path_.c_str(), (dir_ + "/old").c_str()), 0);
         ASSERT_EQ(symlink(victim.c_str(), path_.c_str()), 0);
       },
       "victim"},
      {"exchange",
       [&] {
         ASSERT_EQ(renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, secret.c_str(), RENAME_EXCHANGE),
                   0);
       },
       "secret"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_);
    ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0);
    std::ofstream(path_) << "original";
    std::ofstream(victim) << "victim";
    std::ofstream(secret) << "secret";
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    std::string err;
    auto file = OpenFile(path_, &err);
    ASSERT_TRUE(file) << err;
    ASSERT_EQ(file->Read(&err), "original");
    c.swap();
    const std::set<std::string> before = Names();
    EXPECT_FALSE(file->Replace("edited", &err));
    EXPECT_NE(err.find("was replaced or removed while it was edited"), std::string::npos) << err;
    EXPECT_EQ(Slurp(path_), c.now_named);
    EXPECT_EQ(Slurp(victim), "victim");
    EXPECT_EQ(Names(), before) << "something was written or left behind";
  }
}

// The file is held by descriptors: its folder renamed after it was opened changes nothing.
TEST_F(EditedFileTest, AFolderRenamedMeanwhileChangesNothing) {
  ASSERT_EQ(mkdir((dir_ + "/a").c_str(), 0755), 0);
  std::ofstream(dir_ + "/a/conf") << "original";
  std::string err;
  auto file = OpenFile(dir_ + "/a/conf", &err);
  ASSERT_TRUE(file) << err;
  ASSERT_EQ(rename((dir_ + "/a").c_str(), (dir_ + "/b").c_str()), 0);
  ASSERT_EQ(mkdir((dir_ + "/a").c_str(), 0755), 0);  // a new folder under the old name
  EXPECT_EQ(file->Read(&err), "original");
  EXPECT_TRUE(file->Replace("edited", &err)) << err;
  EXPECT_EQ(Slurp(dir_ + "/b/conf"), "edited");
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/a/conf"));
}

bool ThroughEditedFile(const std::string& path, std::string_view contents, std::string* err) {
  auto file = OpenFile(path, err);
  return file && file->Replace(contents, err);
}

// Root's file in a folder a user owns, whose default ACL gives that user everything. Whichever
// way it is replaced, the new file carries exactly the old one's access ACL (or none), never
// the folder's default: the user reads and writes it no more than before.
TEST(ReplacementAcl, IsTheOldFilesNeverTheFoldersDefault) {
  if (geteuid() != 0) GTEST_SKIP() << "a file of root's in another user's folder needs root";
  using test_support::AclEntry;
  using test_support::kNobody;
  const std::string everything = test_support::AclValue({{AclEntry::kOwner, 7},
                                                         {AclEntry::kUser, 7, kNobody},
                                                         {AclEntry::kOwningGroup, 5},
                                                         {AclEntry::kMask, 7},
                                                         {AclEntry::kOther, 5}});
  const std::string nobody_reads = test_support::AclValue({{AclEntry::kOwner, 6},
                                                           {AclEntry::kUser, 4, kNobody},
                                                           {AclEntry::kOwningGroup, 4},
                                                           {AclEntry::kMask, 4},
                                                           {AclEntry::kOther, 0}});
  struct Case {
    mode_t mode;
    std::string acl;  // the file's own, before
    int nobody_may;   // 1 read, 2 write
  };
  const Case cases[] = {{0640, "", 0}, {0660, "", 0}, {0600, "", 0}, {0640, nobody_reads, 1}};
  using Replacer = bool (*)(const std::string&, std::string_view, std::string*);
  const std::pair<const char*, Replacer> replacers[] = {{"edited file", ThroughEditedFile},
                                                        {"unnamed", ReplaceFileAtomically},
                                                        {"named", ReplaceFileThroughNamedTemp}};
  for (const auto& [how, replace] : replacers) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(how) + ", mode " + std::to_string(c.mode) +
                   (c.acl.empty() ? "" : " and an ACL"));
      const test_support::ScratchFolder folder("edited_file_test");
      ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
      const std::string users = folder.File("users"), conf = users + "/conf";
      ASSERT_EQ(mkdir(users.c_str(), 0755), 0);
      ASSERT_EQ(chown(users.c_str(), kNobody, kNobody), 0);
      std::ofstream(conf) << "root's secret";  // made before the folder's default ACL
      ASSERT_EQ(setxattr(users.c_str(), test_support::kDefaultAcl, everything.data(),
                         everything.size(), 0),
                0);
      ASSERT_EQ(chmod(conf.c_str(), c.mode), 0);
      if (!c.acl.empty()) {
        ASSERT_EQ(setxattr(conf.c_str(), test_support::kAccessAcl, c.acl.data(), c.acl.size(), 0),
                  0);
      }
      const std::string acl = test_support::AccessAclOf(conf);
      ASSERT_EQ(acl.empty(), c.acl.empty());

      std::string err;
      ASSERT_TRUE(replace(conf, "root's new secret", &err)) << err;
      EXPECT_EQ(Slurp(conf), "root's new secret");
      struct stat st;
      ASSERT_EQ(stat(conf.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, c.mode);
      EXPECT_EQ(test_support::AccessAclOf(conf), acl);
      const int may = test_support::AsNobody([&] {
        int r = open(conf.c_str(), O_RDONLY | O_CLOEXEC),
            w = open(conf.c_str(), O_WRONLY | O_CLOEXEC);
        return (r >= 0 ? 1 : 0) | (w >= 0 ? 2 : 0);
      });
      EXPECT_EQ(may, c.nobody_may);
    }
  }
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

// The spliced replacement: the old file's head and tail around new middle bytes, the owner and
// mode kept, and nothing written when the file no longer holds what was asked for.
TEST(EditedFileSplice, KeepsHeadAndTailAroundTheMiddle) {
  const test_support::ScratchFolder folder("edited_file_splice");
  const std::string path = folder.File("conf");
  struct Case {
    const char* old_text;
    std::uint64_t keep_before;
    const char* middle;
    std::uint64_t keep_from, end;
    const char* expected;  // nullptr: refused, the file unchanged
  } cases[] = {
      {"head\nline\ntail\n", 5, "LINE!\n", 10, 15, "head\nLINE!\ntail\n"},
      {"line\n", 0, "", 5, 5, ""},
      {"a\nb", 2, "c", 3, 3, "a\nc"},
      {"whole", 5, "+", 5, 5, "whole+"},
      {"short", 0, "x", 2, 9, nullptr},  // the file shrank after it was read
  };
  for (const Case& c : cases) {
    { std::ofstream(path, std::ios::binary | std::ios::trunc) << c.old_text; }
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    std::string err;
    std::optional<EditedFile> file = OpenFile(path, &err);
    ASSERT_TRUE(file) << err;
    char probe[4];
    EXPECT_EQ(file->ReadAt(1, probe, sizeof probe, &err),
              std::min<long>(4, static_cast<long>(std::strlen(c.old_text)) - 1));
    const bool ok = file->ReplaceSpliced(c.keep_before, c.middle, c.keep_from, c.end, &err);
    EXPECT_EQ(ok, c.expected != nullptr) << c.old_text << ": " << err;
    EXPECT_EQ(Slurp(path), c.expected ? c.expected : c.old_text);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (!ok) {
      EXPECT_NE(err.find("shrank"), std::string::npos) << err;
    }
  }
  // Nothing but the file is left in the folder.
  std::size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder.path()))
    entries += !e.is_directory();
  EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace platform
