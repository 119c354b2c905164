// For tests: the real in.tftpd of tftpd-hpa, started in the foreground on a free port of a
// loopback address and serving one folder, ended when the object goes away.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tftp-controller/service/proc_tables.h"

extern char** environ;

namespace tftpc::testing {

inline constexpr const char* kInTftpd = "/usr/sbin/in.tftpd";

// Why the real server cannot run here, or empty when it can: it must change to its user nobody.
inline std::string WhyNoRealTftpd() {
  if (::access(kInTftpd, X_OK) != 0) return std::string(kInTftpd) + " is not installed";
  if (::geteuid() != 0) return "in.tftpd changes to the user nobody, which needs root";
  return "";
}

// A UDP port of `address` that nothing is bound to now ("127.0.0.1" or "::1").
inline unsigned FreeUdpPort(const std::string& address) {
  bool v6 = address.find(':') != std::string::npos;
  int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_storage a{};
  socklen_t length;
  if (v6) {
    auto& a6 = reinterpret_cast<sockaddr_in6&>(a);
    a6.sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, address.c_str(), &a6.sin6_addr);
    length = sizeof a6;
  } else {
    auto& a4 = reinterpret_cast<sockaddr_in&>(a);
    a4.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &a4.sin_addr);
    length = sizeof a4;
  }
  unsigned port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), length) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
    port = ntohs(v6 ? reinterpret_cast<sockaddr_in6&>(a).sin6_port
                    : reinterpret_cast<sockaddr_in&>(a).sin_port);
  ::close(fd);
  return port;
}

// Makes this process the reaper of its descendants' orphans, so that a server's forked children
// are waited for here once the server is gone, not left to an init that may not reap.
inline void AdoptOrphans() {
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

// Ends the process `root` (a child of ours) and every process below it, and waits for them all.
inline void EndProcessTree(pid_t root) {
  std::vector<pid_t> tree = {root};
  for (std::size_t i = 0; i < tree.size(); ++i) {
    DIR* proc = ::opendir("/proc");
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
      char path[300];
      std::snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
      std::FILE* file = std::fopen(path, "r");
      if (!file) continue;
      char text[512] = {};
      std::size_t n = std::fread(text, 1, sizeof text - 1, file);
      std::fclose(file);
      auto info = ParseProcessStat(std::string(text, n));
      if (info && info->ppid == tree[i]) tree.push_back(info->pid);
    }
    if (proc) ::closedir(proc);
  }
  for (pid_t pid : tree) ::kill(pid, SIGTERM);
  for (pid_t pid : tree) {
    // A grandchild becomes ours once its parent has gone: until then it is not ours to wait for.
    for (int i = 0; i < 300; ++i) {
      int status;
      if (::waitpid(pid, &status, WNOHANG) == pid) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}

class RealTftpd {
 public:
  // Serves `folder` on a free port of `address`; `extra` are further options of in.tftpd.
  RealTftpd(const std::string& folder, const std::string& address = "127.0.0.1",
            std::vector<std::string> extra = {})
      : port_(FreeUdpPort(address)) {
    AdoptOrphans();
    bool v6 = address.find(':') != std::string::npos;
    std::vector<std::string> words = {
        kInTftpd, "-L", "-v", "-a",
        (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port_)};
    words.insert(words.end(), extra.begin(), extra.end());
    words.insert(words.end(), {"-s", folder});
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    if (port_ == 0 || ::posix_spawn(&pid_, kInTftpd, nullptr, nullptr, argv.data(), environ) != 0) {
      pid_ = 0;
      return;
    }
    // Up once the port is taken: a socket of ours can no longer be bound to it.
    for (int i = 0; i < 500 && !listening_; ++i) {
      int status;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        return;
      }
      listening_ = PortTaken(address, port_);
      if (!listening_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  RealTftpd(const RealTftpd&) = delete;
  RealTftpd& operator=(const RealTftpd&) = delete;
  ~RealTftpd() {
    if (pid_ > 0) EndProcessTree(pid_);
  }

  bool listening() const { return listening_; }
  unsigned port() const { return port_; }
  pid_t pid() const { return pid_; }

 private:
  static bool PortTaken(const std::string& address, unsigned port) {
    bool v6 = address.find(':') != std::string::npos;
    int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int r;
    if (v6) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_port = htons(static_cast<std::uint16_t>(port));
      ::inet_pton(AF_INET6, address.c_str(), &a.sin6_addr);
      r = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<std::uint16_t>(port));
      ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
      r = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    bool taken = r != 0 && errno == EADDRINUSE;
    ::close(fd);
    return taken;
  }

  unsigned port_;
  pid_t pid_ = 0;
  bool listening_ = false;
};

}  // namespace tftpc::testing
