#include "launchdtool/root_defaults.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// How far a limit may stay below process 1's where even root may not raise it.
enum class Floor {
  kBoot,        // down to what the kernel gives process 1 at boot
  kNone,        // any value: root's processes are exempt from it
  kProcessOne,  // not at all
};

struct Limit {
  int resource;
  const char* name;
  rlim_t boot_soft, boot_hard;  // what the kernel gives process 1 at boot
  Floor floor;
};

constexpr rlim_t kNone = RLIM_INFINITY;
// The kernel computes the process and pending-signal limits from the memory it finds; without
// process 1 to ask, no limit is the nearest to them for root.
constexpr Limit kLimits[] = {
    {RLIMIT_CPU, "RLIMIT_CPU", kNone, kNone, Floor::kBoot},
    {RLIMIT_FSIZE, "RLIMIT_FSIZE", kNone, kNone, Floor::kBoot},
    {RLIMIT_DATA, "RLIMIT_DATA", kNone, kNone, Floor::kBoot},
    {RLIMIT_STACK, "RLIMIT_STACK", 8 << 20, kNone, Floor::kBoot},
    {RLIMIT_CORE, "RLIMIT_CORE", 0, kNone, Floor::kBoot},
    {RLIMIT_RSS, "RLIMIT_RSS", kNone, kNone, Floor::kBoot},
    {RLIMIT_NPROC, "RLIMIT_NPROC", kNone, kNone, Floor::kNone},
    {RLIMIT_NOFILE, "RLIMIT_NOFILE", 1024, 4096, Floor::kBoot},
    {RLIMIT_MEMLOCK, "RLIMIT_MEMLOCK", 8 << 20, 8 << 20, Floor::kBoot},
    {RLIMIT_AS, "RLIMIT_AS", kNone, kNone, Floor::kBoot},
    {RLIMIT_LOCKS, "RLIMIT_LOCKS", kNone, kNone, Floor::kBoot},
    {RLIMIT_SIGPENDING, "RLIMIT_SIGPENDING", kNone, kNone, Floor::kProcessOne},
    {RLIMIT_MSGQUEUE, "RLIMIT_MSGQUEUE", 819200, 819200, Floor::kBoot},
    {RLIMIT_NICE, "RLIMIT_NICE", 0, 0, Floor::kBoot},
    {RLIMIT_RTPRIO, "RLIMIT_RTPRIO", 0, 0, Floor::kBoot},
    {RLIMIT_RTTIME, "RLIMIT_RTTIME", kNone, kNone, Floor::kBoot},
};
static_assert(sizeof kLimits / sizeof kLimits[0] == RLIM_NLIMITS, "every limit is put back");

// Where even root may not raise a hard limit (no CAP_SYS_RESOURCE), the hard limit stays as it
// is and the soft one goes as high as it allows; that is good enough when both are at least
// what the kernel starts process 1 with. A machine set up that way (a container) serves every
// caller alike; a caller who lowered a limit below that is refused.
bool NearestReachable(const Limit& limit, const struct rlimit& wanted, struct rlimit* nearest) {
  struct rlimit now;
  if (getrlimit(static_cast<__rlimit_resource>(limit.resource), &now) != 0) return false;
  *nearest = {std::min(wanted.rlim_cur, now.rlim_max), now.rlim_max};
  struct rlimit floor = wanted;
  if (limit.floor == Floor::kBoot) floor = {limit.boot_soft, limit.boot_hard};
  if (limit.floor == Floor::kNone) floor = {0, 0};
  return nearest->rlim_cur >= floor.rlim_cur && nearest->rlim_max >= floor.rlim_max;
}

bool Fail(std::string* err, const std::string& what) {
  *err = "cannot put " + what + " back to root's: " + std::strerror(errno);
  return false;
}

}  // namespace

bool RestoreRootDefaults(std::string* err) {
  for (const Limit& limit : kLimits) {
    struct rlimit wanted;
    if (prlimit(1, static_cast<__rlimit_resource>(limit.resource), nullptr, &wanted) != 0)
      wanted = {limit.boot_soft, limit.boot_hard};
    const auto resource = static_cast<__rlimit_resource>(limit.resource);
    if (setrlimit(resource, &wanted) == 0) continue;
    const int error = errno;
    struct rlimit nearest;
    if (error == EPERM && NearestReachable(limit, wanted, &nearest) &&
        setrlimit(resource, &nearest) == 0)
      continue;
    errno = error;  // a refusal, or the reason the kernel gave
    return Fail(err, std::string("the resource limit ") + limit.name);
  }
  errno = 0;
  if (setpriority(PRIO_PROCESS, 0, 0) != 0) return Fail(err, "the nice value");
  struct sched_param param = {};
  if (sched_setscheduler(0, SCHED_OTHER, &param) != 0) return Fail(err, "the scheduling policy");
  // ioprio_set(IOPRIO_WHO_PROCESS, this process, no class): I/O follows the nice value again.
  if (syscall(SYS_ioprio_set, 1, 0, 0) != 0) return Fail(err, "the I/O priority");
  return true;
}
