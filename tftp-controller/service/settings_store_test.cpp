#include "tftp-controller/service/settings_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/files/io.h"

namespace tftpc {
namespace {

class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/settings_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    folder_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string folder_;
};

std::string Plist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body +
         "</dict>\n</plist>\n";
}

TEST_F(SettingsStore, DamagedFilesGiveTheDefaultsKeyByKey) {
  struct Case {
    const char* name;
    std::string text;  // empty: no file at all
    Settings expected;
  } cases[] = {
      {"missing", "", Settings{}},
      {"not a property list", "not a plist {", Settings{}},
      {"cut short", Plist("<key>AppFirstLaunch</key><false/>").substr(0, 60), Settings{}},
      {"an array", "<plist version=\"1.0\"><array><false/></array></plist>", Settings{}},
      {"all three",
       Plist("<key>AppFirstLaunch</key><false/><key>StopAfterMinutes</key><integer>15</integer>"
             "<key>LastFolder</key><string>/srv/boot</string>"),
       Settings{false, 15, "/srv/boot"}},
      {"wrong kinds",
       Plist("<key>AppFirstLaunch</key><string>no</string><key>StopAfterMinutes</key>"
             "<string>15</string><key>LastFolder</key><integer>3</integer>"),
       Settings{}},
      {"out of range",
       Plist("<key>AppFirstLaunch</key><false/><key>StopAfterMinutes</key>"
             "<integer>-5</integer>"),
       Settings{false, 0, ""}},
      {"too large", Plist("<key>StopAfterMinutes</key><integer>4294967296</integer>"), Settings{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder_ + "/Settings.plist";
    std::filesystem::remove(path);
    if (!c.text.empty()) Write(path, c.text);
    EXPECT_EQ(LoadSettings(path), c.expected);
  }
}

// Saved into folders made on the way, read back equal, and a key of another version kept.
TEST_F(SettingsStore, SavedAtomicallyAndReadBack) {
  const std::string path = folder_ + "/data/tftp-controller/Settings.plist";
  const Settings settings{false, 30, "/home/ann/boot images"};
  std::string err;
  ASSERT_TRUE(SaveSettings(path, settings, &err)) << err;
  EXPECT_EQ(LoadSettings(path), settings);
  struct stat st;
  ASSERT_EQ(stat((folder_ + "/data/tftp-controller").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  Write(path, Plist("<key>WindowFrame</key><string>10 10 600 400</string>"
                    "<key>StopAfterMinutes</key><integer>5</integer>"));
  ASSERT_TRUE(SaveSettings(path, settings, &err)) << err;
  EXPECT_EQ(LoadSettings(path), settings);
  std::optional<std::string> text = platform::ReadWholeFile(path, &err);
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("<key>WindowFrame</key>"), std::string::npos) << *text;
  EXPECT_NE(text->find("<integer>30</integer>"), std::string::npos) << *text;

  // A name no property list can hold is refused, and the file stays as it was.
  EXPECT_FALSE(SaveSettings(path, Settings{true, 0, std::string("/a\x01", 3)}, &err));
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(LoadSettings(path), settings);
  // A folder that cannot be made: the reason names it.
  Write(folder_ + "/file", "x");
  EXPECT_FALSE(SaveSettings(folder_ + "/file/sub/Settings.plist", settings, &err));
  EXPECT_NE(err.find(folder_ + "/file/sub"), std::string::npos) << err;
}

TEST(SettingsPath, UnderTheUsersDataFolder) {
  setenv("XDG_DATA_HOME", "/home/ann/.local/share", 1);
  EXPECT_EQ(SettingsPath(), "/home/ann/.local/share/tftp-controller/Settings.plist");
}

}  // namespace
}  // namespace tftpc
