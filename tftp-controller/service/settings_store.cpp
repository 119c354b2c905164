#include "tftp-controller/service/settings_store.h"

#include <errno.h>
#include <libintl.h>
#include <sys/stat.h>

#include <limits>

#include "platform/files/io.h"
#include "platform/plist/file.h"
#include "platform/text/errno_text.h"
#include "utility/apps/app_utilities.h"

#define _(s) gettext(s)

namespace tftpc {

namespace {

constexpr char kStopAfterMinutesKey[] = "StopAfterMinutes";
constexpr char kLastFolderKey[] = "LastFolder";

// The file's dictionary, or an empty one when it is missing, unreadable or damaged.
platform::Dictionary ReadDictionary(const std::string& path) {
  std::string err;
  std::optional<platform::Value> root = platform::ReadPlistFile(path, &err);
  if (!root || !root->IsDictionary()) return {};
  return std::move(root->dictionary());
}

// Makes every missing folder of `folder`, each readable by its user only.
bool MakeFolders(const std::string& folder, std::string* err) {
  for (std::size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
    const std::string step = folder.substr(0, at);
    if (mkdir(step.c_str(), 0700) != 0 && errno != EEXIST) {
      if (err) *err = step + ": " + platform::ErrnoText(errno);
      return false;
    }
    if (at == std::string::npos) return true;
  }
}

}  // namespace

std::string SettingsPath() {
  return UserAppSupportPath() + "/tftp-controller/Settings.plist";
}

Settings LoadSettings(const std::string& path) {
  const platform::Dictionary dictionary = ReadDictionary(path);
  Settings settings;
  // Each key of the wrong kind or out of range keeps its default; the others still count.
  if (const platform::Value* v = dictionary.Find(appFirstLaunchKey);
      v && v->kind() == platform::Value::Kind::kBoolean)
    settings.first_launch = v->boolean();
  if (std::optional<std::int64_t> minutes = dictionary.IntegerFor(kStopAfterMinutesKey);
      minutes && *minutes >= 0 && *minutes <= std::numeric_limits<unsigned>::max())
    settings.stop_after_minutes = static_cast<unsigned>(*minutes);
  if (const std::string* folder = dictionary.StringFor(kLastFolderKey))
    settings.last_folder = *folder;
  return settings;
}

bool SaveSettings(const std::string& path, const Settings& settings, std::string* err) {
  if (!platform::IsPlistString(settings.last_folder)) {
    if (err) *err = _("the folder's name holds a character a settings file cannot carry");
    return false;
  }
  // Keys of another version of the program stay as they were.
  platform::Dictionary dictionary = ReadDictionary(path);
  dictionary.Set(appFirstLaunchKey, settings.first_launch);
  dictionary.Set(kStopAfterMinutesKey,
                 platform::Integer::FromUnsigned(settings.stop_after_minutes));
  dictionary.Set(kLastFolderKey, settings.last_folder);
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash), err))
    return false;
  return platform::ReplaceFileAtomically(path, platform::PlistToXml(dictionary), err);
}

}  // namespace tftpc
