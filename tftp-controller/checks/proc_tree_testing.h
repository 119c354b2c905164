// For tests: a folder laid out as /proc (net/udp, net/udp6, and PID/stat, comm, cgroup and fd
// for each process), for the readers of the process file system.
#pragma once

#include <arpa/inet.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tftp-controller/checks/port_holders.h"

namespace tftpc {

inline void PrintTo(const PortHolder& h, std::ostream* out) {
  *out << "{" << h.local_address << ":" << h.port << " uid " << h.uid << " pid " << h.pid << " "
       << h.program << " [" << h.systemd_unit << "]" << (h.ours ? " ours" : "")
       << (h.launchd_label.empty() ? "" : " job " + h.launchd_label) << "}";
}

namespace testing {

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
  std::string cmdline = "";  // its words, each ended by a NUL; empty: none written
};

inline std::string KernelHex(const std::string& address, bool v6) {
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
inline void CraftProc(const std::string& root, const std::vector<CraftedSocket>& sockets,
                      const std::vector<CraftedProcess>& processes) {
  std::filesystem::create_directories(root + "/net");
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
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/stat") << p.pid << " (" << p.comm << ") " << p.state << " " << p.ppid
                                 << " 1 1 0 -1 4194560 0 0 0 0\n";
    std::ofstream(dir + "/comm") << p.comm << "\n";
    std::ofstream(dir + "/cgroup") << p.cgroup;
    if (!p.cmdline.empty()) std::ofstream(dir + "/cmdline") << p.cmdline;
    if (!p.sockets) continue;
    std::filesystem::create_directories(dir + "/fd");
    int n = 0;
    std::filesystem::create_symlink("/dev/null", dir + "/fd/" + std::to_string(n++));
    for (ino_t inode : *p.sockets)
      std::filesystem::create_symlink("socket:[" + std::to_string(inode) + "]",
                                      dir + "/fd/" + std::to_string(n++));
  }
}

inline std::vector<ino_t> Holds(std::initializer_list<ino_t> inodes) {
  return inodes;
}

}  // namespace testing
}  // namespace tftpc
