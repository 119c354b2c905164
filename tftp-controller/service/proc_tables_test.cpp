#include "tftp-controller/service/proc_tables.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tftpc {
namespace {

// An address as the kernel prints it in /proc/net/udp*: each 32-bit word as a number of this
// machine's byte order.
std::string KernelHex(const std::string& address) {
  bool v6 = address.find(':') != std::string::npos;
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

TEST(ParseUdpTable, TakesTheSocketsOfOnePortInAnyState) {
  const std::string header =
      "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
      "timeout inode ref pointer drops\n";
  const std::string text =
      header + "  1: " + KernelHex("0.0.0.0") + ":0045 00000000:0000 07 00000000:00000000 " +
      "00:00000000 00000000     0        0 5001 2 0000000000000000 0\n" +
      "  2: " + KernelHex("192.168.1.5") + ":0045 " + KernelHex("192.168.1.9") + ":C350 01 " +
      "00000000:00000000 00:00000000 00000000  1000        0 5002 2 0000000000000000 0\n" +
      "  3: " + KernelHex("0.0.0.0") + ":0044 00000000:0000 07 00000000:00000000 " +
      "00:00000000 00000000     0        0 5003 2 0000000000000000 0\n" +
      "  4: " + KernelHex("::") + ":0045 " + KernelHex("::") + ":0000 07 00000000:00000000 " +
      "00:00000000 00000000   106        0 5004 2 0000000000000000 0\n" +
      "  5: " + KernelHex("fd00::2") + ":0045 " + KernelHex("::") + ":0000 07 00000000:00000000 " +
      "00:00000000 00000000   0        0 5005 2 0000000000000000 0\n" +
      "  6: ZZZZ:0045 00000000:0000 07 00000000:00000000 00:00000000 00000000 0 0 5006 2 0 0\n" +
      "  7: 00000000:0045 cut short\n";
  auto sockets = ParseUdpTable(text, 69);
  ASSERT_EQ(sockets.size(), 4u);
  const std::tuple<const char*, uid_t, ino_t> expected[] = {
      {"0.0.0.0", 0, 5001}, {"192.168.1.5", 1000, 5002}, {"::", 106, 5004}, {"fd00::2", 0, 5005}};
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    EXPECT_EQ(sockets[i].address, std::get<0>(expected[i]));
    EXPECT_EQ(sockets[i].port, 69u);
    EXPECT_EQ(sockets[i].uid, std::get<1>(expected[i]));
    EXPECT_EQ(sockets[i].inode, std::get<2>(expected[i]));
  }
  EXPECT_EQ(ParseUdpTable(text, 68).size(), 1u);
}

TEST(ParseProcessStat, ReadsTheCommandWhateverItHolds) {
  struct Case {
    const char* stat;
    bool parsed;
    pid_t pid;
    const char* comm;
    char state;
    pid_t ppid;
  } cases[] = {
      {"812 (in.tftpd) S 1 812 812 0 -1 4194560 ...", true, 812, "in.tftpd", 'S', 1},
      {"9 (a) (b) Z 3 9", true, 9, "a) (b", 'Z', 3},
      {"7 () R 0 7", true, 7, "", 'R', 0},
      {"x (xinetd) S 1", false, 0, "", '?', 0},
      {"5 xinetd S 1", false, 0, "", '?', 0},
      {"5 (xinetd)", false, 0, "", '?', 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stat);
    auto info = ParseProcessStat(c.stat);
    ASSERT_EQ(info.has_value(), c.parsed);
    if (!info) continue;
    EXPECT_EQ(info->pid, c.pid);
    EXPECT_EQ(info->comm, c.comm);
    EXPECT_EQ(info->state, c.state);
    EXPECT_EQ(info->ppid, c.ppid);
  }
}

TEST(CommandMayHold, WhatAStandaloneServersCommandLineSays) {
  auto words = [](std::initializer_list<std::string> list) {
    std::string line;
    for (const std::string& w : list) line += w + '\0';
    return line;
  };
  const UdpSocket any4{"0.0.0.0", 69, 0, 1}, one4{"192.168.1.5", 69, 0, 2}, any6{"::", 1069, 0, 3};
  const struct {
    std::string cmdline;
    UdpSocket socket;
    bool may;
  } cases[] = {
      {words({"in.tftpd", "-s", "/srv/tftp"}), any6, true},            // under a super-server
      {words({"in.tftpd", "-a", ":6969", "-s", "/srv"}), any4, true},  // -a unread without -l
      {words({"/usr/sbin/in.tftpd", "--listen", "--address", ":69", "/srv"}), any4, true},
      {words({"/usr/sbin/in.tftpd", "--listen", "--address", ":6969", "/srv"}), any4, false},
      {words({"in.tftpd", "-L", "-a", "192.168.1.5"}), one4, true},
      {words({"in.tftpd", "-L", "-a", "192.168.1.5"}), any4, false},
      {words({"in.tftpd", "-l", "--address=[::]:1069"}), any6, true},
      {words({"in.tftpd", "-l", "-a[::1]:1069"}), any6, false},
      {words({"in.tftpd", "--foreground"}), any4, true},
      {words({"in.tftpd", "--foreground"}), any6, false},
      {words({"in.tftpd", "-l", "-a", "0.0.0.0:tftp"}), any6, true},  // a service name
      {"", any4, true},
  };
  for (const auto& c : cases) EXPECT_EQ(CommandMayHold(c.cmdline, c.socket), c.may) << c.cmdline;
}

TEST(ServiceUnitFromCgroup, NamesTheServiceOnlyWhenAProcessIsInOne) {
  const std::pair<const char*, const char*> cases[] = {
      {"0::/system.slice/tftpd-hpa.service\n", "tftpd-hpa.service"},
      {"0::/system.slice/xinetd.service/payload\n", "xinetd.service"},
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-term-1.scope\n", ""},
      {"0::/init.scope\n", ""},
      {"0::/\n", ""},
      {"12:pids:/\n1:name=systemd:/system.slice/dnsmasq.service\n0::/\n", "dnsmasq.service"},
      {"", ""},
  };
  for (const auto& [cgroup, unit] : cases) EXPECT_EQ(ServiceUnitFromCgroup(cgroup), unit) << cgroup;
}

}  // namespace
}  // namespace tftpc
