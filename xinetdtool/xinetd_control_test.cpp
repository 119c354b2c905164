#include "xinetdtool/xinetd_control.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "tests/scratch_folder.h"

namespace xinetdtool {
namespace {

namespace fs = std::filesystem;

// Files are written with the folders they lie in.
class ScratchDir : public test_support::ScratchFolder {
 public:
  ScratchDir() : ScratchFolder("xinetdctl") {}
  std::string Write(const std::string& name, const std::string& content) const {
    fs::path p = File(name);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
};

TEST(PidFromText, ReadsTheLeadingNumberAsAPid) {
  EXPECT_EQ(PidFromText("4242\n"), 4242);
  EXPECT_EQ(PidFromText(" \t\n+17 and more"), 17);
  EXPECT_EQ(PidFromText("12abc"), 12);
  EXPECT_EQ(PidFromText("0000000000000000000000000000031"), 31);
  EXPECT_EQ(PidFromText("2147483647"), 2147483647);
}

TEST(PidFromText, NothingAboveZeroWithinRangeIsNoPid) {
  // 0 and -1 would make kill signal a process group or every process.
  for (const char* text : {"", "\n", "abc", "0", "-0", "-1", "-4242", "+", "- 5", "x12",
                           "2147483648", "4294967297", "99999999999999999999999999999"}) {
    EXPECT_EQ(PidFromText(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(ReadPidFile, ReadsOnlySmallRegularFiles) {
  ScratchDir dir;
  EXPECT_EQ(ReadPidFile(dir.File("missing").c_str()), std::nullopt);
  EXPECT_EQ(ReadPidFile(dir.Write("plain", "321\n").c_str()), 321);
  EXPECT_EQ(ReadPidFile(dir.Write("words", "not a number\n").c_str()), std::nullopt);
  ASSERT_EQ(symlink(dir.File("plain").c_str(), dir.File("link").c_str()), 0);
  EXPECT_EQ(ReadPidFile(dir.File("link").c_str()), 321);
  ASSERT_EQ(symlink("/dev/zero", dir.File("device").c_str()), 0);
  EXPECT_EQ(ReadPidFile(dir.File("device").c_str()), std::nullopt);
  EXPECT_EQ(ReadPidFile(dir.File("").c_str()), std::nullopt);  // a folder
  // No writer: opening or reading a FIFO would wait for ever.
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadPidFile(dir.File("fifo").c_str()), std::nullopt);
}

TEST(ReadPidFile, AFileLargerThanAPidFileHoldsNoPid) {
  ScratchDir dir;
  EXPECT_EQ(ReadPidFile(dir.Write("page", std::string(4094, ' ') + "9\n").c_str()), 9);
  // Cut short at any bound, the digits could name another number.
  EXPECT_EQ(ReadPidFile(dir.Write("more", std::string(4095, ' ') + "9\n").c_str()), std::nullopt);
  EXPECT_EQ(ReadPidFile(dir.Write("huge", std::string(1 << 20, '7')).c_str()), std::nullopt);
}

std::string Status(int uid, const char* state = "S (sleeping)") {
  std::string u = std::to_string(uid);
  return "Name:\txinetd\nUmask:\t0022\nState:\t" + std::string(state) + "\nTgid:\t77\nUid:\t" + u +
         "\t" + u + "\t" + u + "\t" + u + "\nGid:\t0\t0\t0\t0\n";
}

TEST(IsSuperServer, WantsTheNameXinetdAndRoot) {
  ScratchDir proc;
  const std::string installed = proc.Write("sbin/xinetd", "the server");
  const std::string elsewhere = proc.Write("tmp/xinetd", "another program");
  struct Case {
    pid_t pid;
    const char* comm;
    std::string status;
    std::string exe;        // what /proc/PID/exe leads to; empty: nothing
    bool as_root, as_user;  // whether it counts when we are root, and when not
  };
  const Case cases[] = {
      {77, "xinetd\n", Status(0), installed, true, true},
      {78, "xinetd\n", Status(1000), installed, false, false},
      {79, "xinetd.old\n", Status(0), installed, false, false},
      {80, "sh\n", Status(0), installed, false, false},
      {81, "xinetd\n", "Name:\txinetd\n", installed, false, false},
      {82, "xinetd\n", Status(0, "Z (zombie)"), installed, false, false},
      // Named xinetd, run by root, but running another file: only root can tell.
      {84, "xinetd\n", Status(0), elsewhere, false, true},
      {85, "xinetd\n", Status(0), "", false, true},
  };
  for (const Case& c : cases) {
    const std::string dir = std::to_string(c.pid);
    proc.Write(dir + "/comm", c.comm);
    proc.Write(dir + "/status", c.status);
    if (!c.exe.empty()) {
      ASSERT_EQ(symlink(c.exe.c_str(), proc.File(dir + "/exe").c_str()), 0);
    }
  }
  std::string r = proc.File("");
  const bool root = geteuid() == 0;
  for (const Case& c : cases) {
    EXPECT_EQ(IsSuperServer(c.pid, r.c_str(), installed.c_str()), root ? c.as_root : c.as_user)
        << c.pid;
  }
  for (pid_t pid : {83, 0, -1}) EXPECT_FALSE(IsSuperServer(pid, r.c_str(), installed.c_str()));
}

TEST(IsSuperServer, LooksAtTheLiveProcess) {
  EXPECT_FALSE(IsSuperServer(getpid()));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    prctl(PR_SET_NAME, "xinetd");
    char c = 1;
    (void)!write(ready[1], &c, 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  // A root process named xinetd, but running this test's file: not the server, to root. An
  // ordinary user sees only another user's process here, which is no server either.
  EXPECT_FALSE(IsSuperServer(child));
  EXPECT_EQ(IsSuperServer(child, "/proc", "/proc/self/exe"), getuid() == 0);
  kill(child, SIGKILL);
  siginfo_t info;
  ASSERT_EQ(waitid(P_PID, child, &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(IsSuperServer(child));  // a zombie, not yet reaped
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(IsSuperServer(child));  // gone
}

// After an upgrade the running server's file is the one that was replaced or removed, which
// the kernel names "PATH (deleted)": it still counts for that path (however the path is
// spelt), and for no other.
TEST(IsSuperServer, AServerWhoseFileWasReplacedStillCounts) {
  if (geteuid() != 0) GTEST_SKIP() << "looks at the file a process runs; needs root";
  ScratchDir dir;
  fs::create_directories(dir.File("sbin"));
  fs::create_directories(dir.File("other"));
  const std::string installed = dir.File("sbin/xinetd");
  const std::string other = dir.File("other/xinetd");
  for (const std::string& copy : {installed, other}) fs::copy_file("/bin/sleep", copy);
  const std::string linked = dir.File("link/xinetd");  // the same file through a link
  ASSERT_EQ(symlink(dir.File("sbin").c_str(), dir.File("link").c_str()), 0);
  pid_t server = -1;
  const char* argv[] = {"xinetd", "60", nullptr};
  ASSERT_EQ(
      posix_spawn(&server, installed.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ),
      0);
  struct Step {
    const char* name;
    std::function<void()> change;
  };
  const Step steps[] = {
      {"as installed", [] {}},
      {"replaced",
       [&] {
         fs::copy_file("/bin/sleep", installed + ".new");
         fs::rename(installed + ".new", installed);
       }},
      {"removed", [&] { fs::remove(installed); }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.change();
    EXPECT_TRUE(IsSuperServer(server, "/proc", installed.c_str()));
    EXPECT_TRUE(IsSuperServer(server, "/proc", linked.c_str()));
    EXPECT_FALSE(IsSuperServer(server, "/proc", other.c_str()));
  }
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(server) + "/exe").string(),
            fs::canonical(dir.File("sbin")).string() + "/xinetd (deleted)");
  kill(server, SIGKILL);
  waitpid(server, nullptr, 0);
}

}  // namespace
}  // namespace xinetdtool
