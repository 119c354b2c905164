// The system log: one line on standard error and the same message to syslog(3).
#pragma once

#include <string_view>

namespace platform {

// Writes "YYYY-MM-DD HH:MM:SS.mmm program[pid:tid] message" to standard error and the message
// to syslog.
void NSLog(std::string_view message);

}  // namespace platform
