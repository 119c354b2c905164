// The steps around the script: which passwords are refused, what the template receives, and
// what a missing or malformed template gives. Scripts run locally here; remote_control_ssh_test
// runs the real templates against a real SSH server.
#include "utility/apps/remote_control.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/bundle/bundle.h"
#include "platform/bundle/shell_script.h"
#include "tests/desktop/desktop_testing.h"
#include "tests/test_support.h"

namespace {

using test_support::TempDir;
using test_support::WriteFile;

struct Outcome {
  bool ran;                            // the template ran
  std::optional<std::int64_t> number;  // nullopt: no error dictionary
  std::string brief;
};

// A bundle of the test's own whose templates report their four values on standard error, in
// the order they were filled, and leave a mark that they ran.
class RemoteControlTemplateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    Template("LaunchAppOnRemoteMac", 4);
    Template("QuitAppOnRemoteMac", 4);
    platform::SetMainBundlePath(folder_.path());
  }
  void TearDown() override { platform::SetMainBundlePath(""); }

  std::string Mark() const { return folder_.File("ran"); }

  // A template that takes `directives` values.
  void Template(const std::string& name, int directives, const std::string& exit = "exit 7") {
    std::string text = ": >'" + Mark() + "'\nprintf '%%s|' >&2";
    for (int i = 0; i < directives; ++i) text += " %@";
    ASSERT_TRUE(WriteFile(Resource(name), text + "\n" + exit + "\n"));
  }
  std::string Resource(const std::string& name) const {
    return folder_.File("Resources/" + name + ".sh");
  }

  Outcome Launch(const std::string& app, const std::optional<std::string>& machine,
                 const std::string& user, const std::string& password, bool quit = false) {
    unlink(Mark().c_str());
    std::optional<platform::Dictionary> error =
        quit ? QuitAppOnRemoteMac(app, machine, user, password)
             : LaunchAppOnRemoteMac(app, machine, user, password);
    Outcome outcome{access(Mark().c_str(), F_OK) == 0, std::nullopt, ""};
    if (error) {
      outcome.number = error->IntegerFor(platform::NSAppleScriptErrorNumber);
      if (const std::string* s = error->StringFor(platform::NSAppleScriptErrorBriefMessage)) {
        outcome.brief = *s;
      }
      EXPECT_NE(error->StringFor(platform::NSAppleScriptErrorMessage), nullptr);
    }
    return outcome;
  }

  TempDir folder_;
};

TEST_F(RemoteControlTemplateTest, PasswordsAndValuesBeforeTheScriptRuns) {
  struct Case {
    std::string password;
    bool runs;
    std::string seen;  // the password the script received
  };
  const Case cases[] = {
      {"it's $(x);", true, "it's $(x);"},
      {"user@realm", true, ""},                // "@" gives the empty password: keys only
      {"cafe\xCC\x81", true, "cafe\xCC\x81"},  // e + combining accent: nothing composed
      {":@", false, ""},                       // refusal comes first
      {"\xE2\x84\xAB", false, ""},             // the Angstrom sign decomposes
      {"bad\xFF", false, ""},                  // not UTF-8
  };
  for (const Case& c : cases) {
    Outcome o = Launch("org.example.App", "host", "me", c.password);
    EXPECT_EQ(o.ran, c.runs) << c.password;
    EXPECT_EQ(o.number, c.runs ? 7 : kInvalidRemotePassword) << c.password;
    if (c.runs) {
      EXPECT_EQ(o.brief, "org.example.App|host|me|" + c.seen + "|") << c.password;
    }
  }
  // No machine: nothing at all, whatever the password.
  Outcome o = Launch("org.example.App", std::nullopt, "me", "a:b", true);
  EXPECT_FALSE(o.ran);
  EXPECT_EQ(o.number, std::nullopt);
  // Values arrive whole, in order; the brief is the last line, after the user name's newline.
  o = Launch("a'b", "$(touch x)", "line\nnext", "p;q", true);
  EXPECT_EQ(o.brief, "next|p;q|");
  o = Launch(std::string("a\0b", 3), "host", "me", "pw");
  EXPECT_FALSE(o.ran);
  EXPECT_EQ(o.number, kRemoteValueUnusable);
}

TEST_F(RemoteControlTemplateTest, SuccessGivesNothingAndEachCallHasItsTemplate) {
  Template("QuitAppOnRemoteMac", 4, "exit 0");
  ASSERT_EQ(unlink(Resource("LaunchAppOnRemoteMac").c_str()), 0);
  Outcome quit = Launch("org.example.App", "host", "me", "pw", true);
  EXPECT_TRUE(quit.ran);
  EXPECT_EQ(quit.number, std::nullopt);
  Outcome launch = Launch("org.example.App", "host", "me", "pw");
  EXPECT_FALSE(launch.ran);
  EXPECT_EQ(launch.number, kRemoteScriptMissing);
  EXPECT_NE(launch.brief.find("LaunchAppOnRemoteMac.sh"), std::string::npos) << launch.brief;
}

TEST_F(RemoteControlTemplateTest, UnusableTemplatesRunNothing) {
  struct Case {
    std::string text;  // empty: no template at all
    int number;
  };
  const Case cases[] = {
      {"", kRemoteScriptMissing},
      {"\x80\x81 not UTF-8", kRemoteScriptMissing},
      {"%@ %@ %@", kRemoteScriptMalformed},
      {"%@ %@ %@ %@ %@", kRemoteScriptMalformed},
      {"%%@ %@ %@ %@", kRemoteScriptMalformed},
      {"no values at all", kRemoteScriptMalformed},
  };
  for (const Case& c : cases) {
    unlink(Resource("LaunchAppOnRemoteMac").c_str());
    if (!c.text.empty()) {
      ASSERT_TRUE(WriteFile(Resource("LaunchAppOnRemoteMac"), ": >'" + Mark() + "'\n" + c.text));
    }
    Outcome o = Launch("org.example.App", "host", "me", "pw");
    EXPECT_FALSE(o.ran) << c.text;
    EXPECT_EQ(o.number, c.number) << c.text;
    EXPECT_NE(o.brief.find("LaunchAppOnRemoteMac.sh"), std::string::npos) << o.brief;
  }
}

// The library's own catalog, through the test program's bundle: English in the C locale and in
// a language without a catalog too, never the bare key.
TEST(RemoteControlMessage, RefusedPasswordNamesTheMachine) {
  std::string old_locale = setlocale(LC_ALL, nullptr);
  struct Case {
    const char* locale;
    const char* language;  // LANGUAGE, or null for none
  } cases[] = {{"C.UTF-8", "en"}, {"C", nullptr}, {"POSIX", "en"}, {"C.UTF-8", "fr"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + ", LANGUAGE " + (c.language ? c.language : "unset"));
    ASSERT_NE(setlocale(LC_ALL, c.locale), nullptr);
    if (c.language) {
      setenv("LANGUAGE", c.language, 1);
    } else {
      unsetenv("LANGUAGE");
    }
    std::optional<platform::Dictionary> error =
        LaunchAppOnRemoteMac("org.example.App", "studio.example.org", "me", "caf\xC3\xA9");
    unsetenv("LANGUAGE");
    setlocale(LC_ALL, old_locale.c_str());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->IntegerFor(platform::NSAppleScriptErrorNumber), kInvalidRemotePassword);
    const std::string* brief = error->StringFor(platform::NSAppleScriptErrorBriefMessage);
    ASSERT_NE(brief, nullptr);
    EXPECT_EQ(brief->rfind("The password for remote control of studio.example.org ", 0), 0u)
        << *brief;
    EXPECT_NE(brief->find("(:)"), std::string::npos) << *brief;
    EXPECT_EQ(brief->find("%@"), std::string::npos) << *brief;
  }
}

}  // namespace
