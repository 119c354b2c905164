#include "platform/bundle/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform {

namespace {

bool IsAbsolute(const char* path) {
  return path != nullptr && path[0] == '/';
}

std::string HomeFolder() {
  const char* home = getenv("HOME");
  if (IsAbsolute(home)) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !IsAbsolute(found->pw_dir)) {
    return "";
  }
  return found->pw_dir;
}

}  // namespace

std::string UserDataHome() {
  const char* data_home = getenv("XDG_DATA_HOME");
  if (IsAbsolute(data_home)) return data_home;
  std::string home = HomeFolder();
  if (home.empty()) return "";
  if (home.size() > 1 && home.back() == '/') home.pop_back();
  return (home == "/" ? "" : home) + "/.local/share";
}

}  // namespace platform
