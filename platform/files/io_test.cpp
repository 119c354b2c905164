#include "platform/files/io.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string_view>
#include <vector>

#include "tests/as_nobody.h"
#include "tests/posix_acl.h"
#include "tests/scratch_folder.h"

namespace platform {
namespace {

// Other users' processes in the tests pass through the folder.
class Folder : public test_support::ScratchFolder {
 public:
  Folder() : ScratchFolder("file_io_test") { chmod(path().c_str(), 0755); }
};

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Read(const std::string& path) {
  std::string err;
  auto bytes = ReadWholeFile(path, &err);
  EXPECT_TRUE(bytes) << err;
  return bytes.value_or("<unreadable>");
}

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

using test_support::InChild;

constexpr int kSkip = 77;

TEST(ReadFile, WholeFilesAndRefusals) {
  Folder dir;
  std::string err;
  // Content of every byte value survives, as does an empty file.
  std::string all;
  for (int i = 0; i < 3 << 20; ++i) all += static_cast<char>(i * 7 + (i >> 9));
  Write(dir.File("big"), all);
  EXPECT_EQ(Read(dir.File("big")), all);
  Write(dir.File("empty"), "");
  EXPECT_EQ(ReadWholeFile(dir.File("empty"), &err), std::string());

  // A file whose size is not known in advance is read to its end.
  auto status = ReadWholeFile("/proc/self/status", &err);
  ASSERT_TRUE(status) << err;
  EXPECT_NE(status->find("Pid:"), std::string::npos);

  EXPECT_FALSE(ReadWholeFile(dir.File("missing"), &err));
  EXPECT_EQ(err, dir.File("missing") + ": No such file or directory");
  EXPECT_FALSE(ReadWholeFile(dir.path(), &err));
  EXPECT_EQ(err, dir.path() + ": Is a directory");
  // A FIFO without a writer must neither hang nor be read.
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(ReadWholeFile(dir.File("fifo"), &err));
  EXPECT_EQ(err, dir.File("fifo") + ": not a regular file");
}

TEST(ReadFile, TextMustBeUtf8AndIsKeptByteForByte) {
  Folder dir;
  std::string err;
  const std::string text =
      "\xEF\xBB\xBFkey = value\r\nn\xC3\xA4me \xE2\x82\xAC \xF0\x9F\x98\x80\r\n";
  Write(dir.File("ok"), text);
  EXPECT_EQ(ReadTextFile(dir.File("ok"), &err), text);
  // Long ASCII runs around a multi-byte character (the eight-byte fast path).
  std::string ascii(1000, 'a');
  Write(dir.File("long"), ascii + "\xC3\xA9" + ascii);
  EXPECT_TRUE(ReadTextFile(dir.File("long"), &err)) << err;

  const std::pair<const char*, std::string> bad[] = {
      {"lone continuation byte", "ab\x80"},
      {"overlong slash", "\xC0\xAF"},
      {"overlong three-byte form", "\xE0\x80\xAF"},
      {"surrogate", "\xED\xA0\x80"},
      {"past U+10FFFF", "\xF4\x90\x80\x80"},
      {"cut short at the end", "abc\xE2\x82"},
      {"cut short by ASCII", "\xE2\x82z"},
      {"Latin-1 text", "caf\xE9 au lait"},
      {"invalid after a long ASCII run", ascii + "\xFF"},
  };
  for (const auto& [why, bytes] : bad) {
    Write(dir.File("bad"), bytes);
    EXPECT_FALSE(ReadTextFile(dir.File("bad"), &err)) << why;
    EXPECT_NE(err.find(dir.File("bad") + ": not UTF-8 text"), std::string::npos) << err;
    EXPECT_TRUE(ReadWholeFile(dir.File("bad"), &err)) << why;  // still readable as bytes
  }
}

// Every guarantee holds for both ways of writing the new file: unnamed until complete, and the
// named temporary file that file systems without unnamed files get.
using Replacer = bool (*)(const std::string&, std::string_view, std::string*);

class ReplaceFile : public ::testing::TestWithParam<Replacer> {
 protected:
  bool Replace(const std::string& path, std::string_view contents, std::string* err) {
    return GetParam()(path, contents, err);
  }
};

INSTANTIATE_TEST_SUITE_P(Both, ReplaceFile,
                         ::testing::Values(&ReplaceFileAtomically, &ReplaceFileThroughNamedTemp),
                         [](const auto& info) {
                           return info.param == &ReplaceFileAtomically ? "Unnamed" : "Named";
                         });

TEST_P(ReplaceFile, KeepsModeAndOwner) {
  Folder dir;
  std::string err, f = dir.File("conf");
  Write(f, "old");
  ASSERT_EQ(chmod(f.c_str(), 0640), 0);
  ASSERT_TRUE(Replace(f, "new contents\n", &err)) << err;
  EXPECT_EQ(Read(f), "new contents\n");
  EXPECT_EQ(Stat(f).st_mode & 07777, 0640u);
  EXPECT_EQ(dir.Names(), std::set<std::string>{"conf"});

  if (geteuid() != 0) GTEST_SKIP() << "changing owners needs root";
  // A private file of another user stays theirs and private; set-ID bits survive the chown.
  ASSERT_EQ(chown(f.c_str(), 4321, 8765), 0);
  ASSERT_EQ(chmod(f.c_str(), 0600), 0);
  ASSERT_TRUE(Replace(f, "secret", &err)) << err;
  struct stat st = Stat(f);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 8765u);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(chmod(f.c_str(), 06755), 0);
  ASSERT_TRUE(Replace(f, "program", &err)) << err;
  EXPECT_EQ(Stat(f).st_mode & 07777, 06755u);
  EXPECT_EQ(Read(f), "program");
}

TEST_P(ReplaceFile, NewFileTakesTheUmask) {
  Folder dir;
  std::string err;
  const std::pair<mode_t, mode_t> cases[] = {{027, 0640}, {002, 0664}, {022, 0644}, {077, 0600}};
  for (const auto& [mask, mode] : cases) {
    SCOPED_TRACE(mask);
    const std::string fresh = dir.File("fresh" + std::to_string(mask));
    mode_t old = umask(mask);
    bool ok = Replace(fresh, "x", &err);
    umask(old);
    ASSERT_TRUE(ok) << err;
    EXPECT_EQ(Stat(fresh).st_mode & 07777, mode);
    EXPECT_EQ(Read(fresh), "x");
  }
  // An empty replacement is still a replacement.
  ASSERT_TRUE(Replace(dir.File("fresh2"), "", &err)) << err;
  EXPECT_EQ(Read(dir.File("fresh2")), "");
}

TEST_P(ReplaceFile, SymbolicLinksStayAndTheirTargetIsReplaced) {
  Folder dir;
  std::string err;
  ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
  Write(dir.File("target"), "old");
  ASSERT_EQ(chmod(dir.File("target").c_str(), 0604), 0);
  // A chain of relative links: link -> sub/inner -> ../target.
  ASSERT_EQ(symlink("../target", dir.File("sub/inner").c_str()), 0);
  ASSERT_EQ(symlink("sub/inner", dir.File("link").c_str()), 0);
  ASSERT_TRUE(Replace(dir.File("link"), "new", &err)) << err;
  EXPECT_TRUE(S_ISLNK(Stat(dir.File("link")).st_mode));
  EXPECT_TRUE(S_ISLNK(Stat(dir.File("sub/inner")).st_mode));
  EXPECT_EQ(Read(dir.File("target")), "new");
  EXPECT_EQ(Stat(dir.File("target")).st_mode & 07777, 0604u);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"link", "sub", "target"}));
  EXPECT_EQ(dir.Names("sub"), std::set<std::string>{"inner"});

  // An absolute link, and a dangling one whose target comes into being.
  ASSERT_EQ(symlink(dir.File("target").c_str(), dir.File("abs").c_str()), 0);
  ASSERT_TRUE(Replace(dir.File("abs"), "via absolute", &err)) << err;
  EXPECT_EQ(Read(dir.File("target")), "via absolute");
  ASSERT_EQ(symlink("sub/later", dir.File("dangling").c_str()), 0);
  ASSERT_TRUE(Replace(dir.File("dangling"), "born", &err)) << err;
  EXPECT_EQ(Read(dir.File("sub/later")), "born");
  EXPECT_TRUE(S_ISLNK(Stat(dir.File("dangling")).st_mode));

  // A loop of links fails and leaves the links alone.
  ASSERT_EQ(symlink("loop2", dir.File("loop1").c_str()), 0);
  ASSERT_EQ(symlink("loop1", dir.File("loop2").c_str()), 0);
  EXPECT_FALSE(Replace(dir.File("loop1"), "x", &err));
  EXPECT_NE(err.find("Too many levels of symbolic links"), std::string::npos) << err;
  EXPECT_TRUE(S_ISLNK(Stat(dir.File("loop1")).st_mode));
}

TEST_P(ReplaceFile, RefusesWhatIsNotARegularFile) {
  Folder dir;
  std::string err;
  ASSERT_EQ(mkdir(dir.File("d").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  for (const char* name : {"d", "d/", "fifo", "d/.."}) {
    EXPECT_FALSE(Replace(dir.File(name), "x", &err)) << name;
    EXPECT_NE(err.find(dir.File(name)), std::string::npos) << err;
  }
  EXPECT_TRUE(S_ISFIFO(Stat(dir.File("fifo")).st_mode));
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"d", "fifo"}));
  EXPECT_FALSE(Replace("", "x", &err));
  EXPECT_EQ(err, "cannot replace : No such file or directory");
  EXPECT_FALSE(Replace(dir.File("nowhere/f"), "x", &err));
  EXPECT_EQ(err, "cannot replace " + dir.File("nowhere/f") + ": " + dir.File("nowhere") +
                     ": No such file or directory");
}

TEST_P(ReplaceFile, ReadOnlyFolderLeavesTheOriginal) {
  Folder dir;
  ASSERT_EQ(mkdir(dir.File("ro").c_str(), 0755), 0);
  const std::string f = dir.File("ro/conf");
  Write(f, "original");
  ASSERT_EQ(chmod(f.c_str(), 0666), 0);
  ASSERT_EQ(chmod(dir.File("ro").c_str(), 0555), 0);
  // Root writes anywhere, so the attempt is made as an ordinary user.
  int status = InChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 2;
    std::string err;
    if (Replace(f, "replacement", &err)) return 3;
    if (err != "cannot replace " + f + ": creating a temporary file: Permission denied") return 4;
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Read(f), "original");
  EXPECT_EQ(dir.Names("ro"), std::set<std::string>{"conf"});
}

TEST_P(ReplaceFile, FullFileSystemLeavesTheOriginal) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  Folder dir;
  const std::string mnt = dir.File("small");
  ASSERT_EQ(mkdir(mnt.c_str(), 0755), 0);
  // A private mount namespace: the small file system is seen by the child alone.
  int status = InChild([&] {
    if (unshare(CLONE_NEWNS) != 0) return kSkip;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 10;
    if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0) return kSkip;
    const std::string f = mnt + "/conf";
    const std::string original(10000, 'o');
    Write(f, original);
    std::string err;
    if (Replace(f, std::string(256 << 10, 'n'), &err)) return 11;
    if (err != "cannot replace " + f + ": writing: No space left on device") return 12;
    std::string err2;
    auto now = ReadWholeFile(f, &err2);
    if (!now || *now != original) return 13;
    DIR* d = opendir(mnt.c_str());
    int entries = 0;
    while (dirent* e = readdir(d)) entries += e->d_name[0] != '.' || e->d_name[1] > '.';
    closedir(d);
    if (entries != 1) return 14;  // a temporary file was left behind
    // Once there is room the same call succeeds.
    if (!Replace(f, std::string(20000, 'n'), &err)) return 15;
    return 0;
  });
  if (status == kSkip) GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(status, 0);
}

TEST_P(ReplaceFile, LeavesNoOtherEntryInTheFolder) {
  Folder dir;
  std::string err;
  // New and existing files, empty contents, through a link, and a name as long as names get:
  // each replacement leaves the folder exactly as many entries as before.
  const std::string longest(255, 'n');
  ASSERT_TRUE(Replace(dir.File("conf"), "first", &err)) << err;
  ASSERT_TRUE(Replace(dir.File("conf"), "second", &err)) << err;
  ASSERT_TRUE(Replace(dir.File("conf"), "", &err)) << err;
  ASSERT_EQ(symlink("conf", dir.File("link").c_str()), 0);
  ASSERT_TRUE(Replace(dir.File("link"), "third", &err)) << err;
  ASSERT_TRUE(Replace(dir.File(longest), "long", &err)) << err;
  ASSERT_TRUE(Replace(dir.File(longest), "longer", &err)) << err;
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"conf", "link", longest}));
  EXPECT_EQ(Read(dir.File("conf")), "third");
  EXPECT_EQ(Read(dir.File(longest)), "longer");
}

// Root replaces a file through a path that passes a link another user put in a sticky folder
// anyone may write to (as /tmp/LINK/conf): the link is followed neither as a folder of the path
// nor at its end, and root's file elsewhere stays as it was. A link of root's is followed.
TEST_P(ReplaceFile, ALinkOfAnotherUserInAStickyFolderIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "links of other users need root";
  Folder dir;
  const std::string shared = dir.File("shared"), link = shared + "/link";
  ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(mkdir(dir.File("hidden").c_str(), 0700), 0);
  struct Case {
    const char* target;
    const char* rest;
    uid_t link_owner;
  };
  for (const Case& c : {Case{"hidden", "/conf", test_support::kNobody},
                        Case{"hidden/conf", "", test_support::kNobody}, Case{"hidden", "/conf", 0},
                        Case{"hidden/conf", "", 0}}) {
    SCOPED_TRACE(std::string(c.target) + " of " + std::to_string(c.link_owner));
    Write(dir.File("hidden/conf"), "root's");
    unlink(link.c_str());
    ASSERT_EQ(symlink(dir.File(c.target).c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), c.link_owner, c.link_owner), 0);
    std::string err;
    const bool replaced = Replace(link + c.rest, "the user's", &err);
    if (c.link_owner == 0) {
      EXPECT_TRUE(replaced) << err;
      EXPECT_EQ(Read(dir.File("hidden/conf")), "the user's");
    } else {
      EXPECT_FALSE(replaced);
      EXPECT_EQ(err, "cannot replace " + link + c.rest + ": " + link +
                         ": a symbolic link in a sticky folder anyone may write to, owned "
                         "neither by us nor by the folder's owner, is not followed");
      EXPECT_EQ(Read(dir.File("hidden/conf")), "root's");
    }
    EXPECT_EQ(dir.Names("hidden"), std::set<std::string>{"conf"});
  }
}

// A file its owner may write but not read still keeps its access ACL: it is read through a
// descriptor that opens nothing (O_PATH).
TEST_P(ReplaceFile, AFileWeMayNotReadKeepsItsAcl) {
  using test_support::AclEntry;
  Folder dir;
  const std::string sub = dir.File("sub"), f = sub + "/conf";
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(sub.c_str(), test_support::kNobody, test_support::kNobody), 0);
  }
  const std::string acl = test_support::AclValue({{AclEntry::kOwner, 2},
                                                  {AclEntry::kUser, 4, 4321},
                                                  {AclEntry::kOwningGroup, 0},
                                                  {AclEntry::kMask, 4},
                                                  {AclEntry::kOther, 0}});
  const int status = test_support::AsOrdinaryUser([&] {
    Write(f, "old");
    if (setxattr(f.c_str(), test_support::kAccessAcl, acl.data(), acl.size(), 0) != 0)
      return errno == EOPNOTSUPP ? kSkip : 2;
    std::string err;
    if (!Replace(f, "new", &err)) return 3;
    return test_support::AccessAclOf(f) == acl ? 0 : 4;
  });
  if (status == kSkip) GTEST_SKIP() << "no ACLs here";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Stat(f).st_mode & 07777, 0240u);
  if (geteuid() == 0) {
    EXPECT_EQ(Read(f), "new");
  }
}

// The sizes of the files that process `pid` has open in `folder`.
std::vector<off_t> FilesOpenIn(pid_t pid, const std::string& folder) {
  std::vector<off_t> out;
  std::error_code ec;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& e : std::filesystem::directory_iterator(fds, ec)) {
    struct stat st;
    const std::string target = std::filesystem::read_symlink(e.path(), ec);
    if (!ec && target.starts_with(folder + "/") && stat(e.path().c_str(), &st) == 0 &&
        S_ISREG(st.st_mode))
      out.push_back(st.st_size);
  }
  return out;
}

TEST(ReplaceFileKilled, LeavesTheOldFileOrTheWholeNewOneAndNothingPartial) {
  Folder dir;
  const std::string f = dir.File("tftp");
  const std::string big(200 << 20, 'x');
  const auto full = static_cast<off_t>(big.size());
  // The writer is killed while the new file is partly written, and again once it is whole
  // (while it is synced, named or renamed).
  for (bool whole : {false, true}) {
    int caught = 0;
    for (int attempt = 0; attempt < 10 && caught < 3; ++attempt) {
      Write(f, "original");
      pid_t pid = fork();
      if (pid == 0) {
        std::string err;
        _exit(ReplaceFileAtomically(f, big, &err) ? 0 : 1);
      }
      ASSERT_GT(pid, 0);
      bool there = false;
      for (int i = 0; i < 20000 && !there; ++i) {
        for (off_t size : FilesOpenIn(pid, dir.path()))
          there |= whole ? size == full : size > 0 && size < full;
        if (!there) usleep(100);
      }
      kill(pid, SIGKILL);
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      caught += there && WIFSIGNALED(status);
      std::set<std::string> names = dir.Names();
      const std::string now = Read(f);
      EXPECT_TRUE(now == "original" || now == big) << now.size() << " bytes";
      if (!whole) {
        EXPECT_EQ(names, std::set<std::string>{"tftp"}) << "killed mid-write";
        continue;
      }
      // Between naming the new file and renaming it lies a moment in which a kill leaves it
      // behind, but only whole.
      names.erase("tftp");
      for (const std::string& name : names) EXPECT_EQ(Stat(dir.File(name)).st_size, full) << name;
      EXPECT_LE(names.size(), 1u);
    }
    EXPECT_EQ(caught, 3) << (whole ? "never caught once written" : "never caught mid-write");
  }
}

TEST(ReplaceFileWithoutProc, ByRootAndByAnOrdinaryUser) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  Folder dir;
  const std::string f = dir.File("conf");
  Write(f, "old");
  ASSERT_EQ(chmod(f.c_str(), 0666), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  // /proc hidden under an empty file system, in a mount namespace of the child's own. Root
  // names the new file through its descriptor; an ordinary user may have to fall back to a
  // named temporary file. Both end with the file replaced and nothing else in the folder.
  int status = InChild([&] {
    if (unshare(CLONE_NEWNS) != 0) return kSkip;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 10;
    if (mount("tmpfs", "/proc", "tmpfs", 0, "size=4k") != 0) return kSkip;
    std::string err;
    if (!ReplaceFileAtomically(f, "by root", &err)) return 11;
    if (ReadWholeFile(f, &err) != "by root") return 12;
    if (chown(f.c_str(), 65534, 65534) != 0 || setgid(65534) != 0 || setuid(65534) != 0) return 13;
    if (!ReplaceFileAtomically(f, "by nobody", &err)) return 14;
    if (ReadWholeFile(f, &err) != "by nobody") return 15;
    return 0;
  });
  if (status == kSkip) GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(dir.Names(), std::set<std::string>{"conf"});
  EXPECT_EQ(Stat(f).st_mode & 07777, 0666u);
}

}  // namespace
}  // namespace platform
