#include "tftp-controller/service/proc_tables.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <sstream>

#include "platform/files/owned_fd.h"

namespace tftpc {
namespace {

template <typename T>
bool Number(std::string_view text, T* out, int base = 10) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out, base);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "0100007F" (IPv4) or four such words (IPv6): the kernel prints each 32-bit word of the address
// as a number of this machine's byte order, so the words are put back as they lay in memory.
std::optional<std::string> AddressFromHex(std::string_view hex) {
  if (hex.size() != 8 && hex.size() != 32) return std::nullopt;
  unsigned char bytes[16];
  for (std::size_t i = 0; i < hex.size() / 8; ++i) {
    std::uint32_t word;
    if (!Number(hex.substr(i * 8, 8), &word, 16)) return std::nullopt;
    std::memcpy(bytes + i * 4, &word, 4);
  }
  char text[INET6_ADDRSTRLEN];
  if (!::inet_ntop(hex.size() == 8 ? AF_INET : AF_INET6, bytes, text, sizeof text))
    return std::nullopt;
  return std::string(text);
}

}  // namespace

std::vector<UdpSocket> ParseUdpTable(std::string_view text, unsigned port) {
  std::vector<UdpSocket> sockets;
  std::istringstream lines{std::string(text)};
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    if (!(words >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode))
      continue;
    auto colon = local.find(':');
    UdpSocket socket;
    std::optional<std::string> address;
    if (colon == std::string::npos ||
        !Number(std::string_view(local).substr(colon + 1), &socket.port, 16) ||
        socket.port != port || !(address = AddressFromHex(local.substr(0, colon))) ||
        !Number(uid, &socket.uid) || !Number(inode, &socket.inode))
      continue;
    socket.address = *address;
    sockets.push_back(socket);
  }
  return sockets;
}

std::optional<ProcessInfo> ParseProcessStat(std::string_view stat) {
  auto open = stat.find('('), close = stat.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return std::nullopt;
  ProcessInfo info;
  if (!Number(stat.substr(0, open > 0 ? open - 1 : 0), &info.pid)) return std::nullopt;
  info.comm = std::string(stat.substr(open + 1, close - open - 1));
  std::istringstream rest{std::string(stat.substr(close + 1))};
  std::string state, ppid;
  if (!(rest >> state >> ppid) || state.size() != 1 || !Number(ppid, &info.ppid))
    return std::nullopt;
  info.state = state[0];
  return info;
}

std::string ServiceUnitFromCgroup(std::string_view cgroup) {
  // systemd's own hierarchy where there is one (cgroups version 1, or both), else the unified
  // one ("0::PATH").
  std::string named, unified;
  std::istringstream lines{std::string(cgroup)};
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("0::", 0) == 0) unified = line.substr(3);
    if (auto at = line.find(":name=systemd:"); at != std::string::npos)
      named = line.substr(at + 14);
  }
  const std::string& path = named.empty() ? unified : named;
  std::string unit;
  std::istringstream parts(path);
  for (std::string part; std::getline(parts, part, '/');) {
    auto ends = [&](std::string_view suffix) {
      return part.size() > suffix.size() &&
             part.compare(part.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (ends(".service") || ends(".scope")) unit = part;
  }
  return unit.size() > 8 && unit.compare(unit.size() - 8, 8, ".service") == 0 ? unit : "";
}

bool CommandMayHold(std::string_view cmdline, const UdpSocket& socket) {
  std::vector<std::string_view> words;
  for (std::size_t at = 0; at < cmdline.size();) {
    std::size_t end = std::min(cmdline.find('\0', at), cmdline.size());
    words.push_back(cmdline.substr(at, end - at));
    at = end + 1;
  }
  bool listens = false;
  std::optional<std::string_view> address;
  for (std::size_t i = 1; i < words.size(); ++i) {
    std::string_view w = words[i];
    if (w == "-l" || w == "-L" || w == "--listen" || w == "--foreground") listens = true;
    if ((w == "-a" || w == "--address") && i + 1 < words.size())
      address = words[++i];
    else if (w.rfind("--address=", 0) == 0)
      address = w.substr(10);
    else if (w.size() > 2 && w.rfind("-a", 0) == 0 && w[1] == 'a')
      address = w.substr(2);
  }
  if (!listens) return true;
  std::string_view host = address.value_or(""), port_text;
  if (!host.empty() && host.front() == '[') {
    auto close = host.find(']');
    if (close == std::string_view::npos) return true;
    if (close + 1 < host.size() && host[close + 1] == ':') port_text = host.substr(close + 2);
    host = host.substr(1, close - 1);
  } else if (auto colon = host.rfind(':');
             colon != std::string_view::npos && host.find(':') == colon) {
    port_text = host.substr(colon + 1);
    host = host.substr(0, colon);
  }
  unsigned port = 69;
  if (!port_text.empty() && !Number(port_text, &port)) return true;  // a service name: unknown
  bool any = host.empty() || host == "0.0.0.0" || host == "::";
  return port == socket.port && (any || host == socket.address);
}

std::optional<std::string> ReadSmallFile(int dir, const std::string& name, std::size_t limit) {
  platform::OwnedFd fd(
      ::openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string text;
  char buffer[4096];
  while (text.size() < limit) {
    ssize_t n = ::read(fd.get(), buffer, std::min(sizeof buffer, limit - text.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

pid_t LiveXinetd(const std::string& pid_file, const std::string& proc) {
  auto text = ReadSmallFile(AT_FDCWD, pid_file, 64);
  if (!text) return 0;
  auto end = text->find_first_not_of("0123456789", text->find_first_not_of(" \t"));
  std::string digits = text->substr(0, end);
  digits.erase(0, digits.find_first_not_of(" \t"));
  pid_t pid;
  if (!Number(digits, &pid) || pid <= 0) return 0;
  platform::OwnedFd folder(
      ::open((proc + "/" + std::to_string(pid)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat st;
  // The folder of a process belongs to its effective user.
  if (!folder.valid() || ::fstat(folder.get(), &st) != 0 || st.st_uid != 0) return 0;
  auto stat = ReadSmallFile(folder.get(), "stat", 4096);
  auto info = stat ? ParseProcessStat(*stat) : std::nullopt;
  if (!info || info->pid != pid || info->comm != "xinetd" || info->state == 'Z' ||
      info->state == 'X')
    return 0;
  return pid;
}

}  // namespace tftpc
