#include "platform/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

namespace platform {
namespace {

class Folder {
 public:
  Folder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/file_io_test.XXXXXX";
    path_ = mkdtemp(pattern.data()) ? pattern : "";
    chmod(path_.c_str(), 0755);  // other users' processes in the tests pass through
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  // Names in the folder: a temporary file left behind shows up here.
  std::set<std::string> Names(const std::string& sub = "") const {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(path_ + "/" + sub))
      out.insert(e.path().filename());
    return out;
  }

 private:
  std::string path_;
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

// Runs `body` in a child process and returns its exit status (or 128 + signal).
int InChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

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

TEST(ReplaceFile, KeepsModeAndOwner) {
  Folder dir;
  std::string err, f = dir.File("conf");
  Write(f, "old");
  ASSERT_EQ(chmod(f.c_str(), 0640), 0);
  ASSERT_TRUE(ReplaceFileAtomically(f, "new contents\n", &err)) << err;
  EXPECT_EQ(Read(f), "new contents\n");
  EXPECT_EQ(Stat(f).st_mode & 07777, 0640u);
  EXPECT_EQ(dir.Names(), std::set<std::string>{"conf"});

  if (geteuid() != 0) GTEST_SKIP() << "changing owners needs root";
  // A private file of another user stays theirs and private; set-ID bits survive the chown.
  ASSERT_EQ(chown(f.c_str(), 4321, 8765), 0);
  ASSERT_EQ(chmod(f.c_str(), 0600), 0);
  ASSERT_TRUE(ReplaceFileAtomically(f, "secret", &err)) << err;
  struct stat st = Stat(f);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 8765u);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(chmod(f.c_str(), 06755), 0);
  ASSERT_TRUE(ReplaceFileAtomically(f, "program", &err)) << err;
  EXPECT_EQ(Stat(f).st_mode & 07777, 06755u);
  EXPECT_EQ(Read(f), "program");
}

TEST(ReplaceFile, NewFileTakesTheUmask) {
  Folder dir;
  std::string err;
  mode_t old = umask(027);
  bool ok = ReplaceFileAtomically(dir.File("fresh"), "x", &err);
  umask(old);
  ASSERT_TRUE(ok) << err;
  EXPECT_EQ(Stat(dir.File("fresh")).st_mode & 07777, 0640u);
  EXPECT_EQ(Read(dir.File("fresh")), "x");
  // An empty replacement is still a replacement.
  ASSERT_TRUE(ReplaceFileAtomically(dir.File("fresh"), "", &err)) << err;
  EXPECT_EQ(Read(dir.File("fresh")), "");
}

TEST(ReplaceFile, SymbolicLinksStayAndTheirTargetIsReplaced) {
  Folder dir;
  std::string err;
  ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
  Write(dir.File("target"), "old");
  ASSERT_EQ(chmod(dir.File("target").c_str(), 0604), 0);
  // A chain of relative links: link -> sub/inner -> ../target.
  ASSERT_EQ(symlink("../target", dir.File("sub/inner").c_str()), 0);
  ASSERT_EQ(symlink("sub/inner", dir.File("link").c_str()), 0);
  ASSERT_TRUE(ReplaceFileAtomically(dir.File("link"), "new", &err)) << err;
  EXPECT_TRUE(S_ISLNK(Stat(dir.File("link")).st_mode));
  EXPECT_TRUE(S_ISLNK(Stat(dir.File("sub/inner")).st_mode));
  EXPECT_EQ(Read(dir.File("target")), "new");
  EXPECT_EQ(Stat(dir.File("target")).st_mode & 07777, 0604u);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"link", "sub", "target"}));
  EXPECT_EQ(dir.Names("sub"), std::set<std::string>{"inner"});

  // An absolute link, and a dangling one whose target comes into being.
  ASSERT_EQ(symlink(dir.File("target").c_str(), dir.File("abs").c_str()), 0);
  ASSERT_TRUE(ReplaceFileAtomically(dir.File("abs"), "via absolute", &err)) << err;
  EXPECT_EQ(Read(dir.File("target")), "via absolute");
  ASSERT_EQ(symlink("sub/later", dir.File("dangling").c_str()), 0);
  ASSERT_TRUE(ReplaceFileAtomically(dir.File("dangling"), "born", &err)) << err;
  EXPECT_EQ(Read(dir.File("sub/later")), "born");
  EXPECT_TRUE(S_ISLNK(Stat(dir.File("dangling")).st_mode));

  // A loop of links fails and leaves the links alone.
  ASSERT_EQ(symlink("loop2", dir.File("loop1").c_str()), 0);
  ASSERT_EQ(symlink("loop1", dir.File("loop2").c_str()), 0);
  EXPECT_FALSE(ReplaceFileAtomically(dir.File("loop1"), "x", &err));
  EXPECT_NE(err.find("Too many levels of symbolic links"), std::string::npos) << err;
  EXPECT_TRUE(S_ISLNK(Stat(dir.File("loop1")).st_mode));
}

TEST(ReplaceFile, RefusesWhatIsNotARegularFile) {
  Folder dir;
  std::string err;
  ASSERT_EQ(mkdir(dir.File("d").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  for (const char* name : {"d", "d/", "fifo", "d/.."}) {
    EXPECT_FALSE(ReplaceFileAtomically(dir.File(name), "x", &err)) << name;
    EXPECT_NE(err.find(dir.File(name)), std::string::npos) << err;
  }
  EXPECT_TRUE(S_ISFIFO(Stat(dir.File("fifo")).st_mode));
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"d", "fifo"}));
  EXPECT_FALSE(ReplaceFileAtomically("", "x", &err));
  EXPECT_EQ(err, "cannot replace : No such file or directory");
  EXPECT_FALSE(ReplaceFileAtomically(dir.File("nowhere/f"), "x", &err));
  EXPECT_EQ(err, "cannot replace " + dir.File("nowhere/f") + ": " + dir.File("nowhere") +
                     ": No such file or directory");
}

TEST(ReplaceFile, ReadOnlyFolderLeavesTheOriginal) {
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
    if (ReplaceFileAtomically(f, "replacement", &err)) return 3;
    if (err != "cannot replace " + f + ": creating a temporary file: Permission denied") return 4;
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Read(f), "original");
  EXPECT_EQ(dir.Names("ro"), std::set<std::string>{"conf"});
  chmod(dir.File("ro").c_str(), 0755);
}

TEST(ReplaceFile, FullFileSystemLeavesTheOriginal) {
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
    if (ReplaceFileAtomically(f, std::string(256 << 10, 'n'), &err)) return 11;
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
    if (!ReplaceFileAtomically(f, std::string(20000, 'n'), &err)) return 15;
    return 0;
  });
  if (status == kSkip) GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace platform
