// xinetdtool run as the controlling application runs it. Each scenario runs as root inside
// private mount and pid namespaces (xinetdtool_sandbox.sh) with a recording stand-in laid over
// /usr/sbin/xinetd and a tmpfs over /run: the machine's pid file and processes stay untouched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using test_support::ReadFile;
using test_support::RunResult;
using test_support::TempDir;

const std::string kSandbox = std::string(TESTS_SOURCE_DIR) + "/xinetdtool_sandbox.sh";
const std::string kStandin = XINETD_STANDIN_PATH;
const std::string kUsage = "Usage: /run/sandbox/xinetdtool --[start|restart|stop]\n";
const std::string kStarted = "xinetd start uid=0 euid=0 [-pidfile] [/var/run/xinetd.pid]\n";
const std::string kLaunching = "Launching xinetd (Morvane) ... xinetd stand-in started";

bool CanMakeSandbox() {
  static const bool can = [] {
    if (!test_support::IsRoot()) return false;
    // The stand-in is laid over an installed xinetd; the signals go through /bin/kill.
    for (const char* tool : {"/usr/bin/unshare", "/usr/bin/setpriv", "/usr/bin/timeout",
                             "/usr/sbin/xinetd", "/bin/kill"})
      if (access(tool, X_OK) != 0) return false;
    return test_support::Run({"/usr/bin/unshare", "--kill-child", "-m", "-p", "-n", "-f",
                              "--mount-proc", "/bin/true"})
               .status == 0;
  }();
  return can;
}

#define REQUIRE_SANDBOX()                                                                      \
  if (!CanMakeSandbox())                                                                       \
  GTEST_SKIP() << "needs root, private mount, pid and network namespaces (unshare), setpriv, " \
                  "timeout, /bin/kill and an installed /usr/sbin/xinetd"

// One scenario (shell text run with the sandbox's helpers) and what it left behind.
class Scenario {
 public:
  explicit Scenario(const std::string& script) {
    test_support::WriteFile(dir_.File("scenario.sh"), script);
    sandbox_ = test_support::Run({"/usr/bin/timeout", "-k", "5", "180", "/usr/bin/unshare",
                                  "--kill-child", "-m", "-p", "-n", "-f", "--mount-proc", "/bin/sh",
                                  kSandbox, dir_.path(), XINETDTOOL_PATH, kStandin});
  }
  bool ran() const { return sandbox_.status == 0; }
  std::string Report() const {
    return "sandbox status " + std::to_string(sandbox_.status) + ": " + sandbox_.err;
  }
  std::string Out(const std::string& run) const { return ReadFile(dir_.File(run + ".out")); }
  std::string Err(const std::string& run) const { return ReadFile(dir_.File(run + ".err")); }
  int Status(const std::string& run) const {
    std::string s = ReadFile(dir_.File(run + ".status"));
    return s.empty() ? -1 : std::stoi(s);
  }
  std::string File(const std::string& name) const { return ReadFile(dir_.File(name)); }
  std::string Record() const { return File("record"); }

 private:
  TempDir dir_;
  RunResult sandbox_;
};

// `err` is exactly one log line: "YYYY-MM-DD HH:MM:SS.mmm xinetdtool[pid:tid] " + message.
testing::AssertionResult IsLogLine(const std::string& err, const std::string& message) {
  static const std::regex stamp(
      R"re(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} xinetdtool\[\d+:\d+\] )re");
  std::smatch m;
  if (!std::regex_search(err, m, stamp))
    return testing::AssertionFailure() << "no log line in \"" << err << '"';
  if (err.substr(m.length()) != message + "\n")
    return testing::AssertionFailure()
           << "log line \"" << err << "\" does not say \"" << message << '"';
  return testing::AssertionSuccess();
}

// A run that ran an operation: status 0, nothing on standard output, and on standard error
// the log line `message`, or nothing when `message` is empty.
void ExpectRan(const Scenario& s, const std::string& run, const std::string& message) {
  SCOPED_TRACE(run);
  EXPECT_EQ(s.Status(run), 0);
  EXPECT_EQ(s.Out(run), "");
  if (message.empty()) {
    EXPECT_EQ(s.Err(run), "");
  } else {
    EXPECT_TRUE(IsLogLine(s.Err(run), message));
  }
}

TEST(XinetdtoolUsage, AnythingButOneExactOptionIsAUsageError) {
  REQUIRE_SANDBOX();
  // A live server: an option taken for another would start, signal or stop it.
  Scenario s(R"sh(serve
run trailing_space '--start '
run other_case --Start
run cut_short --st
run cut_restart --restar
run no_dashes stop
run longer --stopped
run newline '--stop
'
run empty ''
run none
run two --start --start
run two_kinds --stop --restart
sleep 0.3
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  for (const char* run : {"trailing_space", "other_case", "cut_short", "cut_restart", "no_dashes",
                          "longer", "newline", "empty", "none", "two", "two_kinds"}) {
    SCOPED_TRACE(run);
    EXPECT_EQ(s.Status(run), 1);
    EXPECT_EQ(s.Out(run), "");
    EXPECT_EQ(s.Err(run), kUsage);
  }
  EXPECT_EQ(s.Record(), "") << "launched or signalled the server";
}

TEST(XinetdtoolUsage, WithoutAProgramNameTheUsageNamesXinetdtool) {
  // No arguments at all, not even the program's name (some kernels then hand it one empty
  // argument). A usage error launches nothing, so this runs outside the sandbox.
  int err[2];
  ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(err[1], 2);
    char* none[] = {nullptr};
    execve(XINETDTOOL_PATH, none, none);
    _exit(127);
  }
  close(err[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(err[0], buf, sizeof buf)) > 0;) text.append(buf, n);
  close(err[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_EQ(text, "Usage: xinetdtool --[start|restart|stop]\n");
}

TEST(Xinetdtool, StartsRestartsAndStopsTheServer) {
  REQUIRE_SANDBOX();
  Scenario s(R"sh(run start --start
pid=$(cat /run/xinetd.pid)
run start_again --start
run restart --restart
settle 'grep -q "xinetd HUP" /run/sandbox/record'
run stop --stop
settle '! alive $pid'
run stop_again --stop
run restart_after_stop --restart
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  // Started as root with exactly the pid file argument, its output in the log line.
  ExpectRan(s, "start", kLaunching);
  ExpectRan(s, "start_again", "");
  ExpectRan(s, "restart", "Restarting xinetd (Morvane) ... ");
  ExpectRan(s, "stop", "Stopping xinetd (Morvane) ... ");
  // The pid file outlives the server: its number no longer counts.
  ExpectRan(s, "stop_again", "");
  ExpectRan(s, "restart_after_stop", kLaunching);
  EXPECT_EQ(s.Record(), kStarted + "xinetd HUP\nxinetd TERM\n" + kStarted);
}

TEST(Xinetdtool, ReadsTheLeadingNumberOfThePidFile) {
  REQUIRE_SANDBOX();
  Scenario s(R"sh(serve
printf '\t +%s\n\nmore text\n' "$(cat /run/xinetd.pid)" >/run/xinetd.pid.new
mv /run/xinetd.pid.new /run/xinetd.pid
run restart --restart
settle 'grep -q "xinetd HUP" /run/sandbox/record'
run stop --stop
settle 'grep -q "xinetd TERM" /run/sandbox/record'
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  ExpectRan(s, "restart", "Restarting xinetd (Morvane) ... ");
  ExpectRan(s, "stop", "Stopping xinetd (Morvane) ... ");
  EXPECT_EQ(s.Record(), "xinetd HUP\nxinetd TERM\n");
}

struct NoServerCase {
  const char* name;
  const char* setup;  // leaves a pid file that names no running super-server
};

// With such a pid file stop does nothing, restart starts the server, and then start finds it.
// No process receives a signal; a process named in `keep` still runs afterwards.
TEST(Xinetdtool, APidFileNamingNoServerCountsAsNone) {
  REQUIRE_SANDBOX();
  const NoServerCase cases[] = {
      {"no pid file", ""},
      {"empty", ": >/run/xinetd.pid"},
      {"not a number", "echo 'xinetd runs' >/run/xinetd.pid"},
      {"zero", "echo 0 >/run/xinetd.pid"},
      {"minus one", "echo -1 >/run/xinetd.pid"},
      // Cut to 32 bits, the number would name the live server.
      {"beyond any pid",
       "serve; keep=$(cat /run/xinetd.pid)\n"
       "echo $((4294967296 + keep)) >/run/xinetd.pid"},
      {"far beyond any pid", "echo 99999999999999999999999999 >/run/xinetd.pid"},
      {"no such process", "echo 32000 >/run/xinetd.pid"},
      {"a stopped server's zombie",
       "serve; pid=$(cat /run/xinetd.pid); kill $pid\n"
       "settle '! alive $pid'"},
      {"another program", "keep=$(/run/sandbox/other); echo $keep >/run/xinetd.pid"},
      // A root process named xinetd that runs another file (as a set-user-ID program started
      // through a link named xinetd would).
      {"another program named xinetd",
       "mkdir /run/sandbox/fake && cp /run/sandbox/xinetd /run/sandbox/fake/xinetd\n"
       "keep=$(/run/sandbox/fake/xinetd); echo $keep >/run/xinetd.pid"},
      {"an xinetd of another user",
       "keep=$(setpriv --reuid=65534 --regid=65534 --clear-groups /usr/sbin/xinetd)\n"
       "echo $keep >/run/xinetd.pid"},
      {"a FIFO", "mkfifo /run/xinetd.pid"},
  };
  for (const NoServerCase& c : cases) {
    SCOPED_TRACE(c.name);
    Scenario s(std::string("keep=\n") + c.setup + R"sh(
: >/run/sandbox/record
run stop --stop
run restart --restart
run start --start
sleep 0.3
if [ -n "$keep" ]; then alive $keep && echo kept >"$work/kept"; fi
)sh");
    ASSERT_TRUE(s.ran()) << s.Report();
    ExpectRan(s, "stop", "");
    ExpectRan(s, "restart", kLaunching);
    ExpectRan(s, "start", "");
    EXPECT_EQ(s.Record(), kStarted);
    if (std::string(c.setup).find("keep=") != std::string::npos) {
      EXPECT_EQ(s.File("kept"), "kept\n");
    }
  }
}

// Why an ordinary user is refused in the sandbox, after the runner's refusal: no system bus.
const std::string kNoPolkit =
    ": polkit cannot be asked: Error initializing authority: Could not connect: No such file or "
    "directory";

TEST(Xinetdtool, AnOrdinaryUserIsRefused) {
  REQUIRE_SANDBOX();
  // Without a system bus in the sandbox polkit cannot answer, so pkexec is never reached.
  Scenario s(R"sh(run_as_nobody start --start
cp /run/sandbox/record "$work/start.record"
serve
pid=$(cat /run/xinetd.pid)
run_as_nobody restart --restart
run_as_nobody stop --stop
sleep 0.3
alive $pid && echo kept >"$work/kept"
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  ExpectRan(s, "start",
            "Launching xinetd (Morvane) ... Authentication failed for command /usr/sbin/xinetd" +
                kNoPolkit);
  EXPECT_EQ(s.File("start.record"), "") << "started the server";
  ExpectRan(
      s, "restart",
      "Restarting xinetd (Morvane) ... Authentication failed for command /bin/kill" + kNoPolkit);
  ExpectRan(
      s, "stop",
      "Stopping xinetd (Morvane) ... Authentication failed for command /bin/kill" + kNoPolkit);
  EXPECT_EQ(s.Record(), "") << "signalled the server";
  EXPECT_EQ(s.File("kept"), "kept\n");
}

// The installed xinetd, in a network namespace of the sandbox's own. Eight starts at once leave
// one server, named in the pid file; after an upgrade has replaced its file it is still the
// server: a restart signals it rather than starting another, a stop ends it.
TEST(Xinetdtool, TheRealServerIsStartedOnceAndKnownAfterAnUpgrade) {
  REQUIRE_SANDBOX();
  Scenario s(R"sh(real_xinetd
for i in 1 2 3 4 5 6 7 8; do run start$i --start & done
wait
servers >"$work/started"
cat /run/xinetd.pid >"$work/pidfile"
upgrade_xinetd
readlink "/proc/$(cat /run/xinetd.pid)/exe" >"$work/exe"
run restart --restart
sleep 0.3
servers >"$work/restarted"
run stop --stop
servers >"$work/stopped"
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  int launches = 0;
  for (int i = 1; i <= 8; ++i) {
    const std::string run = "start" + std::to_string(i);
    if (s.Err(run).empty()) {
      ExpectRan(s, run, "");
    } else {
      ExpectRan(s, run, "Launching xinetd (Morvane) ... ");
      ++launches;
    }
  }
  EXPECT_EQ(launches, 1);
  const std::string server = s.File("pidfile");
  EXPECT_EQ(s.File("started"), server) << "not one server, named in the pid file";
  EXPECT_EQ(s.File("exe"), "/usr/sbin/xinetd (deleted)\n");
  ExpectRan(s, "restart", "Restarting xinetd (Morvane) ... ");
  EXPECT_EQ(s.File("restarted"), server);
  // The stop returns once the server has ended.
  ExpectRan(s, "stop", "Stopping xinetd (Morvane) ... ");
  EXPECT_EQ(s.File("stopped"), "");
}

// A server that names itself in the pid file only after xinetd has returned, and takes its time
// to end: a start keeps the lock until the new server is named, so the second of two starts at
// once finds it; a stop keeps it until the server has ended, so a start right after it starts a
// new one. A server that never names itself is waited for no longer than 5 seconds.
TEST(Xinetdtool, TurnsLastUntilTheServerHasStartedOrEnded) {
  REQUIRE_SANDBOX();
  Scenario s(R"sh(touch /run/sandbox/slow
run start1 --start & run start2 --start & wait
settle '[ -s /run/xinetd.pid ]'
pid=$(cat /run/xinetd.pid)
run stop --stop
alive "$pid" || echo ended >"$work/ended"
run start3 --start
rm /run/sandbox/slow
settle 'alive "$(cat /run/xinetd.pid)"'
pid=$(cat /run/xinetd.pid)
kill "$pid"
settle '! alive "$pid"'
touch /run/sandbox/mute
rm /run/xinetd.pid
run mute --start
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  const bool first = !s.Err("start1").empty();
  ExpectRan(s, first ? "start1" : "start2", kLaunching);
  ExpectRan(s, first ? "start2" : "start1", "");
  ExpectRan(s, "stop", "Stopping xinetd (Morvane) ... ");
  EXPECT_EQ(s.File("ended"), "ended\n");
  ExpectRan(s, "start3", kLaunching);
  EXPECT_EQ(s.Record(), kStarted + "xinetd TERM\n" + kStarted + "xinetd TERM\n" + kStarted);
  // Two log lines: the launch, and that no server came.
  const std::string mute = s.Err("mute");
  const std::size_t second = mute.find('\n') + 1;
  EXPECT_TRUE(IsLogLine(mute.substr(0, second), kLaunching)) << mute;
  EXPECT_TRUE(IsLogLine(mute.substr(second),
                        "Launching xinetd (Morvane) ... no server named in "
                        "/var/run/xinetd.pid after 5 seconds"))
      << mute;
}

// The lock is root's alone: a lock file another user could have made or changed stops every
// operation, which says why.
TEST(Xinetdtool, ALockFileNotRootsStopsEveryOperation) {
  REQUIRE_SANDBOX();
  Scenario s(R"sh(: >/run/xinetdtool.lock && chown 65534 /run/xinetdtool.lock
run start --start
cp /run/sandbox/record "$work/start.record"
serve
run restart --restart
run stop --stop
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  EXPECT_EQ(s.File("start.record"), "") << "started the server";
  const std::string refused = "not done: /run/xinetdtool.lock is not owned by root";
  ExpectRan(s, "start", "Launching xinetd (Morvane) ... " + refused);
  ExpectRan(s, "restart", "Restarting xinetd (Morvane) ... " + refused);
  ExpectRan(s, "stop", "Stopping xinetd (Morvane) ... " + refused);
  EXPECT_EQ(s.Record(), "") << "launched or signalled the server";
}

// /proc mounted with hidepid: an ordinary user cannot see root's server. One that runs is not
// started a second time; restarting and stopping it go to the privileged launch as ever (which
// polkit, unreachable in the sandbox, refuses). A pid file naming no process counts as none.
TEST(Xinetdtool, AServerTheUserCannotSeeIsNotStartedTwice) {
  REQUIRE_SANDBOX();
  Scenario s(R"sh(serve
pid=$(cat /run/xinetd.pid)
echo $pid >"$work/pid"
hide_processes
run_as_nobody start --start
run_as_nobody restart --restart
run_as_nobody stop --stop
echo 32000 >/run/xinetd.pid
run_as_nobody stale --start
)sh");
  ASSERT_TRUE(s.ran()) << s.Report();
  const std::string pid = s.File("pid").substr(0, s.File("pid").size() - 1);
  ExpectRan(s, "start",
            "Launching xinetd (Morvane) ... not launched: /var/run/xinetd.pid names process " +
                pid + ", which runs but cannot be inspected by this user");
  ExpectRan(
      s, "restart",
      "Restarting xinetd (Morvane) ... Authentication failed for command /bin/kill" + kNoPolkit);
  ExpectRan(
      s, "stop",
      "Stopping xinetd (Morvane) ... Authentication failed for command /bin/kill" + kNoPolkit);
  ExpectRan(s, "stale",
            "Launching xinetd (Morvane) ... Authentication failed for command /usr/sbin/xinetd" +
                kNoPolkit);
  EXPECT_EQ(s.Record(), "");
}

}  // namespace
