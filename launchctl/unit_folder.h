// A folder of systemd units, in which this launchctl adds and removes only units of its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "launchctl/translation.h"
#include "platform/files/owned_fd.h"

namespace launchctl {

// Where loaded jobs live: until the next boot, and across boots (with -w).
inline constexpr char kRuntimeFolder[] = "/run/systemd/system";
inline constexpr char kPersistentFolder[] = "/etc/systemd/system";

// Every folder systemd reads system units from; a unit found in any that is not ours is
// someone else's.
extern const std::vector<std::string> kSystemUnitFolders;

class UnitFolder {
 public:
  enum class Presence { kAbsent, kOurs, kForeign };

  // Opens the folder (nothing when it does not exist: it holds no unit then).
  static std::optional<UnitFolder> Open(const std::string& path, std::string* err);

  const std::string& path() const { return path_; }

  // Whether `name` is there, and whether it is a regular file this launchctl made (its text in
  // *text). A link, even to a unit of ours, is foreign: it was made by someone else.
  Presence Inspect(const std::string& name, std::string* text = nullptr) const;

  // Adds the units, each written whole and synced before it gets its name; a name already taken
  // is never replaced. All or nothing: on failure none of them stays, and *err says why.
  bool AddAll(const std::vector<UnitFile>& files, std::string* err) const;

  // Removes `name` if it is a unit of ours. True when it is gone (or was never there).
  bool RemoveOurs(const std::string& name, std::string* err) const;

  // The names and texts of the units of ours here.
  std::vector<UnitFile> Ours() const;

 private:
  bool Add(const UnitFile& file, std::string* err) const;

  std::string path_;
  platform::OwnedFd fd_;
};

}  // namespace launchctl
