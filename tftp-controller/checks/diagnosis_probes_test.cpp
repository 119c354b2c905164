#include "tftp-controller/checks/diagnosis_probes.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/as_nobody.h"
#include "tests/scratch_folder.h"
#include "tftp-controller/checks/real_tftpd_testing.h"

namespace tftpc {
namespace {

TEST(InterfacesFrom, CarrierAddressAndStateFromRecordsAndSys) {
  using Kind = platform::InterfaceRecord::Kind;
  test_support::ScratchFolder sys("sys-class-net");
  auto write = [&](const std::string& name, const char* carrier, const char* state) {
    std::filesystem::create_directories(sys.File(name));
    if (carrier) std::ofstream(sys.File(name + "/carrier")) << carrier;
    std::ofstream(sys.File(name + "/operstate")) << state;
  };
  write("lo", "0\n", "down\n");  // another network namespace's lo, whose index is not 1
  std::ofstream(sys.File("lo/ifindex")) << "999\n";
  write("eth0", "1\n", "up\n");
  write("eth1", "0\n", "down\n");
  write("ifb0", nullptr, "down\n");  // down: the kernel refuses to tell the carrier
  write("tun0", nullptr, "unknown\n");
  const unsigned up = IFF_UP | IFF_RUNNING | 0x10000;  // with IFF_LOWER_UP: a carrier
  const std::vector<platform::InterfaceRecord> records = {
      {Kind::kLink, "lo", up | IFF_LOOPBACK, 0, {}},
      {Kind::kLink, "lo", up, 0, {}},  // a record of our lo without its loopback flag: not skipped
      {Kind::kLink, "eth0", up, 0, {}},
      {Kind::kLink, "eth1", IFF_UP, 0, {}},
      {Kind::kLink, "ifb0", 0, 0, {}},
      {Kind::kLink, "tun0", up, 0, {}},
      {Kind::kIPv4, "lo", up, htonl(0x7f000001), {}},
      {Kind::kIPv4, "eth0:1", up, htonl(0xc0a80105), {}},
      {Kind::kIPv4, "eth0", up, htonl(0xc0a80106), {}},
      {Kind::kIPv4, "tun0", up, htonl(0x0a000001), {}},
  };
  auto interfaces = InterfacesFrom(records, sys.path());
  ASSERT_EQ(interfaces.size(), 5u);
  const InterfaceFacts expected[] = {{"lo", "127.0.0.1", true, true},
                                     {"eth0", "192.168.1.5", true, true},
                                     {"eth1", "", false, true},
                                     {"ifb0", "", false, false},
                                     {"tun0", "10.0.0.1", true, true}};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(interfaces[i].name, expected[i].name);
    EXPECT_EQ(interfaces[i].ipv4, expected[i].ipv4) << expected[i].name;
    EXPECT_EQ(interfaces[i].carrier, expected[i].carrier) << expected[i].name;
    EXPECT_EQ(interfaces[i].up, expected[i].up) << expected[i].name;
  }
}

// Runs `ip` with these words and waits for it: true when it succeeded.
bool Ip(std::vector<std::string> words) {
  words.insert(words.begin(), "/usr/sbin/ip");
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid;
  int status;
  return ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 &&
         ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A cable pulled out, for real: in a network namespace of its own, one end of a pair of virtual
// interfaces is up and has an address while the other end is down, so it has no carrier. /sys
// still shows the namespace it was mounted in, which does not have these interfaces.
TEST(InterfacesFrom, AnInterfaceWithoutCarrierInANetworkNamespace) {
  if (::geteuid() != 0 || ::access("/usr/sbin/ip", X_OK) != 0)
    GTEST_SKIP() << "needs root and iproute2 for a network namespace";
  auto look = [](const char* name) {
    std::string err;
    auto records = platform::ReadInterfaceRecords(&err);
    for (const InterfaceFacts& i :
         InterfacesFrom(records.value_or(decltype(records)::value_type{})))
      if (i.name == name) return std::to_string(i.up) + std::to_string(i.carrier) + " " + i.ipv4;
    return std::string("none");
  };
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  test_support::ForkedChild child(::fork());
  if (child.pid() == 0) {
    ::close(pipe_fds[0]);
    std::string seen = "unshare failed";
    if (::unshare(CLONE_NEWNET) == 0) {
      seen = Ip({"link", "add", "tftpc0", "type", "veth", "peer", "name", "tftpc1"}) &&
                     Ip({"address", "add", "10.9.9.1/24", "dev", "tftpc0"}) &&
                     Ip({"link", "set", "tftpc0", "up"})
                 ? look("tftpc0") + "," + look("tftpc1")
                 : "ip failed";
      if (Ip({"link", "set", "tftpc1", "up"})) seen += "," + look("tftpc0");
    }
    (void)!::write(pipe_fds[1], seen.data(), seen.size());
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string seen;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) seen.append(buffer, n);
  ::close(pipe_fds[0]);
  EXPECT_EQ(child.Wait(), 0);
  if (seen == "unshare failed") GTEST_SKIP() << "no network namespace may be made here";
  // up, carrier, address: the one end without carrier while the other is down, then with it.
  EXPECT_EQ(seen, "10 10.9.9.1,00 ,11 10.9.9.1");
}

TEST(FindFirewallTool, PrefersTheToolsThatKeepTheirOwnRules) {
  test_support::ScratchFolder bin("bin");
  auto install = [&](const char* name, mode_t mode) {
    std::ofstream(bin.File(name)) << "#!/bin/sh\n";
    ::chmod(bin.File(name).c_str(), mode);
  };
  EXPECT_EQ(FindFirewallTool({bin.path()}), "");
  install("iptables", 0755);
  EXPECT_EQ(FindFirewallTool({bin.path()}), "iptables");
  install("nft", 0755);
  EXPECT_EQ(FindFirewallTool({bin.path()}), "nft");
  install("ufw", 0755);
  EXPECT_EQ(FindFirewallTool({bin.path()}), "ufw");
}

// The probes once, against the real server on loopback: the probe file comes back and is gone
// after.
TEST(GatherFacts, ProbesTheRealServerOverLoopback) {
  std::string why = testing::WhyNoRealTftpd();
  if (!why.empty()) GTEST_SKIP() << why;
  test_support::ScratchFolder folder("diagnosis");
  ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
  testing::RealTftpd server(folder.path());
  ASSERT_TRUE(server.listening());
  ServerOptions options;
  options.folder = folder.path();
  ServiceStatus status;  // running on the one address xinetd's bind attribute names
  status.running = status.xinetd_running = status.enabled = true;
  status.port = server.port();
  status.addresses = {"127.0.0.1"};
  DiagnosisFacts facts = GatherFacts(options, status);
  ASSERT_EQ(facts.fetches.size(), 1u);
  const FetchFacts& fetch = facts.fetches[0];
  EXPECT_TRUE(fetch.loopback);
  EXPECT_TRUE(fetch.planted);
  EXPECT_TRUE(fetch.result.ok) << fetch.result.error;
  EXPECT_EQ(fetch.result.data, fetch.expected);
  EXPECT_TRUE(folder.Names().empty());
  const std::vector<Finding> findings = Diagnose(facts);
  ASSERT_GE(findings.size(), 2u);
  EXPECT_EQ(findings[1].check, "Fetch over loopback (127.0.0.1)");
  EXPECT_EQ(findings[1].verdict, Verdict::kOk) << findings[1].explanation;
}

}  // namespace
}  // namespace tftpc
