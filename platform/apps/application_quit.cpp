#include "platform/apps/application_quit.h"

#include <csignal>
#include <set>
#include <string>

#include "platform/apps/process_signal.h"
#include "platform/apps/workspace.h"
#include "platform/apps/x_windows.h"

namespace platform {

int QuitApplication(std::string_view id, bool safely) {
  std::vector<ProcessSerialNumber> processes = Workspace::processesOfApplication(id);
  if (processes.empty()) return 0;
  int asked = 0;
  if (safely) {
    std::unique_ptr<XConnection> x = XConnection::Open();
    if (!x) return 0;
    std::set<pid_t> pids;
    for (const ProcessSerialNumber& psn : processes) {
      pids.insert(static_cast<pid_t>(psn.lowLongOfPSN));
    }
    std::vector<xcb_window_t> windows = TopLevelWindowsOf(*x, pids);
    RequestClose(*x, windows);
    asked = static_cast<int>(windows.size());
  } else {
    for (const ProcessSerialNumber& psn : processes) {
      std::string err;
      if (SignalProcess(psn, id, SIGTERM, &err)) ++asked;
    }
  }
  return asked;
}

}  // namespace platform
