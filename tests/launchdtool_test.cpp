// launchdtool from the outside: run with a stand-in launchctl that reports how it was started.
// Most cases run the tool as root directly; the set-user-ID cases install it in a private mount
// namespace and run it as an ordinary user with a hostile environment.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using test_support::RunResult;

const std::string kTool = LAUNCHDTOOL_PATH;
const std::string kHelper = EXEC_HELPER_PATH;
const std::string kStandin = std::string(TESTS_SOURCE_DIR) + "/launchctl_standin.sh";
const std::string kSandbox = std::string(TESTS_SOURCE_DIR) + "/launchdtool_sandbox.sh";
const std::string kTrustedPath = "/usr/bin:/bin:/usr/sbin:/sbin";
constexpr uid_t kNobody = 65534;

std::string Usage(const std::string& program) {
  return "Usage: " + program + " [load|unload] dictFile\n\tlist daemonLabel";
}

std::string Resolved(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  std::string out = real ? real : path;
  free(real);
  return out;
}

// What the stand-in reports first: its arguments and identities.
std::string ReportHead(const std::vector<std::string>& args, const std::string& ids) {
  std::string out = "argc=" + std::to_string(args.size()) + "\n";
  for (const std::string& arg : args) out += "arg=[" + arg + "]\n";
  return out + ids + "\n";
}
const std::string kRootIds = "uid=0 euid=0 gid=0 groups=0";

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

// The signal mask the stand-in reported as "name=HEX".
uint64_t SignalMask(const std::string& report, const std::string& name) {
  size_t at = report.find("\n" + name + "=");
  if (at == std::string::npos) return ~uint64_t{0};
  return std::strtoull(report.c_str() + at + name.size() + 2, nullptr, 16);
}

void Install(const std::string& from, const std::string& to, mode_t mode) {
  test_support::WriteFile(to, test_support::ReadFile(from));
  ASSERT_EQ(chmod(to.c_str(), mode), 0);
}

void MakeFolder(const std::string& path, mode_t mode, uid_t owner = 0) {
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path;
  ASSERT_EQ(chown(path.c_str(), owner, owner), 0);
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

// Writes a definition file with the given mode and owner.
std::string Definition(const std::string& path, mode_t mode = 0644, uid_t owner = 0) {
  test_support::WriteFile(path, "<plist><dict/></plist>\n");
  EXPECT_EQ(chown(path.c_str(), owner, owner), 0);
  EXPECT_EQ(chmod(path.c_str(), mode), 0);
  return path;
}

// Runs the tool as root directly, finding the stand-in through the caller's PATH.
class LaunchdtoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::IsRoot()) GTEST_SKIP() << "runs launchctl as root; needs root";
    bin_ = dir_.File("bin");
    MakeFolder(bin_, 0755);
    Install(kStandin, bin_ + "/launchctl", 0755);
    env_ = {"PATH=" + bin_};
  }

  RunResult Tool(const std::vector<std::string>& args) { return Through({}, args); }
  // Runs the tool through exec_helper with its options.
  RunResult Through(const std::vector<std::string>& helper_options,
                    const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    if (!helper_options.empty()) {
      argv.push_back(kHelper);
      argv.insert(argv.end(), helper_options.begin(), helper_options.end());
    }
    argv.push_back(kTool);
    argv.insert(argv.end(), args.begin(), args.end());
    return test_support::Run(argv, "", &env_);
  }

  test_support::TempDir dir_;
  std::string bin_;
  std::vector<std::string> env_;
};

TEST_F(LaunchdtoolTest, MalformedCommandLinesGetTheUsageText) {
  std::string file = Definition(dir_.File("tftp.plist"));
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"load"},
      {"list"},
      {"load", file, "extra"},
      {"Load", file},
      {"loadx", file},
      {"LIST", "com.example.tftpd"},
      {"", file},
      {"list", "-w"},
      {"list", "--help"},
      {"unload", "-"},
      {"load", "-" + file},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    RunResult r = Tool(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Usage(kTool));
    EXPECT_EQ(r.out, "");  // launchctl did not run
  }
}

// argv = {NULL}. Linux since 5.18 hands such a program an empty argv[0] instead; older kernels
// give argc 0. Either way the usage text must not follow a null pointer or show an empty name.
TEST_F(LaunchdtoolTest, EmptyArgumentListNamesTheTool) {
  RunResult r = Through({"--no-args"}, {});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, Usage("launchdtool"));
  EXPECT_EQ(r.out, "");
}

TEST_F(LaunchdtoolTest, MissingDefinitionFile) {
  for (const char* verb : {"load", "unload"}) {
    for (const std::string& path :
         {dir_.File("missing.plist"), dir_.File("no/such/folder.plist")}) {
      RunResult r = Tool({verb, path});
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "File not found: " + path + "\n");
      EXPECT_EQ(r.out, "");
    }
  }
  // A label is no file name: nothing is looked up.
  RunResult r = Tool({"list", dir_.File("missing.plist")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, 20), "argc=2\narg=[list]\nar");
}

TEST_F(LaunchdtoolTest, RunsLaunchctlWithExactArguments) {
  std::string file = Resolved(Definition(dir_.File("tftp.plist")));
  for (const char* verb : {"load", "unload"}) {
    RunResult r = Tool({verb, file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out.starts_with(ReportHead({verb, "-w", file}, kRootIds))) << r.out;
  }
  RunResult r = Tool({"list", "com.example.tftpd"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(ReportHead({"list", "com.example.tftpd"}, kRootIds))) << r.out;

  // A name reached through a link is handed on resolved, so the link cannot be swapped later.
  ASSERT_EQ(symlink(file.c_str(), dir_.File("link.plist").c_str()), 0);
  r = Tool({"load", dir_.File("link.plist")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(ReportHead({"load", "-w", file}, kRootIds))) << r.out;
}

TEST_F(LaunchdtoolTest, LongNamesArePassedWhole) {
  std::string path = Resolved(dir_.path());
  while (path.size() < 400) {
    path += "/" + std::string(60, 'd');
    MakeFolder(path, 0755);
  }
  path = Definition(path + "/tftp.plist");
  ASSERT_GT(path.size(), 400u);
  RunResult r = Tool({"load", path});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(ReportHead({"load", "-w", path}, kRootIds))) << r.out;

  std::string label = "com.example." + std::string(400, 'x');
  r = Tool({"list", label});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(ReportHead({"list", label}, kRootIds))) << r.out;
}

TEST_F(LaunchdtoolTest, ShellSyntaxIsJustText) {
  const std::string marker = dir_.File("pwned");
  const std::vector<std::string> labels = {
      "x; touch " + marker,      "x && touch " + marker,   "x | touch " + marker,
      "$(touch " + marker + ")", "`touch " + marker + "`", "x\ntouch " + marker,
  };
  for (const std::string& label : labels) {
    SCOPED_TRACE(label);
    RunResult r = Tool({"list", label});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with(ReportHead({"list", label}, kRootIds))) << r.out;
  }
  // A file name cannot hold a slash: the shell would show itself on standard error.
  std::string file = Resolved(Definition(dir_.File("a;echo PWNED>&2;$(echo PWNED>&2).plist")));
  RunResult r = Tool({"load", file});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out.starts_with(ReportHead({"load", "-w", file}, kRootIds))) << r.out;
  EXPECT_NE(access(marker.c_str(), F_OK), 0) << "a shell ran the command";
}

TEST_F(LaunchdtoolTest, PassesTheFirstKilobyteOfOutputUnchanged) {
  RunResult r = Tool({"list", "bytes"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("one\ttwo\0three\r\nfour", 19));

  r = Tool({"list", "quiet"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");

  // Output arriving in pieces is gathered up to the limit, and no further.
  r = Tool({"list", "slow"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(600, 'a') + std::string(424, 'b'));

  // Far more than a pipe holds: launchctl is neither stalled nor killed for it.
  r = Tool({"load", Definition(dir_.File("flood.plist"))});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, std::string(1024, 'c'));
}

// A caller whose standard output is non-blocking (the mode goes with the pipe) and full, and
// who drains it slowly, still gets the head whole: a write that cannot be made at once waits.
TEST_F(LaunchdtoolTest, ANonBlockingOutputDrainedSlowlyGetsTheHeadWhole) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"list", "slow"}, std::string(600, 'a') + std::string(424, 'b')},
      {{"load", Definition(dir_.File("flood.plist"))}, std::string(1024, 'c')},
      {{"list", "bytes"}, std::string("one\ttwo\0three\r\nfour", 19)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    RunResult r = Through({"--slow-stdout"}, c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.out);
  }
}

// Putting a resource limit back can fail for another reason than a refusal (which the limit
// nearest to root's may still answer): the run ends there, with the reason, and launchctl
// does not run.
TEST_F(LaunchdtoolTest, ALimitThatCannotBeSetForAnotherReasonEndsTheRun) {
  struct Case {
    int resource, error;
    std::string err;
  };
  const std::vector<Case> cases = {
      {RLIMIT_NOFILE, EINVAL,
       "cannot put the resource limit RLIMIT_NOFILE back to root's: Invalid argument\n"},
      {RLIMIT_RTTIME, EIO,
       "cannot put the resource limit RLIMIT_RTTIME back to root's: Input/output error\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    RunResult r = Through({"--fail-limit", std::to_string(c.resource), std::to_string(c.error)},
                          {"list", "com.example.tftpd"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");  // launchctl did not run
  }
}

TEST_F(LaunchdtoolTest, ExitStatusIsLaunchctls) {
  RunResult r = Tool({"list", "fail"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "launchctl: failing as asked\n");  // its standard error reaches ours
  EXPECT_EQ(r.out, "");
  r = Tool({"unload", Definition(dir_.File("fail.plist"))});
  EXPECT_EQ(r.status, 3);

  // A caller that ignores SIGCHLD would have launchctl reaped behind our back.
  r = Through({"--ignore", std::to_string(SIGCHLD)}, {"list", "fail"});
  EXPECT_EQ(r.status, 3);

  // A caller that stopped reading: we are not killed half way, launchctl still runs to its end,
  // and the lost output is no success.
  r = Through({"--broken-stdout"}, {"list", "fail"});
  EXPECT_EQ(r.status, 3);
  r = Through({"--broken-stdout"}, {"list", "bytes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "cannot write launchctl's output: Broken pipe\n");

  r = Tool({"list", "killed"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "launchctl was killed by signal 9\n");

  // Searched like the shell does: a launchctl that may not be run does not end the search.
  std::string other = dir_.File("other");
  MakeFolder(other, 0755);
  Install(kStandin, other + "/launchctl", 0644);
  env_ = {"PATH=" + other + "::relative:" + bin_};
  r = Tool({"list", "quiet"});
  EXPECT_EQ(r.status, 0) << r.err;

  env_ = {"PATH=" + other};
  r = Tool({"list", "quiet"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "launchctl could not be run: Permission denied\n");
  env_ = {"PATH=" + dir_.File("nowhere")};
  r = Tool({"list", "quiet"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "launchctl not found in " + dir_.File("nowhere") + "\n");
}

// A relative folder in root's own PATH is never searched, not even from "/", where launchctl
// starts: the name would denote whatever the working folder holds.
TEST_F(LaunchdtoolTest, RelativeSearchPathIsNeverSearched) {
  const std::string from_root = Resolved(bin_).substr(1);  // bin_ without its leading "/"
  for (const std::string& path : {from_root, "./" + from_root, "." + Resolved(bin_)}) {
    SCOPED_TRACE(path);
    env_ = {"PATH=" + path};
    RunResult r = Through({}, {"list", "quiet"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "launchctl not found in " + path + "\n");
  }
}

TEST_F(LaunchdtoolTest, LaunchctlGetsNothingOfTheCaller) {
  env_.insert(env_.end(), {"FOO=bar", "BASH_ENV=/tmp/x", "IFS=/", "LD_LIBRARY_PATH=/tmp"});
  int fd = open("/dev/null", O_RDONLY);  // inherited, as a careless caller's would be
  ASSERT_GE(fd, 0);
  ASSERT_EQ(dup2(fd, 47), 47);
  close(fd);
  mode_t old_umask = umask(0);
  RunResult r = Through({"--close", "0", "--ignore", std::to_string(SIGTERM), "--ignore",
                         std::to_string(SIGRTMIN + 6), "--block", std::to_string(SIGTERM)},
                        {"list", "com.example.tftpd"});
  umask(old_umask);
  close(47);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(ReportHead({"list", "com.example.tftpd"}, kRootIds))) << r.out;
  EXPECT_TRUE(Contains(r.out, "\numask=0022\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\ncwd=/\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nstdin=/dev/null\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nfd47=closed\n")) << r.out;
  EXPECT_EQ(SignalMask(r.out, "blocked"), 0u) << r.out;
  // Every signal back to its default, the C library's own two (32 and 33) included.
  EXPECT_EQ(SignalMask(r.out, "ignored"), 0u) << r.out;
  // Only the search path, and that is the root caller's own.
  EXPECT_TRUE(r.out.ends_with("\nenvironment:\nPATH=" + bin_ + "\n")) << r.out;

  // With its standard output closed, the pipe from launchctl must not take its place.
  r = Through({"--close", "1"}, {"list", "com.example.tftpd"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
}

TEST_F(LaunchdtoolTest, RefusesDefinitionFilesOthersCouldChange) {
  std::string open_folder = dir_.File("open");
  MakeFolder(open_folder, 0777);
  std::string users_folder = dir_.File("users");
  MakeFolder(users_folder, 0755, kNobody);
  std::string fifo = dir_.File("fifo.plist");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  std::string into_open = dir_.File("into-open.plist");
  ASSERT_EQ(symlink(Definition(open_folder + "/x.plist").c_str(), into_open.c_str()), 0);
  struct Case {
    std::string path, reason;
  };
  const std::vector<Case> cases = {
      {Definition(dir_.File("users.plist"), 0644, kNobody), "not owned by root"},
      {Definition(dir_.File("world.plist"), 0666), "writable by group or others"},
      {Definition(dir_.File("group.plist"), 0664), "writable by group or others"},
      {dir_.File("bin"), "not a regular file"},
      {fifo, "not a regular file"},  // opening it would block
      {"/dev/null", "not a regular file"},
      {Definition(users_folder + "/x.plist"),
       "folder " + Resolved(users_folder) + " is not owned by root"},
      {Definition(open_folder + "/y.plist"),
       "folder " + Resolved(open_folder) + " is writable by group or others"},
      {into_open, "folder " + Resolved(open_folder) + " is writable by group or others"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RunResult r = Tool({"load", c.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Refusing " + c.path + ": " + c.reason + "\n");
    EXPECT_EQ(r.out, "");
  }

  // A sticky folder lets others add names but not take root's away.
  std::string sticky = dir_.File("sticky");
  MakeFolder(sticky, 01777);
  std::string file = Resolved(Definition(sticky + "/tftp.plist"));
  RunResult r = Tool({"load", file});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(ReportHead({"load", "-w", file}, kRootIds))) << r.out;
}

// Installs the tool set-user-ID root in a private mount namespace, with the stand-in as
// /usr/sbin/launchctl there, and runs it as an ordinary user.
class LaunchdtoolSetuidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::IsRoot()) GTEST_SKIP() << "installs a set-user-ID program; needs root";
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
    for (const char* name : {"bin", "defs", "hostile"}) MakeFolder(dir_.File(name), 0755);
    MakeFolder(dir_.File("marks"), 0777);
    RunResult r = test_support::Run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups", "/usr/bin/test", "-x", dir_.path()},
                                    "", &clean_env_);
    if (r.status != 0) GTEST_SKIP() << "uid 65534 cannot reach " << dir_.path();
    r = Sandboxed({"/bin/true"});
    if (r.status != 0) GTEST_SKIP() << "no private mount namespace here: " << r.err;
  }

  // Runs `command` in the sandbox with exactly `env`, as uid and gid 65534.
  RunResult AsUser(const std::vector<std::string>& command, const std::vector<std::string>& env) {
    std::vector<std::string> argv = {"/usr/bin/env", "-i"};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.insert(argv.end(),
                {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--groups=65534"});
    argv.insert(argv.end(), command.begin(), command.end());
    return Sandboxed(argv);
  }

  RunResult Sandboxed(const std::vector<std::string>& command) {
    std::vector<std::string> argv = {
        "/usr/bin/unshare", "-m", "/bin/sh", kSandbox, kTool, kHelper, kStandin, dir_.path()};
    argv.insert(argv.end(), command.begin(), command.end());
    return test_support::Run(argv, "", &clean_env_);
  }

  std::string Installed() const { return dir_.File("bin/launchdtool"); }

  test_support::TempDir dir_;
  const std::vector<std::string> clean_env_ = {"PATH=" + kTrustedPath};
};

TEST_F(LaunchdtoolSetuidTest, RunsTheTrustedLaunchctlAsRootWithoutTheCallersEnvironment) {
  const std::string hostile = dir_.File("hostile");
  const std::string mark = dir_.File("marks/hostile-ran");
  test_support::WriteFile(hostile + "/launchctl",
                          "#!/bin/sh\n/usr/bin/touch " + mark + "\necho HOSTILE\n");
  ASSERT_EQ(chmod((hostile + "/launchctl").c_str(), 0755), 0);
  test_support::WriteFile(hostile + "/env.sh", "/usr/bin/touch " + mark + "\n");
  const std::vector<std::string> env = {
      "PATH=" + hostile + ":/usr/bin:/bin",
      "BASH_ENV=" + hostile + "/env.sh",
      "ENV=" + hostile + "/env.sh",
      "IFS=/",
      "FOO=bar",
      "LD_LIBRARY_PATH=" + hostile,
  };
  RunResult r = AsUser({Installed(), "list", "com.example.tftpd"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // The caller's supplementary group (65534) is gone too.
  EXPECT_TRUE(r.out.starts_with(ReportHead({"list", "com.example.tftpd"}, kRootIds))) << r.out;
  EXPECT_TRUE(r.out.ends_with("\nenvironment:\nPATH=" + kTrustedPath + "\n")) << r.out;
  EXPECT_FALSE(Contains(r.out, "HOSTILE"));
  EXPECT_NE(access(mark.c_str(), F_OK), 0) << "the caller's launchctl or shell setup ran";

  std::string file = Resolved(Definition(dir_.File("defs/tftp.plist")));
  r = AsUser({Installed(), "load", file}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(ReportHead({"load", "-w", file}, kRootIds))) << r.out;
}

TEST_F(LaunchdtoolSetuidTest, RefusesDefinitionFilesTheCallerCouldChange) {
  const std::vector<std::string> env = {"PATH=/usr/bin:/bin"};
  std::string users = Definition(dir_.File("defs/users.plist"), 0644, kNobody);
  RunResult r = AsUser({Installed(), "load", users}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Refusing " + users + ": not owned by root\n");
  EXPECT_EQ(r.out, "");

  std::string world = Definition(dir_.File("defs/world.plist"), 0666);
  r = AsUser({Installed(), "unload", world}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Refusing " + world + ": writable by group or others\n");
  EXPECT_EQ(r.out, "");
}

TEST_F(LaunchdtoolSetuidTest, EmptyArgumentList) {
  RunResult r = AsUser({dir_.File("bin/exec_helper"), "--no-args", Installed()}, {});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, Usage("launchdtool"));
  EXPECT_EQ(r.out, "");
}

TEST_F(LaunchdtoolSetuidTest, WithoutSetUserIdTheIdentityChangeFails) {
  RunResult r = AsUser({dir_.File("bin/launchdtool-plain"), "list", "com.example.tftpd"}, {});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "setgid(0) returned -1\n");
  EXPECT_EQ(r.out, "");
}

// Owners and modes mean nothing on a file system that does not record them: there a file
// "owned by root" can hold what the caller wrote (its own command line or environment).
TEST_F(LaunchdtoolSetuidTest, RefusesDefinitionFilesOnPseudoFileSystems) {
  std::string sys_file;
  for (const char* candidate : {"/sys/kernel/uevent_seqnum", "/sys/power/state",
                                "/sys/kernel/mm/transparent_hugepage/enabled"}) {
    if (access(candidate, R_OK) == 0) {
      sys_file = candidate;
      break;
    }
  }
  struct Case {
    std::string path, err;
  };
  std::vector<Case> cases = {
      {"/proc/self/cmdline",
       "Refusing /proc/self/cmdline: folder /proc is on a pseudo file system (proc)\n"},
      {"/proc/self/environ",
       "Refusing /proc/self/environ: folder /proc is on a pseudo file system (proc)\n"},
  };
  if (!sys_file.empty())
    cases.push_back(
        {sys_file, "Refusing " + sys_file + ": folder /sys is on a pseudo file system (sysfs)\n"});
  // The caller's command line and environment hold a property list, as an attacker's would.
  const std::vector<std::string> env = {"PATH=/usr/bin:/bin",
                                        "X=<plist><dict><key>Program</key></dict></plist>"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RunResult r = AsUser({Installed(), "load", c.path}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");  // launchctl did not run
  }
  // A root-owned file on a real file system is still accepted.
  std::string file = Resolved(Definition(dir_.File("defs/tftp.plist")));
  RunResult r = AsUser({Installed(), "load", file}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(ReportHead({"load", "-w", file}, kRootIds))) << r.out;
}

// The name is resolved and checked with the caller's rights: what the caller cannot reach is
// not found, and no message shows a name the caller could not see.
TEST_F(LaunchdtoolSetuidTest, ResolvesTheNameWithTheCallersRights) {
  const std::string secret = dir_.File("secret");
  MakeFolder(secret, 0700);
  const std::string users = dir_.File("users");
  MakeFolder(users, 0755, kNobody);
  Definition(users + "/x.plist");
  std::string hidden_file = Definition(secret + "/x.plist");
  std::string hidden_link = secret + "/link.plist";
  ASSERT_EQ(
      symlink(Resolved(Definition(dir_.File("defs/target.plist"))).c_str(), hidden_link.c_str()),
      0);
  std::string hidden_bad = secret + "/bad.plist";
  ASSERT_EQ(symlink((Resolved(users) + "/x.plist").c_str(), hidden_bad.c_str()), 0);
  std::string unreadable = Definition(dir_.File("defs/private.plist"), 0600);
  const std::vector<std::string> env = {"PATH=/usr/bin:/bin"};
  for (const std::string& path : {hidden_file, hidden_link, hidden_bad, secret + "/missing.plist",
                                  secret + "/x.plist/..", unreadable}) {
    SCOPED_TRACE(path);
    RunResult r = AsUser({Installed(), "load", path}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "File not found: " + path + "\n");
    EXPECT_EQ(r.out, "");
  }
  // A folder the caller reaches through its group is the caller's to name.
  const std::string shared = dir_.File("shared");
  MakeFolder(shared, 0750);
  ASSERT_EQ(chown(shared.c_str(), 0, kNobody), 0);
  std::string file = Resolved(Definition(shared + "/tftp.plist"));
  RunResult r = AsUser({Installed(), "load", file}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(ReportHead({"load", "-w", file}, kRootIds))) << r.out;
}

// Whether root here may raise a hard resource limit (CAP_SYS_RESOURCE, bit 24).
bool RootMayRaiseHardLimits() {
  std::string status = test_support::ReadFile("/proc/self/status");
  size_t at = status.find("\nCapEff:\t");
  if (at == std::string::npos) return false;
  return (std::strtoull(status.c_str() + at + 9, nullptr, 16) >> 24) & 1;
}

// The soft limit, hard limit and unit of each line of a /proc/PID/limits file.
std::vector<std::vector<std::string>> LimitColumns(const std::string& path) {
  std::string text = test_support::ReadFile(path);
  std::vector<std::vector<std::string>> out;
  size_t start = text.find('\n') + 1;  // past the heading
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    std::vector<std::string> columns;
    for (size_t at : {26, 47, 68}) {
      std::string field = line.size() > at ? line.substr(at, 21) : "";
      field.erase(field.find_last_not_of(' ') + 1);
      columns.push_back(field);
    }
    out.push_back(columns);
    start = end + 1;
  }
  return out;
}

// The limits launchctl should get, as the stand-in reports them: those of process 1, or, where
// root may not raise a hard limit above ours, ours with the soft limit as high as it goes.
std::string ExpectedLimits() {
  auto number = [](const std::string& field) {
    return field == "unlimited" ? ~0ull : std::strtoull(field.c_str(), nullptr, 10);
  };
  const bool may_raise = RootMayRaiseHardLimits();
  std::vector<std::vector<std::string>> one = LimitColumns("/proc/1/limits");
  std::vector<std::vector<std::string>> mine = LimitColumns("/proc/self/limits");
  std::string out;
  for (size_t i = 0; i < one.size() && i < mine.size(); ++i) {
    std::string soft = one[i][0], hard = one[i][1];
    if (!may_raise && number(mine[i][1]) < number(hard)) {
      hard = mine[i][1];
      if (number(hard) < number(soft)) soft = hard;
    }
    out += soft + " " + hard + " " + (one[i][2].empty() ? "" : one[i][2] + " ") + "\n";
  }
  return out;
}

// The caller's resource limits, nice value, scheduling policy and I/O class stay with the
// caller: root's launchctl gets root's.
TEST_F(LaunchdtoolSetuidTest, LaunchctlGetsRootsLimitsAndPriorities) {
  const std::string expected = "nice=0 policy=0\nio=none: prio 0\n" + ExpectedLimits();
  const bool may_raise = RootMayRaiseHardLimits();
  struct Case {
    std::vector<std::string> caller;
    bool lowers_hard_limits;
  };
  const std::vector<Case> cases = {
      {{}, false},
      {{"/usr/bin/prlimit",
        "--fsize=1000:", "--cpu=1:", "--nofile=10:", "--core=0:", "--nproc=5:", "--stack=100000:"},
       false},
      {{"/usr/bin/prlimit", "--cpu=1", "--fsize=1000", "--nofile=10", "--locks=1", "--memlock=0",
        "--sigpending=1"},
       true},
      {{"/usr/bin/nice", "-n", "19", "/usr/bin/chrt", "--idle", "0", "/usr/bin/ionice", "-c3"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.caller));
    std::vector<std::string> command = c.caller;
    command.insert(command.end(), {Installed(), "list", "limits"});
    RunResult r = AsUser(command, {"PATH=/usr/bin:/bin"});
    if (c.lowers_hard_limits && !may_raise) {
      // Nothing can put them back here: refused.
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err,
                "cannot put the resource limit RLIMIT_CPU back to root's: Operation not "
                "permitted\n");
      EXPECT_EQ(r.out, "");
      continue;
    }
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
  }
}

// Where even root may not raise a hard limit the caller lowered (no CAP_SYS_RESOURCE, as in
// many containers), launchctl is not run at all.
TEST_F(LaunchdtoolSetuidTest, RefusesWhereALimitCannotBePutBack) {
  RunResult r =
      Sandboxed({"/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "/usr/bin/setpriv",
                 "--bounding-set=-sys_resource", "--reuid=65534", "--regid=65534", "--clear-groups",
                 "/usr/bin/prlimit", "--fsize=1000", Installed(), "list", "limits"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "cannot put the resource limit RLIMIT_FSIZE back to root's: Operation not permitted\n");
  EXPECT_EQ(r.out, "");
}

// A caller whose standard output is a full pipe it does not read cannot hold root's launchctl
// back: launchctl runs to its end first, and only then does the tool wait for the caller.
TEST_F(LaunchdtoolSetuidTest, ACallerThatDoesNotReadCannotStallLaunchctl) {
  std::string file = Resolved(Definition(dir_.File("defs/drained.plist")));
  RunResult r = AsUser(
      {dir_.File("bin/exec_helper"), "--full-stdout", file + ".done", Installed(), "load", file},
      {"PATH=/usr/bin:/bin"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "MARK came while full\n");
  EXPECT_EQ(r.out, "");  // the helper read the tool's output itself
}

// An alarm the caller set before starting the tool survives exec; it must not end the tool
// (and launchctl, whose output it reads) half way.
TEST_F(LaunchdtoolSetuidTest, ACallersAlarmDoesNotCutTheRunShort) {
  RunResult r =
      AsUser({dir_.File("bin/exec_helper"), "--alarm", "100", Installed(), "list", "slow"},
             {"PATH=/usr/bin:/bin"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string(600, 'a') + std::string(424, 'b'));
}

// Started through a link named after another program, the tool still shows as itself.
TEST_F(LaunchdtoolSetuidTest, KeepsItsOwnNameWhenStartedThroughALink) {
  const std::string link = dir_.File("xinetd");
  ASSERT_EQ(symlink(Installed().c_str(), link.c_str()), 0);
  RunResult r = AsUser({link, "list", "com.example.tftpd"}, {"PATH=/usr/bin:/bin"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "\nparent=launchdtool\n")) << r.out;
}

}  // namespace
