#include "tftp-controller/checks/port_holders.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/files/owned_fd.h"
#include "tests/scratch_folder.h"
#include "tftp-controller/checks/proc_tables.h"
#include "tftp-controller/checks/real_tftpd_testing.h"

namespace tftpc {
namespace {

namespace fs = std::filesystem;

}  // namespace

void PrintTo(const PortHolder& h, std::ostream* out) {
  *out << "{" << h.local_address << ":" << h.port << " uid " << h.uid << " pid " << h.pid << " "
       << h.program << " [" << h.systemd_unit << "]" << (h.ours ? " ours" : "") << "}";
}

namespace {

// A socket line of the crafted /proc/net tables.
struct CraftedSocket {
  const char* address;  // IPv4 or IPv6
  unsigned port;
  uid_t uid;
  ino_t inode;
};
// A crafted process: its stat, comm and cgroup, and its descriptors (none: they cannot be read).
struct CraftedProcess {
  pid_t pid;
  const char* comm;
  pid_t ppid;
  char state = 'S';
  const char* cgroup = "0::/\n";
  std::optional<std::vector<ino_t>> sockets = std::nullopt;
};

std::string KernelHex(const std::string& address, bool v6) {
  unsigned char bytes[16];
  ::inet_pton(v6 ? AF_INET6 : AF_INET, address.c_str(), bytes);
  std::string hex;
  for (int i = 0; i < (v6 ? 4 : 1); ++i) {
    std::uint32_t word;
    std::memcpy(&word, bytes + 4 * i, 4);
    char text[9];
    std::snprintf(text, sizeof text, "%08X", word);
    hex += text;
  }
  return hex;
}

// A folder laid out as /proc: net/udp, net/udp6 and a folder for each process.
void Craft(const std::string& root, const std::vector<CraftedSocket>& sockets,
           const std::vector<CraftedProcess>& processes) {
  fs::create_directories(root + "/net");
  std::ofstream udp(root + "/net/udp"), udp6(root + "/net/udp6");
  udp << "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n";
  udp6 << "  sl  local_address remote_address st tx_queue rx_queue tr tm->when retrnsmt   uid\n";
  for (const CraftedSocket& s : sockets) {
    bool v6 = std::strchr(s.address, ':') != nullptr;
    char port[8];
    std::snprintf(port, sizeof port, "%04X", s.port);
    (v6 ? udp6 : udp) << "  0: " << KernelHex(s.address, v6) << ":" << port << " "
                      << KernelHex(v6 ? "::" : "0.0.0.0", v6) << ":0000 07 00000000:00000000 "
                      << "00:00000000 00000000 " << s.uid << " 0 " << s.inode
                      << " 2 0000000000000000 0\n";
  }
  for (const CraftedProcess& p : processes) {
    std::string dir = root + "/" + std::to_string(p.pid);
    fs::create_directories(dir);
    std::ofstream(dir + "/stat") << p.pid << " (" << p.comm << ") " << p.state << " " << p.ppid
                                 << " 1 1 0 -1 4194560 0 0 0 0\n";
    std::ofstream(dir + "/comm") << p.comm << "\n";
    std::ofstream(dir + "/cgroup") << p.cgroup;
    if (!p.sockets) continue;
    fs::create_directories(dir + "/fd");
    int n = 0;
    fs::create_symlink("/dev/null", dir + "/fd/" + std::to_string(n++));
    for (ino_t inode : *p.sockets)
      fs::create_symlink("socket:[" + std::to_string(inode) + "]",
                         dir + "/fd/" + std::to_string(n++));
  }
}

std::vector<ino_t> Holds(std::initializer_list<ino_t> inodes) {
  return inodes;
}

struct Scenario {
  const char* name;
  std::vector<CraftedSocket> sockets;
  std::vector<CraftedProcess> processes;
  const char* pid_file;
  std::vector<PortHolder> expected;
};

TEST(UdpPortHolders, CraftedProcessTrees) {
  const char* kHpa = "0::/system.slice/tftpd-hpa.service\n";
  const CraftedProcess shell{50, "bash", 1, 'S', "0::/\n", Holds({7000})};
  const Scenario scenarios[] = {
      {"nothing on the port", {{"0.0.0.0", 68, 0, 4000}}, {shell, {100, "xinetd", 1}}, "100", {}},
      {"our xinetd",
       {{"0.0.0.0", 69, 0, 5001}},
       {shell, {100, "xinetd", 1, 'S', "0::/\n", Holds({9, 5001})}},
       "100\n",
       {{"0.0.0.0", 69, 0, 100, "xinetd", "", true}}},
      {"our xinetd and the in.tftpd it handed the socket to",
       {{"0.0.0.0", 69, 0, 5001}},
       {{100, "xinetd", 1, 'S', "0::/\n", Holds({5001})},
        {101, "in.tftpd", 100, 'S', "0::/\n", Holds({5001})}},
       "100",
       {{"0.0.0.0", 69, 0, 100, "xinetd", "", true}}},
      {"an in.tftpd of our xinetd's alone, and its forked child",
       {{"127.0.0.1", 69, 0, 5001}},
       {{100, "xinetd", 1, 'S', "0::/\n", Holds({})},
        {102, "in.tftpd", 101, 'S', "0::/\n", Holds({5001})},
        {101, "in.tftpd", 100, 'S', "0::/\n", Holds({})}},
       "100",
       {{"127.0.0.1", 69, 0, 102, "in.tftpd", "", true}}},
      {"a pid file that outlived its server",
       {{"0.0.0.0", 69, 0, 5001}},
       {{100, "bash", 1}, {200, "xinetd", 1, 'S', "0::/\n", Holds({5001})}},
       "100",
       {{"0.0.0.0", 69, 0, 200, "xinetd", "", false}}},
      {"a pid file naming a zombie xinetd",
       {{"0.0.0.0", 69, 0, 5001}},
       {{100, "xinetd", 1, 'Z'}, {300, "in.tftpd", 1, 'S', kHpa, Holds({5001})}},
       "100",
       {{"0.0.0.0", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false}}},
      {"the distribution's service on both families",
       {{"0.0.0.0", 69, 0, 5001}, {"::", 69, 0, 5002}},
       {{300, "in.tftpd", 1, 'S', kHpa, Holds({5002, 5001})}},
       "",
       {{"0.0.0.0", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false},
        {"::", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false}}},
      {"hidden descriptors: the TFTP server in a service before our xinetd and dnsmasq",
       {{"0.0.0.0", 69, 0, 5001}},
       {{90, "dnsmasq", 1, 'S', "0::/system.slice/NetworkManager.service\n"},
        {100, "xinetd", 1},
        {300, "in.tftpd", 1, 'S', kHpa}},
       "100",
       {{"0.0.0.0", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false}}},
      {"hidden descriptors: our xinetd rather than its child or dnsmasq",
       {{"0.0.0.0", 69, 0, 5001}},
       {{90, "dnsmasq", 1, 'S', "0::/system.slice/NetworkManager.service\n"},
        {100, "xinetd", 1},
        {101, "in.tftpd", 100}},
       "100",
       {{"0.0.0.0", 69, 0, 100, "xinetd", "", true}}},
      {"hidden descriptors and no server to guess",
       {{"0.0.0.0", 69, 1001, 5001}},
       {{100, "xinetd", 1}, {400, "dnsmasq", 1}},
       "",
       {{"0.0.0.0", 69, 1001, 0, "", "", false}}},
      {"a program of any name",
       {{"192.168.1.5", 69, 1000, 5001}},
       {shell, {400, "python3", 50, 'S', "0::/\n", Holds({5001})}},
       "",
       {{"192.168.1.5", 69, 1000, 400, "python3", "", false}}},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    test_support::ScratchFolder folder("port-holders");
    Craft(folder.File("proc"), scenario.sockets, scenario.processes);
    if (*scenario.pid_file) std::ofstream(folder.File("xinetd.pid")) << scenario.pid_file;
    // Twice: what is remembered from the first look must not change the second.
    for (int look = 0; look < 2; ++look)
      EXPECT_EQ(UdpPortHolders(69, folder.File("proc"), folder.File("xinetd.pid")),
                scenario.expected);
  }
}

TEST(UdpPortHolders, RealSocketsOfThisProcessAndOfTheRealServer) {
  // A socket of our own on each family, on one free port.
  unsigned port = testing::FreeUdpPort("127.0.0.1");
  platform::OwnedFd v4(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  platform::OwnedFd v6(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in a4{};
  a4.sin_family = AF_INET;
  a4.sin_port = htons(static_cast<std::uint16_t>(port));
  a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in6 a6{};
  a6.sin6_family = AF_INET6;
  a6.sin6_port = a4.sin_port;
  a6.sin6_addr = in6addr_loopback;
  ASSERT_EQ(::bind(v4.get(), reinterpret_cast<sockaddr*>(&a4), sizeof a4), 0);
  if (::bind(v6.get(), reinterpret_cast<sockaddr*>(&a6), sizeof a6) != 0)
    GTEST_SKIP() << "no IPv6 loopback: " << std::strerror(errno);
  std::string comm;
  std::getline(std::ifstream("/proc/self/comm"), comm);
  std::string cgroup;
  std::getline(std::ifstream("/proc/self/cgroup"), cgroup, '\0');
  const std::string unit = ServiceUnitFromCgroup(cgroup);
  std::vector<PortHolder> expected = {
      {"127.0.0.1", port, ::geteuid(), ::getpid(), comm, unit, false},
      {"::1", port, ::geteuid(), ::getpid(), comm, unit, false}};
  EXPECT_EQ(UdpPortHolders(port), expected);
  v4.Reset();
  v6.Reset();
  EXPECT_EQ(UdpPortHolders(port), std::vector<PortHolder>{});

  std::string why = testing::WhyNoRealTftpd();
  if (!why.empty()) GTEST_SKIP() << why;
  test_support::ScratchFolder folder("port-holders-tftpd");
  testing::RealTftpd server(folder.path());
  ASSERT_TRUE(server.listening());
  expected = {{"127.0.0.1", server.port(), 0, server.pid(), "in.tftpd", unit, false}};
  EXPECT_EQ(UdpPortHolders(server.port()), expected);
}

}  // namespace
}  // namespace tftpc
