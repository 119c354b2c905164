#include "platform/desktop/process_manager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "platform/desktop/app_cgroups.h"
#include "platform/desktop/process_identity.h"
#include "platform/files/owned_fd.h"

namespace platform {

namespace {

// A walk of one thread: the pids /proc listed at its start and the members of application
// groups then, and the process it stands on.
struct Walk {
  std::vector<pid_t> pids;
  std::optional<ApplicationGroups> groups;
  pid_t pid = 0;
  ProcessStat stat;
};
thread_local Walk walk;

const OwnedFd& ProcFolder() {
  static const OwnedFd proc(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return proc;
}

// A stat file read in one call (the kernel makes it whole at each read) and parsed.
std::optional<ProcessStat> ReadStatFile(int dir, const char* path) {
  OwnedFd fd(openat(dir, path, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  char buffer[2048];
  ssize_t n;
  do {
    n = read(fd.get(), buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return std::nullopt;
  return ParseProcessStat(std::string_view(buffer, static_cast<std::size_t>(n)));
}

// /proc/PID/stat of a live process of the calling user, read by name: the walk's fast path.
// What is read of the process afterwards is read through its folder, opened then and checked
// against this start time.
std::optional<ProcessStat> OwnLiveProcessStatOfPid(pid_t pid) {
  char path[32];
  auto [end, ec] = std::to_chars(path, path + 16, pid);
  *end = '\0';
  struct stat st;
  if (fstatat(ProcFolder().get(), path, &st, 0) != 0 || st.st_uid != getuid()) {
    return std::nullopt;
  }
  memcpy(end, "/stat", 6);
  std::optional<ProcessStat> stat = ReadStatFile(ProcFolder().get(), path);
  if (!stat || stat->state == 'Z' || stat->state == 'X' || stat->state == 'x') {
    return std::nullopt;
  }
  return stat;
}

std::vector<pid_t> ListPids() {
  std::vector<pid_t> pids;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return pids;
  while (struct dirent* entry = readdir(proc)) {
    pid_t pid = 0;
    const char* name = entry->d_name;
    const char* end = name + strlen(name);
    auto [last, ec] = std::from_chars(name, end, pid);
    if (ec == std::errc() && last == end && pid > 0) pids.push_back(pid);
  }
  closedir(proc);
  std::sort(pids.begin(), pids.end());
  return pids;
}

}  // namespace

std::optional<ProcessStat> OwnLiveProcessStat(int pid_dir) {
  struct stat st;
  if (fstat(pid_dir, &st) != 0 || st.st_uid != getuid()) return std::nullopt;
  std::optional<ProcessStat> stat = ReadProcessStat(pid_dir);
  if (!stat || stat->state == 'Z' || stat->state == 'X' || stat->state == 'x') {
    return std::nullopt;
  }
  return stat;
}

namespace {

ProcessSerialNumber SerialNumber(pid_t pid, std::uint64_t start_time) {
  return {static_cast<std::uint32_t>(start_time), static_cast<std::uint32_t>(pid)};
}

}  // namespace

OwnedFd OpenProcessFolder(pid_t pid) {
  if (pid <= 0) return OwnedFd();
  char path[32];
  auto [end, ec] = std::to_chars(path, path + sizeof path - 1, pid);
  *end = '\0';
  return OwnedFd(openat(ProcFolder().get(), path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

std::optional<ProcessStat> ParseProcessStat(std::string_view stat) {
  // "pid (command) state ppid ...": the command may hold spaces and parentheses.
  std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view rest = stat.substr(close + 1);
  ProcessStat result;
  // Fields from the third (state) on: the start time is the 22nd, the environment's place the
  // 50th and 51st.
  int field = 2;
  std::size_t i = 0;
  while (i < rest.size() && field < 51) {
    while (i < rest.size() && rest[i] == ' ') ++i;
    std::size_t start = i;
    while (i < rest.size() && rest[i] != ' ' && rest[i] != '\n') ++i;
    if (start == i) break;
    ++field;
    std::string_view token = rest.substr(start, i - start);
    std::uint64_t* number = field == 22   ? &result.start_time
                            : field == 50 ? &result.env_start
                            : field == 51 ? &result.env_end
                                          : nullptr;
    if (field == 3) {
      result.state = token[0];
    } else if (number != nullptr) {
      auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), *number);
      if (ec != std::errc() || end != token.data() + token.size()) return std::nullopt;
    }
  }
  // The start time is the one field needed; older kernels show no environment fields.
  if (field < 22) return std::nullopt;
  if (field < 51) result.env_start = result.env_end = 0;
  return result;
}

std::optional<ProcessStat> ReadProcessStat(int pid_dir) {
  return ReadStatFile(pid_dir, "stat");
}

OSErr GetNextProcess(ProcessSerialNumber* psn) {
  if (psn == nullptr) return procNotFound;
  std::size_t next;
  if (psn->lowLongOfPSN == kNoProcess && psn->highLongOfPSN == kNoProcess) {
    walk.pids = ListPids();
    walk.groups = ApplicationGroupMembers();
    next = 0;
  } else {
    next = std::upper_bound(walk.pids.begin(), walk.pids.end(),
                            static_cast<pid_t>(psn->lowLongOfPSN)) -
           walk.pids.begin();
  }
  walk.pid = 0;
  for (; next < walk.pids.size(); ++next) {
    std::optional<ProcessStat> stat = OwnLiveProcessStatOfPid(walk.pids[next]);
    if (!stat) continue;
    walk.pid = walk.pids[next];
    walk.stat = *stat;
    *psn = SerialNumber(walk.pid, walk.stat.start_time);
    return noErr;
  }
  walk.pids.clear();
  walk.groups.reset();
  return procNotFound;
}

std::optional<Dictionary> ProcessInformationCopyDictionary(const ProcessSerialNumber* psn,
                                                           std::uint32_t /*info_to_return*/) {
  if (psn == nullptr || psn->lowLongOfPSN == 0 ||
      psn->lowLongOfPSN > static_cast<std::uint32_t>(INT32_MAX)) {
    return std::nullopt;
  }
  pid_t pid = static_cast<pid_t>(psn->lowLongOfPSN);
  ProcessStat stat;
  const ApplicationGroups* groups = nullptr;
  if (walk.pid == pid && SerialNumber(pid, walk.stat.start_time) == *psn) {
    stat = walk.stat;
    if (walk.groups) groups = &*walk.groups;
  } else {
    std::optional<ProcessStat> found = OwnLiveProcessStatOfPid(pid);
    if (!found || SerialNumber(pid, found->start_time) != *psn) return std::nullopt;
    stat = *found;
  }
  std::optional<std::string> id;
  if (!WalkApplicationId(pid, stat, groups, &id)) return std::nullopt;  // gone meanwhile
  Dictionary info;
  info.Set(kProcessPidKey, Integer::FromSigned(pid));
  if (id) {
    info.Set(kProcessBundleIdentifierKey, std::move(*id));
  }
  return info;
}

std::optional<ProcessSerialNumber> SerialNumberOfPid(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  OwnedFd dir = OpenProcessFolder(pid);
  if (!dir.valid()) return std::nullopt;
  std::optional<ProcessStat> stat = OwnLiveProcessStat(dir.get());
  if (!stat) return std::nullopt;
  return SerialNumber(pid, stat->start_time);
}

}  // namespace platform
