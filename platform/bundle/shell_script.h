// Scripts in place of the platform's script objects: POSIX shell source run by /bin/sh, which
// reads it from its standard input (never from its arguments, which any user can read), and
// an error dictionary made from how it ended.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/plist/value.h"

namespace platform {

// Keys of the error dictionary.
extern const char* const NSAppleScriptErrorNumber;        // integer
extern const char* const NSAppleScriptErrorBriefMessage;  // string
extern const char* const NSAppleScriptErrorMessage;       // string

// The error number when /bin/sh could not be started or its streams failed; other numbers are
// the script's exit status, or 128 plus the signal that ended it.
inline constexpr int kShellNotRun = -1;

// `value` as one single-quoted shell word that the shell reads back byte for byte, whatever it
// holds (quotes, "$(...)", ";", newlines). nullopt for a value holding a zero byte, which no
// shell word can carry.
std::optional<std::string> ShellQuotedWord(std::string_view value);

class ShellScript {
 public:
  explicit ShellScript(std::string source) : source_(std::move(source)) {}

  const std::string& source() const { return source_; }

  // Runs the source with `/bin/sh -s` (standard output dropped, standard error read) and waits
  // for it. An empty dictionary when it exits with status 0; otherwise NSAppleScriptErrorNumber
  // is its status, NSAppleScriptErrorBriefMessage the last line of its standard error (or a
  // sentence naming the status when it wrote none) and NSAppleScriptErrorMessage all of it.
  Dictionary executeAndReturnError() const;

 private:
  std::string source_;
};

}  // namespace platform
