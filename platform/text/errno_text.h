// The text of an errno value, for messages.
#pragma once

#include <cstring>
#include <string>

namespace platform {

inline std::string ErrnoText(int error) {
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);  // the GNU variant returns the text
}

}  // namespace platform
