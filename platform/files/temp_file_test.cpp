#include "platform/files/temp_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "tests/scratch_folder.h"

namespace platform {
namespace {

// A scratch folder, held open as the replacement code holds the target's folder.
class Folder : public test_support::ScratchFolder {
 public:
  Folder()
      : ScratchFolder("temp_file_test"),
        fd_(open(path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~Folder() { close(fd_); }
  int fd() const { return fd_; }
  std::string Read(const std::string& name) const {
    std::ostringstream s;
    s << std::ifstream(File(name), std::ios::binary).rdbuf();
    return s.str();
  }

 private:
  int fd_;
};

using Kind = TempFile::Kind;
using Outcome = TempFile::Outcome;

TEST(TempFile, UnnamedFileHasNoNameUntilInstalled) {
  Folder dir;
  std::string err;
  auto temp = TempFile::Create(dir.fd(), "conf", 0600, Kind::kUnnamed);
  ASSERT_TRUE(temp);
  EXPECT_EQ(temp->kind(), Kind::kUnnamed);
  ASSERT_TRUE(temp->Fill("written", nullptr, &err)) << err;
  EXPECT_EQ(dir.Names(), std::set<std::string>{});
  ASSERT_EQ(temp->Install(&err), Outcome::kInstalled) << err;
  temp.reset();
  EXPECT_EQ(dir.Names(), std::set<std::string>{"conf"});
  EXPECT_EQ(dir.Read("conf"), "written");

  // Given up before it is installed: the old file stays and nothing else appears.
  temp = TempFile::Create(dir.fd(), "conf", 0600, Kind::kUnnamed);
  ASSERT_TRUE(temp);
  ASSERT_TRUE(temp->Fill("abandoned", nullptr, &err)) << err;
  temp.reset();
  EXPECT_EQ(dir.Names(), std::set<std::string>{"conf"});
  EXPECT_EQ(dir.Read("conf"), "written");
}

TEST(TempFile, NamedFileIsHiddenAndRemovedUnlessInstalled) {
  Folder dir;
  std::string err;
  // Hidden, and with a dot, so that readers of a whole folder (xinetd's includedir) skip it;
  // cut so that the longest names still leave room for the suffix.
  const std::string longest(255, 'n');
  const std::pair<std::string, std::string> cases[] = {
      {"tftp", R"(\.tftp\.tmp[0-9a-f]{16})"},
      {longest, R"(\.n{200}\.tmp[0-9a-f]{16})"},
  };
  for (const auto& [name, pattern] : cases) {
    auto temp = TempFile::Create(dir.fd(), name, 0600, Kind::kNamed);
    ASSERT_TRUE(temp);
    EXPECT_EQ(temp->kind(), Kind::kNamed);
    std::set<std::string> names = dir.Names();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(std::regex_match(*names.begin(), std::regex(pattern))) << *names.begin();
    temp.reset();
    EXPECT_EQ(dir.Names(), std::set<std::string>{});
  }
  // Two at once get different names.
  auto a = TempFile::Create(dir.fd(), "tftp", 0600, Kind::kNamed);
  auto b = TempFile::Create(dir.fd(), "tftp", 0600, Kind::kNamed);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(dir.Names().size(), 2u);
  ASSERT_TRUE(b->Fill("b", nullptr, &err)) << err;
  ASSERT_EQ(b->Install(&err), Outcome::kInstalled) << err;
  a.reset();
  EXPECT_EQ(dir.Names(), std::set<std::string>{"tftp"});
  EXPECT_EQ(dir.Read("tftp"), "b");
}

TEST(TempFile, RenamesOnlyTheFileItWrote) {
  Folder dir;
  std::string err;
  std::ofstream(dir.File("conf")) << "original";
  auto temp = TempFile::Create(dir.fd(), "conf", 0600, Kind::kNamed);
  ASSERT_TRUE(temp);
  ASSERT_TRUE(temp->Fill("ours", nullptr, &err)) << err;
  // Someone moves our file away and puts another in its place.
  std::string name;
  for (const std::string& n : dir.Names())
    if (n != "conf") name = n;
  ASSERT_EQ(rename(dir.File(name).c_str(), dir.File("moved").c_str()), 0);
  std::ofstream(dir.File(name)) << "theirs";
  EXPECT_EQ(temp->Install(&err), Outcome::kFailed);
  EXPECT_EQ(err, "the temporary file was replaced");
  EXPECT_EQ(dir.Read("conf"), "original");
}

TEST(TempFile, UnnamedFileThatCannotBeNamedAsksForANamedOne) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  Folder dir;
  ASSERT_EQ(fchmod(dir.fd(), 0777), 0);
  // Without /proc, and with credentials other than those that opened the file, neither way of
  // naming it is open: the caller is told to write a named file instead.
  pid_t pid = fork();
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount("tmpfs", "/proc", "tmpfs", 0, "size=4k") != 0)
      _exit(77);
    auto temp = TempFile::Create(dir.fd(), "conf", 0600, Kind::kUnnamed);
    std::string err;
    if (!temp || !temp->Fill("x", nullptr, &err)) _exit(10);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(11);
    if (temp->Install(&err) != Outcome::kNotNameable) _exit(12);
    if (err != "naming the temporary file: No such file or directory") _exit(13);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(dir.Names(), std::set<std::string>{});
}

}  // namespace
}  // namespace platform
