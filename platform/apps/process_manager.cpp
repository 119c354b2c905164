#include "platform/apps/process_manager.h"

#include <dirent.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/apps/app_cgroups.h"
#include "platform/apps/process_identity.h"

namespace platform {

namespace {

// What walks learned of a process that had run for the settling time when its stat file was
// read. /proc shows each process's files under inode numbers of their own, fresh when the
// process first shows them: the same stat inode under the same pid is the same process, whose
// start time never changes. A process that has settled is taken to keep running the program
// it ran then: a launcher writes a program's identity (GIO_LAUNCHED_DESKTOP_FILE_PID) into its
// environment between fork and exec, in a new process's first moments.
struct Known {
  SeenProcessStat seen;
  std::uint64_t walk = 0;  // the last walk that met it
};

// A walk of one thread: the pids /proc listed at its start and the members of application
// groups then, and the process it stands on; what it and earlier walks learned.
struct Walk {
  std::vector<pid_t> pids;
  std::optional<ApplicationGroups> groups;
  pid_t pid = 0;
  SeenProcessStat seen;
  std::uint64_t number = 0;
  std::uint64_t settled_start = 0;  // a process started at or before this tick has settled
  std::unordered_map<pid_t, Known> known;
};
thread_local Walk walk;

constexpr std::size_t kMaxKnown = 1 << 16;
std::atomic<std::int64_t> settling_ms{5000};

// What the walk needs of process `pid`: the stat file of a live process of the calling user.
// For an ordinary user one look at the owner of a known process's stat file proves it alive
// and the user's; root, who owns every zombie's files too, reads each stat file.
std::optional<SeenProcessStat> WalkStat(pid_t pid) {
  uid_t me = getuid();
  if (me != 0) {
    char path[32];
    ProcessStatPath(pid, path);
    struct stat st;
    if (fstatat(ProcFolder(), path, &st, 0) != 0) return std::nullopt;
    auto known = walk.known.find(pid);
    if (st.st_uid == me && known != walk.known.end() && known->second.seen.inode == st.st_ino) {
      known->second.walk = walk.number;
      return known->second.seen;
    }
    // Not shown as ours: another user's (the owner of its folder tells), or one of ours that
    // is a zombie or may not be inspected (its stat file tells).
    path[strcspn(path, "/")] = '\0';
    if (st.st_uid != me && (fstatat(ProcFolder(), path, &st, 0) != 0 || st.st_uid != me)) {
      return std::nullopt;
    }
  }
  std::optional<SeenProcessStat> seen = OwnLiveProcessStatOfPid(pid);
  if (seen && seen->shown_as_own && me != 0 && seen->stat.start_time <= walk.settled_start) {
    walk.known[pid] = Known{*seen, walk.number};
  } else {
    walk.known.erase(pid);
  }
  return seen;
}

// Starts a walk: its number, and which start times have settled.
void StartWalk() {
  ++walk.number;
  if (walk.known.size() > kMaxKnown) walk.known.clear();
  walk.settled_start = 0;
  // The start times in stat files count clock ticks since boot.
  long per_second = sysconf(_SC_CLK_TCK);
  struct timespec now;
  if (per_second <= 0 || clock_gettime(CLOCK_BOOTTIME, &now) != 0) return;
  auto ticks = static_cast<std::uint64_t>(per_second);
  std::uint64_t now_ticks = static_cast<std::uint64_t>(now.tv_sec) * ticks +
                            static_cast<std::uint64_t>(now.tv_nsec) * ticks / 1000000000u;
  std::uint64_t settling =
      static_cast<std::uint64_t>(std::max<std::int64_t>(settling_ms, 0)) * ticks / 1000;
  if (now_ticks > settling) walk.settled_start = now_ticks - settling;
}

// Ends a walk that went through the whole list: the processes it did not meet are gone.
void EndWalk() {
  std::erase_if(walk.known, [](const auto& entry) { return entry.second.walk != walk.number; });
  walk.pids.clear();
  walk.groups.reset();
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

ProcessSerialNumber SerialNumber(pid_t pid, std::uint64_t start_time) {
  return {static_cast<std::uint32_t>(start_time), static_cast<std::uint32_t>(pid)};
}

}  // namespace

void SetProcessSettlingTime(std::chrono::milliseconds time) {
  settling_ms = time.count();
}

OSErr GetNextProcess(ProcessSerialNumber* psn) {
  if (psn == nullptr) return procNotFound;
  std::size_t next;
  if (psn->lowLongOfPSN == kNoProcess && psn->highLongOfPSN == kNoProcess) {
    StartWalk();
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
    std::optional<SeenProcessStat> seen = WalkStat(walk.pids[next]);
    if (!seen) continue;
    walk.pid = walk.pids[next];
    walk.seen = *seen;
    *psn = SerialNumber(walk.pid, walk.seen.stat.start_time);
    return noErr;
  }
  EndWalk();
  return procNotFound;
}

std::optional<Dictionary> ProcessInformationCopyDictionary(const ProcessSerialNumber* psn,
                                                           std::uint32_t /*info_to_return*/) {
  if (psn == nullptr || psn->lowLongOfPSN == 0 ||
      psn->lowLongOfPSN > static_cast<std::uint32_t>(INT32_MAX)) {
    return std::nullopt;
  }
  pid_t pid = static_cast<pid_t>(psn->lowLongOfPSN);
  SeenProcessStat seen;
  const ApplicationGroups* groups = nullptr;
  if (walk.pid == pid && SerialNumber(pid, walk.seen.stat.start_time) == *psn) {
    seen = walk.seen;
    if (walk.groups) groups = &*walk.groups;
  } else {
    std::optional<SeenProcessStat> found = OwnLiveProcessStatOfPid(pid);
    if (!found || SerialNumber(pid, found->stat.start_time) != *psn) return std::nullopt;
    seen = *found;
  }
  std::optional<std::string> id;
  if (!WalkApplicationId(pid, seen, groups, &id)) return std::nullopt;  // gone meanwhile
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
