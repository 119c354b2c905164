// A program's bundle: the folder that holds its Info.plist, its resources (Resources/NAME.TYPE)
// and its compiled message catalogs (locale/LANG/LC_MESSAGES/DOMAIN.mo).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/plist/value.h"

namespace platform {

class Bundle {
 public:
  // Reads FOLDER/Info.plist at once. A bundle without one, or whose Info.plist cannot be read
  // or has no dictionary at its root, has an empty info dictionary (infoError() says why).
  explicit Bundle(std::string folder);

  // The bundle's folder, as given.
  const std::string& bundlePath() const { return folder_; }
  // FOLDER/Resources.
  std::string resourcePath() const;

  const Dictionary& infoDictionary() const { return info_; }
  // The info dictionary's value under `key`, or null.
  const Value* objectForInfoDictionaryKey(std::string_view key) const;
  // The string under `key`, or nullopt when there is none or it is no string.
  std::optional<std::string> infoString(std::string_view key) const;
  // Empty when Info.plist was read or does not exist; else the reason it was not used.
  const std::string& infoError() const { return info_error_; }

  // Resources/NAME.TYPE (Resources/NAME when `type` is empty) when that is a regular file.
  // A name or type that would leave the Resources folder ("/", "..") finds nothing.
  std::optional<std::string> pathForResource(std::string_view name, std::string_view type) const;

  // The text for `key` in the message catalog of text domain `table` ("Localizable" when
  // empty) for the process's locale, read from the bundle's locale/ folder in UTF-8. When that
  // gives none (the C or POSIX locale, a language without a catalog, a key its catalog lacks),
  // the key's text in the development language's catalog; after that `value`, or the key itself
  // when `value` is empty. The host sets its locale first (setlocale(LC_ALL, ""); QApplication
  // does so).
  std::string localizedStringForKey(std::string_view key, std::string_view value,
                                    std::string_view table = {}) const;

  // The language a key falls back to: Info.plist's CFBundleDevelopmentRegion, "en" when it
  // names none. Its catalogs are locale/REGION/LC_MESSAGES/DOMAIN.mo, else those of its
  // language alone ("en" for "en_US" or "en-US").
  std::string developmentRegion() const;

 private:
  // The text of `key` in the development language's catalog of `domain`, read on first use.
  std::optional<std::string> developmentText(const std::string& domain, std::string_view key) const;

  struct DevelopmentCatalogs;
  std::string folder_;
  Dictionary info_;
  std::string info_error_;
  std::shared_ptr<DevelopmentCatalogs> development_;
};

// The text domain used when a lookup names none.
inline constexpr std::string_view kDefaultStringsTable = "Localizable";

// The folder in which the main bundle of the program at `executable` is looked for:
// PREFIX/share/PROGRAM when the program lies in PREFIX/bin or PREFIX/sbin and that folder holds
// Info.plist; else the program's own folder (a build tree).
std::string MainBundleFolderFor(const std::string& executable);

// The program's main bundle: the folder a host named with SetMainBundlePath, else the one found
// by MainBundleFolderFor from /proc/self/exe. Read once, on first use.
std::shared_ptr<const Bundle> MainBundle();

// Names the main bundle's folder. Meant to be called before the first use; a later call
// replaces the main bundle for the calls that follow (those that hold the old one keep it).
void SetMainBundlePath(std::string folder);

}  // namespace platform
