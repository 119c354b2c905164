// The controller's service back end against the real thing: the built configtool and
// xinetdtool, the installed xinetd and in.tftpd, and the real client (tftp), as root inside
// private mount, pid and network namespaces. The test runs itself again in there (unshare):
// our own /etc/xinetd.conf and /etc/xinetd.d lie over the machine's, a tmpfs over /run, and
// port 69 is the namespace's own; every process started dies with the namespace.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"
#include "tftp-controller/service/folder_access.h"
#include "tftp-controller/service/service_backend.h"
#include "tftp-controller/service/service_file.h"
#include "tftp-controller/service/service_processes.h"

extern char** environ;

namespace tftpc {
namespace {

constexpr char kInside[] = "QRB_CONTROLLER_BACKEND_SANDBOX";
constexpr char kServiceFile[] = "/etc/xinetd.d/tftp";

// The service file as the package installs it.
constexpr char kInstalled[] =
    "service tftp\n{\n\tdisable\t\t= yes\n\tsocket_type\t= dgram\n\tprotocol\t= udp\n"
    "\twait\t\t= yes\n\tuser\t\t= root\n\tserver\t\t= /usr/sbin/in.tftpd\n"
    "\tserver_args\t= -s /srv/tftp\n}\n";

// What the real client gets for `name` from 127.0.0.1 port 69, or "" when nothing answers.
std::string Fetch(const std::string& work, const std::string& name) {
  const std::string local = work + "/client/" + name;
  std::filesystem::remove(local);
  test_support::Run({"/usr/bin/timeout", "-k", "2", "10", "/usr/bin/tftp", "127.0.0.1"},
                    "rexmt 1\ntimeout 3\nget " + name + " " + local + "\nquit\n");
  return std::filesystem::exists(local) ? test_support::ReadFile(local) : "";
}

// Waits up to 5 seconds until no in.tftpd of a super-server is left.
bool AwaitGone() {
  for (int i = 0; i < 50 && !SuperServerTftpds().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return SuperServerTftpds().empty();
}

bool Alive(pid_t pid) {
  const std::vector<pid_t> now = SuperServerTftpds();
  return std::find(now.begin(), now.end(), pid) != now.end();
}

// Inside the namespaces: the machine's files out of reach, then the scenario.
void MakeSandbox(const std::string& work) {
  ASSERT_EQ(getpid(), 1) << "not the first process of a pid namespace of its own";
  ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
  ASSERT_EQ(mount("sandbox", "/run", "tmpfs", 0, "mode=0755"), 0);
  ASSERT_EQ(test_support::Run({"/usr/sbin/ip", "link", "set", "lo", "up"}).status, 0);
  ASSERT_TRUE(test_support::WriteFile(work + "/xinetd.conf",
                                      "defaults\n{\n}\n\nincludedir /etc/xinetd.d\n"));
  ASSERT_TRUE(test_support::WriteFile(work + "/xinetd.d/tftp", kInstalled));
  ASSERT_EQ(mount((work + "/xinetd.conf").c_str(), "/etc/xinetd.conf", nullptr, MS_BIND, nullptr),
            0);
  ASSERT_EQ(mount((work + "/xinetd.d").c_str(), "/etc/xinetd.d", nullptr, MS_BIND, nullptr), 0);
  for (const char* folder : {"one", "two", "client"}) {
    std::filesystem::create_directories(work + "/" + folder);
    chmod((work + "/" + folder).c_str(), 0755);
  }
  chmod(work.c_str(), 0755);  // in.tftpd serves as nobody
  ASSERT_TRUE(test_support::WriteFile(work + "/one/hello.txt", "served from one\n"));
  ASSERT_TRUE(test_support::WriteFile(work + "/two/hello.txt", "served from two\n"));
  chmod((work + "/one/hello.txt").c_str(), 0644);
  chmod((work + "/two/hello.txt").c_str(), 0644);
}

void Scenario(const std::string& work) {
  ASSERT_NO_FATAL_FAILURE(MakeSandbox(work));
  BackendPaths paths;
  paths.configtool = CONFIGTOOL_PATH;
  paths.xinetdtool = XINETDTOOL_PATH;
  ServiceBackend backend(paths);

  // The folder set while stopped: the line is configtool's work, the words ours.
  ServerOptions options;
  options.folder = work + "/one";
  BackendResult r = backend.ApplyOptions(options);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(ReadServiceDefinition(kServiceFile).server_args, "-v -s " + work + "/one");
  r = backend.ApplyOptions(options);  // nothing to change: nothing run
  EXPECT_TRUE(r.ok && r.message.empty()) << r.message;
  EXPECT_EQ(Fetch(work, "hello.txt"), "");

  // Start: enabled, xinetd launched, the file served.
  r = backend.Start();
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_NE(r.message.find("Launching xinetd (Morvane) ..."), std::string::npos) << r.message;
  EXPECT_FALSE(ReadServiceDefinition(kServiceFile).disabled);
  EXPECT_EQ(Fetch(work, "hello.txt"), "served from one\n");
  // The server, and for a moment the child that sent the file: the server has the lowest pid.
  std::vector<pid_t> serving = SuperServerTftpds();
  ASSERT_FALSE(serving.empty());

  // Another folder and a restart: the lingering server of the old folder is gone at once.
  options.folder = work + "/two";
  r = backend.ApplyOptions(options);
  ASSERT_TRUE(r.ok) << r.message;
  r = backend.Restart();
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_FALSE(Alive(serving[0]));
  EXPECT_EQ(Fetch(work, "hello.txt"), "served from two\n");

  // The folder check agrees with the real server: a folder above the served one that nobody
  // may enter is no matter (in.tftpd enters it as root), the served folder closed to nobody is,
  // and the mend makes it serve.
  const std::string deep = work + "/closed/deep";
  std::filesystem::create_directories(deep);
  ASSERT_TRUE(test_support::WriteFile(deep + "/hello.txt", "served from deep\n"));
  chmod((deep + "/hello.txt").c_str(), 0644);
  chmod(deep.c_str(), 0700);
  chmod((work + "/closed").c_str(), 0700);
  ASSERT_EQ(chown((work + "/closed").c_str(), 1234, 1234), 0);
  options.folder = deep;
  ASSERT_TRUE(backend.ApplyOptions(options).ok);
  ASSERT_TRUE(backend.Restart().ok);
  EXPECT_EQ(Fetch(work, "hello.txt"), "");
  const FolderCheck check = CheckFolderAccess(deep, false);
  ASSERT_EQ(check.problems.size(), 1u);
  EXPECT_EQ(check.problems[0].path, deep);
  EXPECT_NE(check.problems[0].problem.find("nobody cannot enter it"), std::string::npos);
  std::string err;
  ASSERT_TRUE(FixFolderAccess(check, false, &err)) << err;
  EXPECT_TRUE(CheckFolderAccess(deep, false).problems.empty());
  EXPECT_EQ(Fetch(work, "hello.txt"), "served from deep\n");
  options.folder = work + "/two";
  ASSERT_TRUE(backend.ApplyOptions(options).ok);

  // Stop: disabled, no server left, nothing answers; xinetd, left with no service, is gone.
  r = backend.Stop();
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_TRUE(ReadServiceDefinition(kServiceFile).disabled);
  EXPECT_TRUE(SuperServerTftpds().empty());
  EXPECT_FALSE(UdpPortHeld(69));
  EXPECT_EQ(Fetch(work, "hello.txt"), "");
  EXPECT_FALSE(XinetdRuns(paths.xinetd_pid_file));
  r = backend.Stop();  // stopped already: nothing to do, and no xinetd started
  EXPECT_TRUE(r.ok && r.message.empty()) << r.message;
  EXPECT_FALSE(XinetdRuns(paths.xinetd_pid_file));

  // configtool's own words when it refuses: a line of the file that is not UTF-8.
  std::string text = test_support::ReadFile(kServiceFile);
  ASSERT_TRUE(test_support::WriteFile(kServiceFile, "# caf\xe9\n" + text));
  options.folder = work + "/one";
  r = backend.ApplyOptions(options);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find(std::string("configtool: ") + kServiceFile), std::string::npos)
      << r.message;
  EXPECT_NE(r.message.find("left unchanged"), std::string::npos) << r.message;
  ASSERT_TRUE(test_support::WriteFile(kServiceFile, text));

  // A server whose xinetd was stopped by someone else outlives any HUP: Stop says so.
  ASSERT_TRUE(backend.Start().ok);
  EXPECT_EQ(Fetch(work, "hello.txt"), "served from two\n");
  EXPECT_EQ(test_support::Run({XINETDTOOL_PATH, "--stop"}).status, 0);
  BackendPaths quick = paths;
  quick.settle = std::chrono::milliseconds(500);
  r = ServiceBackend(quick).Stop();
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find("in.tftpd (process "), std::string::npos) << r.message;
  for (pid_t pid : SuperServerTftpds()) kill(pid, SIGTERM);

  // With another service of xinetd's enabled, Stop leaves xinetd serving that one.
  ASSERT_TRUE(AwaitGone());
  ASSERT_TRUE(test_support::WriteFile(
      "/etc/xinetd.d/echo",
      "service echo\n{\n\ttype = INTERNAL\n\tid = echo-dgram\n\tsocket_type = dgram\n"
      "\tprotocol = udp\n\tuser = root\n\twait = yes\n\tdisable = no\n}\n"));
  ASSERT_TRUE(backend.Start().ok);
  EXPECT_EQ(Fetch(work, "hello.txt"), "served from two\n");
  r = backend.Stop();
  EXPECT_TRUE(r.ok) << r.message;
  EXPECT_TRUE(XinetdRuns(paths.xinetd_pid_file));
  EXPECT_TRUE(UdpPortHeld(7));
  EXPECT_FALSE(UdpPortHeld(69));
  EXPECT_TRUE(SuperServerTftpds().empty());
  EXPECT_EQ(Fetch(work, "hello.txt"), "");

  // The runner's words when the tool cannot be started.
  BackendPaths missing = paths;
  missing.xinetdtool = work + "/no-such-xinetdtool";
  r = ServiceBackend(missing).Start();
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find("Unable to launch " + missing.xinetdtool), std::string::npos)
      << r.message;
}

TEST(ControllerBackend, DrivesTheRealService) {
  if (const char* work = getenv(kInside)) {
    Scenario(work);
    return;
  }
  if (!test_support::IsRoot()) GTEST_SKIP() << "needs root (namespaces, xinetd, in.tftpd)";
  for (const char* path : {"/usr/sbin/xinetd", "/usr/sbin/in.tftpd", "/usr/bin/tftp",
                           "/usr/bin/unshare", "/usr/bin/timeout", "/usr/sbin/ip"}) {
    if (access(path, X_OK) != 0) GTEST_SKIP() << path << " is missing";
  }
  test_support::TempDir work;
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  env.push_back(std::string(kInside) + "=" + work.path());
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const test_support::RunResult r =
      test_support::Run({"/usr/bin/timeout", "-k", "5", "180", "/usr/bin/unshare", "--mount",
                         "--pid", "--net", "--fork", "--kill-child", "--mount-proc", self,
                         "--gtest_filter=ControllerBackend.DrivesTheRealService"},
                        "", &env);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[  PASSED  ] 1 test"), std::string::npos) << r.out << r.err;
}

}  // namespace
}  // namespace tftpc
