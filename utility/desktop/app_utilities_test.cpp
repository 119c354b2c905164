#include "utility/desktop/app_utilities.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/desktop/bundle.h"
#include "tests/desktop/desktop_testing.h"

namespace {

using desktop_testing::InfoPlist;
using desktop_testing::ScratchFolder;
using desktop_testing::WriteFile;

TEST(PreferenceKeys, HoldTheirTexts) {
  EXPECT_STREQ(appFirstLaunchKey, "AppFirstLaunch");
  EXPECT_STREQ(defaultFileCreatorKey, "DefaultFileCreator");
  EXPECT_STREQ(showDonationReminderKey, "ShowDonationReminder");
}

// The test program is a host whose bundle the build made beside it.
TEST(HostBundle, HoldsItsInfoPlistAndTheLibrarysCatalogs) {
  std::shared_ptr<const platform::Bundle> bundle = platform::MainBundle();
  EXPECT_EQ(bundle->infoString("CFBundleIdentifier"), "org.qrb.DesktopTests");
  EXPECT_FLOAT_EQ(AppVersion(), 1.0f);
  EXPECT_FALSE(
      desktop_testing::ReadFile(bundle->bundlePath() + "/locale/en/LC_MESSAGES/Localizable.mo")
          .empty());
}

TEST(AppVersion, ReadsTheMainBundlesVersionAsANumber) {
  struct Case {
    std::optional<std::string> entry;  // the marked-up value, or no entry at all
    float version;
  } cases[] = {
      {"<string>2.1.3</string>", 2.1f},
      {"<string>3</string>", 3.0f},
      {"<string></string>", 0.0f},
      {std::nullopt, 0.0f},
      {"<string>  4.5beta2</string>", 4.5f},
      {"<string>-1.5</string>", -1.5f},
      {"<string>1.</string>", 1.0f},
      {"<string>beta</string>", 0.0f},
      {"<string>.</string>", 0.0f},
      {"<string>2e1</string>", 20.0f},
      {"<integer>7</integer>", 7.0f},
      {"<real>1.25</real>", 1.25f},
      {"<true/>", 0.0f},
  };
  std::string before = platform::MainBundle()->bundlePath();
  for (const Case& c : cases) {
    ScratchFolder folder;
    ASSERT_TRUE(WriteFile(folder.Path("Info.plist"),
                          InfoPlist(c.entry ? "<key>CFBundleVersion</key>" + *c.entry + "\n"
                                            : "<key>CFBundleName</key><string>T</string>\n")));
    platform::SetMainBundlePath(folder.path());
    EXPECT_FLOAT_EQ(AppVersion(), c.version) << c.entry.value_or("(none)");
  }
  ScratchFolder empty;  // no Info.plist at all
  platform::SetMainBundlePath(empty.path());
  EXPECT_EQ(AppVersion(), 0.0f);
  platform::SetMainBundlePath(before);
}

TEST(UserFolders, AreTheDataHome) {
  const char* old = getenv("XDG_DATA_HOME");
  std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  setenv("XDG_DATA_HOME", "/srv/data-home", 1);
  EXPECT_EQ(UserLibraryPath(), "/srv/data-home");
  EXPECT_EQ(UserAppSupportPath(), "/srv/data-home");
  if (saved) {
    setenv("XDG_DATA_HOME", saved->c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

}  // namespace
