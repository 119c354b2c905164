#include "tftp-controller/checks/service_status.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/as_nobody.h"
#include "tests/scratch_folder.h"
#include "tftp-controller/service/proc_tables.h"
#include "tftp-controller/checks/proc_tree_testing.h"
#include "tftp-controller/checks/real_tftpd_testing.h"
#include "tftp-controller/checks/tftp_client.h"

namespace tftpc {
namespace {

using testing::CraftedProcess;
using testing::CraftedSocket;
using testing::Holds;

std::string ServiceFile(const char* disable, const char* extra = "",
                        const char* args = "-v -s /srv/tftp") {
  return std::string("# the package's service\nservice tftp\n{\n\tsocket_type = dgram\n") +
         "\tprotocol = udp\n\twait = yes\n\tuser = root\n\tserver = /usr/sbin/in.tftpd\n" +
         "\tserver_args = " + args + "\n\tdisable = " + disable + "\n" + extra + "}\n";
}

struct Scenario {
  const char* name;
  std::string service_file;  // empty: none
  std::vector<CraftedSocket> sockets;
  std::vector<CraftedProcess> processes;
  bool running, xinetd_running, enabled;
  const char* listen_address;
  unsigned port;
  std::vector<PortHolder> others;
  const char* text;
};

TEST(ReadServiceStatus, FromTheServiceFileThePidFileAndThePort) {
  const char* kHpa = "0::/system.slice/tftpd-hpa.service\n";
  const CraftedProcess xinetd{100, "xinetd", 1, 'S', "0::/\n", Holds({5001})};
  const CraftedProcess idle_xinetd{100, "xinetd", 1, 'S', "0::/\n", Holds({})};
  const PortHolder hpa4{"0.0.0.0", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false, "", ""};
  const PortHolder hpa6{"::", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false, "", ""};
  const Scenario scenarios[] = {
      {"no service file",
       "",
       {},
       {xinetd},
       false,
       true,
       false,
       "every address",
       69,
       {},
       "Stopped: SERVICE defines no tftp service"},
      {"the package's service as installed",
       ServiceFile("yes"),
       {},
       {},
       false,
       false,
       false,
       "every address",
       69,
       {},
       "Stopped"},
      {"started",
       ServiceFile("no"),
       {{"0.0.0.0", 69, 0, 5001}},
       {xinetd},
       true,
       true,
       true,
       "every address",
       69,
       {},
       "Running on every address, port 69"},
      {"started on one address of xinetd's",
       ServiceFile("no", "\tbind = 192.168.1.5\n"),
       {{"192.168.1.5", 69, 0, 5001}},
       {xinetd, {101, "in.tftpd", 100, 'S', "0::/\n", Holds({5001})}},
       true,
       true,
       true,
       "192.168.1.5",
       69,
       {},
       "Running on 192.168.1.5, port 69"},
      {"started on another port",
       ServiceFile("no", "\ttype = UNLISTED\n\tport = 1069\n"),
       {{"0.0.0.0", 69, 0, 4000}, {"127.0.0.1", 1069, 0, 5001}},
       {xinetd},
       true,
       true,
       true,
       "127.0.0.1",
       1069,
       {},
       "Running on 127.0.0.1, port 1069"},
      {"stopped, bound to one address; -a, which in.tftpd under xinetd ignores, is not it",
       ServiceFile("yes", "\tbind = 10.0.0.2\n", "-v -a 10.0.0.3 -s /srv/tftp"),
       {},
       {idle_xinetd},
       false,
       true,
       false,
       "10.0.0.2",
       69,
       {},
       "Stopped"},
      {"enabled while xinetd does not run, and the distribution's server on the port",
       ServiceFile("no"),
       {{"0.0.0.0", 69, 0, 6001}, {"::", 69, 0, 6002}},
       {{300, "in.tftpd", 1, 'S', kHpa, Holds({6001, 6002})}},
       false,
       false,
       true,
       "every address",
       69,
       {hpa4, hpa6},
       "Stopped: xinetd does not run; port 69 is held by in.tftpd (tftpd-hpa.service)"},
      {"xinetd runs but another server took the port",
       ServiceFile("no"),
       {{"0.0.0.0", 69, 1000, 6001}},
       {idle_xinetd, {400, "dnsmasq", 1, 'S', "0::/\n", Holds({6001})}},
       false,
       true,
       true,
       "every address",
       69,
       {{"0.0.0.0", 69, 1000, 400, "dnsmasq", "", false, "", ""}},
       "Stopped: xinetd does not listen on port 69; port 69 is held by dnsmasq (pid 400)"},
      {"disabled while xinetd still serves the port",
       ServiceFile("yes"),
       {{"0.0.0.0", 69, 0, 5001}},
       {xinetd},
       false,
       true,
       false,
       "every address",
       69,
       {},
       "Stopped: xinetd still serves port 69 until it reads its configuration again"},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    test_support::ScratchFolder folder("service-status");
    testing::CraftProc(folder.File("proc"), scenario.sockets, scenario.processes);
    std::ofstream(folder.File("xinetd.pid")) << "100\n";
    if (!scenario.service_file.empty()) std::ofstream(folder.File("tftp")) << scenario.service_file;
    ServiceStatus status = ReadServiceStatus({folder.File("proc"),
                                              folder.File("xinetd.pid"),
                                              folder.File("tftp"),
                                              {folder.File("units")}});
    EXPECT_EQ(status.running, scenario.running);
    EXPECT_EQ(status.xinetd_running, scenario.xinetd_running);
    EXPECT_EQ(status.enabled, scenario.enabled);
    EXPECT_EQ(status.listen_address, scenario.listen_address);
    EXPECT_EQ(status.port, scenario.port);
    EXPECT_EQ(status.others, scenario.others);
    std::string text = scenario.text;
    if (auto at = text.find("SERVICE"); at != std::string::npos)
      text.replace(at, 7, folder.File("tftp"));
    EXPECT_EQ(status.text, text);
  }
}

// A job launchctl loaded listens through systemd: as a user, pid 1's descriptors are hidden and
// no process is seen to hold the socket; once a request came, in.tftpd runs in the job's service.
// Either way the holder is the job, named with its definition, which its stop needs.
TEST(ReadServiceStatus, ALaunchdJobHoldingThePortIsNamedWithItsDefinition) {
  const char* kMarker =
      "# Made by launchctl from a job definition; \"launchctl unload\" removes it.\n"
      "# Label=\"org.qrb.tftp\"\n# Definition=\"/etc/qrb-tftp-controller/tftp.plist\"\n";
  const CraftedProcess systemd{1, "systemd", 0, 'S', "0::/init.scope\n"};
  const CraftedProcess server{700, "in.tftpd", 1, 'S', "0::/system.slice/org.qrb.tftp.service\n"};
  const CraftedProcess hidden_xinetd{100, "xinetd", 1, 'S', "0::/system.slice/xinetd.service\n"};
  const char* kJobText =
      "Stopped; port 69 is held by the launchd job org.qrb.tftp "
      "(/etc/qrb-tftp-controller/tftp.plist)";
  const struct {
    const char* name;
    const char* disable;  // of our service
    std::vector<CraftedSocket> sockets;
    std::vector<CraftedProcess> processes;
    const char* socket_unit;  // ListenDatagram= line of the job's socket unit; null: no job
    pid_t pid;
    const char* program;
    const char* label;
    const char* text;
    bool running = false;
  } cases[] = {
      {"loaded, nothing asked yet",
       "yes",
       {{"::", 69, 0, 7001}},
       {systemd},
       "ListenDatagram=69\n",
       0,
       "",
       "org.qrb.tftp",
       kJobText},
      {"serving a request",
       "yes",
       {{"::", 69, 0, 7001}},
       {systemd, server},
       "ListenDatagram=69\n",
       700,
       "in.tftpd",
       "org.qrb.tftp",
       kJobText},
      {"the job listens on another address than the socket's",
       "yes",
       {{"0.0.0.0", 69, 0, 7001}},
       {systemd},
       "ListenDatagram=192.0.2.7:69\n",
       0,
       "",
       "",
       "Stopped; port 69 is held by a process of user 0"},
      {"no job loaded",
       "yes",
       {{"::", 69, 0, 7001}},
       {systemd},
       nullptr,
       0,
       "",
       "",
       "Stopped; port 69 is held by a process of user 0"},
      // As a user xinetd's descriptors are hidden too, and a socket no one is seen to hold would
      // be put down to it.
      {"xinetd runs, our service is off",
       "yes",
       {{"::", 69, 0, 7001}},
       {systemd, hidden_xinetd},
       "ListenDatagram=69\n",
       0,
       "",
       "org.qrb.tftp",
       kJobText},
      {"our service on 0.0.0.0 beside the job on ::",
       "no",
       {{"0.0.0.0", 69, 0, 5001}, {"::", 69, 0, 7001}},
       {systemd, hidden_xinetd},
       "ListenDatagram=69\n",
       0,
       "",
       "org.qrb.tftp",
       "Running on every address, port 69",
       true},
      {"our service and the job both on 0.0.0.0",
       "no",
       {{"0.0.0.0", 69, 0, 5001}, {"0.0.0.0", 69, 0, 7001}},
       {systemd, hidden_xinetd},
       "ListenDatagram=0.0.0.0:69\n",
       0,
       "",
       "org.qrb.tftp",
       "Running on every address, port 69",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::ScratchFolder folder("service-status");
    testing::CraftProc(folder.File("proc"), c.sockets, c.processes);
    std::ofstream(folder.File("tftp")) << ServiceFile(c.disable);
    std::ofstream(folder.File("xinetd.pid")) << "100\n";
    std::filesystem::create_directories(folder.File("etc"));
    if (c.socket_unit) {
      std::ofstream(folder.File("etc/org.qrb.tftp.socket"))
          << kMarker << "\n[Socket]\n"
          << c.socket_unit << "BindIPv6Only=both\n";
      std::ofstream(folder.File("etc/org.qrb.tftp.service"))
          << kMarker << "\n[Service]\nExecStart=/usr/sbin/in.tftpd -s /srv/tftp\n";
    }
    const ServiceStatus status = ReadServiceStatus({folder.File("proc"),
                                                    folder.File("xinetd.pid"),
                                                    folder.File("tftp"),
                                                    {folder.File("run"), folder.File("etc")}});
    EXPECT_EQ(status.running, c.running);
    ASSERT_EQ(status.others.size(), 1u);
    EXPECT_EQ(status.others[0].pid, c.pid);
    EXPECT_EQ(status.others[0].program, c.program);
    EXPECT_EQ(status.others[0].launchd_label, c.label);
    EXPECT_EQ(status.others[0].launchd_definition,
              *c.label ? "/etc/qrb-tftp-controller/tftp.plist" : "");
    EXPECT_EQ(status.text, c.text);
  }
}

// The real xinetd in the foreground, with its pid file and one service file of the test's; ended
// with the in.tftpd it started when the object goes away.
class RealXinetd {
 public:
  RealXinetd(const std::string& service_file, const std::string& pid_file) : pid_file_(pid_file) {
    testing::AdoptOrphans();
    std::vector<std::string> words = {"/usr/sbin/xinetd", "-dontfork", "-pidfile",
                                      pid_file,           "-f",        service_file};
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = 0;
  }
  RealXinetd(const RealXinetd&) = delete;
  RealXinetd& operator=(const RealXinetd&) = delete;
  ~RealXinetd() {
    if (pid_ > 0) testing::EndProcessTree(pid_);
  }
  pid_t pid() const { return pid_; }
  // Up once the pid file names it and the port is held.
  bool WaitUntilServing(unsigned port) {
    for (int i = 0; i < 500; ++i) {
      std::string named;
      std::getline(std::ifstream(pid_file_), named);
      if (named == std::to_string(pid_) && !UdpPortHolders(port).empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  std::string pid_file_;
  pid_t pid_ = 0;
};

TEST(ReadServiceStatus, TheRealXinetdServingTheRealServer) {
  std::string why = testing::WhyNoRealTftpd();
  if (::access("/usr/sbin/xinetd", X_OK) != 0) why = "xinetd is not installed";
  if (!why.empty()) GTEST_SKIP() << why;
  test_support::ScratchFolder folder("status-xinetd");
  ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
  std::filesystem::create_directory(folder.File("srv"));
  std::ofstream(folder.File("srv/boot.bin")) << "booted\n";
  const unsigned port = testing::FreeUdpPort("127.0.0.1");
  const std::string extra =
      "\ttype = UNLISTED\n\tport = " + std::to_string(port) + "\n\tbind = 127.0.0.1\n";
  const std::string args = "-v -s " + folder.File("srv");
  std::ofstream(folder.File("tftp")) << ServiceFile("no", extra.c_str(), args.c_str());
  const StatusSources sources{"/proc", folder.File("xinetd.pid"), folder.File("tftp")};

  RealXinetd xinetd(sources.service_file, sources.pid_file);
  ASSERT_TRUE(xinetd.WaitUntilServing(port));
  const std::string running = "Running on 127.0.0.1, port " + std::to_string(port);
  ServiceStatus status = ReadServiceStatus(sources);
  EXPECT_TRUE(status.running && status.xinetd_running && status.enabled) << status.text;
  EXPECT_EQ(status.text, running);
  EXPECT_EQ(status.addresses, std::vector<std::string>{"127.0.0.1"});
  EXPECT_TRUE(status.others.empty());

  // A transfer: xinetd hands its socket to the in.tftpd it starts, which stays a while after.
  TftpResult got = TftpGet("127.0.0.1", port, "boot.bin", std::chrono::milliseconds(3000));
  EXPECT_EQ(got.data, "booted\n") << got.error;
  const std::vector<PortHolder> holders = {
      {"127.0.0.1", port, 0, xinetd.pid(), "xinetd", ServiceUnitFromCgroup(""), true, "", ""}};
  EXPECT_EQ(UdpPortHolders(port, "/proc", sources.pid_file), holders);
  EXPECT_EQ(ReadServiceStatus(sources).text, running);
  // An ordinary user cannot read root's descriptors: the holder is found by name and pid file.
  EXPECT_EQ(test_support::InChild([&] {
              if (!test_support::BecomeNobody()) return 2;
              if (UdpPortHolders(port, "/proc", sources.pid_file) != holders) return 3;
              return ReadServiceStatus(sources).text == running ? 0 : 4;
            }),
            0);

  // A pid file that names another process: the xinetd on the port is then not ours.
  std::ofstream(sources.pid_file) << ::getpid() << "\n";
  status = ReadServiceStatus(sources);
  EXPECT_FALSE(status.running);
  EXPECT_FALSE(status.xinetd_running);
  EXPECT_EQ(status.text, "Stopped: xinetd does not run; port " + std::to_string(port) +
                             " is held by xinetd (pid " + std::to_string(xinetd.pid()) + ")");
}

}  // namespace
}  // namespace tftpc
