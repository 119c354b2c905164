#include "utility/apps/app_utilities.h"

#include <unistd.h>

#include <cctype>
#include <charconv>
#include <vector>

#include "platform/apps/alert.h"
#include "platform/apps/application_quit.h"
#include "platform/apps/process_identity.h"
#include "platform/bundle/bundle.h"
#include "platform/bundle/user_folders.h"

const char* const appFirstLaunchKey = "AppFirstLaunch";
const char* const defaultFileCreatorKey = "DefaultFileCreator";
const char* const showDonationReminderKey = "ShowDonationReminder";

namespace {

// The number a text starts with, as a string's floatValue reads it: leading white space, a
// sign, digits with at most one decimal point and an exponent; the rest is ignored; 0 when the
// text does not start with a number. Independent of the locale's decimal point.
float LeadingFloat(const std::string& text) {
  std::size_t i = 0, n = text.size();
  while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  std::size_t start = i;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  bool negative = i > start && text[start] == '-';
  std::size_t digits_start = i;
  while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  std::size_t digits = i - digits_start;
  if (i < n && text[i] == '.') {
    ++i;
    std::size_t fraction_start = i;
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    digits += i - fraction_start;
  }
  if (digits == 0) return 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < n && std::isdigit(static_cast<unsigned char>(text[j]))) {
      while (j < n && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
      i = j;
    }
  }
  float value = 0;
  // from_chars takes no leading '+'; the sign is put back afterwards.
  std::from_chars(text.data() + digits_start, text.data() + i, value);
  return negative ? -value : value;
}

}  // namespace

float AppVersion() {
  const platform::Value* version =
      platform::MainBundle()->objectForInfoDictionaryKey("CFBundleVersion");
  if (version == nullptr) return 0;
  switch (version->kind()) {
    case platform::Value::Kind::kString:
      return LeadingFloat(version->string());
    case platform::Value::Kind::kInteger: {
      const platform::Integer& i = version->integer();
      return i.is_big_unsigned ? static_cast<float>(static_cast<std::uint64_t>(i.value))
                               : static_cast<float>(i.value);
    }
    case platform::Value::Kind::kReal:
      return static_cast<float>(version->real());
    default:
      return 0;
  }
}

std::string UserLibraryPath() {
  return platform::UserDataHome();
}

std::string UserAppSupportPath() {
  return UserLibraryPath();
}

bool LaunchApp(const std::string& bundleIdentifier, platform::NSWorkspaceLaunchOptions options) {
  std::string err;
  if (platform::Workspace::launchAppWithBundleIdentifier(bundleIdentifier, options, &err)) {
    return true;
  }
  std::string title = platform::MainBundle()->localizedStringForKey("Can't launch application", "");
  platform::RunCriticalAlertPanel(title, bundleIdentifier);
  return false;
}

void QuitApp(const std::string& bundleIdentifier, bool safely) {
  if (!platform::IsDesktopEntryId(bundleIdentifier)) return;
  if (platform::Workspace::absolutePathForAppBundleWithIdentifier(bundleIdentifier)) {
    platform::QuitApplication(bundleIdentifier, safely);
  }
  sleep(1);
}

bool AppIsRunning(const std::string& bundleIdentifier) {
  return !platform::Workspace::processesOfApplication(bundleIdentifier, 1).empty();
}

bool AppIsActive(const std::string& bundleIdentifier) {
  std::optional<platform::Dictionary> active = platform::Workspace::activeApplication();
  if (!active) return false;
  const platform::Value* id = active->Find(platform::kApplicationBundleIdentifierKey);
  return id != nullptr && id->IsString() && id->string() == bundleIdentifier;
}

bool ProcessIsRunning(const std::string& bundleIdentifier, ProcessSerialNumber* psn) {
  std::vector<ProcessSerialNumber> first =
      platform::Workspace::processesOfApplication(bundleIdentifier, 1);
  if (first.empty()) return false;
  if (psn != nullptr) *psn = first.front();
  return true;
}
