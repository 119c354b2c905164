#include "platform/files/lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/files/io.h"

namespace platform {
namespace {

class LockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/file_lock_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/conf";
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
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // A second process that takes the lock, says so, and holds it until told to go.
  void StartContender() {
    child_ = fork();
    if (child_ != 0) return;
    std::string err;
    auto lock = FileLock::Acquire(path_, &err);
    char c = lock ? 'L' : 'E';
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
  // Waits (without a deadline that could fail a slow machine early) until the kernel shows a
  // process blocked on an flock of the file with this inode.
  static bool SomeoneWaitsFor(ino_t ino) {
    const std::string needle = ":" + std::to_string(ino) + " ";
    for (int i = 0; i < 6000; ++i) {
      std::ifstream locks("/proc/locks");
      for (std::string line; std::getline(locks, line);)
        if (line.find("-> FLOCK") != std::string::npos && line.find(needle) != std::string::npos)
          return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  ino_t Inode() {
    struct stat st {};
    EXPECT_EQ(stat(path_.c_str(), &st), 0);
    return st.st_ino;
  }

  std::string dir_, path_;
  int to_parent_[2] = {-1, -1}, to_child_[2] = {-1, -1};
  pid_t child_ = -1;
};

TEST_F(LockTest, SecondProcessWaitsUntilTheFirstReleases) {
  std::string err;
  auto lock = FileLock::Acquire(path_, &err);
  ASSERT_TRUE(lock) << err;
  StartContender();
  ASSERT_TRUE(SomeoneWaitsFor(Inode()));
  EXPECT_FALSE(ContenderHasLock());
  // Moving the lock keeps it held.
  std::optional<FileLock> moved = std::move(lock);
  lock.reset();
  EXPECT_FALSE(ContenderHasLock());
  moved.reset();
  EXPECT_EQ(ContenderAnswer(), 'L');
  EXPECT_EQ(EndContender(), 0);
  // Released again: we lock at once.
  EXPECT_TRUE(FileLock::Acquire(path_, &err)) << err;
}

TEST_F(LockTest, WaiterLocksTheFileThatReplacedTheOneItWaitedFor) {
  std::string err;
  auto lock = FileLock::Acquire(path_, &err);
  ASSERT_TRUE(lock) << err;
  const ino_t old_ino = Inode();
  int old_fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  StartContender();
  ASSERT_TRUE(SomeoneWaitsFor(old_ino));
  ASSERT_TRUE(ReplaceFileAtomically(path_, "replaced", &err)) << err;
  ASSERT_NE(Inode(), old_ino);
  lock.reset();
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

TEST_F(LockTest, RefusesWhatCannotBeLocked) {
  std::string err;
  EXPECT_FALSE(FileLock::Acquire(dir_ + "/missing", &err));
  EXPECT_EQ(err, "cannot lock " + dir_ + "/missing: No such file or directory");
  // A FIFO neither stalls the open nor is locked.
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  EXPECT_FALSE(FileLock::Acquire(dir_ + "/fifo", &err));
  EXPECT_EQ(err, "cannot lock " + dir_ + "/fifo: not a regular file");
}

}  // namespace
}  // namespace platform
