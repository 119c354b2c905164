#include "tftp-controller/service/service_processes.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tftpc {
namespace {

class ServiceProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/service_processes_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    proc_ = tmpl;
    std::filesystem::create_directories(proc_ + "/net");
  }
  void TearDown() override { std::filesystem::remove_all(proc_); }
  void Write(const std::string& name, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(proc_ + "/" + name).parent_path());
    std::ofstream(proc_ + "/" + name, std::ios::binary) << text;
  }
  // A process as /proc shows it: its name, state letter and command line.
  void Process(int pid, const std::string& comm, char state, const std::vector<std::string>& argv) {
    const std::string base = std::to_string(pid);
    Write(base + "/comm", comm + "\n");
    Write(base + "/stat", base + " (" + comm + ") " + state + " 1 1 1 0 -1");
    std::string cmdline;
    for (const std::string& word : argv) cmdline += word + '\0';
    Write(base + "/cmdline", cmdline);
  }
  std::string proc_;
};

constexpr char kUdpHeader[] =
    "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
    "timeout inode ref pointer drops\n";

TEST_F(ServiceProcesses, PortsFromBothTables) {
  Write("net/udp", std::string(kUdpHeader) +
                       "  125: 0100007F:1A0B 00000000:0000 07 00000000:00000000 00:00000000 "
                       "00000000     0        0 1234 2 0000000000000000 0\n");
  Write("net/udp6", std::string(kUdpHeader) +
                        "   10: 00000000000000000000000000000000:0045 "
                        "00000000000000000000000000000000:0000 07 00000000:00000000 "
                        "00:00000000 00000000     0        0 99 2 0000000000000000 0\n");
  EXPECT_TRUE(UdpPortHeld(6667, proc_));  // 0x1A0B
  EXPECT_TRUE(UdpPortHeld(69, proc_));    // 0x45, IPv6 only
  EXPECT_FALSE(UdpPortHeld(0x1A0, proc_));
  EXPECT_FALSE(UdpPortHeld(11, proc_));  // the remote side's port 0 and slot numbers do not count
  EXPECT_FALSE(UdpPortHeld(125, proc_));
  std::filesystem::remove(proc_ + "/net/udp6");
  EXPECT_FALSE(UdpPortHeld(69, proc_));
}

TEST_F(ServiceProcesses, TftpdsOfASuperServerAndXinetd) {
  Process(10, "in.tftpd", 'S', {"/usr/sbin/in.tftpd", "-v", "-s", "/srv/tftp"});
  Process(11, "in.tftpd", 'Z', {});  // a transfer that has ended, not yet reaped
  Process(12, "in.tftpd", 'S', {"/usr/sbin/in.tftpd", "--listen", "--user", "tftp", "/srv"});
  Process(13, "in.tftpd", 'S', {"/usr/sbin/in.tftpd", "-vL", "-s", "/srv"});
  Process(14, "in.tftpd", 'R', {"/usr/sbin/in.tftpd", "-s", "/srv/lib", "--", "-l"});
  Process(15, "in.tftpdx", 'S', {"/usr/sbin/in.tftpd", "-s", "/srv"});
  Process(9, "xinetd", 'S', {"/usr/sbin/xinetd", "-pidfile", "/run/xinetd.pid"});
  Process(8, "xinetd", 'Z', {});
  Write("self/comm", "in.tftpd\n");  // not a number: no process
  EXPECT_EQ(SuperServerTftpds(proc_), (std::vector<pid_t>{10, 14}));

  struct Case {
    const char* pid_file;  // null: no pid file
    bool runs;
  } cases[] = {
      {"9\n", true},   {"  9", true},   {"8\n", false}, {"10\n", false},  {"0\n", false},
      {"-9\n", false}, {"x9\n", false}, {"", false},    {nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pid_file ? c.pid_file : "(none)");
    std::filesystem::remove(proc_ + "/xinetd.pid");
    if (c.pid_file) Write("xinetd.pid", c.pid_file);
    EXPECT_EQ(XinetdRuns(proc_ + "/xinetd.pid", proc_), c.runs);
  }
  // A pid this tree does not show is not taken for a hidden one: only /proc hides processes.
  Write("xinetd.pid", "1\n");
  EXPECT_FALSE(XinetdRuns(proc_ + "/xinetd.pid", proc_));
}

}  // namespace
}  // namespace tftpc
