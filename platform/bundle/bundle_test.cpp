#include "platform/bundle/bundle.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "tests/desktop/desktop_testing.h"
#include "tests/test_support.h"

namespace platform {
namespace {

using desktop_testing::CompileCatalog;
using desktop_testing::InfoPlist;
using test_support::TempDir;
using test_support::WriteFile;

TEST(MainBundleFolder, InstalledProgramsUseTheirShareFolderWhenItHoldsInfoPlist) {
  TempDir root;
  ASSERT_TRUE(WriteFile(root.File("usr/share/app/Info.plist"), InfoPlist("")));
  ASSERT_TRUE(WriteFile(root.File("usr/sbin/app"), ""));
  ASSERT_TRUE(WriteFile(root.File("usr/bin/other"), ""));
  ASSERT_TRUE(WriteFile(root.File("build/examples/app/app"), ""));
  struct Case {
    std::string executable, folder;
  } cases[] = {
      {root.File("usr/bin/app"), root.File("usr/share/app")},
      {root.File("usr/sbin/app"), root.File("usr/share/app")},
      {root.File("usr/bin/other"), root.File("usr/bin")},  // no share/other/Info.plist
      {root.File("build/examples/app/app"), root.File("build/examples/app")},
      {root.File("usr/libexec/app"), root.File("usr/libexec")},
  };
  for (const Case& c : cases) EXPECT_EQ(MainBundleFolderFor(c.executable), c.folder);
}

TEST(Bundle, ReadsItsInfoDictionary) {
  TempDir folder;
  ASSERT_TRUE(WriteFile(folder.File("Info.plist"),
                        InfoPlist("<key>CFBundleIdentifier</key><string>org.example.App</string>\n"
                                  "<key>CFBundleVersion</key><string>2.1.3</string>\n"
                                  "<key>Count</key><integer>3</integer>\n")));
  Bundle bundle(folder.path());
  EXPECT_EQ(bundle.bundlePath(), folder.path());
  EXPECT_EQ(bundle.infoError(), "");
  EXPECT_EQ(bundle.infoDictionary().size(), 3u);
  EXPECT_EQ(bundle.infoString("CFBundleVersion"), "2.1.3");
  EXPECT_EQ(bundle.infoString("Count"), std::nullopt);  // not a string
  ASSERT_NE(bundle.objectForInfoDictionaryKey("Count"), nullptr);
  EXPECT_EQ(bundle.objectForInfoDictionaryKey("Missing"), nullptr);
}

TEST(Bundle, WithoutAUsableInfoPlistHasAnEmptyInfoDictionary) {
  struct Case {
    const char* name;
    std::optional<std::string> contents;
    bool error;
  } cases[] = {
      {"none", std::nullopt, false},
      {"not a property list", "this is no plist", true},
      {"root is an array", "<plist version=\"1.0\"><array><string>a</string></array></plist>",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir folder;
    if (c.contents) {
      ASSERT_TRUE(WriteFile(folder.File("Info.plist"), *c.contents));
    }
    Bundle bundle(folder.path());
    EXPECT_TRUE(bundle.infoDictionary().empty());
    EXPECT_EQ(!bundle.infoError().empty(), c.error) << bundle.infoError();
  }
}

TEST(Bundle, FindsResourcesInsideItsResourcesFolderOnly) {
  TempDir folder;
  ASSERT_TRUE(WriteFile(folder.File("Resources/Script.sh"), "echo"));
  ASSERT_TRUE(WriteFile(folder.File("Resources/README"), "text"));
  ASSERT_TRUE(WriteFile(folder.File("Secret.sh"), "echo"));
  ASSERT_TRUE(WriteFile(folder.File("Resources/Folder.sh/inner"), ""));
  std::string resources = folder.File("Resources/");
  struct Case {
    std::string name, type;
    std::optional<std::string> path;
  } cases[] = {
      {"Script", "sh", resources + "Script.sh"},
      {"Script", ".sh", resources + "Script.sh"},
      {"Script.sh", "", resources + "Script.sh"},
      {"README", "", resources + "README"},
      {"Script", "txt", std::nullopt},
      {"Missing", "sh", std::nullopt},
      {"../Secret", "sh", std::nullopt},
      {"Script", "sh/../../Secret.sh", std::nullopt},
      {"Folder", "sh", std::nullopt},  // a folder is no resource file
      {"", "", std::nullopt},
      {"..", "", std::nullopt},
  };
  Bundle bundle(folder.path());
  for (const Case& c : cases) {
    EXPECT_EQ(bundle.pathForResource(c.name, c.type), c.path) << c.name << " / " << c.type;
  }
}

class LocalizedStrings : public ::testing::Test {
 protected:
  void SetUp() override {
    old_locale_ = setlocale(LC_ALL, nullptr);
    const char* language = getenv("LANGUAGE");
    old_language_ = language ? std::optional<std::string>(language) : std::nullopt;
    // gettext looks past the "C" locale only for a real one; C.UTF-8 with LANGUAGE picks ours.
    ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
    setenv("LANGUAGE", "de", 1);
  }
  void TearDown() override {
    setlocale(LC_ALL, old_locale_.c_str());
    if (old_language_) {
      setenv("LANGUAGE", old_language_->c_str(), 1);
    } else {
      unsetenv("LANGUAGE");
    }
  }

 private:
  std::string old_locale_;
  std::optional<std::string> old_language_;
};

TEST_F(LocalizedStrings, ComeFromTheBundlesCatalogsOrFallBack) {
  TempDir folder;
  ASSERT_TRUE(CompileCatalog(folder.path(), "de", "Localizable",
                             "msgid \"Can't launch application\"\n"
                             "msgstr \"Programm kann nicht gestartet werden\"\n"
                             "msgid \"errInvalidRAEPwd\"\nmsgstr \"Ungültiges Passwort\"\n"));
  ASSERT_TRUE(CompileCatalog(folder.path(), "de", "Panels", "msgid \"OK\"\nmsgstr \"Gut\"\n"));
  Bundle bundle(folder.path());
  struct Case {
    std::string key, value, table, text;
  } cases[] = {
      {"Can't launch application", "", "", "Programm kann nicht gestartet werden"},
      {"errInvalidRAEPwd", "Invalid password", "Localizable", "Ungültiges Passwort"},
      {"missing", "Fallback", "", "Fallback"},
      {"missing", "", "", "missing"},
      {"OK", "", "", "OK"},  // another table
      {"OK", "", "Panels", "Gut"},
      {"OK", "", "NoSuchTable", "OK"},
      {"OK", "", "../Panels", "OK"},
      {"", "empty key", "", "empty key"},  // never the catalog's header
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bundle.localizedStringForKey(c.key, c.value, c.table), c.text)
        << c.key << " in " << c.table;
  }
}

TEST_F(LocalizedStrings, TwoBundlesKeepTheirOwnCatalogsOfOneDomain) {
  TempDir one, two;
  ASSERT_TRUE(CompileCatalog(one.path(), "de", "Localizable", "msgid \"k\"\nmsgstr \"eins\"\n"));
  ASSERT_TRUE(CompileCatalog(two.path(), "de", "Localizable", "msgid \"k\"\nmsgstr \"zwei\"\n"));
  Bundle first(one.path()), second(two.path());
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(first.localizedStringForKey("k", ""), "eins");
    EXPECT_EQ(second.localizedStringForKey("k", ""), "zwei");
  }
}

// The C locale translates nothing, and a language without a catalog finds none: then the
// development language's catalog speaks, as it does for a key the locale's catalog lacks.
TEST(LocalizedStringsOutsideTheCatalogsLanguages, ComeFromTheDevelopmentLanguage) {
  TempDir plain, swiss, french;
  ASSERT_TRUE(CompileCatalog(plain.path(), "en", "Localizable",
                             "msgid \"errInvalidRAEPwd\"\nmsgstr \"Invalid password\"\n"
                             "msgid \"only English\"\nmsgstr \"Only in English\"\n"));
  ASSERT_TRUE(CompileCatalog(plain.path(), "de", "Localizable",
                             "msgid \"errInvalidRAEPwd\"\nmsgstr \"Ungültiges Passwort\"\n"));
  ASSERT_TRUE(CompileCatalog(plain.path(), "en", "Panels", "msgid \"OK\"\nmsgstr \"Okay\"\n"));
  // A region whose catalogs are its language's (its own is unusable); a region without any.
  ASSERT_TRUE(WriteFile(swiss.File("Info.plist"),
                        InfoPlist("<key>CFBundleDevelopmentRegion</key><string>de-CH</string>")));
  ASSERT_TRUE(WriteFile(swiss.File("locale/de-CH/LC_MESSAGES/Localizable.mo"), "no catalog"));
  ASSERT_TRUE(CompileCatalog(swiss.path(), "de", "Localizable",
                             "msgid \"errInvalidRAEPwd\"\nmsgstr \"Ungültiges Passwort\"\n"));
  ASSERT_TRUE(CompileCatalog(swiss.path(), "en", "Localizable",
                             "msgid \"errInvalidRAEPwd\"\nmsgstr \"Invalid password\"\n"));
  ASSERT_TRUE(WriteFile(french.File("Info.plist"),
                        InfoPlist("<key>CFBundleDevelopmentRegion</key><string>fr</string>")));
  ASSERT_TRUE(CompileCatalog(french.path(), "en", "Localizable",
                             "msgid \"errInvalidRAEPwd\"\nmsgstr \"Invalid password\"\n"));
  Bundle en(plain.path()), de_ch(swiss.path()), fr(french.path());
  EXPECT_EQ(en.developmentRegion(), "en");
  EXPECT_EQ(de_ch.developmentRegion(), "de-CH");

  std::string old_locale = setlocale(LC_ALL, nullptr);
  const char* old_language = getenv("LANGUAGE");
  std::optional<std::string> saved_language =
      old_language ? std::optional<std::string>(old_language) : std::nullopt;
  struct Case {
    const char* locale;
    const char* language;  // LANGUAGE, or null for none
    const Bundle* bundle;
    std::string key, value, table, text;
  } cases[] = {
      {"C", nullptr, &en, "errInvalidRAEPwd", "", "", "Invalid password"},
      {"POSIX", nullptr, &en, "errInvalidRAEPwd", "", "", "Invalid password"},
      {"C", "de", &en, "errInvalidRAEPwd", "", "", "Invalid password"},        // C ignores LANGUAGE
      {"C.UTF-8", "fr", &en, "errInvalidRAEPwd", "", "", "Invalid password"},  // no catalog
      {"C.UTF-8", "de", &en, "errInvalidRAEPwd", "", "", "Ungültiges Passwort"},
      {"C.UTF-8", "de", &en, "only English", "", "", "Only in English"},
      {"C", nullptr, &en, "OK", "", "Panels", "Okay"},
      {"C", nullptr, &en, "OK", "", "", "OK"},  // another table
      {"C", nullptr, &en, "missing", "Fallback", "", "Fallback"},
      {"C", nullptr, &en, "missing", "", "", "missing"},
      {"C", nullptr, &de_ch, "errInvalidRAEPwd", "", "", "Ungültiges Passwort"},
      {"C.UTF-8", "en", &de_ch, "errInvalidRAEPwd", "", "", "Invalid password"},
      {"C", nullptr, &fr, "errInvalidRAEPwd", "", "", "errInvalidRAEPwd"},  // fr has none
  };
  for (const Case& c : cases) {
    ASSERT_NE(setlocale(LC_ALL, c.locale), nullptr) << c.locale;
    if (c.language) {
      setenv("LANGUAGE", c.language, 1);
    } else {
      unsetenv("LANGUAGE");
    }
    EXPECT_EQ(c.bundle->localizedStringForKey(c.key, c.value, c.table), c.text)
        << c.key << " in " << c.locale << ", LANGUAGE " << (c.language ? c.language : "unset")
        << ", development region " << c.bundle->developmentRegion();
  }
  setlocale(LC_ALL, old_locale.c_str());
  if (saved_language) {
    setenv("LANGUAGE", saved_language->c_str(), 1);
  } else {
    unsetenv("LANGUAGE");
  }
}

TEST(MainBundle, IsTheFolderAHostNames) {
  TempDir folder;
  ASSERT_TRUE(WriteFile(folder.File("Info.plist"),
                        InfoPlist("<key>CFBundleName</key><string>Host</string>\n")));
  std::shared_ptr<const Bundle> before = MainBundle();
  ASSERT_NE(before, nullptr);
  SetMainBundlePath(folder.path());
  EXPECT_EQ(MainBundle()->bundlePath(), folder.path());
  EXPECT_EQ(MainBundle()->infoString("CFBundleName"), "Host");
  EXPECT_EQ(MainBundle(), MainBundle());  // read once
  SetMainBundlePath(before->bundlePath());
}

}  // namespace
}  // namespace platform
