#include "tftp-controller/service/service_processes.h"

#include <dirent.h>
#include <errno.h>
#include <signal.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

#include "platform/files/io.h"

namespace tftpc {

namespace {

std::optional<std::string> Read(const std::string& path) {
  std::string err;
  return platform::ReadWholeFile(path, &err);
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text, int base = 10) {
  Number value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

// The state letter of /proc/PID/stat: the first one after the name's closing parenthesis.
char StateOf(const std::string& stat) {
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
}

std::string CommOf(const std::string& proc, pid_t pid) {
  std::optional<std::string> comm = Read(proc + "/" + std::to_string(pid) + "/comm");
  if (!comm) return {};
  if (comm->ends_with('\n')) comm->pop_back();
  return *comm;
}

}  // namespace

bool UdpPortHeld(unsigned port, const std::string& proc) {
  for (const char* table : {"/net/udp", "/net/udp6"}) {
    const std::optional<std::string> text = Read(proc + table);
    if (!text) continue;
    // "  sl  local_address rem_address ...": the local address ends in ":PORT", in hex.
    for (std::size_t at = text->find('\n'); at != std::string::npos;) {
      const std::size_t end = std::min(text->find('\n', at + 1), text->size());
      const std::string_view line(text->data() + at + 1, end - at - 1);
      at = end < text->size() ? end : std::string::npos;
      const std::size_t colon = line.find(':');  // after the slot number
      const std::size_t local = line.find_first_not_of(' ', colon + 1);
      if (colon == std::string_view::npos || local == std::string_view::npos) continue;
      const std::size_t local_end = line.find(' ', local);
      const std::string_view address = line.substr(local, local_end - local);
      const std::size_t port_at = address.rfind(':');
      if (port_at == std::string_view::npos) continue;
      if (ParseNumber<unsigned>(address.substr(port_at + 1), 16) == port) return true;
    }
  }
  return false;
}

std::vector<pid_t> SuperServerTftpds(const std::string& proc) {
  std::vector<pid_t> found;
  DIR* dir = opendir(proc.c_str());
  if (dir == nullptr) return found;
  while (const dirent* entry = readdir(dir)) {
    const std::optional<pid_t> pid = ParseNumber<pid_t>(entry->d_name);
    if (!pid || CommOf(proc, *pid) != "in.tftpd") continue;
    const std::string base = proc + "/" + entry->d_name;
    const std::optional<std::string> stat = Read(base + "/stat");
    if (!stat || StateOf(*stat) == 'Z' || StateOf(*stat) == 'X') continue;
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
  if (const std::optional<std::string> stat = Read(base + "/stat")) {
    return StateOf(*stat) != 'Z' && StateOf(*stat) != 'X' && CommOf(proc, *pid) == "xinetd";
  }
  // Not to be seen here: alive when a signal could reach it (or is refused to us).
  return proc == "/proc" && (kill(*pid, 0) == 0 || errno == EPERM);
}

}  // namespace tftpc
