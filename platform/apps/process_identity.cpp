#include "platform/apps/process_identity.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <charconv>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/files/owned_fd.h"

namespace platform {

namespace {

constexpr std::size_t kMaxIdLength = 247;  // a file name of 255 bytes with ".desktop"
constexpr std::size_t kMaxProcFile = 1 << 20;
constexpr std::string_view kDesktopSuffix = ".desktop";

// Undoes systemd's escaping of a unit name part ("\x2d" for "-"); nullopt for a broken escape.
std::optional<std::string> Unescape(std::string_view part) {
  std::string out;
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (part[i] != '\\') {
      out += part[i];
      continue;
    }
    if (i + 3 >= part.size() || part[i + 1] != 'x') return std::nullopt;
    unsigned value = 0;
    auto [end, ec] = std::from_chars(part.data() + i + 2, part.data() + i + 4, value, 16);
    if (ec != std::errc() || end != part.data() + i + 4) return std::nullopt;
    out += static_cast<char>(value);
    i += 3;
  }
  return out;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

std::optional<std::string> CheckedId(std::optional<std::string> id) {
  if (!id || !IsDesktopEntryId(*id)) return std::nullopt;
  return id;
}

// Reads a small file of /proc below `dir`; nullopt when it cannot be opened or read. A read
// that comes back short has reached the end: /proc hands out a file's text in one piece.
std::optional<std::string> ReadProcFile(int dir, const char* name, int extra_flags = 0) {
  OwnedFd fd(openat(dir, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | extra_flags));
  if (!fd.valid()) return std::nullopt;
  std::string contents;
  constexpr std::size_t kChunk = 16384;
  for (;;) {
    std::size_t had = contents.size();
    contents.resize(had + kChunk);
    ssize_t n = read(fd.get(), contents.data() + had, kChunk);
    if (n < 0 && errno == EINTR) {
      contents.resize(had);
      continue;
    }
    if (n < 0) return std::nullopt;
    contents.resize(had + static_cast<std::size_t>(n));
    if (static_cast<std::size_t>(n) < kChunk) return contents;
    if (contents.size() > kMaxProcFile) return std::nullopt;
  }
}

// What a process's environment and sandbox told of its application, kept for as long as the
// process runs the same program: the same pid, start time and place of its environment.
struct Launch {
  std::uint64_t start_time, env_start, env_end;
  std::optional<std::string> id;
};
std::mutex launches_mutex;
std::unordered_map<pid_t, Launch> launches;
constexpr std::size_t kMaxLaunches = 1 << 16;

std::optional<std::string> LaunchedApplicationId(int pid_dir, pid_t pid) {
  if (std::optional<std::string> environment = ReadProcFile(pid_dir, "environ")) {
    if (std::optional<std::string> id = ApplicationIdFromEnvironment(*environment, pid)) {
      return id;
    }
  }
  // The sandbox's own root; the file is a bind mount the application cannot change.
  if (std::optional<std::string> info = ReadProcFile(pid_dir, "root/.flatpak-info", O_NOFOLLOW)) {
    return ApplicationIdFromFlatpakInfo(*info);
  }
  return std::nullopt;
}

}  // namespace

bool IsDesktopEntryId(std::string_view id) {
  if (id.empty() || id.size() > kMaxIdLength || id.front() == '.' || id.front() == '-') {
    return false;
  }
  for (char c : id) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '_' || c == '-' || c == '+';
    if (!ok) return false;
  }
  return true;
}

std::optional<std::string> ApplicationIdFromUnitName(std::string_view unit) {
  constexpr std::string_view kService = ".service", kScope = ".scope";
  bool scope = unit.ends_with(kScope);
  if (scope) {
    unit.remove_suffix(kScope.size());
  } else if (unit.ends_with(kService)) {
    unit.remove_suffix(kService.size());
    unit = unit.substr(0, unit.find('@'));
  } else {
    return std::nullopt;
  }
  std::vector<std::string_view> parts = Split(unit, '-');
  if (parts.front() != "app") return std::nullopt;
  parts.erase(parts.begin());
  if (scope) {
    if (parts.empty() || parts.back().empty()) return std::nullopt;  // the random part
    parts.pop_back();
  }
  // [LAUNCHER-]ID: more parts than that would leave the ID ambiguous.
  if (parts.empty() || parts.size() > 2) return std::nullopt;
  return CheckedId(Unescape(parts.back()));
}

std::optional<std::string> ApplicationIdFromCgroups(std::string_view cgroup_file) {
  std::string_view unified, systemd;
  for (std::string_view line : Split(cgroup_file, '\n')) {
    if (line.starts_with("0::")) {
      unified = line.substr(3);
    } else if (std::size_t at = line.find(":name=systemd:"); at != std::string_view::npos) {
      systemd = line.substr(at + 14);
    }
  }
  std::string_view path = unified.empty() || unified == "/" ? systemd : unified;
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return std::nullopt;
  return ApplicationIdFromUnitName(path.substr(slash + 1));
}

std::optional<std::string> DesktopEntryIdFromPath(std::string_view path) {
  if (!path.ends_with(kDesktopSuffix)) return std::nullopt;
  path.remove_suffix(kDesktopSuffix.size());
  constexpr std::string_view kApplications = "/applications/";
  std::string id;
  if (std::size_t at = path.rfind(kApplications); at != std::string_view::npos) {
    id = path.substr(at + kApplications.size());
    for (char& c : id) {
      if (c == '/') c = '-';
    }
  } else {
    id = path.substr(path.find_last_of('/') + 1);
  }
  return CheckedId(std::move(id));
}

std::optional<std::string> ApplicationIdFromEnvironment(std::string_view environment, pid_t pid) {
  constexpr std::string_view kFile = "GIO_LAUNCHED_DESKTOP_FILE=";
  constexpr std::string_view kPid = "GIO_LAUNCHED_DESKTOP_FILE_PID=";
  std::optional<std::string_view> file, launched_pid;
  for (std::string_view entry : Split(environment, '\0')) {
    if (entry.starts_with(kFile)) {
      file = entry.substr(kFile.size());
    } else if (entry.starts_with(kPid)) {
      launched_pid = entry.substr(kPid.size());
    }
  }
  if (!file || !launched_pid) return std::nullopt;
  long value = 0;
  auto [end, ec] =
      std::from_chars(launched_pid->data(), launched_pid->data() + launched_pid->size(), value);
  if (ec != std::errc() || end != launched_pid->data() + launched_pid->size() || value != pid) {
    return std::nullopt;
  }
  return DesktopEntryIdFromPath(*file);
}

std::optional<std::string> ApplicationIdFromFlatpakInfo(std::string_view key_file) {
  GKeyFile* keys = g_key_file_new();
  std::optional<std::string> id;
  if (g_key_file_load_from_data(keys, key_file.data(), key_file.size(), G_KEY_FILE_NONE, nullptr)) {
    if (gchar* name = g_key_file_get_string(keys, "Application", "name", nullptr)) {
      id = name;
      g_free(name);
    }
  }
  g_key_file_free(keys);
  return CheckedId(std::move(id));
}

std::optional<std::string> ProcessApplicationId(int pid_dir, pid_t pid) {
  if (std::optional<std::string> cgroups = ReadProcFile(pid_dir, "cgroup")) {
    if (std::optional<std::string> id = ApplicationIdFromCgroups(*cgroups)) return id;
  }
  return LaunchedApplicationId(pid_dir, pid);
}

bool WalkApplicationId(pid_t pid, const SeenProcessStat& seen, const ApplicationGroups* groups,
                       std::optional<std::string>* id) {
  id->reset();
  const ProcessStat& stat = seen.stat;
  OwnedFd dir;
  // Opens the process's folder, and checks that it still is the process seen.
  auto open_folder = [&] {
    if (dir.valid()) return true;
    dir = OpenProcessFolder(pid);
    return dir.valid() && IsSeenProcess(dir.get(), seen);
  };
  if (groups == nullptr || groups->count(pid) != 0) {
    if (!open_folder()) return false;
    if (std::optional<std::string> cgroups = ReadProcFile(dir.get(), "cgroup")) {
      *id = ApplicationIdFromCgroups(*cgroups);
      if (*id) return true;
    }
  }
  if (stat.env_start != 0) {
    std::lock_guard<std::mutex> lock(launches_mutex);
    auto known = launches.find(pid);
    if (known != launches.end() && known->second.start_time == stat.start_time &&
        known->second.env_start == stat.env_start && known->second.env_end == stat.env_end) {
      *id = known->second.id;
      return true;
    }
  }
  if (!open_folder()) return false;
  *id = LaunchedApplicationId(dir.get(), pid);
  if (stat.env_start != 0) {
    std::lock_guard<std::mutex> lock(launches_mutex);
    if (launches.size() >= kMaxLaunches) launches.clear();
    launches[pid] = Launch{stat.start_time, stat.env_start, stat.env_end, *id};
  }
  return true;
}

}  // namespace platform
