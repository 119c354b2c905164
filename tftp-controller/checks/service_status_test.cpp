#include "tftp-controller/checks/service_status.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/scratch_folder.h"
#include "tftp-controller/checks/proc_tree_testing.h"

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
  const PortHolder hpa4{"0.0.0.0", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false};
  const PortHolder hpa6{"::", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false};
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
      {"stopped, with -a in the arguments",
       ServiceFile("yes", "", "-v -a 10.0.0.2 -s /srv/tftp"),
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
       {{"0.0.0.0", 69, 1000, 400, "dnsmasq", "", false}},
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
    ServiceStatus status =
        ReadServiceStatus({folder.File("proc"), folder.File("xinetd.pid"), folder.File("tftp")});
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

}  // namespace
}  // namespace tftpc
