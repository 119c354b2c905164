#include "utility/qrb_shell_command.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/process/polkit_authority.h"
#include "tests/as_nobody.h"
#include "tests/polkit_stub.h"
#include "tests/scratch_folder.h"

namespace {

const std::string& Text(const platform::Dictionary& result, const char* key) {
  static const std::string missing = "<missing>";
  const std::string* text = result.StringFor(key);
  return text ? *text : missing;
}

std::int64_t Code(const platform::Dictionary& result) {
  return result.IntegerFor(commandResultKey).value_or(999);
}

class ShellCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runner_ = QRBShellCommand::Create();
    ASSERT_NE(runner_, nullptr);
  }
  void TearDown() override {
    runner_.reset();
    platform::SetPrivilegeHelperForTesting(nullptr);
    // Every child was reaped.
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
  std::unique_ptr<QRBShellCommand> runner_;
};

TEST_F(ShellCommandTest, QuietProgramGivesEmptyTextsAndExitStatusIsNotReported) {
  for (const char* program : {"/bin/true", "/bin/false"}) {
    platform::Dictionary result = runner_->launch(program);
    EXPECT_EQ(Text(result, commandOutputKey), "") << program;
    EXPECT_EQ(Text(result, commandErrorKey), "") << program;
    EXPECT_EQ(Code(result), 0) << program;
    EXPECT_EQ(result.size(), 3u);
  }
}

TEST_F(ShellCommandTest, OutputAndErrorKeepTheChildsBytes) {
  platform::Dictionary result = runner_->launch(
      "/bin/sh", {"-c", "printf '\\377\\000\\200caf\\303\\251'; printf 'e\\001' >&2"});
  EXPECT_EQ(Text(result, commandOutputKey), std::string("\xff\0\x80"
                                                        "caf\xc3\xa9",
                                                        8));
  EXPECT_EQ(Text(result, commandErrorKey), std::string("e\x01"));
  // Arguments reach the program as given, without a shell between.
  result = runner_->launch("/bin/echo", {"$HOME", "a b", "*"});
  EXPECT_EQ(Text(result, commandOutputKey), "$HOME a b *\n");
}

TEST_F(ShellCommandTest, LargeInputAndBothOutputsFlowAtOnce) {
  constexpr std::size_t kSize = 64u << 20;
  std::string input(kSize, '\0');
  for (std::size_t i = 0; i < kSize; ++i) input[i] = static_cast<char>(i * 7 + i / 4096);
  platform::Dictionary result = runner_->launch(
      "/bin/sh", {"-c", "head -c 67108864 /dev/zero | tr '\\000' e >&2 & cat; wait"}, input);
  EXPECT_EQ(Code(result), 0);
  EXPECT_TRUE(Text(result, commandOutputKey) == input);
  EXPECT_EQ(Text(result, commandErrorKey), std::string(kSize, 'e'));
}

TEST_F(ShellCommandTest, InputIsEndedSoAReadingChildFinishes) {
  platform::Dictionary result = runner_->launch("/bin/cat");
  EXPECT_EQ(Text(result, commandOutputKey), "");
  result = runner_->launch("/bin/cat", {}, std::string(""));
  EXPECT_EQ(Text(result, commandOutputKey), "");
  result = runner_->launch("/bin/cat", {"-"}, std::string("line\n"));
  EXPECT_EQ(Text(result, commandOutputKey), "line\n");
}

TEST_F(ShellCommandTest, ChildThatIgnoresItsInputDoesNotRaiseSigpipeHere) {
  struct sigaction before {};
  sigaction(SIGPIPE, nullptr, &before);
  platform::Dictionary result =
      runner_->launch("/bin/sh", {"-c", "exec 0<&-; echo gone"}, std::string(8u << 20, 'x'));
  EXPECT_EQ(Code(result), 0);
  EXPECT_EQ(Text(result, commandOutputKey), "gone\n");
  // Nothing pending, nothing left blocked, the disposition untouched.
  sigset_t pending, mask;
  sigpending(&pending);
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  EXPECT_FALSE(sigismember(&mask, SIGPIPE));
  struct sigaction after {};
  sigaction(SIGPIPE, nullptr, &after);
  EXPECT_EQ(before.sa_handler, after.sa_handler);
}

TEST_F(ShellCommandTest, ProgramThatCannotStartIsReportedWithReason) {
  const test_support::ScratchFolder folder("runner-test");
  const std::string plain = folder.File("not-executable");
  FILE* file = std::fopen(plain.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs("#!/bin/sh\necho ran\n", file);
  std::fclose(file);
  chmod(plain.c_str(), 0644);
  const std::string missing = folder.File("missing");

  struct Case {
    std::string path;
    const char* reason;
  } cases[] = {{missing, "No such file or directory"},
               {plain, "Permission denied"},
               {"true", "No such file or directory"}};  // no search of PATH
  for (const Case& c : cases) {
    platform::Dictionary result = runner_->launch(c.path, {"x"}, std::string("in"));
    EXPECT_EQ(Code(result), -1) << c.path;
    EXPECT_EQ(Text(result, commandOutputKey), "") << c.path;
    EXPECT_EQ(Text(result, commandErrorKey), c.path + ": " + c.reason);
  }
  EXPECT_EQ(Code(runner_->launch(std::string("/bin/true\0x", 11))), -1);
}

TEST_F(ShellCommandTest, PrivilegedLaunchUsesOneStreamBothWays) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  // More input than the socket holds, echoed while it is written.
  std::string input(16u << 20, '\0');
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<char>(i % 251);
  platform::Dictionary result = runner_->launchAsRoot("/bin/cat", {}, input);
  EXPECT_EQ(Code(result), 0);
  EXPECT_TRUE(Text(result, commandOutputKey) == input);
  EXPECT_EQ(result.Find(commandErrorKey), nullptr);

  // Output of whole 512-byte blocks is read to its end.
  for (const char* count : {"512", "4096", "1048576"}) {
    result = runner_->launchAsRoot("/usr/bin/head", {"-c", count, "/dev/zero"});
    EXPECT_EQ(Text(result, commandOutputKey), std::string(std::atoi(count), '\0')) << count;
  }
  // No input: the stream is ended at once, so cat finishes.
  result = runner_->launchAsRoot("/bin/cat");
  EXPECT_EQ(Text(result, commandOutputKey), "");
  EXPECT_EQ(Code(result), 0);
  // A child that leaves without reading still has its output read.
  result = runner_->launchAsRoot("/bin/echo", {"done"}, std::string(4u << 20, 'x'));
  EXPECT_EQ(Text(result, commandOutputKey), "done\n");
  result = runner_->launchAsRoot("/no/such/program", {"a"});
  EXPECT_EQ(Text(result, commandOutputKey),
            "Unable to launch /no/such/program with superuser privileges");
  EXPECT_EQ(Code(result), -1);
}

TEST_F(ShellCommandTest, OrdinaryUserWithoutPkexecIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  auto refused = [](const char* helper) {
    return [helper] {
      platform::SetPrivilegeHelperForTesting(helper);
      std::unique_ptr<QRBShellCommand> runner = QRBShellCommand::Create();
      if (!runner) return 1;
      if (runner->authAgent("/bin/true", 1) || runner->authAgent("/bin/true", 2)) return 2;
      platform::Dictionary result = runner->launchAsRoot("/bin/true", {"-x"}, std::string("in"));
      if (Code(result) != -2) return 3;
      if (Text(result, commandOutputKey) !=
          std::string("Authentication failed for command /bin/true: ") +
              (helper ? helper : "/usr/bin/pkexec") + " is not installed") {
        std::fprintf(stderr, "got: %s\n", Text(result, commandOutputKey).c_str());
        return 4;
      }
      if (result.Find(commandErrorKey) || result.size() != 2) return 5;
      return 0;
    };
  };
  EXPECT_EQ(test_support::AsNobody(refused("/nonexistent/pkexec")), 0);
  // The real helper only where it is absent: a present one would show its dialog.
  if (access("/usr/bin/pkexec", F_OK) != 0) {
    EXPECT_EQ(test_support::AsNobody(refused(nullptr)), 0);
  }
}

TEST_F(ShellCommandTest, OrdinaryUserIsAskedOnceThenRunsThroughTheHelper) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  // /usr/bin/env stands in for pkexec: it runs "tool args..." as given.
  EXPECT_EQ(test_support::AsNobody([] {
              platform::SetPrivilegeHelperForTesting("/usr/bin/env");
              std::unique_ptr<QRBShellCommand> runner = QRBShellCommand::Create();
              if (!runner) return 1;
              if (runner->authAgent("/bin/cat", 3)) return 2;  // silent: not granted yet
              platform::Dictionary result = runner->launchAsRoot("/bin/cat", {}, std::string("hi"));
              if (Code(result) != 0 || Text(result, commandOutputKey) != "hi") return 3;
              if (!runner->authAgent("/bin/cat", 3)) return 4;  // the right stays with it
              if (QRBShellCommand::Create()->authAgent("/bin/cat", 3)) return 5;
              // pkexec would look a relative name up in PATH; a missing program would be its
              // 127, which cannot be told from the program's own.
              if (Code(runner->launchAsRoot("cat")) != -1) return 6;
              if (Code(runner->launchAsRoot("/no/such/program")) != -1) return 8;
              errno = 0;
              if (waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD) return 7;
              return 0;
            }),
            0);
}

// A stand-in for pkexec that ends as the real one does when it refuses, or as the tool would.
class StandInHelper {
 public:
  explicit StandInHelper(int exit_status) : folder_("qrb-helper"), path_(folder_.File("pkexec")) {
    FILE* f = std::fopen(path_.c_str(), "w");
    if (f == nullptr) return;
    std::fprintf(f, "#!/bin/sh\nexit %d\n", exit_status);
    std::fclose(f);
    chmod(path_.c_str(), 0755);
    chmod(folder_.path().c_str(), 0755);
  }
  const char* path() const { return path_.c_str(); }

 private:
  const test_support::ScratchFolder folder_;
  const std::string path_;
};

TEST_F(ShellCommandTest, PkexecsRefusalIsARefusal) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  struct Case {
    int helper_exit;  // 126: the dialog was dismissed; 127: the user is not authorised
    std::int64_t code;
    std::string output;
  };
  const Case cases[] = {
      {126, -2, "Authentication failed for command /usr/sbin/xinetd"},
      {127, -2, "Authentication failed for command /usr/sbin/xinetd"},
      {1, 0, ""},  // the tool ran and failed: a run all the same
      {0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.helper_exit);
    StandInHelper helper(c.helper_exit);
    EXPECT_EQ(test_support::AsNobody([&] {
                platform::SetPrivilegeHelperForTesting(helper.path());
                std::unique_ptr<QRBShellCommand> runner = QRBShellCommand::Create();
                if (!runner) return 1;
                platform::Dictionary result = runner->launchAsRoot(
                    "/usr/sbin/xinetd", {"-pidfile", "/var/run/xinetd.pid"}, std::string("in"));
                if (Code(result) != c.code) return 2;
                if (Text(result, commandOutputKey) != c.output) return 3;
                if (result.Find(commandErrorKey) != nullptr) return 4;
                return 0;
              }),
              0);
  }
}

// A privileged child that leaves with its input unread resets the stream: that is its end.
TEST_F(ShellCommandTest, PrivilegedChildThatLeavesInputUnreadEndsTheOutput) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  // The pause lets the input fill the socket before the child leaves.
  platform::Dictionary result =
      runner_->launchAsRoot("/bin/sh", {"-c", "sleep 0.2; echo done"}, std::string(4u << 20, 'x'));
  EXPECT_EQ(Code(result), 0);
  EXPECT_EQ(Text(result, commandOutputKey), "done\n");
  EXPECT_EQ(result.Find(commandErrorKey), nullptr) << Text(result, commandErrorKey);
}

// As an ordinary user (nobody, when the test runs as root), polkit (a stand-in daemon on a bus
// of the test's own) decides; when it makes no decision the refusal says why, and a daemon
// silent to the quiet question is not asked again with a dialog.
TEST_F(ShellCommandTest, OrdinaryUserRefusedByPolkitOrByItsSilence) {
  if (auto missing = test_support::StubPolkit::Missing()) GTEST_SKIP() << "needs " << *missing;
  if (access("/usr/bin/pkexec", X_OK) != 0) GTEST_SKIP() << "needs /usr/bin/pkexec";
  const uid_t user = geteuid() == 0 ? test_support::kNobody : getuid();
  const std::string check =
      "check org.freedesktop.policykit.exec uid=" + std::to_string(user) + " flags=";
  const std::string refused = "Authentication failed for command /bin/true";
  struct Case {
    const char* answer;
    std::string output;
    std::string questions;
  } cases[] = {
      {"no", refused, "actions\n" + check + "0\nactions\n" + check + "1\n"},
      {"dismissed", refused, "actions\n" + check + "0\nactions\n" + check + "1\n"},
      {"silent", refused + ": polkit did not answer within 300 ms", "actions\n" + check + "0\n"},
      {"dead", refused + ": polkit did not answer within 300 ms", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    test_support::StubPolkit polkit(c.answer);
    ASSERT_TRUE(polkit.ready());
    EXPECT_EQ(test_support::AsOrdinaryUser([&] {
                if (setenv("DBUS_SYSTEM_BUS_ADDRESS", polkit.address().c_str(), 1) != 0) return 1;
                platform::SetPolkitTimeoutsForTesting(std::chrono::milliseconds(300),
                                                      std::chrono::milliseconds(1500));
                std::unique_ptr<QRBShellCommand> runner = QRBShellCommand::Create();
                if (!runner) return 2;
                platform::Dictionary result =
                    runner->launchAsRoot("/bin/true", {}, std::string("in"));
                if (Code(result) != -2) return 3;
                if (Text(result, commandOutputKey) != c.output) {
                  std::fprintf(stderr, "got: %s\n", Text(result, commandOutputKey).c_str());
                  return 4;
                }
                return result.Find(commandErrorKey) ? 5 : 0;
              }),
              0);
    EXPECT_EQ(polkit.Questions(), c.questions);
  }
}

TEST(SharedShellCommandTest, IsOneInstance) {
  QRBShellCommand* shared = QRBShellCommand::sharedShellCommand();
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(shared, QRBShellCommand::sharedShellCommand());
  EXPECT_EQ(Text(shared->launch("/bin/echo", {"x"}), commandOutputKey), "x\n");
}

}  // namespace
