#include "tftp-controller/checks/port_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "platform/files/owned_fd.h"
#include "tftp-controller/service/proc_tables.h"

namespace tftpc {
namespace {

// Programs that serve TFTP, or start a server that does: only these are looked at closely.
const std::set<std::string> kServerPrograms = {"in.tftpd", "tftpd",   "atftpd", "xinetd",
                                               "inetd",    "dnsmasq", "udpsvd", "uftpd",
                                               "launchd",  "busybox"};
bool IsTftpServer(const std::string& comm) {
  return comm == "in.tftpd" || comm == "tftpd" || comm == "atftpd";
}

// The pids of the folder `proc`, read once.
std::vector<pid_t> Pids(int proc) {
  std::vector<pid_t> pids;
  int copy = ::dup(proc);
  DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
  if (!dir) {
    if (copy >= 0) ::close(copy);
    return pids;
  }
  ::rewinddir(dir);  // the copy shares its offset with `proc`, which an earlier listing moved
  while (dirent* entry = ::readdir(dir)) {
    pid_t pid;
    const char* end = entry->d_name + std::char_traits<char>::length(entry->d_name);
    auto [stop, ec] = std::from_chars(entry->d_name, end, pid);
    if (ec == std::errc() && stop == end && pid > 0) pids.push_back(pid);
  }
  ::closedir(dir);
  return pids;
}

std::optional<ProcessInfo> Process(int proc, pid_t pid) {
  auto stat = ReadSmallFile(proc, std::to_string(pid) + "/stat", 4096);
  auto info = stat ? ParseProcessStat(*stat) : std::nullopt;
  if (!info || info->pid != pid || info->state == 'Z' || info->state == 'X') return std::nullopt;
  return info;
}

// The socket inodes that process `pid` holds, or nullopt when its descriptors cannot be read
// (another user's process).
std::optional<std::set<ino_t>> SocketInodes(int proc, pid_t pid) {
  platform::OwnedFd fds(
      ::openat(proc, (std::to_string(pid) + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* dir = fds.valid() ? ::fdopendir(fds.get()) : nullptr;
  if (!dir) return std::nullopt;
  fds.Release();  // the stream owns it now
  std::set<ino_t> inodes;
  while (dirent* entry = ::readdir(dir)) {
    char link[64];
    ssize_t n = ::readlinkat(::dirfd(dir), entry->d_name, link, sizeof link - 1);
    if (n <= 9) continue;
    std::string_view target(link, static_cast<std::size_t>(n));
    if (target.substr(0, 8) != "socket:[" || target.back() != ']') continue;
    ino_t inode;
    auto digits = target.substr(8, target.size() - 9);
    if (std::from_chars(digits.data(), digits.data() + digits.size(), inode).ec == std::errc())
      inodes.insert(inode);
  }
  ::closedir(dir);
  return inodes;
}

// Which process held a socket that no server program holds (a program of any name): found once
// by a walk of every readable process, then checked at that one process each time. 0: none seen.
std::mutex cache_mutex;
std::map<std::pair<std::string, ino_t>, pid_t> holder_cache;

pid_t HolderOfAnyName(const std::string& proc_path, int proc, ino_t inode,
                      std::map<pid_t, std::set<ino_t>>* walked) {
  std::lock_guard lock(cache_mutex);
  auto key = std::make_pair(proc_path, inode);
  if (auto hit = holder_cache.find(key); hit != holder_cache.end()) {
    if (hit->second == 0) return 0;
    auto inodes = SocketInodes(proc, hit->second);
    if (inodes && inodes->count(inode)) return hit->second;
  }
  if (walked->empty()) {
    for (pid_t pid : Pids(proc)) {
      if (auto inodes = SocketInodes(proc, pid)) (*walked)[pid] = std::move(*inodes);
    }
  }
  pid_t found = 0;
  for (const auto& [pid, inodes] : *walked) {
    if (inodes.count(inode) && Process(proc, pid)) {
      found = pid;
      break;
    }
  }
  holder_cache[key] = found;
  return found;
}

void ForgetOtherSockets(const std::string& proc_path, const std::vector<UdpSocket>& sockets) {
  std::lock_guard lock(cache_mutex);
  std::erase_if(holder_cache, [&](const auto& entry) {
    return entry.first.first == proc_path &&
           std::none_of(sockets.begin(), sockets.end(),
                        [&](const UdpSocket& s) { return s.inode == entry.first.second; });
  });
}

}  // namespace

std::vector<PortHolder> UdpPortHolders(unsigned port, const std::string& proc) {
  return UdpPortHolders(port, proc, "/var/run/xinetd.pid");
}

std::vector<PortHolder> UdpPortHolders(unsigned port, const std::string& proc_path,
                                       const std::string& pid_file) {
  platform::OwnedFd proc(::open(proc_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!proc.valid()) return {};
  std::vector<UdpSocket> sockets;
  for (const char* table : {"net/udp", "net/udp6"}) {
    if (auto text = ReadSmallFile(proc.get(), table, 16 << 20)) {
      auto found = ParseUdpTable(*text, port);
      sockets.insert(sockets.end(), found.begin(), found.end());
    }
  }
  ForgetOtherSockets(proc_path, sockets);
  if (sockets.empty()) return {};  // the usual case while stopped: no process is looked at

  // The server programs, by name; each one's sockets where they can be read.
  std::map<pid_t, ProcessInfo> candidates;
  std::map<pid_t, std::set<ino_t>> readable;
  for (pid_t pid : Pids(proc.get())) {
    auto info = Process(proc.get(), pid);
    if (!info || !kServerPrograms.count(info->comm)) continue;
    candidates[pid] = *info;
    if (auto inodes = SocketInodes(proc.get(), pid)) readable[pid] = std::move(*inodes);
  }
  const pid_t xinetd = LiveXinetd(pid_file, proc_path);
  auto info_of = [&](pid_t pid) -> std::optional<ProcessInfo> {
    if (auto it = candidates.find(pid); it != candidates.end()) return it->second;
    return Process(proc.get(), pid);
  };
  // Ours: the xinetd of the pid file, or an in.tftpd it started (which may have forked).
  auto ours = [&](pid_t pid) {
    if (xinetd == 0) return false;
    if (pid == xinetd) return true;
    for (int depth = 0; depth < 3; ++depth) {
      auto info = info_of(pid);
      if (!info || info->comm != "in.tftpd") return false;
      if (info->ppid == xinetd) return true;
      pid = info->ppid;
    }
    return false;
  };
  auto unit_of = [&](pid_t pid) {
    auto text = ReadSmallFile(proc.get(), std::to_string(pid) + "/cgroup", 16384);
    return text ? ServiceUnitFromCgroup(*text) : std::string();
  };
  // Where a socket's holders cannot be seen, the likeliest of the server programs whose
  // descriptors are hidden: a TFTP server in a unit of its own, then ours, then another server
  // program in a unit (a dnsmasq of NetworkManager's). Of a parent and its child, the parent.
  // A server whose command line names another address or port is none of them.
  std::map<pid_t, std::string> cmdlines;
  auto may_hold = [&](pid_t pid, const UdpSocket& socket) {
    if (!cmdlines.count(pid))
      cmdlines[pid] =
          ReadSmallFile(proc.get(), std::to_string(pid) + "/cmdline", 16384).value_or("");
    return CommandMayHold(cmdlines[pid], socket);
  };
  auto guess = [&](const UdpSocket& socket) -> pid_t {
    std::map<pid_t, int> ranked;
    for (const auto& [pid, info] : candidates) {
      if (readable.count(pid) || !may_hold(pid, socket)) continue;
      bool in_unit = !unit_of(pid).empty();
      if (ours(pid))
        ranked[pid] = 1;
      else if (in_unit)
        ranked[pid] = IsTftpServer(info.comm) ? 0 : 2;
    }
    pid_t best = 0;
    for (const auto& [pid, rank] : ranked) {
      if (ranked.count(candidates[pid].ppid)) continue;
      if (best == 0 || rank < ranked[best]) best = pid;
    }
    return best;
  };

  std::vector<PortHolder> holders;
  std::map<pid_t, std::set<ino_t>> walked;
  for (const UdpSocket& socket : sockets) {
    std::vector<pid_t> pids;
    for (const auto& [pid, inodes] : readable)
      if (inodes.count(socket.inode)) pids.push_back(pid);
    // Of a parent and the child it handed the socket to, the parent.
    const std::vector<pid_t> all = pids;  // searched while `pids` is being thinned
    std::erase_if(pids, [&](pid_t pid) {
      return std::find(all.begin(), all.end(), candidates[pid].ppid) != all.end();
    });
    pid_t pid = pids.empty() ? 0 : pids.front();
    if (pid == 0) pid = HolderOfAnyName(proc_path, proc.get(), socket.inode, &walked);
    if (pid == 0) pid = guess(socket);
    PortHolder holder;
    holder.local_address = socket.address;
    holder.port = socket.port;
    holder.uid = socket.uid;
    if (auto info = pid ? info_of(pid) : std::nullopt) {
      holder.pid = pid;
      holder.program = info->comm;
      holder.systemd_unit = unit_of(pid);
      holder.ours = ours(pid);
    }
    holders.push_back(holder);
  }
  return holders;
}

}  // namespace tftpc
