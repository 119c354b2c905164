// Administrator rights for ordinary users, against the real polkit: each scenario runs as root
// inside private mount and pid namespaces (polkit_sandbox.sh) with its own system bus, the
// real polkitd reading the project's policy file and test rules, test users that exist only
// in there, and a recording stand-in over /usr/sbin/xinetd.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <utility>

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
    sandbox_ = test_support::Run({"/usr/bin/timeout", "-k", "5", "240", "/usr/bin/unshare",
                                  "--kill-child", "-m", "-p", "-f", "--mount-proc", "/bin/sh",
                                  kSandbox, dir_.path(), kPolicy, kAgent, kStandin, XINETDTOOL_PATH,
                                  CONFIGTOOL_PATH, ROOT_LAUNCHER_PATH});
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
  // As the controlling application does: xinetdtool run with administrator rights.
  Scenario s(R"sh(run_as qrbno refused root_launcher 1 /usr/sbin/xinetdtool --start
cp /run/sandbox/record "$work/refused.record"
cp /run/sandbox/checks "$work/refused.checks"
: >/run/sandbox/checks
run_as qrbyes granted root_launcher 1 /usr/sbin/xinetdtool --start
cp /run/sandbox/checks "$work/granted.checks"
run_as qrbyes direct xinetdtool --restart
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  // Refused: polkit said no; pkexec never ran, nothing started.
  EXPECT_EQ(s.File("refused.out"), "-2 Authentication failed for command /usr/sbin/xinetdtool\n");
  EXPECT_EQ(s.File("refused.record"), "");
  EXPECT_NE(s.File("refused.checks").find(RunnerCheck("xinetdtool", "qrbno")), std::string::npos)
      << s.File("refused.checks");
  EXPECT_EQ(s.File("refused.checks").find("pkexec=true"), std::string::npos);
  // Granted: pkexec checked the same action, and xinetdtool, root, started xinetd itself with
  // exactly the pid file argument.
  EXPECT_EQ(s.File("granted.out"), "0 \n");
  EXPECT_TRUE(
      IsLogLine(s.File("granted.err"), "Launching xinetd (Morvane) ... xinetd stand-in started"));
  EXPECT_NE(
      s.File("granted.checks").find(PkexecCheck("xinetdtool", "qrbyes", "/usr/sbin/xinetdtool")),
      std::string::npos)
      << s.File("granted.checks");
  // xinetdtool run by the granted user directly asks for /bin/kill, which only pkexec's own
  // action (an administrator's password) covers: pkexec asks for it, finds no agent to ask
  // through and says so on standard error; refused, nothing signalled.
  const std::string direct = s.File("direct.err");
  const std::size_t last = direct.rfind('\n', direct.size() - 2);
  EXPECT_TRUE(
      IsLogLine(direct.substr(last == std::string::npos ? 0 : last + 1),
                "Restarting xinetd (Morvane) ... Authentication failed for command /bin/kill"))
      << direct;
  EXPECT_EQ(s.File("record"), kStarted);
}

// What a user the rules let control the TFTP service is given: xinetdtool and configtool as
// root, whose arguments they check, and nothing else; the grant is the example rule of
// docs/administrator-rights.md.
TEST(RealPolkit, AGrantControlsTheServiceAndNothingElse) {
  REQUIRE_SANDBOX();
  Scenario s(
      R"sh(printf 'service own\n{\n\tuser = root\n\tserver = /bin/sh\n}\n' >/run/sandbox/own.conf
cp /etc/shadow "$work/shadow.before"
cp /etc/xinetd.d/tftp "$work/tftp.before"
cp /etc/qrb-tftp-controller/tftp.plist "$work/plist.before"
pk=/usr/bin/pkexec
ct=/usr/sbin/configtool
tftp=/etc/xinetd.d/tftp
plist=/etc/qrb-tftp-controller/tftp.plist
run_as qrbyes xinetd_own $pk /usr/sbin/xinetd -f /run/sandbox/own.conf
run_as qrbyes kill_one $pk /bin/kill -0 1
run_as qrbyes runner_xinetd root_launcher 1 /usr/sbin/xinetd -f /run/sandbox/own.conf
run_as qrbyes xinetdtool_own $pk /usr/sbin/xinetdtool -f /run/sandbox/own.conf
run_as qrbyes shadow $pk $ct /etc/shadow 'qrbyes:!' 'qrbyes:' 'qrbyes:!'
run_as qrbyes shadow_link $pk $ct /etc/xinetd.d/../shadow 'qrbyes:!' 'qrbyes:' 'qrbyes:!'
run_as qrbyes user_root $pk $ct $tftp server_args '-u root /run/sandbox/served' /srv/tftp
run_as qrbyes user_line $pk $ct $tftp user nobody root
run_as qrbyes two_lines $pk $ct $tftp server_args "/srv/tftp
	user = nobody" /srv/tftp
run_as qrbyes map_file $pk $ct $tftp server_args '-m /etc/shadow /srv/tftp' /srv/tftp
run_as qrbyes plist_file $pk $ct $plist ProgramArguments /etc/shadow
run_as qrbyes plist_user $pk $ct $plist UserName root
cmp -s /etc/shadow "$work/shadow.before" && echo same >"$work/shadow.same"
cp /etc/xinetd.d/tftp "$work/tftp.refused"
cp /etc/qrb-tftp-controller/tftp.plist "$work/plist.refused"
run_as qrbyes folder $pk $ct $tftp server_args /run/sandbox/served /srv/tftp
run_as qrbyes enable $pk $ct $tftp disable no yes
run_as qrbyes plist_folder $pk $ct $plist ProgramArguments /run/sandbox/served
cp /etc/xinetd.d/tftp "$work/tftp.after"
cp /etc/qrb-tftp-controller/tftp.plist "$work/plist.after"
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  struct Run {
    const char* name;
    int status;
    const char* out;
    const char* err;  // a part of standard error
  } runs[] = {
      // General programs: only pkexec's own action, which the grant does not cover and no
      // agent answers.
      {"xinetd_own", 127, "", "authentication agent"},
      {"kill_one", 127, "", "authentication agent"},
      {"runner_xinetd", 0, "-2 Authentication failed for command /usr/sbin/xinetd\n", ""},
      // Our programs run as root and check their arguments.
      {"xinetdtool_own", 1, "", "Usage: /usr/sbin/xinetdtool --[start|restart|stop]"},
      {"shadow", 1, "", "configtool: refused: a granted user may edit only /etc/xinetd.d/tftp"},
      {"shadow_link", 1, "", "configtool: refused: a granted user may edit only"},
      {"user_root", 1, "", "refused: the server option \"-u\" is not allowed; the file is left"},
      {"user_line", 1, "", "refused: a granted user may change only server_args, disable and bind"},
      {"two_lines", 1, "", "refused: the edit would make more than one line"},
      {"map_file", 1, "", "refused: the server option \"-m\" is not allowed"},
      {"plist_file", 1, "", "refused: the served folder /etc/shadow is not an existing folder"},
      {"plist_user", 1, "", "refused: a granted user may change only ProgramArguments"},
      // What the controller changes.
      {"folder", 0, "1", ""},
      {"enable", 0, "1", ""},
      {"plist_folder", 0, "1", ""},
  };
  for (const Run& run : runs) {
    SCOPED_TRACE(run.name);
    EXPECT_EQ(s.Status(run.name), run.status);
    EXPECT_EQ(s.File(std::string(run.name) + ".out"), run.out);
    const std::string err = s.File(std::string(run.name) + ".err");
    EXPECT_NE(err.find(run.err), std::string::npos) << err;
  }
  // Nothing of the refused runs touched a file, nor started or signalled anything.
  EXPECT_EQ(s.File("shadow.same"), "same\n");
  EXPECT_EQ(s.File("tftp.refused"), s.File("tftp.before"));
  EXPECT_EQ(s.File("plist.refused"), s.File("plist.before"));
  EXPECT_EQ(s.File("record"), "");
  // configtool's refusals are its own: pkexec ran it with the grant.
  EXPECT_NE(s.File("checks").find(PkexecCheck("configtool", "qrbyes", "/usr/sbin/configtool")),
            std::string::npos)
      << s.File("checks");
  // The changes the controller makes went in, and only those lines changed.
  std::string want = s.File("tftp.before");
  for (auto [from, to] :
       {std::pair<std::string, std::string>{"= -s /srv/tftp", "= -s /run/sandbox/served"},
        {"= yes", "= no"}}) {
    ASSERT_NE(want.find(from), std::string::npos);
    want.replace(want.find(from), from.size(), to);
  }
  EXPECT_EQ(s.File("tftp.after"), want);
  EXPECT_NE(
      s.File("plist.after").find("<string>-s</string>\n\t\t<string>/run/sandbox/served</string>"),
      std::string::npos)
      << s.File("plist.after");
}

TEST(RealPolkit, OneDialogServesAStartAFolderChangeAndAStop) {
  REQUIRE_SANDBOX();
  // qrbask meets the policy's default: the administrator's password, kept for the process,
  // for both programs (their actions imply each other).
  Scenario s(
      R"sh(run_with_agent qrbask 'sandbox password' control root_launcher 1 /usr/sbin/xinetdtool --start --then /usr/sbin/configtool /etc/xinetd.d/tftp server_args /run/sandbox/served /srv/tftp --then /usr/sbin/xinetdtool --stop
cp /run/sandbox/record "$work/control.record"
: >/run/sandbox/record
run_with_agent qrbask 'sandbox password' direct xinetdtool --start
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  const std::string control = s.File("control.agent");
  EXPECT_EQ(Count(control, "Password:"), 1u) << control;
  EXPECT_NE(control.find("AUTHENTICATING FOR org.qrb.tftpcontroller.xinetdtool"), std::string::npos)
      << control;
  EXPECT_NE(control.find("Authentication is required to control the TFTP service"),
            std::string::npos)
      << control;
  EXPECT_EQ(s.Status("control"), 0);
  EXPECT_EQ(s.File("control.out"), "0 \n0 1\n0 \n");
  EXPECT_EQ(s.File("control.record"), kStarted + "xinetd TERM\n");
  // xinetdtool run directly: /usr/sbin/xinetd has no action of ours, so pkexec's own action
  // asks for the administrator's password, kept for nothing, once: pkexec asks, the runner
  // does not ask first.
  const std::string direct = s.File("direct.agent");
  EXPECT_EQ(Count(direct, "Password:"), 1u) << direct;
  EXPECT_EQ(Count(direct, "AUTHENTICATING FOR org.freedesktop.policykit.exec"),
            Count(direct, "AUTHENTICATING FOR"))
      << direct;
  EXPECT_TRUE(
      IsLogLine(s.File("direct.err"), "Launching xinetd (Morvane) ... xinetd stand-in started"));
  EXPECT_EQ(s.File("record"), kStarted);
}

TEST(RealPolkit, AWrongPasswordOrNoPolkitIsARefusal) {
  REQUIRE_SANDBOX();
  Scenario s(
      R"sh(run_with_agent qrbask 'wrong password' wrong root_launcher 1 /usr/sbin/xinetdtool --start
stop_polkit
run_as qrbyes no_daemon xinetdtool --start
run_as qrbyes no_daemon_launcher root_launcher 1 /bin/kill -0 1
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  EXPECT_NE(s.File("wrong.agent").find("Password:"), std::string::npos) << s.File("wrong.agent");
  EXPECT_EQ(s.Status("wrong"), 0);
  EXPECT_EQ(s.File("wrong.out"), "-2 Authentication failed for command /usr/sbin/xinetdtool\n");
  EXPECT_EQ(s.Status("no_daemon"), 0);
  EXPECT_TRUE(IsLogLine(s.File("no_daemon.err"), kRefused + ": polkit is not running"));
  EXPECT_EQ(s.File("no_daemon_launcher.out"),
            "-2 Authentication failed for command /bin/kill: polkit is not running\n");
  EXPECT_EQ(s.File("record"), "");
  // pkexec never ran.
  EXPECT_EQ(s.File("checks").find("pkexec=true"), std::string::npos) << s.File("checks");
}

// Once polkit has said yes (/bin/sh has a kept action in the sandbox), pkexec's 126 and 127 are
// the program's own exit status: a run. Under pkexec's own action, which keeps nothing, only
// pkexec asks, once, and its 126 is its refusal. A polkitd that never answers (stopped,
// holding its name) is a refusal with the reason, after the short wait.
TEST(RealPolkit, AfterPolkitsYesTheStatusIsTheProgramsAndSilenceIsARefusal) {
  REQUIRE_SANDBOX();
  Scenario s(R"sh(for status in 126 127; do
  run_with_agent qrbask 'sandbox password' own$status root_launcher 1 /bin/sh -c "id -u; exit $status"
done
run_with_agent qrbask 'sandbox password' each126 root_launcher 1 /bin/bash -c "exit 126"
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
  EXPECT_EQ(s.File("each126.out"), "-2 Authentication failed for command /bin/bash\n");
  EXPECT_EQ(Count(s.File("each126.agent"), "Password:"), 1u) << s.File("each126.agent");
  EXPECT_EQ(s.File("silent.out"),
            "-2 Authentication failed for command /bin/true: polkit did not answer within 10 "
            "seconds\n");
  EXPECT_EQ(s.Status("silent"), 0);
}

}  // namespace
