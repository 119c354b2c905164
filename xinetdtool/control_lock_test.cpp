#include "xinetdtool/control_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "tests/scratch_folder.h"

namespace xinetdtool {
namespace {

using std::chrono::milliseconds;
constexpr uid_t kNobody = 65534;

// A folder of root's alone, holding the lock files.
class LockFolder : public test_support::ScratchFolder {
 public:
  LockFolder() : ScratchFolder("xinetdlock") {
    EXPECT_EQ(chmod(path().c_str(), 0755), 0);
    lock_ = File("xinetdtool.lock");
  }
  const std::string& lock() const { return lock_; }
  void Write(mode_t mode, uid_t owner = 0) const {
    FILE* f = std::fopen(lock_.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ASSERT_EQ(chown(lock_.c_str(), owner, owner), 0);
    ASSERT_EQ(chmod(lock_.c_str(), mode), 0);
  }

 private:
  std::string lock_;
};

std::optional<ControlLock> Take(const LockFolder& folder, std::string* reason,
                                milliseconds wait = milliseconds(0)) {
  return ControlLock::Take(folder.path(), "xinetdtool.lock", wait, reason);
}

TEST(ControlLock, TakesOnlyALockFileOfRootsAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "makes files and folders of other users; needs root";
  struct Case {
    const char* name;
    std::function<void(const LockFolder&)> setup;
    std::string refused;  // the reason, % standing for the folder; empty: taken
  };
  const Case cases[] = {
      {"missing", [](const LockFolder&) {}, ""},
      {"left by an earlier run", [](const LockFolder& f) { f.Write(0600); }, ""},
      {"readable by all", [](const LockFolder& f) { f.Write(0644); }, ""},
      {"a link to a file of root's",
       [](const LockFolder& f) {
         f.Write(0600);
         ASSERT_EQ(rename(f.lock().c_str(), f.File("target").c_str()), 0);
         ASSERT_EQ(symlink(f.File("target").c_str(), f.lock().c_str()), 0);
       },
       "cannot open %/xinetdtool.lock: Too many levels of symbolic links"},
      {"a FIFO", [](const LockFolder& f) { ASSERT_EQ(mkfifo(f.lock().c_str(), 0600), 0); },
       "%/xinetdtool.lock is not a regular file"},
      {"a folder", [](const LockFolder& f) { ASSERT_EQ(mkdir(f.lock().c_str(), 0700), 0); },
       "cannot open %/xinetdtool.lock: Is a directory"},
      {"another user's", [](const LockFolder& f) { f.Write(0600, kNobody); },
       "%/xinetdtool.lock is not owned by root"},
      {"writable by others", [](const LockFolder& f) { f.Write(0602); },
       "%/xinetdtool.lock is writable by group or others"},
      {"writable by its group", [](const LockFolder& f) { f.Write(0620); },
       "%/xinetdtool.lock is writable by group or others"},
      {"known by another name too",
       [](const LockFolder& f) {
         f.Write(0600);
         ASSERT_EQ(link(f.lock().c_str(), f.File("other").c_str()), 0);
       },
       "%/xinetdtool.lock has other names"},
      // Anyone else who may change the folder could put a file of theirs in the lock's place
      // while we hold it, or take the name away.
      {"in a folder all may change", [](const LockFolder& f) { chmod(f.path().c_str(), 0777); },
       "the folder % is writable by group or others"},
      {"in a sticky folder", [](const LockFolder& f) { chmod(f.path().c_str(), 01777); },
       "the folder % is writable by group or others"},
      {"in a user's folder", [](const LockFolder& f) { chown(f.path().c_str(), kNobody, 0); },
       "the folder % is not owned by root"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LockFolder folder;
    c.setup(folder);
    std::string reason;
    const std::optional<ControlLock> lock = Take(folder, &reason);
    if (c.refused.empty()) {
      EXPECT_TRUE(lock.has_value()) << reason;
      struct stat st;
      ASSERT_EQ(lstat(folder.lock().c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(st.st_uid, 0u);
      EXPECT_EQ(st.st_mode & 022, 0u);
      continue;
    }
    EXPECT_FALSE(lock.has_value());
    std::string expected = c.refused;
    expected.replace(expected.find('%'), 1, folder.path());
    EXPECT_EQ(reason, expected);
  }
}

TEST(ControlLock, OneHolderAtATime) {
  if (geteuid() != 0) GTEST_SKIP() << "takes a lock in a folder of root's; needs root";
  LockFolder folder;
  std::string reason;
  std::optional<ControlLock> first = Take(folder, &reason);
  ASSERT_TRUE(first.has_value()) << reason;
  // A second holder, even in the same process, waits and gives up.
  EXPECT_FALSE(Take(folder, &reason, milliseconds(100)).has_value());
  EXPECT_EQ(reason, folder.lock() + " is still held by another xinetdtool after 100 ms");

  // A program started while the lock is held does not keep it: the server a start launches
  // would otherwise hold it for its whole life.
  pid_t child = -1;
  const char* argv[] = {"sleep", "30", nullptr};
  ASSERT_EQ(posix_spawn(&child, "/bin/sleep", nullptr, nullptr, const_cast<char**>(argv), environ),
            0);
  // Let go a moment later, while the next holder waits.
  std::thread release([&first] {
    std::this_thread::sleep_for(milliseconds(150));
    first.reset();
  });
  std::optional<ControlLock> second = Take(folder, &reason, milliseconds(5000));
  release.join();
  EXPECT_TRUE(second.has_value()) << reason;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace xinetdtool
