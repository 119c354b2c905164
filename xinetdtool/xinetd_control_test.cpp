#include "xinetdtool/xinetd_control.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace xinetdtool {
namespace {

namespace fs = std::filesystem;

class ScratchDir {
 public:
  ScratchDir() {
    std::string templ = fs::temp_directory_path() / "xinetdctl.XXXXXX";
    path_ = mkdtemp(templ.data()) ? templ : "";
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string Write(const std::string& name, const std::string& content) const {
    fs::path p = fs::path(path_) / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  std::string Path(const std::string& name) const { return fs::path(path_) / name; }

 private:
  std::string path_;
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
  EXPECT_EQ(ReadPidFile(dir.Path("missing").c_str()), std::nullopt);
  EXPECT_EQ(ReadPidFile(dir.Write("plain", "321\n").c_str()), 321);
  EXPECT_EQ(ReadPidFile(dir.Write("words", "not a number\n").c_str()), std::nullopt);
  ASSERT_EQ(symlink(dir.Path("plain").c_str(), dir.Path("link").c_str()), 0);
  EXPECT_EQ(ReadPidFile(dir.Path("link").c_str()), 321);
  ASSERT_EQ(symlink("/dev/zero", dir.Path("device").c_str()), 0);
  EXPECT_EQ(ReadPidFile(dir.Path("device").c_str()), std::nullopt);
  EXPECT_EQ(ReadPidFile(dir.Path("").c_str()), std::nullopt);  // a folder
  // No writer: opening or reading a FIFO would wait for ever.
  ASSERT_EQ(mkfifo(dir.Path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadPidFile(dir.Path("fifo").c_str()), std::nullopt);
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
  proc.Write("77/comm", "xinetd\n");
  proc.Write("77/status", Status(0));
  proc.Write("78/comm", "xinetd\n");
  proc.Write("78/status", Status(1000));
  proc.Write("79/comm", "xinetd.old\n");
  proc.Write("79/status", Status(0));
  proc.Write("80/comm", "sh\n");
  proc.Write("80/status", Status(0));
  proc.Write("81/comm", "xinetd\n");
  proc.Write("81/status", "Name:\txinetd\n");
  proc.Write("82/comm", "xinetd\n");
  proc.Write("82/status", Status(0, "Z (zombie)"));
  std::string r = proc.Path("");
  EXPECT_TRUE(IsSuperServer(77, r.c_str()));
  for (pid_t pid : {78, 79, 80, 81, 82, 83, 0, -1}) {
    EXPECT_FALSE(IsSuperServer(pid, r.c_str())) << pid;
  }
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
  EXPECT_EQ(IsSuperServer(child), getuid() == 0);
  kill(child, SIGKILL);
  siginfo_t info;
  ASSERT_EQ(waitid(P_PID, child, &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(IsSuperServer(child));  // a zombie, not yet reaped
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(IsSuperServer(child));  // gone
}

}  // namespace
}  // namespace xinetdtool
