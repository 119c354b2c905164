#include "tftp-controller/checks/launchd_jobs.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <mutex>
#include <optional>

#include "platform/files/owned_fd.h"
#include "tftp-controller/service/proc_tables.h"

namespace tftpc {
namespace {

constexpr std::size_t kUnitLimit = 64 * 1024;

// `# KEY="VALUE"` -> VALUE; nothing for another line.
std::optional<std::string> MarkerValue(const std::string& line, const std::string& key) {
  const std::string head = "# " + key + "=\"";
  if (!line.starts_with(head) || line.size() < head.size() + 1 || line.back() != '"')
    return std::nullopt;
  return line.substr(head.size(), line.size() - head.size() - 1);
}

bool Port(std::string_view digits, unsigned* port) {
  if (digits.empty() || digits.size() > 5) return false;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), *port);
  return ec == std::errc() && end == digits.data() + digits.size() && *port >= 1 && *port <= 65535;
}

struct UnitRead {
  std::string label, definition;
  std::vector<LaunchdListener> datagram;
};

// The marker ends at the first line that is not a comment; ListenDatagram= lines may follow
// anywhere after it.
std::optional<UnitRead> ReadUnit(const std::string& text) {
  if (!text.starts_with(kLaunchdUnitMarker)) return std::nullopt;
  UnitRead unit;
  bool labelled = false, in_marker = true;
  std::size_t at = text.find('\n');
  while (at != std::string::npos && at + 1 < text.size()) {
    const std::size_t end = text.find('\n', at + 1);
    const std::string line = text.substr(at + 1, end == std::string::npos ? end : end - at - 1);
    at = end;
    if (in_marker && !line.starts_with("#")) in_marker = false;
    if (in_marker) {
      if (auto label = MarkerValue(line, "Label")) {
        unit.label = *label;
        labelled = true;
      } else if (auto definition = MarkerValue(line, "Definition")) {
        unit.definition = *definition;
      }
    } else if (line.starts_with("ListenDatagram=")) {
      LaunchdListener listener;
      if (ParseListenDatagram(line.substr(15), &listener)) unit.datagram.push_back(listener);
    }
  }
  if (!labelled) return std::nullopt;
  return unit;
}

bool IsUnitName(const std::string& name) {
  return name.ends_with(".socket") || name.ends_with(".service");
}

// What tells that a folder changed: which folder it is and when it was last changed.
struct FolderStamp {
  bool there = false;
  dev_t dev = 0;
  ino_t ino = 0;
  long sec = 0, nsec = 0;
  bool operator==(const FolderStamp&) const = default;
};

FolderStamp Stamp(const std::string& folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return {};
  return {true, st.st_dev, st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

// A folder's time has the clock's coarse steps: a change in the step of a reading may leave the
// time as it was, so a reading that recent is not kept.
bool Settled(const std::vector<FolderStamp>& stamps) {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return std::all_of(stamps.begin(), stamps.end(),
                     [&](const FolderStamp& s) { return !s.there || s.sec + 1 < now.tv_sec; });
}

}  // namespace

bool ParseListenDatagram(const std::string& raw, LaunchdListener* listener) {
  std::string value = raw;
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
  value.erase(0, value.find_first_not_of(" \t"));
  if (value.find_first_not_of("0123456789") == std::string::npos) {
    listener->address = "::";  // both families, on one socket
    return Port(value, &listener->port);
  }
  const std::size_t colon = value.rfind(':');
  if (colon == std::string::npos ||
      !Port(std::string_view(value).substr(colon + 1), &listener->port))
    return false;
  std::string host = value.substr(0, colon);
  unsigned char buffer[16];
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    if (inet_pton(AF_INET6, host.c_str(), buffer) != 1) return false;
    char text[INET6_ADDRSTRLEN];
    if (!inet_ntop(AF_INET6, buffer, text, sizeof text)) return false;
    listener->address = text;  // as the socket table shows it
    return true;
  }
  if (inet_pton(AF_INET, host.c_str(), buffer) != 1) return false;
  listener->address = host;
  return true;
}

std::vector<LaunchdJob> ReadLaunchdJobs(const std::vector<std::string>& folders) {
  std::vector<LaunchdJob> jobs;
  for (const std::string& folder : folders) {
    platform::OwnedFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = fd.valid() ? ::fdopendir(fd.get()) : nullptr;
    if (!dir) continue;
    fd.Release();  // the stream owns it now
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
      if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
      if (IsUnitName(entry->d_name)) names.push_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      std::optional<std::string> text = ReadSmallFile(::dirfd(dir), name, kUnitLimit);
      std::optional<UnitRead> unit = text ? ReadUnit(*text) : std::nullopt;
      if (!unit) continue;
      auto job = std::find_if(jobs.begin(), jobs.end(), [&](const LaunchdJob& j) {
        return j.label == unit->label && j.definition == unit->definition;
      });
      if (job == jobs.end()) job = jobs.insert(jobs.end(), {unit->label, unit->definition, {}, {}});
      job->units.push_back(name);
      job->datagram.insert(job->datagram.end(), unit->datagram.begin(), unit->datagram.end());
    }
    ::closedir(dir);
  }
  std::stable_sort(jobs.begin(), jobs.end(),
                   [](const LaunchdJob& a, const LaunchdJob& b) { return a.label < b.label; });
  return jobs;
}

std::vector<LaunchdJob> CachedLaunchdJobs(const std::vector<std::string>& folders) {
  static std::mutex mutex;
  static std::vector<std::string> cached_folders;
  static std::vector<FolderStamp> cached_stamps;
  static std::vector<LaunchdJob> cached_jobs;
  static bool kept = false;
  std::vector<FolderStamp> stamps;
  for (const std::string& folder : folders) stamps.push_back(Stamp(folder));
  std::lock_guard lock(mutex);
  if (!kept || folders != cached_folders || stamps != cached_stamps) {
    cached_jobs = ReadLaunchdJobs(folders);
    cached_folders = folders;
    cached_stamps = stamps;
    kept = Settled(stamps);
  }
  return cached_jobs;
}

std::vector<LaunchdJob> JobsOnPort(const std::vector<LaunchdJob>& jobs, unsigned port) {
  std::vector<LaunchdJob> found;
  for (const LaunchdJob& job : jobs) {
    if (std::any_of(job.datagram.begin(), job.datagram.end(),
                    [&](const LaunchdListener& l) { return l.port == port; }))
      found.push_back(job);
  }
  return found;
}

bool JobOwnsUnit(const LaunchdJob& job, const std::string& unit) {
  if (unit.empty()) return false;
  for (const std::string& name : job.units) {
    if (name == unit) return true;
    if (name.ends_with("@.service") && unit.ends_with(".service") &&
        unit.starts_with(name.substr(0, name.size() - 8)))
      return true;
  }
  return false;
}

}  // namespace tftpc
