#include "platform/process/system_log.h"

#include <errno.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace platform {
namespace {

// The time zone and the syslog connection, set up once for the process.
void OpenLogOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    tzset();
    openlog(program_invocation_short_name, LOG_PID, LOG_USER);
  });
}

// Writes every byte, in one write(2) unless the descriptor takes less at a time.
void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // standard error is gone or full: nowhere left to say so
    }
  }
}

}  // namespace

void NSLog(std::string_view message) {
  OpenLogOnce();
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char millis[24], ids[48];
  std::snprintf(millis, sizeof millis, ".%03d ", static_cast<int>(now.tv_nsec / 1000000L) % 1000);
  std::snprintf(ids, sizeof ids, "[%d:%d] ", static_cast<int>(getpid()),
                static_cast<int>(gettid()));
  std::string line(stamp, length);
  line.append(millis).append(program_invocation_short_name).append(ids);
  line.append(message);
  // A message that already ends its line (a command's output usually does) gets no second end.
  if (message.empty() || message.back() != '\n') line.push_back('\n');
  WriteAll(STDERR_FILENO, line);

  int syslog_length = static_cast<int>(std::min<std::size_t>(message.size(), INT_MAX));
  syslog(LOG_USER | LOG_NOTICE, "%.*s", syslog_length, message.data());
}

}  // namespace platform
