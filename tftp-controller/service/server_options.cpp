#include "tftp-controller/service/server_options.h"

namespace tftpc {

std::vector<std::string> ServerArgWords(const ServerOptions& options) {
  return {"-v", "-s", options.folder};
}

std::string ServerArgsLine(const ServerOptions& options) {
  std::string line;
  for (const std::string& word : ServerArgWords(options)) {
    if (!line.empty()) line += ' ';
    line += word;
  }
  return line;
}

bool ParseServerArgs(std::string_view, ServerOptions*, std::vector<std::string>*, std::string*) {
  return false;
}

std::optional<std::string> ProblemWith(const ServerOptions&) {
  return std::nullopt;
}

}  // namespace tftpc
