#include "tftp-controller/service/service_processes.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

#include "tftp-controller/service/proc_tables.h"

namespace tftpc {

namespace {

// Enough for the socket tables of a busy machine; a pid file or stat is far smaller.
constexpr std::size_t kMostRead = 16 << 20;

std::optional<std::string> Read(const std::string& path) {
  return ReadSmallFile(AT_FDCWD, path, kMostRead);
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
  Number value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

// A process of that name that is neither a zombie nor dead, from its stat file.
bool LiveProcessNamed(const std::string& stat, const char* name) {
  const std::optional<ProcessInfo> info = ParseProcessStat(stat);
  return info && info->comm == name && info->state != 'Z' && info->state != 'X';
}

}  // namespace

bool UdpPortHeld(unsigned port, const std::string& proc) {
  for (const char* table : {"/net/udp", "/net/udp6"}) {
    const std::optional<std::string> text = Read(proc + table);
    if (text && !ParseUdpTable(*text, port).empty()) return true;
  }
  return false;
}

std::vector<pid_t> SuperServerTftpds(const std::string& proc) {
  std::vector<pid_t> found;
  DIR* dir = opendir(proc.c_str());
  if (dir == nullptr) return found;
  while (const dirent* entry = readdir(dir)) {
    const std::optional<pid_t> pid = ParseNumber<pid_t>(entry->d_name);
    if (!pid) continue;
    const std::string base = proc + "/" + entry->d_name;
    const std::optional<std::string> stat = Read(base + "/stat");
    if (!stat || !LiveProcessNamed(*stat, "in.tftpd")) continue;
    const std::optional<std::string> cmdline = Read(base + "/cmdline");
    if (!cmdline) continue;
    bool listens = false;
    for (std::size_t at = 0; at < cmdline->size();) {
      std::size_t end = cmdline->find('\0', at);
      if (end == std::string::npos) end = cmdline->size();
      const std::string_view word(cmdline->data() + at, end - at);
      if (word == "--") break;
      // Short options may come together ("-lvs"); a word starting "--" is one long option.
      if (word.starts_with("--listen") || word.starts_with("--foreground") ||
          (!word.starts_with("--") && word.starts_with('-') &&
           word.find_first_of("lL") != std::string_view::npos))
        listens = true;
      at = end + 1;
    }
    if (!listens) found.push_back(*pid);
  }
  closedir(dir);
  std::sort(found.begin(), found.end());
  return found;
}

bool XinetdRuns(const std::string& pid_file, const std::string& proc) {
  const std::optional<std::string> text = Read(pid_file);
  if (!text) return false;
  const std::size_t start = text->find_first_not_of(" \t\n");
  if (start == std::string::npos) return false;
  const std::optional<pid_t> pid = ParseNumber<pid_t>(std::string_view(*text).substr(start));
  if (!pid || *pid <= 0) return false;
  const std::string base = proc + "/" + std::to_string(*pid);
  if (const std::optional<std::string> stat = Read(base + "/stat"))
    return LiveProcessNamed(*stat, "xinetd");
  // Not to be seen here: alive when a signal could reach it (or is refused to us).
  return proc == "/proc" && (kill(*pid, 0) == 0 || errno == EPERM);
}

}  // namespace tftpc
