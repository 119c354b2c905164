#include "platform/apps/process_signal.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <optional>

#include "platform/apps/process_identity.h"
#include "platform/text/errno_text.h"

namespace platform {

namespace {

// The system calls themselves: glibc's header for them lacks C linkage for C++.
int PidfdOpen(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0u));
}

int PidfdSendSignal(int pidfd, int signal) {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0u));
}

}  // namespace

bool SignalProcess(const ProcessSerialNumber& psn, std::string_view application_id, int signal,
                   std::string* err) {
  if (psn.lowLongOfPSN == 0 || psn.lowLongOfPSN > static_cast<std::uint32_t>(INT32_MAX)) {
    *err = "no process";
    return false;
  }
  pid_t pid = static_cast<pid_t>(psn.lowLongOfPSN);
  std::string name = "process " + std::to_string(pid);
  OwnedFd pidfd(PidfdOpen(pid));
  if (!pidfd.valid()) {
    *err = name + ": " + ErrnoText(errno);
    return false;
  }
  OwnedFd dir = OpenProcessFolder(pid);
  std::optional<ProcessStat> stat;
  if (dir.valid()) stat = OwnLiveProcessStat(dir.get());
  if (!stat || static_cast<std::uint32_t>(stat->start_time) != psn.highLongOfPSN) {
    *err = name + " is gone or not the calling user's";
    return false;
  }
  if (!application_id.empty() && ProcessApplicationId(dir.get(), pid) != application_id) {
    *err = name + " is not of " + std::string(application_id);
    return false;
  }
  if (PidfdSendSignal(pidfd.get(), signal) != 0) {
    *err = name + ": " + ErrnoText(errno);
    return false;
  }
  return true;
}

}  // namespace platform
