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
#include "tftp-controller/service/proc_tables.h"
#include "tftp-controller/checks/proc_tree_testing.h"
#include "tftp-controller/checks/real_tftpd_testing.h"

namespace tftpc {
namespace {

using testing::CraftedProcess;
using testing::CraftedSocket;
using testing::Holds;
using namespace std::string_literals;

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
       {{"0.0.0.0", 69, 0, 100, "xinetd", "", true, "", ""}}},
      {"our xinetd and the in.tftpd it handed the socket to",
       {{"0.0.0.0", 69, 0, 5001}},
       {{100, "xinetd", 1, 'S', "0::/\n", Holds({5001})},
        {101, "in.tftpd", 100, 'S', "0::/\n", Holds({5001})}},
       "100",
       {{"0.0.0.0", 69, 0, 100, "xinetd", "", true, "", ""}}},
      {"an in.tftpd of our xinetd's alone, and its forked child",
       {{"127.0.0.1", 69, 0, 5001}},
       {{100, "xinetd", 1, 'S', "0::/\n", Holds({})},
        {102, "in.tftpd", 101, 'S', "0::/\n", Holds({5001})},
        {101, "in.tftpd", 100, 'S', "0::/\n", Holds({})}},
       "100",
       {{"127.0.0.1", 69, 0, 102, "in.tftpd", "", true, "", ""}}},
      {"a pid file that outlived its server",
       {{"0.0.0.0", 69, 0, 5001}},
       {{100, "bash", 1}, {200, "xinetd", 1, 'S', "0::/\n", Holds({5001})}},
       "100",
       {{"0.0.0.0", 69, 0, 200, "xinetd", "", false, "", ""}}},
      {"a pid file naming a zombie xinetd",
       {{"0.0.0.0", 69, 0, 5001}},
       {{100, "xinetd", 1, 'Z'}, {300, "in.tftpd", 1, 'S', kHpa, Holds({5001})}},
       "100",
       {{"0.0.0.0", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false, "", ""}}},
      {"the distribution's service on both families",
       {{"0.0.0.0", 69, 0, 5001}, {"::", 69, 0, 5002}},
       {{300, "in.tftpd", 1, 'S', kHpa, Holds({5002, 5001})}},
       "",
       {{"0.0.0.0", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false, "", ""},
        {"::", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false, "", ""}}},
      {"hidden descriptors: the TFTP server in a service before our xinetd and dnsmasq",
       {{"0.0.0.0", 69, 0, 5001}},
       {{90, "dnsmasq", 1, 'S', "0::/system.slice/NetworkManager.service\n"},
        {100, "xinetd", 1},
        {300, "in.tftpd", 1, 'S', kHpa}},
       "100",
       {{"0.0.0.0", 69, 0, 300, "in.tftpd", "tftpd-hpa.service", false, "", ""}}},
      {"hidden descriptors: a TFTP server in a service that listens on another port",
       {{"0.0.0.0", 69, 0, 5001}},
       {{100, "xinetd", 1},
        {300, "in.tftpd", 1, 'S', kHpa, std::nullopt,
         "/usr/sbin/in.tftpd\0--listen\0--address\0:6969\0-s\0/srv/tftp\0"s}},
       "100",
       {{"0.0.0.0", 69, 0, 100, "xinetd", "", true, "", ""}}},
      {"hidden descriptors: our xinetd rather than its child or dnsmasq",
       {{"0.0.0.0", 69, 0, 5001}},
       {{90, "dnsmasq", 1, 'S', "0::/system.slice/NetworkManager.service\n"},
        {100, "xinetd", 1},
        {101, "in.tftpd", 100}},
       "100",
       {{"0.0.0.0", 69, 0, 100, "xinetd", "", true, "", ""}}},
      {"hidden descriptors and no server to guess",
       {{"0.0.0.0", 69, 1001, 5001}},
       {{100, "xinetd", 1}, {400, "dnsmasq", 1}},
       "",
       {{"0.0.0.0", 69, 1001, 0, "", "", false, "", ""}}},
      {"a program of any name",
       {{"192.168.1.5", 69, 1000, 5001}},
       {shell, {400, "python3", 50, 'S', "0::/\n", Holds({5001})}},
       "",
       {{"192.168.1.5", 69, 1000, 400, "python3", "", false, "", ""}}},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    test_support::ScratchFolder folder("port-holders");
    testing::CraftProc(folder.File("proc"), scenario.sockets, scenario.processes);
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
      {"127.0.0.1", port, ::geteuid(), ::getpid(), comm, unit, false, "", ""},
      {"::1", port, ::geteuid(), ::getpid(), comm, unit, false, "", ""}};
  EXPECT_EQ(UdpPortHolders(port), expected);
  v4.Reset();
  v6.Reset();
  EXPECT_EQ(UdpPortHolders(port), std::vector<PortHolder>{});

  std::string why = testing::WhyNoRealTftpd();
  if (!why.empty()) GTEST_SKIP() << why;
  test_support::ScratchFolder folder("port-holders-tftpd");
  testing::RealTftpd server(folder.path());
  ASSERT_TRUE(server.listening());
  expected = {{"127.0.0.1", server.port(), 0, server.pid(), "in.tftpd", unit, false, "", ""}};
  EXPECT_EQ(UdpPortHolders(server.port()), expected);
}

}  // namespace
}  // namespace tftpc
