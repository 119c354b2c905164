// The controller's own settings: a property list under the user's application support folder.
#pragma once

#include <string>

namespace tftpc {

struct Settings {
  bool first_launch = true;         // key "AppFirstLaunch" (appFirstLaunchKey): guide not yet shown
  unsigned stop_after_minutes = 0;  // "StopAfterMinutes"; 0: off
  std::string last_folder;          // "LastFolder"
  bool operator==(const Settings&) const = default;
};
std::string SettingsPath();  // UserAppSupportPath() + "/tftp-controller/Settings.plist"
Settings LoadSettings(const std::string& path);  // a missing or unreadable file: the defaults
bool SaveSettings(const std::string& path, const Settings& settings, std::string* err);

}  // namespace tftpc
