#include "platform/files/path_steps.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/scratch_folder.h"

namespace platform {
namespace {

TEST(PathSteps, SplitPathAndReadLinkAt) {
  const std::pair<std::string, std::pair<std::string, std::string>> splits[] = {
      {"a/b", {"a", "b"}}, {"b", {".", "b"}}, {"/b", {"/", "b"}}, {"/a/b", {"/a", "b"}}};
  for (const auto& [path, parts] : splits) EXPECT_EQ(SplitPath(path), parts) << path;

  // Targets around the first buffer's size (256) and its doublings are read whole.
  const test_support::ScratchFolder folder("path_steps_test");
  OwnedFd dir(open(folder.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  for (std::size_t size : {1, 255, 256, 257, 511, 512, 513, 4095}) {
    std::string target;
    for (std::size_t i = 0; i < size; ++i) target += static_cast<char>('a' + i % 26);
    const std::string name = "link" + std::to_string(size);
    ASSERT_EQ(symlink(target.c_str(), folder.File(name).c_str()), 0);
    EXPECT_EQ(ReadLinkAt(dir.get(), name), target) << size;
  }
  errno = 0;
  EXPECT_EQ(ReadLinkAt(dir.get(), "missing"), "");
  EXPECT_EQ(errno, ENOENT);
}

// Links are followed wherever they stand on the path, up to the kernel's 40 and no further.
TEST(PathSteps, WalkFollowsAtMostFortyLinksAsFileOrFolder) {
  const test_support::ScratchFolder folder("path_steps_test");
  ASSERT_EQ(mkdir(folder.File("sub").c_str(), 0755), 0);
  std::ofstream(folder.File("sub/file")) << "x";
  // fN -> f(N-1) -> ... -> f1 -> sub/file, and dN -> ... -> d1 -> sub.
  for (int n = 1; n <= 41; ++n) {
    const std::string prev = n == 1 ? "" : std::to_string(n - 1);
    ASSERT_EQ(symlink((n == 1 ? "sub/file" : "f" + prev).c_str(),
                      folder.File("f" + std::to_string(n)).c_str()),
              0);
    ASSERT_EQ(symlink((n == 1 ? "sub" : "d" + prev).c_str(),
                      folder.File("d" + std::to_string(n)).c_str()),
              0);
  }
  struct stat file;
  ASSERT_EQ(stat(folder.File("sub/file").c_str(), &file), 0);
  for (const char* form : {"f", "d"}) {
    for (int links : {1, 39, 40, 41}) {
      const std::string path =
          folder.File(form + std::to_string(links)) + (form[0] == 'd' ? "/file" : "");
      SCOPED_TRACE(path);
      PathEnd end;
      std::string why;
      const bool walked = WalkPath(path, &end, &why);
      EXPECT_EQ(walked, links <= 40) << why;
      if (walked) {
        EXPECT_TRUE(end.exists);
        EXPECT_EQ(end.name, "file");
        EXPECT_EQ(end.st.st_ino, file.st_ino);
        EXPECT_EQ(end.shown, folder.File("sub/file"));
      } else {
        EXPECT_EQ(errno, ELOOP);
        EXPECT_EQ(why, path + ": Too many levels of symbolic links");
      }
    }
  }
}

// Where the walk ends or stops, and what it says.
TEST(PathSteps, WalkEndsAndRefusals) {
  const test_support::ScratchFolder folder("path_steps_test");
  const std::string top = folder.path();
  ASSERT_EQ(mkdir(folder.File("a").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(folder.File("a/b").c_str(), 0755), 0);
  std::ofstream(folder.File("a/file")) << "x";
  ASSERT_EQ(symlink("a/b", folder.File("ab").c_str()), 0);
  struct Case {
    std::string path;
    bool ok;
    std::string shown_or_why;  // where it ended, or the message
    bool exists = true;
    int error = 0;
  };
  const Case cases[] = {
      {top + "/a//./file", true, top + "/a/file"},
      // ".." is taken from where a link led, as the kernel takes it.
      {top + "/ab/../file", true, top + "/a/b/../file"},
      {top + "/a/new", true, top + "/a/new", false},
      {top + "/a/b", true, top + "/a/b"},  // a folder at the end: the caller refuses it
      {top + "/a/b/", false, top + "/a/b/: not a regular file", true, EISDIR},
      {top + "/a/..", false, top + "/a/..: not a regular file", true, EISDIR},
      {top + "/none/x", false, top + "/none: No such file or directory", true, ENOENT},
      {top + "/a/file/x", false, top + "/a/file: Not a directory", true, ENOTDIR},
      {"", false, "No such file or directory", true, ENOENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    PathEnd end;
    std::string why;
    ASSERT_EQ(WalkPath(c.path, &end, &why), c.ok) << why;
    if (c.ok) {
      EXPECT_EQ(end.shown, c.shown_or_why);
      EXPECT_EQ(end.exists, c.exists);
      EXPECT_TRUE(end.dir.valid());
      EXPECT_FALSE(S_ISLNK(end.st.st_mode));
    } else {
      EXPECT_EQ(errno, c.error);
      EXPECT_EQ(why, c.shown_or_why);
    }
  }
}

// In a sticky folder anyone may write to, a link another user put there is followed neither as
// the last component nor as a folder of the path, whatever fs.protected_symlinks says.
TEST(PathSteps, WalkFollowsLinksInAStickyFolderOnlyAsTheKernelRuleSays) {
  if (geteuid() != 0) GTEST_SKIP() << "links of other users need root";
  const test_support::ScratchFolder folder("path_steps_test");
  ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
  const std::string shared = folder.File("shared"), hidden = folder.File("hidden");
  ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(chown(shared.c_str(), 4321, 4321), 0);
  ASSERT_EQ(mkdir(hidden.c_str(), 0700), 0);
  std::ofstream(hidden + "/conf") << "root's";
  struct Case {
    const char* link_target;  // the link: shared/link
    const char* rest;         // what follows it on the path
    uid_t link_owner;
    bool followed;
  };
  const Case cases[] = {
      {"../hidden", "/conf", 5555, false}, {"../hidden/conf", "", 5555, false},
      {"../hidden", "/conf", 4321, true},  {"../hidden/conf", "", 4321, true},
      {"../hidden", "/conf", 0, true},     {"../hidden/conf", "", 0, true},
  };
  for (const Case& c : cases) {
    const std::string link = shared + "/link", path = link + c.rest;
    SCOPED_TRACE(path + " of " + std::to_string(c.link_owner));
    unlink(link.c_str());
    ASSERT_EQ(symlink(c.link_target, link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), c.link_owner, c.link_owner), 0);
    PathEnd end;
    std::string why;
    EXPECT_EQ(WalkPath(path, &end, &why), c.followed) << why;
    if (c.followed) {
      EXPECT_EQ(end.shown, shared + "/../hidden/conf");
    } else {
      EXPECT_EQ(errno, EACCES);
      EXPECT_EQ(why, link +
                         ": a symbolic link in a sticky folder anyone may write to, owned neither "
                         "by us nor by the folder's owner, is not followed");
    }
  }
  // Not sticky, or not writable by all: any link is followed.
  unlink((shared + "/link").c_str());
  ASSERT_EQ(symlink("../hidden", (shared + "/link").c_str()), 0);
  ASSERT_EQ(lchown((shared + "/link").c_str(), 5555, 5555), 0);
  for (mode_t mode : {0777, 01775}) {
    ASSERT_EQ(chmod(shared.c_str(), mode), 0);
    PathEnd end;
    std::string why;
    EXPECT_TRUE(WalkPath(shared + "/link/conf", &end, &why)) << mode << ": " << why;
  }
}

}  // namespace
}  // namespace platform
