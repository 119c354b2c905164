#include "utility/apps/remote_control.h"

#include <memory>
#include <string_view>
#include <vector>

#include "platform/bundle/bundle.h"
#include "platform/bundle/shell_script.h"
#include "platform/text/character_sets.h"
#include "platform/text/string_format.h"
#include "platform/text/utf8.h"
#include "utility/qrb_string.h"

namespace {

constexpr std::string_view kScriptType = "sh";
constexpr std::size_t kTemplateValues = 4;

platform::Dictionary MadeError(int number, std::string text) {
  platform::Dictionary error;
  error.Set(platform::NSAppleScriptErrorNumber, platform::Integer::FromSigned(number));
  error.Set(platform::NSAppleScriptErrorBriefMessage, text);
  error.Set(platform::NSAppleScriptErrorMessage, std::move(text));
  return error;
}

// A localized message with its values in place of its "%@"; a translation that asks for more
// values than there are is shown as it stands.
std::string Message(const platform::Bundle& bundle, std::string_view key,
                    const std::vector<std::string>& values) {
  std::string text = bundle.localizedStringForKey(key, "");
  return platform::StringWithFormat(text, values).value_or(text);
}

// Passwords that remote control cannot carry: those holding ":" or an accented or other
// composed letter (and text that is not UTF-8, whose characters cannot even be told).
bool IsRefusedPassword(std::string_view password) {
  return password.find(':') != std::string_view::npos || !platform::IsValidUtf8(password) ||
         platform::HoldsDecomposableCharacter(password);
}

std::optional<platform::Dictionary> RunRemoteScript(std::string_view name, const std::string& appID,
                                                    const std::optional<std::string>& machine,
                                                    const std::string& userName,
                                                    const std::string& password) {
  if (!machine) return std::nullopt;
  std::shared_ptr<const platform::Bundle> bundle = platform::MainBundle();
  if (IsRefusedPassword(password)) {
    return MadeError(kInvalidRemotePassword, Message(*bundle, "errInvalidRAEPwd", {*machine}));
  }
  std::string usable = password.find('@') == std::string::npos ? password : std::string();

  std::string file = std::string(name) + "." + std::string(kScriptType);
  std::optional<std::string> path = bundle->pathForResource(name, kScriptType);
  if (!path) {
    return MadeError(kRemoteScriptMissing, Message(*bundle, "The script %@ is missing from %@.",
                                                   {file, bundle->resourcePath()}));
  }
  std::string why;
  std::optional<std::string> format = QRBString::stringReadingFromFile(*path, &why);
  if (!format) {
    return MadeError(kRemoteScriptMissing,
                     Message(*bundle, "The script %@ cannot be read: %@", {*path, why}));
  }
  std::size_t directives = platform::CountStringDirectives(*format);
  if (directives != kTemplateValues) {
    return MadeError(kRemoteScriptMalformed,
                     Message(*bundle, "The script %@ takes %@ values instead of four.",
                             {*path, std::to_string(directives)}));
  }

  std::vector<std::string> values = {appID, *machine, userName, usable};
  for (const std::string& value : values) {
    if (value.find('\0') != std::string::npos) {
      return MadeError(kRemoteValueUnusable,
                       Message(*bundle, "A value for the script %@ holds a zero byte.", {file}));
    }
  }
  std::optional<std::string> source = platform::StringWithFormat(
      *format, values, [](std::string_view v) { return *platform::ShellQuotedWord(v); });
  platform::Dictionary error = platform::ShellScript(std::move(*source)).executeAndReturnError();
  if (error.empty()) return std::nullopt;
  return error;
}

}  // namespace

std::optional<platform::Dictionary> LaunchAppOnRemoteMac(const std::string& appID,
                                                         const std::optional<std::string>& machine,
                                                         const std::string& userName,
                                                         const std::string& password) {
  return RunRemoteScript("LaunchAppOnRemoteMac", appID, machine, userName, password);
}

std::optional<platform::Dictionary> QuitAppOnRemoteMac(const std::string& appID,
                                                       const std::optional<std::string>& machine,
                                                       const std::string& userName,
                                                       const std::string& password) {
  return RunRemoteScript("QuitAppOnRemoteMac", appID, machine, userName, password);
}
