#include "platform/bundle/shell_script.h"

#include <sys/wait.h>

#include "platform/process/subprocess.h"

namespace platform {

const char* const NSAppleScriptErrorNumber = "NSAppleScriptErrorNumber";
const char* const NSAppleScriptErrorBriefMessage = "NSAppleScriptErrorBriefMessage";
const char* const NSAppleScriptErrorMessage = "NSAppleScriptErrorMessage";

namespace {

constexpr const char* kShell = "/bin/sh";

Dictionary ErrorDictionary(int number, std::string brief, std::string message) {
  Dictionary error;
  error.Set(NSAppleScriptErrorNumber, Integer::FromSigned(number));
  error.Set(NSAppleScriptErrorBriefMessage, std::move(brief));
  error.Set(NSAppleScriptErrorMessage, std::move(message));
  return error;
}

// The last line of the text, without its terminator.
std::string LastLine(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  std::size_t end = text.find_last_of('\n');
  return std::string(end == std::string_view::npos ? text : text.substr(end + 1));
}

}  // namespace

std::optional<std::string> ShellQuotedWord(std::string_view value) {
  if (value.find('\0') != std::string_view::npos) return std::nullopt;
  std::string word = "'";
  word.reserve(value.size() + 2);
  for (char c : value) {
    // A quote ends the quoted part, comes as an escaped quote, and a new quoted part begins.
    if (c == '\'') {
      word += "'\\''";
    } else {
      word.push_back(c);
    }
  }
  word.push_back('\'');
  return word;
}

Dictionary ShellScript::executeAndReturnError() const {
  std::string why;
  OwnedFd in_read, in_write, err_read, err_write;
  if (!MakePipe(&in_read, &in_write, &why) || !MakePipe(&err_read, &err_write, &why)) {
    return ErrorDictionary(kShellNotRun, why, why);
  }
  std::optional<ChildProcess> child =
      Spawn(kShell, {kShell, "-s"}, in_read.get(), kNullDevice, err_write.get(), &why);
  if (!child) return ErrorDictionary(kShellNotRun, why, why);
  in_read.Reset();
  err_write.Reset();

  std::string error;
  StreamExchange exchange;
  exchange.input_fd = in_write.get();
  exchange.input = source_;
  exchange.end_input = [&in_write] { in_write.Reset(); };
  exchange.error_fd = err_read.get();
  exchange.error = &error;
  bool exchanged = ExchangeWithChild(exchange, &why);
  in_write.Reset();
  err_read.Reset();
  int status = child->Wait();
  if (!exchanged) return ErrorDictionary(kShellNotRun, why, error + why);

  int number = kShellNotRun;
  if (WIFEXITED(status)) {
    number = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    number = 128 + WTERMSIG(status);
  }
  if (number == 0) return {};
  std::string brief = LastLine(error);
  if (brief.empty()) brief = "The script ended with status " + std::to_string(number) + ".";
  return ErrorDictionary(number, std::move(brief), std::move(error));
}

}  // namespace platform
