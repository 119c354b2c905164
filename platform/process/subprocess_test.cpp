#include "platform/process/subprocess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

// Runs argv with its output captured; nothing on its input.
std::string Output(const std::vector<std::string>& argv) {
  OwnedFd out_read, out_write;
  std::string out, err;
  if (!MakePipe(&out_read, &out_write, &err)) return "pipe failed: " + err;
  std::optional<ChildProcess> child =
      Spawn(argv[0], argv, kNullDevice, out_write.get(), kInheritStream, &err);
  if (!child) return "spawn failed: " + err;
  out_write.Reset();
  StreamExchange exchange;
  exchange.output_fd = out_read.get();
  exchange.output = &out;
  if (!ExchangeWithChild(exchange, &err)) return "exchange failed: " + err;
  return out;
}

TEST(SpawnTest, ChildGetsOnlyItsStandardStreams) {
  // A descriptor of ours that is not close-on-exec still stays ours.
  OwnedFd stray(dup2(STDERR_FILENO, 47));
  ASSERT_TRUE(stray.valid());
  std::string listing = Output({"/bin/ls", "/proc/self/fd"});
  EXPECT_EQ(listing, "0\n1\n2\n3\n");  // 3 is ls reading the folder
}

TEST(SpawnTest, ChildStartsWithDefaultSigpipeAndNothingBlocked) {
  sigset_t block, previous;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  sigaddset(&block, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &block, &previous);
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old);
  std::string status = Output({"/bin/grep", "-E", "^Sig(Blk|Ign)", "/proc/self/status"});
  sigaction(SIGPIPE, &old, nullptr);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  EXPECT_NE(status.find("SigBlk:\t0000000000000000\n"), std::string::npos) << status;
  // SIGPIPE is bit 12 of the mask.
  std::size_t ign = status.find("SigIgn:\t");
  ASSERT_NE(ign, std::string::npos);
  unsigned long long ignored = std::stoull(status.substr(ign + 8, 16), nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << status;
}

TEST(SpawnTest, PipesOnLowDescriptorsReachTheRightStreams) {
  // With our standard input and output closed, a new pipe lands on descriptors 0 and 1.
  OwnedFd saved_in(fcntl(0, F_DUPFD_CLOEXEC, 10)), saved_out(fcntl(1, F_DUPFD_CLOEXEC, 10));
  ASSERT_TRUE(saved_in.valid() && saved_out.valid());
  close(0);
  close(1);
  OwnedFd in_read, in_write, out_read, out_write;
  std::string err, out;
  bool made = MakePipe(&in_read, &in_write, &err) && MakePipe(&out_read, &out_write, &err);
  int low_read = in_read.get(), low_write = in_write.get();
  std::optional<ChildProcess> child;
  if (made)
    child = Spawn("/bin/cat", {"cat"}, in_read.get(), out_write.get(), kInheritStream, &err);
  in_read.Reset();
  out_write.Reset();
  if (child) {
    StreamExchange exchange;
    exchange.input_fd = in_write.get();
    exchange.input = "through";
    exchange.end_input = [&] { in_write.Reset(); };
    exchange.output_fd = out_read.get();
    exchange.output = &out;
    ExchangeWithChild(exchange, &err);
    child->Wait();
  }
  in_write.Reset();
  dup2(saved_in.get(), 0);
  dup2(saved_out.get(), 1);
  ASSERT_TRUE(made) << err;
  EXPECT_EQ(low_read, 0);
  EXPECT_EQ(low_write, 1);
  EXPECT_EQ(out, "through") << err;
}

TEST(SpawnTest, StatusIsReapedOnceAndDestructionReaps) {
  std::string err;
  std::optional<ChildProcess> child =
      Spawn("/bin/sh", {"sh", "-c", "exit 7"}, kNullDevice, kNullDevice, kInheritStream, &err);
  ASSERT_TRUE(child) << err;
  int status = child->Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
  EXPECT_EQ(child->Wait(), -1);
  {
    std::optional<ChildProcess> left =
        Spawn("/bin/true", {"true"}, kNullDevice, kNullDevice, kInheritStream, &err);
    ASSERT_TRUE(left) << err;
    ChildProcess moved = std::move(*left);
  }
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(SpawnTest, NulInPathOrArgumentIsRefused) {
  std::string err;
  EXPECT_FALSE(Spawn(std::string("/bin/true\0", 10), {"true"}, kNullDevice, kNullDevice,
                     kInheritStream, &err));
  EXPECT_FALSE(Spawn("/bin/echo", {"echo", std::string("a\0b", 3)}, kNullDevice, kNullDevice,
                     kInheritStream, &err));
  EXPECT_NE(err.find("Invalid argument"), std::string::npos) << err;
}

TEST(ExchangeTest, InputIsEndedExactlyOnce) {
  for (std::string input : {std::string(), std::string(1u << 20, 'x')}) {
    OwnedFd in_read, in_write;
    std::string err;
    ASSERT_TRUE(MakePipe(&in_read, &in_write, &err));
    in_read.Reset();  // the reader is gone before anything is written
    int ended = 0;
    StreamExchange exchange;
    exchange.input_fd = in_write.get();
    exchange.input = input;
    exchange.end_input = [&] {
      ++ended;
      in_write.Reset();
    };
    EXPECT_TRUE(ExchangeWithChild(exchange, &err)) << err;
    EXPECT_EQ(ended, 1) << input.size();
  }
}

}  // namespace
}  // namespace platform
