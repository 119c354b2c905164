// A text for the user from a translated format: each %@ takes the next value. A format that
// does not fit its values (a catalog's mistake) is shown as it stands rather than lost.
#pragma once

#include <string>
#include <vector>

#include "platform/text/string_format.h"

namespace tftpc {

inline std::string Say(const char* format, const std::vector<std::string>& values) {
  return platform::StringWithFormat(format, values).value_or(format);
}

}  // namespace tftpc
