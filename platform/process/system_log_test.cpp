#include "platform/process/system_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process/subprocess.h"

namespace platform {
namespace {

// Sends standard error to a fresh file while alive; Text() reads what arrived.
class CapturedStderr {
 public:
  CapturedStderr() {
    std::FILE* file = std::tmpfile();
    file_.Reset(file ? fcntl(fileno(file), F_DUPFD_CLOEXEC, 3) : -1);
    if (file) std::fclose(file);
    saved_.Reset(fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3));
    dup2(file_.get(), STDERR_FILENO);
  }
  ~CapturedStderr() { Restore(); }
  std::string Text() {
    Restore();
    std::string text;
    char buffer[4096];
    for (off_t at = 0;;) {
      ssize_t n = pread(file_.get(), buffer, sizeof buffer, at);
      if (n <= 0) break;
      text.append(buffer, n);
      at += n;
    }
    return text;
  }

 private:
  void Restore() {
    if (saved_.valid()) dup2(saved_.get(), STDERR_FILENO);
    saved_.Reset();
  }
  OwnedFd file_, saved_;
};

TEST(SystemLogTest, LineHasTimeProgramIdsAndMessage) {
  CapturedStderr captured;
  NSLog("Launching xinetd (Morvane) ... 100% %s %@");
  std::string text = captured.Text();
  std::string ids = "\\[" + std::to_string(getpid()) + ":" + std::to_string(gettid()) + "\\]";
  std::regex line("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} " +
                  std::string(program_invocation_short_name) + ids +
                  " Launching xinetd \\(Morvane\\) \\.\\.\\. 100% %s %@\n");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST(SystemLogTest, MessageEndingItsLineGetsNoSecondNewline) {
  CapturedStderr captured;
  NSLog("Stopping xinetd (Morvane) ... done\n");
  std::string text = captured.Text();
  EXPECT_TRUE(text.ends_with("... done\n")) << text;
  EXPECT_FALSE(text.ends_with("\n\n")) << text;
}

TEST(SystemLogTest, LinesFromManyThreadsStayWhole) {
  constexpr int kThreads = 4, kLines = 100;
  const std::string filler(300, 'z');
  CapturedStderr captured;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &filler] {
      for (int i = 0; i < kLines; ++i)
        NSLog("thread " + std::to_string(t) + " line " + std::to_string(i) + " " + filler);
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::istringstream lines(captured.Text());
  std::regex whole(".*\\] thread \\d line \\d+ z{300}");
  int count = 0;
  for (std::string text; std::getline(lines, text); ++count)
    ASSERT_TRUE(std::regex_match(text, whole)) << text;
  EXPECT_EQ(count, kThreads * kLines);
}

// The ids are the process's and the writing thread's own, not the main thread's.
TEST(SystemLogTest, ASecondThreadShowsItsOwnId) {
  CapturedStderr captured;
  pid_t writer = 0;
  std::thread([&writer] {
    writer = gettid();
    NSLog("from a second thread");
  }).join();
  ASSERT_NE(writer, getpid());
  EXPECT_NE(captured.Text().find("[" + std::to_string(getpid()) + ":" + std::to_string(writer) +
                                 "] from a second thread\n"),
            std::string::npos);
}

}  // namespace
}  // namespace platform
