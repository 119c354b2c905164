#include "tftp-controller/checks/diagnosis.h"

#include <gtest/gtest.h>

#include <functional>

namespace tftpc {
namespace {

constexpr Verdict kOk = Verdict::kOk, kProblem = Verdict::kProblem, kNote = Verdict::kNote;

ServiceStatus Running() {
  ServiceStatus s;
  s.running = s.xinetd_running = s.enabled = true;
  s.listen_address = "every address";
  s.text = "Running on every address, port 69";
  return s;
}

FetchFacts Got(const char* address, bool loopback) {
  FetchFacts f{address, loopback, "tftp-controller-probe-1", true, "probe\n", {}};
  f.result = {true, true, "", "probe\n"};
  return f;
}
FetchFacts Answer(const char* address, bool loopback, const char* error, bool planted = true) {
  FetchFacts f = Got(address, loopback);
  f.planted = planted;
  f.result = {true, false, error, ""};
  return f;
}
FetchFacts Silent(const char* address, bool loopback) {
  FetchFacts f = Got(address, loopback);
  f.result = {false, false, "timed out after 2 s", ""};
  return f;
}

const InterfaceFacts kEth0{"eth0", "192.168.1.5", true, true};

// A fine setup, that each scenario spoils in one way.
DiagnosisFacts Fine() {
  DiagnosisFacts f;
  f.status = Running();
  f.folder = "/srv/tftp";
  f.interfaces = {kEth0};
  f.interface_chosen = true;
  f.fetches = {Got("127.0.0.1", true), Got("192.168.1.5", false)};
  f.firewall_tool = "nft";
  return f;
}

struct Expected {
  Verdict verdict;
  std::string check;
  std::string words;  // found in the explanation or the fix; empty: not looked at
};
struct Scenario {
  const char* name;
  std::function<void(DiagnosisFacts&)> spoil;
  std::vector<Expected> findings;
};

const Expected kListens{kOk, "The service listens", "Running on every address, port 69"};
const Expected kLoopbackGot{kOk, "Fetch over loopback (127.0.0.1)", "came back whole"};
const Expected kEthGot{kOk, "Fetch over 192.168.1.5", "came back whole"};
const Expected kFolderFine{kOk, "The served folder's permissions", "can reach and read /srv/tftp"};
const Expected kNoOthers{kOk, "Other programs on the port", "No other program holds UDP port 69"};
const Expected kEthFine{kOk, "Interface eth0", "eth0 is up, has a carrier and the address"};
const Expected kFirewallNote{kNote, "A firewall",
                             "nft add rule inet filter input udp dport 69 accept"};

TEST(Diagnose, FindingsInOrderForEachFault) {
  const Scenario scenarios[] = {
      {"all is well",
       [](DiagnosisFacts&) {},
       {kListens, kLoopbackGot, kEthGot, kFolderFine, kNoOthers, kEthFine, kFirewallNote}},
      {"stopped",
       [](DiagnosisFacts& f) {
         f.status = {};
         f.status.text = "Stopped";
         f.fetches = {Silent("127.0.0.1", true), Silent("192.168.1.5", false)};
       },
       {{kProblem, "The service listens", "Press Start."},
        {kProblem, "Fetch over loopback (127.0.0.1)", "Start the service first."},
        {kProblem, "Fetch over 192.168.1.5", "timed out after 2 s"},
        kFolderFine,
        kNoOthers,
        kEthFine}},
      {"a folder the server's user cannot enter",
       [](DiagnosisFacts& f) {
         f.folder = "/home/ann/tftp";
         f.uploads = true;
         f.folder_check.problems = {
             {"/home/ann", "/home/ann is 0700 and owned by ann: nobody cannot enter it"}};
         f.folder_check.fix_command = {"chmod", "o+x", "/home/ann"};
         f.fetches = {Answer("127.0.0.1", true, "error 2: Access violation"),
                      Answer("192.168.1.5", false, "error 2: Access violation")};
       },
       {kListens,
        {kProblem, "Fetch over loopback (127.0.0.1)", "may not read the file"},
        {kProblem, "Fetch over 192.168.1.5", "\"error 2: Access violation\""},
        {kProblem, "The served folder's permissions", "As root, run: chmod o+x /home/ann"},
        kNoOthers,
        kEthFine,
        kFirewallNote}},
      {"the user's own folder, with a blank in its name",
       [](DiagnosisFacts& f) {
         f.folder_check.problems = {{"/home/ann/my boot", "nobody cannot read it"}};
         f.folder_check.fix_command = {"chmod", "o+rx", "/home/ann/my boot"};
         f.folder_check.fixable_by_user = true;
       },
       {kListens,
        kLoopbackGot,
        kEthGot,
        {kProblem, "The served folder's permissions",
         "press Fix under Served folder, or run: chmod o+rx '/home/ann/my boot'"},
        kNoOthers,
        kEthFine,
        kFirewallNote}},
      {"a server serving another folder",
       [](DiagnosisFacts& f) {
         f.fetches = {Answer("127.0.0.1", true, "error 1: File not found")};
       },
       {kListens,
        {kProblem, "Fetch over loopback (127.0.0.1)", "another folder than /srv/tftp"},
        kFolderFine,
        kNoOthers,
        kEthFine}},
      {"the distribution's server on the port",
       [](DiagnosisFacts& f) {
         f.status = Running();
         f.status.running = false;
         f.status.text = "Stopped: xinetd does not listen on port 69";
         f.status.others = {{"0.0.0.0", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false, "", ""},
                            {"::", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false, "", ""}};
       },
       {{kProblem, "The service listens", "Stop the other program on the port"},
        kLoopbackGot,
        kEthGot,
        kFolderFine,
        {kProblem, "Other programs on the port",
         "Port 69 is held by in.tftpd (tftpd-hpa.service).\nTake over from tftpd-hpa.service, or "
         "as root run: systemctl disable --now tftpd-hpa.service"},
        kEthFine,
        kFirewallNote}},
      {"a launchd job serving a request, and its socket that systemd holds",
       [](DiagnosisFacts& f) {
         const char* job = "/etc/qrb-tftp-controller/tftp.plist";
         f.status.others = {
             {"::", 69, 0, 700, "in.tftpd", "org.qrb.tftp.service", false, "org.qrb.tftp", job},
             {"0.0.0.0", 69, 0, 0, "", "", false, "org.qrb.tftp", job}};
       },
       {kListens,
        kLoopbackGot,
        kEthGot,
        kFolderFine,
        {kProblem, "Other programs on the port",
         "Port 69 is held by the launchd job org.qrb.tftp (/etc/qrb-tftp-controller/tftp.plist)."
         "\nPress Stop job, or run: launchdtool unload /etc/qrb-tftp-controller/tftp.plist"},
        kEthFine,
        kFirewallNote}},
      {"a holder that cannot be seen",
       [](DiagnosisFacts& f) {
         f.status.others = {{"0.0.0.0", 69, 0, 0, "", "", false, "", ""}};
       },
       {kListens,
        kLoopbackGot,
        kEthGot,
        kFolderFine,
        {kProblem, "Other programs on the port", "ss -ulpn 'sport = :69'"},
        kEthFine,
        kFirewallNote}},
      {"no carrier on the chosen interface",
       [](DiagnosisFacts& f) { f.interfaces[0].carrier = false; },
       {kListens,
        kLoopbackGot,
        kEthGot,
        kFolderFine,
        kNoOthers,
        {kProblem, "Interface eth0", "eth0 has no carrier"},
        kFirewallNote}},
      {"the chosen interface switched off, without an address",
       [](DiagnosisFacts& f) {
         f.interfaces[0] = {"eth0", "", false, false};
         f.fetches.pop_back();
       },
       {kListens,
        kLoopbackGot,
        kFolderFine,
        kNoOthers,
        {kProblem, "Interface eth0", "ip link set eth0 up"},
        {kProblem, "Interface eth0", "ip address add 192.168.100.1/24 dev eth0"}}},
      {"every address served, no interface usable",
       [](DiagnosisFacts& f) {
         f.interface_chosen = false;
         f.interfaces = {{"wlan0", "", false, true}};
         f.fetches.pop_back();
       },
       {kListens,
        kLoopbackGot,
        kFolderFine,
        kNoOthers,
        {kNote, "Interface wlan0", "wlan0 has no carrier"},
        {kNote, "Interface wlan0", "wlan0 has no IPv4 address"},
        {kProblem, "The network", "no device can reach the service"}}},
      {"an address listened on that no interface has",
       [](DiagnosisFacts& f) {
         f.listen_address = "10.0.0.9";
         f.interfaces.clear();
         f.interface_chosen = false;
         f.fetches = {Silent("10.0.0.9", false)};
       },
       {kListens,
        {kProblem, "Fetch over 10.0.0.9", "interface and the firewall"},
        kFolderFine,
        kNoOthers,
        {kProblem, "The address listened on", "No interface has the address 10.0.0.9"}}},
      {"a firewall, with data ports",
       [](DiagnosisFacts& f) {
         f.fetches[1] = Silent("192.168.1.5", false);
         f.firewall_tool = "ufw";
         f.port_range = PortRange{30000, 30100};
       },
       {kListens,
        kLoopbackGot,
        {kProblem, "Fetch over 192.168.1.5", ""},
        kFolderFine,
        kNoOthers,
        kEthFine,
        {kProblem, "A firewall",
         "Loopback (127.0.0.1) answers but 192.168.1.5 does not: a firewall most likely drops "
         "UDP port 69 there.\nAs root, run:\nufw allow 69/udp\nufw allow 30000:30100/udp"}}},
      {"a firewall, and no tool for it",
       [](DiagnosisFacts& f) {
         f.fetches[1] = Silent("192.168.1.5", false);
         f.firewall_tool = "";
       },
       {kListens,
        kLoopbackGot,
        {kProblem, "Fetch over 192.168.1.5", ""},
        kFolderFine,
        kNoOthers,
        kEthFine,
        {kProblem, "A firewall", "Open UDP port 69 in the firewall that runs here"}}},
      {"a folder not the user's to write: a name that does not exist",
       [](DiagnosisFacts& f) {
         f.fetches = {Answer("127.0.0.1", true, "error 1: File not found", false)};
       },
       {kListens,
        {kOk, "Fetch over loopback (127.0.0.1)", "a name that does not exist"},
        kFolderFine,
        kNoOthers,
        kEthFine}},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    DiagnosisFacts facts = Fine();
    scenario.spoil(facts);
    const std::vector<Finding> findings = Diagnose(facts);
    ASSERT_EQ(findings.size(), scenario.findings.size());
    for (std::size_t i = 0; i < findings.size(); ++i) {
      const Expected& want = scenario.findings[i];
      EXPECT_EQ(findings[i].check, want.check);
      EXPECT_EQ(findings[i].verdict, want.verdict) << want.check;
      const std::string said = findings[i].explanation + "\n" + findings[i].fix;
      EXPECT_NE(said.find(want.words), std::string::npos) << said;
      // A problem always says what to do.
      if (findings[i].verdict == kProblem) {
        EXPECT_FALSE(findings[i].fix.empty()) << want.check;
      }
    }
  }
}

}  // namespace
}  // namespace tftpc
