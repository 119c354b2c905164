#include "utility/apps/app_utilities.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTextDocument>
#include <QTimer>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "platform/apps/x_windows.h"
#include "platform/bundle/bundle.h"
#include "tests/desktop/desktop_testing.h"
#include "tests/desktop/offscreen_application.h"
#include "tests/test_support.h"

namespace {

using desktop_testing::InfoPlist;
using desktop_testing::WaitFor;
using desktop_testing::XServer;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::WriteFile;

// The applications of this test program have IDs of their own, so that test programs running at
// once never quit each other's.
std::string Id(const std::string& name) {
  return "org.qrb.t" + std::to_string(getpid()) + "." + name;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

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
      test_support::ReadFile(bundle->bundlePath() + "/locale/en/LC_MESSAGES/Localizable.mo")
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
    TempDir folder;
    ASSERT_TRUE(WriteFile(folder.File("Info.plist"),
                          InfoPlist(c.entry ? "<key>CFBundleVersion</key>" + *c.entry + "\n"
                                            : "<key>CFBundleName</key><string>T</string>\n")));
    platform::SetMainBundlePath(folder.path());
    EXPECT_FLOAT_EQ(AppVersion(), c.version) << c.entry.value_or("(none)");
  }
  TempDir empty;  // no Info.plist at all
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

namespace {

// The applications the tests launch: desktop entries of the probe in a data home of their own,
// written before GIO first reads the data folders. The probes GIO starts become our children
// (we are their subreaper), so that each test can end and reap what it started.
class Applications : public ::testing::Environment {
 public:
  void SetUp() override {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    folder_ = std::make_unique<TempDir>();
    setenv("XDG_DATA_HOME", folder_->File("data").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    Entry(Id("Probe"), "");
    Entry(Id("ProbeWindow"), " --window --modified");
    Entry(Id("ProbeSaved"), " --window");
    Entry(Id("Probe Spaced"), "");
    Entry("sub/Nested", "");
    WriteFile(
        folder_->File("data/applications/" + Id("Broken") + ".desktop"),
        "[Desktop Entry]\nType=Application\nName=Broken\nExec=" + folder_->File("none") + "\n");
  }
  void TearDown() override { folder_.reset(); }

  static std::string Record(const std::string& id) { return folder_->File("records/" + id); }

 private:
  static void Entry(const std::string& id, const std::string& options) {
    WriteFile(Record(id), "");
    WriteFile(folder_->File("data/applications/" + id + ".desktop"),
              "[Desktop Entry]\nType=Application\nName=Probe " + id + "\nExec=" +
                  DESKTOP_PROBE_PATH + " --record \"" + Record(id) + "\"" + options + "\n");
  }
  static std::unique_ptr<TempDir> folder_;
};
std::unique_ptr<TempDir> Applications::folder_;
::testing::Environment* const applications = ::testing::AddGlobalTestEnvironment(new Applications);

// The pid of the probe that last recorded its start for `id`, once it has.
std::optional<pid_t> StartedProbe(const std::string& id) {
  std::optional<pid_t> pid;
  WaitFor([&] {
    std::istringstream lines(ReadFile(Applications::Record(id)));
    std::string word;
    long number;
    while (lines >> word) {
      if (word == "started" && lines >> number) pid = static_cast<pid_t>(number);
    }
    return pid.has_value();
  });
  return pid;
}

// Launches the probe of `id` afresh: its pid once it has started.
std::optional<pid_t> LaunchProbe(const std::string& id) {
  WriteFile(Applications::Record(id), "");
  if (!LaunchApp(id, platform::NSWorkspaceLaunchDefault)) return std::nullopt;
  return StartedProbe(id);
}

bool Reaped(pid_t pid) {
  return WaitFor([pid] {
    int status;
    return waitpid(pid, &status, WNOHANG) == pid || (kill(pid, 0) != 0 && errno == ESRCH);
  });
}

// Ends a probe a test left running, and reaps it.
struct ProbeGuard {
  pid_t pid = 0;
  ~ProbeGuard() {
    if (pid > 0 && kill(pid, SIGKILL) == 0) Reaped(pid);
  }
};

TEST(LaunchApp, StartsTheEntrysProgramWhichRunsUnderItsIdUntilQuit) {
  std::optional<pid_t> pid = LaunchProbe(Id("Probe"));
  ASSERT_TRUE(pid);
  ProbeGuard guard{*pid};

  EXPECT_TRUE(AppIsRunning(Id("Probe")));
  ProcessSerialNumber psn{kNoProcess, kNoProcess};
  ASSERT_TRUE(ProcessIsRunning(Id("Probe"), &psn));
  EXPECT_EQ(psn.lowLongOfPSN, static_cast<std::uint32_t>(*pid));
  EXPECT_EQ(platform::SerialNumberOfPid(*pid), psn);
  EXPECT_TRUE(ProcessIsRunning(Id("Probe"), nullptr));

  // Case counts, and so does every character.
  for (const std::string& other : {Id("probe"), Upper(Id("Probe")), Id("Prob"), Id("Probe.")}) {
    ProcessSerialNumber untouched{7, 7};
    EXPECT_FALSE(AppIsRunning(other)) << other;
    EXPECT_FALSE(ProcessIsRunning(other, &untouched)) << other;
    EXPECT_EQ(untouched, (ProcessSerialNumber{7, 7}));
  }

  QuitApp(Id("Probe"), false);
  EXPECT_TRUE(Reaped(*pid));
  EXPECT_FALSE(AppIsRunning(Id("Probe")));
  EXPECT_FALSE(ProcessIsRunning(Id("Probe"), &psn));
}

TEST(LaunchApp, AFailedLaunchShowsTheAlertAndIsReportedAsAFailure) {
  desktop_testing::OffscreenApplication();
  struct Case {
    std::string id;
    std::string record;  // the entry that must not start, if any
  } cases[] = {
      {Id("NotInstalled"), ""},
      {Id("Broken"), ""},  // its program does not exist
      {Id("Probe Spaced"), Id("Probe Spaced")},
      {"sub/Nested", "sub/Nested"},
      {"../applications/" + Id("Probe"), Id("Probe")},
      {"", ""},
      {"<b>" + Id("Bold") + "</b>", ""},  // shown as it is, never as markup
  };
  for (const Case& c : cases) {
    if (!c.record.empty()) WriteFile(Applications::Record(c.record), "");
    std::vector<std::string> alerts;
    // Closes the alert once it shows, as the user would.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      if (auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        bool markup = alert->textFormat() == Qt::RichText ||
                      (alert->textFormat() == Qt::AutoText && Qt::mightBeRichText(alert->text()));
        alerts.push_back(alert->windowTitle().toStdString() + " / " + alert->text().toStdString() +
                         (markup ? " (as markup)" : ""));
        alert->button(QMessageBox::Ok)->click();
      }
    });
    closer.start(20);
    EXPECT_FALSE(LaunchApp(c.id, platform::NSWorkspaceLaunchDefault)) << c.id;
    EXPECT_EQ(alerts, std::vector<std::string>{"Can't launch application / " + c.id});
    if (!c.record.empty()) {
      usleep(200000);
      EXPECT_EQ(ReadFile(Applications::Record(c.record)), "") << c.id << " started something";
    }
  }
}

TEST(LaunchApp, WithoutAWindowSystemTheAlertGoesToStandardError) {
  if (QCoreApplication::instance() != nullptr) {
    GTEST_SKIP() << "an earlier test of this run made the program's application (ctest runs "
                    "each test on its own)";
  }
  testing::internal::CaptureStderr();
  bool launched = LaunchApp(Id("NotInstalled"), platform::NSWorkspaceLaunchDefault);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(launched);
  EXPECT_EQ(err, "Can't launch application: " + Id("NotInstalled") + "\n");
}

TEST(QuitApp, NamesThatAreNoApplicationIdsTouchNothing) {
  for (const std::string& id : {std::string(), Id("Probe Spaced"), std::string("a/b"),
                                std::string(".."), std::string("-x")}) {
    EXPECT_FALSE(AppIsRunning(id)) << id;
    EXPECT_FALSE(ProcessIsRunning(id, nullptr)) << id;
    QuitApp(id, false);  // returns at once, nothing signalled
  }
}

// A window of the probe on an X server of our own, without a window manager: the test sets the
// root's _NET_ACTIVE_WINDOW itself, as a window manager would.
class OnXServer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why_not;
    server_ = XServer::Start(&why_not);
    if (!server_) GTEST_SKIP() << why_not;
    setenv("DISPLAY", server_->display().c_str(), 1);
    unsetenv("QT_QPA_PLATFORM");  // the probes draw on the server (ours may stay offscreen)
    x_ = platform::XConnection::Open();
    ASSERT_NE(x_, nullptr);
  }
  void TearDown() override {
    x_.reset();
    unsetenv("DISPLAY");
  }

  // The probe's top-level window, once it is mapped.
  xcb_window_t WindowOf(pid_t pid) {
    std::vector<xcb_window_t> windows;
    WaitFor([&] {
      windows = platform::TopLevelWindowsOf(*x_, {pid});
      return !windows.empty();
    });
    return windows.empty() ? static_cast<xcb_window_t>(XCB_WINDOW_NONE) : windows.front();
  }

  void SetActive(xcb_window_t window) {
    xcb_atom_t active = x_->Atom("_NET_ACTIVE_WINDOW");
    xcb_change_property(x_->get(), XCB_PROP_MODE_REPLACE, x_->root(), active, XCB_ATOM_WINDOW, 32,
                        1, &window);
    free(xcb_get_input_focus_reply(x_->get(), xcb_get_input_focus(x_->get()), nullptr));
  }

  std::unique_ptr<XServer> server_;
  std::unique_ptr<platform::XConnection> x_;
};

TEST_F(OnXServer, TheActiveApplicationOwnsTheActiveWindow) {
  std::optional<pid_t> pid = LaunchProbe(Id("ProbeWindow"));
  ASSERT_TRUE(pid);
  ProbeGuard guard{*pid};
  xcb_window_t window = WindowOf(*pid);
  ASSERT_NE(window, XCB_WINDOW_NONE);

  EXPECT_FALSE(AppIsActive(Id("ProbeWindow")));  // nothing is active yet
  SetActive(window);
  EXPECT_TRUE(AppIsActive(Id("ProbeWindow")));
  EXPECT_FALSE(AppIsActive(Id("Probe")));
  EXPECT_FALSE(AppIsActive(Id("probewindow")));
  unsetenv("DISPLAY");
  EXPECT_FALSE(AppIsActive(Id("ProbeWindow")));  // no X server
}

TEST_F(OnXServer, QuittingSafelyAsksTheDocumentAndNotSafelyEndsItWithoutAsking) {
  std::optional<pid_t> pid = LaunchProbe(Id("ProbeWindow"));
  ASSERT_TRUE(pid);
  ProbeGuard guard{*pid};
  ASSERT_NE(WindowOf(*pid), XCB_WINDOW_NONE);
  std::string record = Applications::Record(Id("ProbeWindow"));

  QuitApp(Id("ProbeWindow"), true);
  EXPECT_TRUE(WaitFor([&] { return ReadFile(record).find("asked") != std::string::npos; }));
  EXPECT_TRUE(ProcessIsRunning(Id("ProbeWindow"), nullptr));  // it refused

  QuitApp(Id("ProbeWindow"), false);
  EXPECT_TRUE(Reaped(*pid));
  EXPECT_FALSE(AppIsRunning(Id("ProbeWindow")));
  std::string lines = ReadFile(record);
  EXPECT_EQ(lines.find("asked"), lines.rfind("asked")) << "asked twice: " << lines;
  EXPECT_EQ(lines.find("quit"), std::string::npos);
}

TEST_F(OnXServer, QuittingSafelyClosesASavedDocument) {
  std::optional<pid_t> pid = LaunchProbe(Id("ProbeSaved"));
  ASSERT_TRUE(pid);
  ProbeGuard guard{*pid};
  ASSERT_NE(WindowOf(*pid), XCB_WINDOW_NONE);
  QuitApp(Id("ProbeSaved"), true);
  EXPECT_TRUE(Reaped(*pid));
  EXPECT_NE(ReadFile(Applications::Record(Id("ProbeSaved"))).find("closed\nquit"),
            std::string::npos);
}

}  // namespace
