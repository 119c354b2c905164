#include "platform/process/authorization.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "platform/process/polkit_authority.h"
#include "tests/as_nobody.h"
#include "tests/polkit_stub.h"
#include "tests/scratch_folder.h"

namespace {

OSStatus AskAdmin(AuthorizationRef ref, AuthorizationFlags flags, const char* right) {
  const char* tool = "/bin/true";
  AuthorizationItem item = {right, std::strlen(tool), const_cast<char*>(tool), 0};
  AuthorizationRights rights = {1, &item};
  return AuthorizationCopyRights(ref, &rights, nullptr, flags, nullptr);
}

class AuthorizationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref_),
              errAuthorizationSuccess);
  }
  void TearDown() override {
    if (ref_) {
      EXPECT_EQ(AuthorizationFree(ref_, kAuthorizationFlagDestroyRights), 0);
    }
    platform::SetPrivilegeHelperForTesting(nullptr);
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
  AuthorizationRef ref_ = nullptr;
};

TEST_F(AuthorizationTest, RootHoldsTheAdminRightOnly) {
  EXPECT_EQ(AskAdmin(ref_, kAuthorizationFlagDefaults, kAuthorizationRightExecute), 0);
  EXPECT_EQ(AskAdmin(ref_, kAuthorizationFlagDefaults, "system.other"), errAuthorizationDenied);
  EXPECT_EQ(AskAdmin(nullptr, kAuthorizationFlagExtendRights, kAuthorizationRightExecute),
            errAuthorizationInvalidRef);
}

TEST_F(AuthorizationTest, StreamCarriesInputAndOutputAndCloseReaps) {
  char script[] = "read line; echo \"got $line\"; exit 3";
  char* args[] = {const_cast<char*>("-c"), script, nullptr};
  FILE* stream = nullptr;
  ASSERT_EQ(AuthorizationExecuteWithPrivileges(ref_, "/bin/sh", kAuthorizationFlagDefaults, args,
                                               &stream),
            errAuthorizationSuccess);
  ASSERT_NE(stream, nullptr);
  int fd = fileno(stream);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  ASSERT_EQ(write(fd, "hello\n", 6), 6);
  shutdown(fd, SHUT_WR);
  char buffer[64];
  std::string got;
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) got.append(buffer, n);
  EXPECT_EQ(got, "got hello\n");
  int status = -1;
  EXPECT_EQ(AuthorizationCloseStream(stream, &status), errAuthorizationSuccess);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
}

TEST_F(AuthorizationTest, WithoutStreamTheCallWaitsForTheTool) {
  const test_support::ScratchFolder folder("auth-test");
  const std::string mark = folder.File("mark");
  std::string script = "read x; sleep 0.2; echo ${x:-empty} > " + mark;
  char* args[] = {const_cast<char*>("-c"), script.data(), nullptr};
  EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref_, "/bin/sh", 0, args, nullptr), 0);
  struct stat info;
  EXPECT_EQ(stat(mark.c_str(), &info), 0);  // done, reading /dev/null as its input
  EXPECT_EQ(info.st_size, 6);
}

TEST_F(AuthorizationTest, FailuresToStartAndForeignStreams) {
  FILE* stream = reinterpret_cast<FILE*>(1);
  EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref_, "/no/such/tool", 0, nullptr, &stream),
            errAuthorizationToolExecuteFailure);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref_, "/etc/passwd", 0, nullptr, nullptr),
            errAuthorizationToolExecuteFailure);
  FILE* foreign = tmpfile();
  ASSERT_NE(foreign, nullptr);
  EXPECT_EQ(AuthorizationCloseStream(foreign), errAuthorizationInvalidPointer);
  EXPECT_EQ(std::fputs("still open", foreign) >= 0, true);
  std::fclose(foreign);
}

TEST_F(AuthorizationTest, OrdinaryUserNeedsTheHelperAndInteraction) {
  EXPECT_EQ(
      test_support::AsNobody([] {
        platform::SetPrivilegeHelperForTesting("/nonexistent/pkexec");
        AuthorizationRef ref = nullptr;
        if (AuthorizationCreate(nullptr, nullptr, 0, &ref) != 0) return 1;
        const AuthorizationFlags interactive =
            kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights;
        if (AskAdmin(ref, interactive, kAuthorizationRightExecute) != errAuthorizationDenied)
          return 2;
        if (AuthorizationExecuteWithPrivileges(ref, "/bin/true", 0, nullptr, nullptr) !=
            errAuthorizationDenied)
          return 3;

        platform::SetPrivilegeHelperForTesting("/usr/bin/env");
        if (AskAdmin(ref, kAuthorizationFlagExtendRights, kAuthorizationRightExecute) == 0)
          return 4;  // without interaction nobody is asked
        if (AskAdmin(ref, kAuthorizationFlagInteractionAllowed, kAuthorizationRightExecute) == 0)
          return 5;  // without extending, only what is held counts
        if (AskAdmin(ref, interactive | kAuthorizationFlagPreAuthorize,
                     kAuthorizationRightExecute) != 0)
          return 6;
        if (AskAdmin(ref, kAuthorizationFlagDefaults, kAuthorizationRightExecute) != 0)
          return 7;  // held from now on
        AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
        return 0;
      }),
      0);
}

// pkexec ends with 126 (dialog dismissed) or 127 (not authorised) when it refuses; the tool
// then never ran, and closing its stream says so.
TEST_F(AuthorizationTest, PkexecsRefusalIsReportedOnClose) {
  const test_support::ScratchFolder folder("auth-test");
  ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
  const std::string helper = folder.File("pkexec");
  struct Case {
    int exit_status;
    OSStatus expected;
  };
  for (const Case& c : {Case{126, errAuthorizationCanceled}, Case{127, errAuthorizationDenied},
                        Case{3, errAuthorizationSuccess}}) {
    SCOPED_TRACE(c.exit_status);
    FILE* f = std::fopen(helper.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "#!/bin/sh\nexit %d\n", c.exit_status);
    std::fclose(f);
    ASSERT_EQ(chmod(helper.c_str(), 0755), 0);
    EXPECT_EQ(
        test_support::AsNobody([&] {
          platform::SetPrivilegeHelperForTesting(helper.c_str());
          AuthorizationRef ref = nullptr;
          if (AuthorizationCreate(nullptr, nullptr, 0, &ref) != 0) return 1;
          if (AskAdmin(ref, kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights,
                       kAuthorizationRightExecute) != 0)
            return 2;
          FILE* stream = nullptr;
          if (AuthorizationExecuteWithPrivileges(ref, "/bin/true", 0, nullptr, &stream) != 0)
            return 3;
          if (AuthorizationCloseStream(stream) != c.expected) return 4;
          if (AuthorizationExecuteWithPrivileges(ref, "/bin/true", 0, nullptr, nullptr) !=
              c.expected)
            return 5;
          AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
          return 0;
        }),
        0);
  }
}

// Without a stand-in, polkit decides; one that cannot be reached grants nothing, silently or not.
TEST_F(AuthorizationTest, OrdinaryUserIsRefusedWhenPolkitDoesNotAnswer) {
  EXPECT_EQ(test_support::AsNobody([] {
              if (setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/qrb-test-bus", 1))
                return 1;
              AuthorizationRef ref = nullptr;
              if (AuthorizationCreate(nullptr, nullptr, 0, &ref) != 0) return 2;
              const AuthorizationFlags interactive =
                  kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights;
              if (AskAdmin(ref, interactive, kAuthorizationRightExecute) != errAuthorizationDenied)
                return 3;
              if (AskAdmin(ref, kAuthorizationFlagExtendRights, kAuthorizationRightExecute) == 0)
                return 4;
              if (AskAdmin(ref, interactive, "system.other") != errAuthorizationDenied) return 5;
              AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
              return 0;
            }),
            0);
}

// The questions an ordinary user's process puts to polkit (a stand-in daemon on a bus of the
// test's own, answering every check alike) and what AuthorizationCopyRights makes of the
// answers. The stand-in names the action for /usr/bin/stubbed twice: first with its first
// argument restricted (pkexec takes that one only for that argument), then unrestricted. Run
// as root, the asking process becomes nobody; run as an ordinary user, it stays that user.
TEST(AuthorizationAsOrdinaryUser, GetsWhatPolkitAnswers) {
  if (auto missing = test_support::StubPolkit::Missing()) GTEST_SKIP() << "needs " << *missing;
  constexpr AuthorizationFlags kAsk =
      kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights;
  constexpr AuthorizationFlags kSilent = kAuthorizationFlagExtendRights;
  constexpr bool kSetUserId = true;
  constexpr bool kPlain = false;
  constexpr uid_t kSetUserIdOwner = 1;  // a set-user-ID program's owner, not root
  const bool root = geteuid() == 0;
  const std::string me = std::to_string(root ? test_support::kNobody : getuid());
  const std::string generic = "check org.freedesktop.policykit.exec uid=" + me + " flags=";
  struct Case {
    const char* answer;
    std::string tool;
    AuthorizationFlags flags;
    bool set_user_id;
    OSStatus status;
    std::string questions;
    std::string reason;
  };
  const Case cases[] = {
      {"yes", "/bin/true", kAsk, kPlain, 0, "actions\n" + generic + "1\n", ""},
      {"no", "/bin/true", kAsk, kPlain, errAuthorizationDenied, "actions\n" + generic + "1\n", ""},
      {"no", "/bin/true", kSilent, kPlain, errAuthorizationDenied, "actions\n" + generic + "0\n",
       ""},
      // Without InteractionAllowed nobody is asked, extending the rights or not.
      {"challenge", "/bin/true", kSilent, kPlain, errAuthorizationInteractionNotAllowed,
       "actions\n" + generic + "0\n", ""},
      {"challenge", "/bin/true", kAuthorizationFlagInteractionAllowed, kPlain,
       errAuthorizationInteractionNotAllowed, "actions\n" + generic + "0\n", ""},
      {"challenge", "/bin/true", kAsk, kPlain, errAuthorizationDenied,
       "actions\n" + generic + "1\n", ""},
      {"dismissed", "/bin/true", kAsk, kPlain, errAuthorizationCanceled,
       "actions\n" + generic + "1\n", ""},
      {"yes", "/usr/bin/stubbed", kAsk, kPlain, 0,
       "actions\ncheck org.qrb.stub.plain uid=" + me + " flags=1\n", ""},
      {"yes", "", kAsk, kPlain, errAuthorizationDenied, "", ""},
      // A set-user-ID caller is asked about as the user who started it.
      {"yes", "/bin/true", kAsk, kSetUserId, 0, "actions\n" + generic + "1\n", ""},
      // A daemon that never answers: a quick question is given the short wait, the dialog the
      // long one; one that answers nothing never gets to the dialog's wait.
      {"silent", "/bin/true", kSilent, kPlain, errAuthorizationDenied,
       "actions\n" + generic + "0\n", "polkit did not answer within 300 ms"},
      {"silent", "/bin/true", kAsk, kPlain, errAuthorizationDenied, "actions\n" + generic + "1\n",
       "polkit did not answer within 1500 ms"},
      {"mute", "/bin/true", kAsk, kPlain, errAuthorizationDenied, "actions\n",
       "polkit did not answer within 300 ms"},
      {"dead", "/bin/true", kAsk, kPlain, errAuthorizationDenied, "",
       "polkit did not answer within 300 ms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.answer) + " " + c.tool + " flags " + std::to_string(c.flags) +
                 (c.set_user_id ? " set-user-ID" : ""));
    if (c.set_user_id && !root) continue;  // only root can make such a process
    test_support::StubPolkit polkit(c.answer);
    ASSERT_TRUE(polkit.ready());
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const int exit_status = test_support::InChild([&] {
      close(report[0]);
      if (setenv("DBUS_SYSTEM_BUS_ADDRESS", polkit.address().c_str(), 1) != 0) return 1;
      const uid_t effective = c.set_user_id ? kSetUserIdOwner : test_support::kNobody;
      if (root &&
          (setgroups(0, nullptr) != 0 ||
           setresgid(test_support::kNobody, test_support::kNobody, test_support::kNobody) != 0 ||
           setresuid(test_support::kNobody, effective, effective) != 0))
        return 2;
      platform::SetPolkitTimeoutsForTesting(std::chrono::milliseconds(300),
                                            std::chrono::milliseconds(1500));
      AuthorizationRef ref = nullptr;
      if (AuthorizationCreate(nullptr, nullptr, 0, &ref) != 0) return 3;
      std::string tool = c.tool;
      AuthorizationItem item = {kAuthorizationRightExecute, tool.size(), tool.data(), 0};
      AuthorizationRights rights = {1, &item};
      const OSStatus status = AuthorizationCopyRights(ref, &rights, nullptr, c.flags, nullptr);
      const std::string said =
          std::to_string(status) + "\n" + platform::AuthorizationRefusalReason(ref);
      AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
      return write(report[1], said.data(), said.size()) == static_cast<ssize_t>(said.size()) ? 0
                                                                                             : 4;
    });
    close(report[1]);
    std::string said;
    char buffer[256];
    for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) said.append(buffer, n);
    close(report[0]);
    EXPECT_EQ(exit_status, 0);
    EXPECT_EQ(said, std::to_string(c.status) + "\n" + c.reason);
    EXPECT_EQ(polkit.Questions(), c.questions);
  }
}

}  // namespace
