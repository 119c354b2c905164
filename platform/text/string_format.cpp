#include "platform/text/string_format.h"

namespace platform {

std::size_t CountStringDirectives(std::string_view format) {
  std::size_t count = 0;
  for (std::size_t i = format.find('%'); i != std::string_view::npos && i + 1 < format.size();
       i = format.find('%', i)) {
    if (format[i + 1] == '@') ++count;
    // "%%" and "%@" are two characters; a lone "%" is one.
    i += (format[i + 1] == '@' || format[i + 1] == '%') ? 2 : 1;
  }
  return count;
}

std::optional<std::string> StringWithFormat(
    std::string_view format, const std::vector<std::string>& values,
    const std::function<std::string(std::string_view)>& render) {
  std::string out;
  out.reserve(format.size());
  std::size_t next = 0;
  std::size_t i = 0;
  while (i < format.size()) {
    std::size_t percent = format.find('%', i);
    if (percent == std::string_view::npos || percent + 1 >= format.size()) {
      out.append(format.substr(i));
      break;
    }
    out.append(format.substr(i, percent - i));
    char directive = format[percent + 1];
    if (directive == '@') {
      if (next == values.size()) return std::nullopt;
      const std::string& value = values[next++];
      out += render ? render(value) : value;
      i = percent + 2;
    } else if (directive == '%') {
      out.push_back('%');
      i = percent + 2;
    } else {
      out.push_back('%');
      i = percent + 1;
    }
  }
  return out;
}

}  // namespace platform
