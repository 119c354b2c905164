#include "platform/apps/process_identity.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/apps/process_manager.h"
#include "platform/apps/workspace.h"
#include "tests/as_nobody.h"
#include "tests/desktop/desktop_testing.h"
#include "tests/test_support.h"

namespace platform {
namespace {

using std::nullopt;
using std::optional;
using std::string;

TEST(DesktopEntryId, HoldsOnlyWhatAnEntryFileNameCan) {
  for (const char* id : {"org.example.Editor", "firefox-esr", "org.gnome.Terminal", "a", "gtk+x",
                         "under_score", "A1.B2"}) {
    EXPECT_TRUE(IsDesktopEntryId(id)) << id;
  }
  for (const char* id :
       {"", ".hidden", "..", "-x", "a/b", "a b", "a\nb", "a\\x2db", "a@b", "é.app", "a\tb", "a*"}) {
    EXPECT_FALSE(IsDesktopEntryId(id)) << id;
  }
  EXPECT_TRUE(IsDesktopEntryId(string(247, 'a')));
  EXPECT_FALSE(IsDesktopEntryId(string(248, 'a')));
  EXPECT_FALSE(IsDesktopEntryId(string("a\0b", 3)));
}

TEST(ApplicationId, FromTheUnitNamesOfDesktopApplications) {
  struct Case {
    const char* unit;
    optional<string> id;
  } cases[] = {
      {"app-org.example.Editor-1234.scope", "org.example.Editor"},
      {"app-gnome-org.gnome.Terminal-98765.scope", "org.gnome.Terminal"},
      {"app-glib-org.qrb.Probe-42.scope", "org.qrb.Probe"},
      {"app-flatpak-org.example.Viewer-7.scope", "org.example.Viewer"},
      {"app-org.example.Editor.service", "org.example.Editor"},
      {"app-org.example.Editor@a1b2c3.service", "org.example.Editor"},
      {"app-kde-org.kde.konsole@0.service", "org.kde.konsole"},
      {"app-gnome-firefox\\x2desr-3141.scope", "firefox-esr"},  // escaped dash
      {"app-firefox\\x2desr@x.service", "firefox-esr"},
      // Not applications, or not unambiguous.
      {"app-gnome-firefox-esr-3141.scope", nullopt},  // unescaped dash: which part is the ID?
      {"app-org.example.Editor.scope", nullopt},      // a scope needs its random part
      {"app-org.example.Editor-.scope", nullopt},
      {"app.slice", nullopt},
      {"session-2.scope", nullopt},
      {"user@1000.service", nullopt},
      {"dbus-:1.2-org.example.Editor@0.service", nullopt},
      {"application-org.x-1.scope", nullopt},
      {"app--1.scope", nullopt},
      {"app-gnome-org\\x2fevil-1.scope", nullopt},  // unescapes to a slash
      {"app-gnome-org.x\\x2-1.scope", nullopt},     // broken escape
      {"app-gnome-org.x\\x-1.scope", nullopt},
      {"", nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ApplicationIdFromUnitName(c.unit), c.id) << c.unit;
}

TEST(ApplicationId, FromTheCgroupFile) {
  struct Case {
    const char* file;
    optional<string> id;
  } cases[] = {
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
       "app-gnome-org.gnome.Terminal-4242.scope\n",
       "org.gnome.Terminal"},
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
       "app-org.example.Editor@c0ffee.service\n",
       "org.example.Editor"},
      // Hybrid hierarchies: the unified line wins; systemd's own when it is the root.
      {"12:pids:/x\n1:name=systemd:/user.slice/app-org.a.B-1.scope\n0::/\n", "org.a.B"},
      {"1:name=systemd:/user.slice/app-org.a.B-1.scope\n0::/user.slice/app-org.c.D-2.scope\n",
       "org.c.D"},
      {"0::/user.slice/user-1000.slice/session-2.scope\n", nullopt},
      {"0::/\n", nullopt},
      {"", nullopt},
      {"garbage", nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ApplicationIdFromCgroups(c.file), c.id) << c.file;
}

TEST(ApplicationId, FromTheEnvironmentOnlyOfTheLaunchedProcessItself) {
  auto environment = [](std::initializer_list<string> entries) {
    string block;
    for (const string& e : entries) block += e + '\0';
    return block;
  };
  const string file =
      "GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/org.example.Editor.desktop";
  struct Case {
    string environment;
    optional<string> id;
  } cases[] = {
      {environment({"HOME=/root", file, "GIO_LAUNCHED_DESKTOP_FILE_PID=4242"}),
       "org.example.Editor"},
      {environment({"GIO_LAUNCHED_DESKTOP_FILE_PID=4242", file}), "org.example.Editor"},
      {environment({file, "GIO_LAUNCHED_DESKTOP_FILE_PID=4241"}), nullopt},  // inherited
      {environment({file, "GIO_LAUNCHED_DESKTOP_FILE_PID=42420"}), nullopt},
      {environment({file, "GIO_LAUNCHED_DESKTOP_FILE_PID=4242x"}), nullopt},
      {environment({file, "GIO_LAUNCHED_DESKTOP_FILE_PID="}), nullopt},
      {environment({file}), nullopt},
      {environment({"GIO_LAUNCHED_DESKTOP_FILE_PID=4242"}), nullopt},
      {environment({"GIO_LAUNCHED_DESKTOP_FILE=/home/u/.local/share/applications/kde4/"
                    "okular.desktop",
                    "GIO_LAUNCHED_DESKTOP_FILE_PID=4242"}),
       "kde4-okular"},
      {environment({"GIO_LAUNCHED_DESKTOP_FILE=/opt/app/Editor.desktop",
                    "GIO_LAUNCHED_DESKTOP_FILE_PID=4242"}),
       "Editor"},
      {environment({"GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/Editor",
                    "GIO_LAUNCHED_DESKTOP_FILE_PID=4242"}),
       nullopt},  // not a desktop file
      {environment({"GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/bad name.desktop",
                    "GIO_LAUNCHED_DESKTOP_FILE_PID=4242"}),
       nullopt},
      {"", nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ApplicationIdFromEnvironment(c.environment, 4242), c.id) << c.environment;
  }
}

TEST(ApplicationId, FromFlatpakInfo) {
  EXPECT_EQ(ApplicationIdFromFlatpakInfo("[Application]\nname=org.example.Viewer\nruntime=x\n"),
            "org.example.Viewer");
  EXPECT_EQ(ApplicationIdFromFlatpakInfo("[Instance]\nname=org.example.Viewer\n"), nullopt);
  EXPECT_EQ(ApplicationIdFromFlatpakInfo("[Application]\nname=../evil\n"), nullopt);
  EXPECT_EQ(ApplicationIdFromFlatpakInfo("not a key file"), nullopt);
}

TEST(ApplicationId, OfRealProcesses) {
  // An ID of this test program's own: test programs running at once never see each other's.
  const string id = "org.qrb.t" + std::to_string(getpid()) + ".Launched";
  const string file = "/x/applications/" + id + ".desktop";
  test_support::ForkedChild launched(desktop_testing::StartLaunchedSleeper(file));
  test_support::ForkedChild second(desktop_testing::StartLaunchedSleeper(file));
  test_support::ForkedChild inherited(desktop_testing::StartLaunchedSleeper(file, 1));
  for (pid_t pid : {launched.pid(), second.pid(), inherited.pid()}) ASSERT_GT(pid, 0);
  auto id_of = [](pid_t pid) {
    OwnedFd dir = OpenProcessFolder(pid);
    return dir.valid() ? ProcessApplicationId(dir.get(), pid) : nullopt;
  };
  EXPECT_EQ(id_of(launched.pid()), id);
  EXPECT_EQ(id_of(inherited.pid()), nullopt);
  EXPECT_EQ(id_of(getpid()), nullopt);

  // The workspace's view: one application of two processes, listed once by its lowest pid.
  std::vector<ProcessSerialNumber> processes = Workspace::processesOfApplication(id);
  ASSERT_EQ(processes.size(), 2u);
  EXPECT_EQ(processes.front(), SerialNumberOfPid(std::min(launched.pid(), second.pid())));
  EXPECT_EQ(Workspace::processesOfApplication(id, 1),
            std::vector<ProcessSerialNumber>{processes.front()});
  int listed = 0;
  for (const Value& application : Workspace::launchedApplications()) {
    const Dictionary& entry = application.dictionary();
    if (const string* found = entry.StringFor(kApplicationBundleIdentifierKey);
        found && *found == id) {
      ++listed;
      EXPECT_EQ(entry.IntegerFor(kApplicationProcessIdentifierKey),
                std::min(launched.pid(), second.pid()));
    }
  }
  EXPECT_EQ(listed, 1);
}

// A process that a launcher placed in a control group named after its application, with
// nothing in its environment: the group alone names the application, to a lookup and a walk.
TEST(ApplicationId, OfAProcessPlacedOnlyInAnApplicationsGroup) {
  std::vector<string> hierarchies =
      CgroupHierarchies(test_support::ReadFile("/proc/self/mountinfo"));
  if (geteuid() != 0 || hierarchies.empty()) {
    GTEST_SKIP() << "making a control group needs root and a mounted hierarchy";
  }
  const string id = "org.qrb.t" + std::to_string(getpid()) + ".Grouped";
  const string top = hierarchies.front() + "/qrb-identity-test-" + std::to_string(getpid());
  const string group = top + "/app-gnome-" + id + "-7.scope";
  ASSERT_EQ(mkdir(top.c_str(), 0755), 0) << top << ": " << strerror(errno);
  std::optional<test_support::ForkedChild> sleeper;
  bool made = mkdir(group.c_str(), 0755) == 0;
  EXPECT_TRUE(made) << group << ": " << strerror(errno);
  if (made) {
    sleeper.emplace(fork());
    if (sleeper->pid() == 0) {
      char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("60"), nullptr};
      char* env[] = {nullptr};
      execve("/bin/sleep", argv, env);
      _exit(127);
    }
    pid_t pid = sleeper->pid();
    EXPECT_TRUE(test_support::WriteFile(group + "/cgroup.procs", std::to_string(pid)));
    EXPECT_EQ(ProcessApplicationId(OpenProcessFolder(pid).get(), pid), id);
    EXPECT_EQ(Workspace::processesOfApplication(id),
              std::vector<ProcessSerialNumber>{*SerialNumberOfPid(pid)});
    sleeper.reset();
  }
  desktop_testing::WaitFor([&] { return rmdir(group.c_str()) == 0 || errno == ENOENT; }, 5);
  EXPECT_EQ(rmdir(top.c_str()), 0) << strerror(errno);
}

}  // namespace
}  // namespace platform
