#include "platform/bundle/user_folders.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

namespace platform {
namespace {

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(UserDataHome, FollowsXdgDataHomeThenHomeThenThePasswordDatabase) {
  struct passwd* entry = getpwuid(getuid());
  ASSERT_NE(entry, nullptr);
  std::string passwd_home = entry->pw_dir;
  if (passwd_home == "/") passwd_home.clear();
  struct Case {
    std::optional<std::string> xdg, home;
    std::string expected;
  } cases[] = {
      {"/data/home", "/home/u", "/data/home"},
      {"relative/data", "/home/u", "/home/u/.local/share"},
      {"", "/home/u/", "/home/u/.local/share"},
      {std::nullopt, "/home/u", "/home/u/.local/share"},
      {std::nullopt, "/", "/.local/share"},
      {std::nullopt, std::nullopt, passwd_home + "/.local/share"},
      {std::nullopt, "not/absolute", passwd_home + "/.local/share"},
  };
  for (const Case& c : cases) {
    ScopedEnv xdg("XDG_DATA_HOME", c.xdg);
    ScopedEnv home("HOME", c.home);
    EXPECT_EQ(UserDataHome(), c.expected)
        << c.xdg.value_or("(unset)") << ", " << c.home.value_or("(unset)");
  }
}

}  // namespace
}  // namespace platform
