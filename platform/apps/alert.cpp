#include "platform/apps/alert.h"

#include <unistd.h>

#include <atomic>

namespace platform {

namespace {

// Constant-initialized, so a presenter installed by another library's static initializer is
// never overwritten by this one's.
constinit std::atomic<AlertPresenter> installed{nullptr};

}  // namespace

int WriteAlertToStandardError(const std::string& title, const std::string& message) {
  std::string line = title + ": " + message + "\n";
  ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  (void)ignored;
  return NSAlertDefaultReturn;
}

int RunCriticalAlertPanel(const std::string& title, const std::string& message) {
  AlertPresenter presenter = installed.load();
  return presenter != nullptr ? presenter(title, message)
                              : WriteAlertToStandardError(title, message);
}

AlertPresenter SetAlertPresenter(AlertPresenter presenter) {
  return installed.exchange(presenter);
}

}  // namespace platform
