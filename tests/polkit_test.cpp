// Administrator rights for ordinary users, against the real polkit: each scenario runs as root
// inside private mount and pid namespaces (polkit_sandbox.sh) with its own system bus, the
// real polkitd reading the project's policy file and test rules, test users that exist only
// in there, and a recording stand-in over /usr/sbin/xinetd.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "tests/test_support.h"

namespace {

using test_support::ReadFile;
using test_support::TempDir;

const std::string kSandbox = std::string(TESTS_SOURCE_DIR) + "/polkit_sandbox.sh";
const std::string kAgent = std::string(TESTS_SOURCE_DIR) + "/polkit_agent.py";
const std::string kStandin = XINETD_STANDIN_PATH;
const std::string kPolicy =
    std::string(TESTS_SOURCE_DIR) + "/../polkit/org.qrb.tftpcontroller.policy";
const std::string kStarted = "xinetd start uid=0 euid=0 [-pidfile] [/var/run/xinetd.pid]\n";
const std::string kRefused =
    "Launching xinetd (Morvane) ... Authentication failed for command /usr/sbin/xinetd";

// Lines the test rules write for each check of one of our actions: by the runner itself, and
// by pkexec (which passes the program).
std::string RunnerCheck(const std::string& action, const std::string& user) {
  return "org.qrb.tftpcontroller." + action + " user=" + user + " program=undefined pkexec=false\n";
}
std::string PkexecCheck(const std::string& action, const std::string& user,
                        const std::string& program) {
  return "org.qrb.tftpcontroller." + action + " user=" + user + " program=" + program +
         " pkexec=true\n";
}

bool CanMakeSandbox(std::string* missing) {
  if (!test_support::IsRoot()) {
    *missing = "root";
    return false;
  }
  for (const char* tool :
       {"/usr/bin/unshare", "/usr/bin/setpriv", "/usr/bin/timeout", "/usr/sbin/xinetd", "/bin/kill",
        "/usr/bin/dbus-daemon", "/usr/bin/dbus-send", "/usr/bin/pkexec", "/usr/bin/pkaction",
        "/usr/bin/pkttyagent", "/usr/bin/python3"}) {
    if (access(tool, X_OK) != 0) {
      *missing = tool;
      return false;
    }
  }
  if (access("/usr/lib/polkit-1/polkitd", X_OK) != 0 && access("/usr/libexec/polkitd", X_OK) != 0) {
    *missing = "polkitd";
    return false;
  }
  if (test_support::Run(
          {"/usr/bin/unshare", "--kill-child", "-m", "-p", "-f", "--mount-proc", "/bin/true"})
          .status != 0) {
    *missing = "private mount and pid namespaces";
    return false;
  }
  return true;
}

#define REQUIRE_SANDBOX()                                                                    \
  do {                                                                                       \
    std::string missing;                                                                     \
    if (!CanMakeSandbox(&missing))                                                           \
      GTEST_SKIP() << "needs " << missing                                                    \
                   << " (root, private namespaces, xinetd, dbus, polkitd, pkexec, python3)"; \
  } while (0)

class Scenario {
 public:
  explicit Scenario(const std::string& script) {
    test_support::WriteFile(dir_.File("scenario.sh"), script);
    sandbox_ =
        test_support::Run({"/usr/bin/timeout", "-k", "5", "240", "/usr/bin/unshare", "--kill-child",
                           "-m", "-p", "-f", "--mount-proc", "/bin/sh", kSandbox, dir_.path(),
                           kPolicy, kAgent, kStandin, XINETDTOOL_PATH, ROOT_LAUNCHER_PATH});
  }
  bool ran() const { return sandbox_.status == 0; }
  std::string Report() const {
    return "sandbox status " + std::to_string(sandbox_.status) + ": " + sandbox_.err +
           "\npolkitd: " + File("polkitd.log");
  }
  std::string File(const std::string& name) const { return ReadFile(dir_.File(name)); }
  int Status(const std::string& run) const {
    std::string s = File(run + ".status");
    return s.empty() ? -1 : std::stoi(s);
  }

 private:
  TempDir dir_;
  test_support::RunResult sandbox_;
};

// `err` is exactly one log line of xinetdtool's with `message`.
testing::AssertionResult IsLogLine(const std::string& err, const std::string& message) {
  static const std::regex stamp(
      R"re(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} xinetdtool\[\d+:\d+\] )re");
  std::smatch m;
  if (!std::regex_search(err, m, stamp) || err.substr(m.length()) != message + "\n")
    return testing::AssertionFailure()
           << "\"" << err << "\" is not the log line \"" << message << '"';
  return testing::AssertionSuccess();
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(RealPolkit, TheRulesDecideAndARefusedUserStartsNothing) {
  REQUIRE_SANDBOX();
  Scenario s(R"sh(run_as qrbno refused xinetdtool --start
cp /run/sandbox/record "$work/refused.record"
cp /run/sandbox/checks "$work/refused.checks"
: >/run/sandbox/checks
run_as qrbyes granted xinetdtool --start
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  // Refused: asked silently, then with interaction; pkexec never ran, nothing started.
  EXPECT_EQ(s.Status("refused"), 0);
  EXPECT_EQ(s.File("refused.out"), "");
  EXPECT_TRUE(IsLogLine(s.File("refused.err"), kRefused));
  EXPECT_EQ(s.File("refused.record"), "");
  EXPECT_EQ(s.File("refused.checks"),
            RunnerCheck("xinetd", "qrbno") + RunnerCheck("xinetd", "qrbno"));
  // Granted: one check of the runner's (the silent one sufficed), one of pkexec's, one start
  // as root with exactly the pid file argument.
  EXPECT_EQ(s.Status("granted"), 0);
  EXPECT_TRUE(
      IsLogLine(s.File("granted.err"), "Launching xinetd (Morvane) ... xinetd stand-in started"));
  EXPECT_EQ(s.File("record"), kStarted);
  EXPECT_EQ(s.File("checks"),
            RunnerCheck("xinetd", "qrbyes") + PkexecCheck("xinetd", "qrbyes", "/usr/sbin/xinetd"));
}

TEST(RealPolkit, TheUserIsAskedOnceAndTheAuthorizationIsKeptForTheRunner) {
  REQUIRE_SANDBOX();
  // qrbask meets the policy's default: the administrator's password, kept for the process.
  Scenario s(
      R"sh(run_with_agent qrbask 'sandbox password' thrice root_launcher 3 /usr/sbin/xinetd -pidfile /run/x.pid
cp /run/sandbox/record "$work/thrice.record"
: >/run/sandbox/record
run_with_agent qrbask 'sandbox password' start xinetdtool --start
cp /run/sandbox/record "$work/start.record"
run_with_agent qrbask 'sandbox password' stop xinetdtool --stop
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  // Three launches by one runner: one dialog, showing the policy's message, then none.
  const std::string thrice = s.File("thrice.agent");
  EXPECT_EQ(Count(thrice, "Password:"), 1u) << thrice;
  EXPECT_NE(thrice.find("AUTHENTICATING FOR org.qrb.tftpcontroller.xinetd"), std::string::npos);
  EXPECT_NE(thrice.find("Authentication is required to run /usr/sbin/xinetd as root"),
            std::string::npos)
      << thrice;
  EXPECT_EQ(s.Status("thrice"), 0);
  const std::string started = "0 xinetd stand-in started\n";
  EXPECT_EQ(s.File("thrice.out"), started + started + started);
  const std::string recorded = "xinetd start uid=0 euid=0 [-pidfile] [/run/x.pid]\n";
  EXPECT_EQ(s.File("thrice.record"), recorded + recorded + recorded);
  // xinetdtool: one dialog each for xinetd and for /bin/kill, whose own check by pkexec then
  // finds the authorization kept.
  for (const char* run : {"start", "stop"}) {
    SCOPED_TRACE(run);
    EXPECT_EQ(Count(s.File(std::string(run) + ".agent"), "Password:"), 1u)
        << s.File(std::string(run) + ".agent");
    EXPECT_EQ(s.Status(run), 0);
  }
  EXPECT_NE(s.File("stop.agent").find("Authentication is required to run /bin/kill as root"),
            std::string::npos);
  EXPECT_TRUE(
      IsLogLine(s.File("start.err"), "Launching xinetd (Morvane) ... xinetd stand-in started"));
  EXPECT_TRUE(IsLogLine(s.File("stop.err"), "Stopping xinetd (Morvane) ... "));
  EXPECT_EQ(s.File("start.record"), kStarted);
  EXPECT_EQ(s.File("record"), kStarted + "xinetd TERM\n");
}

TEST(RealPolkit, AWrongPasswordOrNoPolkitIsARefusal) {
  REQUIRE_SANDBOX();
  Scenario s(R"sh(run_with_agent qrbask 'wrong password' wrong xinetdtool --start
stop_polkit
run_as qrbyes no_daemon xinetdtool --start
run_as qrbyes no_daemon_launcher root_launcher 1 /bin/kill -0 1
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  EXPECT_NE(s.File("wrong.agent").find("Password:"), std::string::npos) << s.File("wrong.agent");
  EXPECT_EQ(s.Status("wrong"), 0);
  EXPECT_TRUE(IsLogLine(s.File("wrong.err"), kRefused));
  EXPECT_EQ(s.Status("no_daemon"), 0);
  EXPECT_TRUE(IsLogLine(s.File("no_daemon.err"), kRefused + ": polkit is not running"));
  EXPECT_EQ(s.File("no_daemon_launcher.out"),
            "-2 Authentication failed for command /bin/kill: polkit is not running\n");
  EXPECT_EQ(s.File("record"), "");
  // pkexec never ran.
  EXPECT_EQ(s.File("checks").find("pkexec=true"), std::string::npos) << s.File("checks");
}

// Once polkit has said yes, pkexec's 126 and 127 are the program's own exit status: a run. A
// polkitd that never answers (stopped, holding its name) is a refusal with the reason, after
// the short wait.
TEST(RealPolkit, AfterPolkitsYesTheStatusIsTheProgramsAndSilenceIsARefusal) {
  REQUIRE_SANDBOX();
  Scenario s(R"sh(for status in 126 127; do
  run_with_agent qrbask 'sandbox password' own$status root_launcher 1 /bin/sh -c "id -u; exit $status"
done
kill -STOP "$polkitd_pid"
run_as qrbyes silent root_launcher 1 /bin/true
kill -CONT "$polkitd_pid"
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  for (const char* run : {"own126", "own127"}) {
    SCOPED_TRACE(run);
    EXPECT_EQ(s.File(std::string(run) + ".out"), "0 0\n\n") << s.File(std::string(run) + ".agent");
    EXPECT_EQ(s.Status(run), 0);
  }
  EXPECT_EQ(s.File("silent.out"),
            "-2 Authentication failed for command /bin/true: polkit did not answer within 10 "
            "seconds\n");
  EXPECT_EQ(s.Status("silent"), 0);
}

}  // namespace
