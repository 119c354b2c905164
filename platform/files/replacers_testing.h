// For the tests of this folder: a file's contents, and the three ways a file is replaced
// (through an unnamed or a named temporary file, and as an edited file), so that one case can
// be run through each of them.
#pragma once

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "platform/files/edited_file.h"
#include "platform/files/io.h"

namespace platform::replacers_testing {

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool ThroughEditedFile(const std::string& path, std::string_view contents,
                              std::string* err) {
  EditedFile::Failure failure;
  std::optional<EditedFile> file =
      EditedFile::Open(path, std::chrono::milliseconds(1000), &failure, err);
  return file && file->Replace(contents, err);
}

using Replacer = std::function<bool(const std::string&, std::string_view, std::string*)>;
inline const std::pair<const char*, Replacer> kReplacers[] = {
    {"unnamed", ReplaceFileAtomically},
    {"named", ReplaceFileThroughNamedTemp},
    {"edited file", ThroughEditedFile},
};

}  // namespace platform::replacers_testing
