// The real templates against a real OpenSSH server on this machine (see SshSandbox): a probe
// program is launched and quit through its desktop entry, and every failure comes back as an
// error dictionary with ssh's own message.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/apps/app_cgroups.h"
#include "platform/apps/process_identity.h"
#include "platform/bundle/shell_script.h"
#include "tests/desktop/desktop_testing.h"
#include "tests/desktop/ssh_sandbox.h"
#include "tests/test_support.h"
#include "utility/apps/remote_control.h"

namespace {

using desktop_testing::WaitFor;
using test_support::ReadFile;

constexpr const char* kProbe = "org.qrb.RemoteProbe";
constexpr const char* kHost = "127.0.0.1";

std::string Describe(const std::optional<platform::Dictionary>& error) {
  if (!error) return "no error";
  std::ostringstream text;
  text << error->IntegerFor(platform::NSAppleScriptErrorNumber).value_or(0) << ": ";
  if (const std::string* m = error->StringFor(platform::NSAppleScriptErrorMessage)) text << *m;
  return text.str();
}

std::string Brief(const std::optional<platform::Dictionary>& error) {
  const std::string* brief =
      error ? error->StringFor(platform::NSAppleScriptErrorBriefMessage) : nullptr;
  return brief ? *brief : "";
}

std::optional<std::int64_t> Number(const std::optional<platform::Dictionary>& error) {
  return error ? error->IntegerFor(platform::NSAppleScriptErrorNumber) : std::nullopt;
}

// A process that exists and is no zombie.
bool Alive(pid_t pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  std::size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

// A process's arguments; nothing when it has gone.
std::string Arguments(const std::filesystem::path& cmdline) {
  std::string args;
  int fd = open(cmdline.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return args;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) args.append(buffer, n);
  close(fd);
  return args;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t i = text.find(what); i != std::string::npos; i = text.find(what, i + 1)) ++n;
  return n;
}

// Sleeping processes of one user, each in a control group named as systemd names a unit, made
// in every hierarchy where systemd keeps its units (the unified one and, in older layouts, its
// own) below a folder of the test's, or in one of them alone. The processes and the groups go
// at destruction.
class UnitSleepers {
 public:
  explicit UnitSleepers(uid_t uid) : uid_(uid) {
    for (const std::string& hierarchy :
         platform::CgroupHierarchies(ReadFile("/proc/self/mountinfo"))) {
      std::string top = hierarchy + "/qrb-remote-test-" + std::to_string(getpid());
      if (mkdir(top.c_str(), 0755) != 0) {
        skip_reason_ = "cannot make the control group " + top + ": " + std::strerror(errno);
        return;
      }
      struct statfs fs;
      bool unified = statfs(top.c_str(), &fs) == 0 && fs.f_type == CGROUP2_SUPER_MAGIC;
      (unified ? unified_ : systemd_) = top;
      tops_.push_back(top);
    }
    if (tops_.empty()) skip_reason_ = "no control-group hierarchy of systemd's is mounted";
  }
  ~UnitSleepers() {
    for (pid_t pid : pids_) kill(pid, SIGKILL);
    for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
    for (const std::string& top : tops_) {
      for (const std::string& unit : units_) {
        std::string group = top + "/" + unit;
        WaitFor([&] { return rmdir(group.c_str()) == 0 || errno == ENOENT; }, 5);
      }
      rmdir(top.c_str());
    }
  }
  UnitSleepers(const UnitSleepers&) = delete;
  UnitSleepers& operator=(const UnitSleepers&) = delete;

  // Why no group can be made here; empty otherwise.
  const std::string& skip_reason() const { return skip_reason_; }

  // Where a sleeper goes: every hierarchy, or one alone.
  enum Place { kEvery, kUnifiedOnly, kSystemdOnly };
  // Whether the hierarchies are there to place a sleeper so.
  bool Has(Place place) const {
    return place == kEvery || !(place == kUnifiedOnly ? unified_ : systemd_).empty();
  }

  // What went wrong in the last Start that failed.
  const std::string& error() const { return error_; }

  // A sleeper of the user's in the group UNIT, once it runs as the user; nothing on failure.
  std::optional<pid_t> Start(const std::string& unit, Place place = kEvery) {
    std::vector<std::string> tops = tops_;
    if (place != kEvery) tops = {place == kUnifiedOnly ? unified_ : systemd_};
    units_.push_back(unit);
    for (const std::string& top : tops) {
      if (mkdir((top + "/" + unit).c_str(), 0755) != 0) return Failed("mkdir " + top + "/" + unit);
    }
    pid_t pid = fork();
    if (pid < 0) return Failed("fork");
    if (pid == 0) {
      if (setgroups(0, nullptr) == 0 && setgid(uid_) == 0 && setuid(uid_) == 0) {
        execl("/bin/sleep", "sleep", "120", nullptr);
      }
      _exit(127);
    }
    pids_.push_back(pid);
    for (const std::string& top : tops) {
      std::string procs = top + "/" + unit + "/cgroup.procs";
      if (!test_support::WriteFile(procs, std::to_string(pid))) {
        return Failed("writing " + procs);
      }
    }
    // /proc/PID is the user's once the process has left root's credentials behind by exec.
    std::string proc = "/proc/" + std::to_string(pid);
    struct stat st;
    if (!WaitFor([&] { return stat(proc.c_str(), &st) == 0 && st.st_uid == uid_; })) {
      return Failed(proc + " never became the user's");
    }
    return pid;
  }

 private:
  std::nullopt_t Failed(const std::string& what) {
    error_ = what + ": " + std::strerror(errno);
    return std::nullopt;
  }

  uid_t uid_;
  std::string skip_reason_, unified_, systemd_, error_;
  std::vector<std::string> tops_, units_;
  std::vector<pid_t> pids_;
};

class RemoteControlSshTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_ = std::make_unique<desktop_testing::SshSandbox>();
    if (!sandbox_->skip_reason().empty()) GTEST_SKIP() << sandbox_->skip_reason();
    ASSERT_EQ(sandbox_->error(), "");
    const std::string& home = sandbox_->home();
    ASSERT_TRUE(sandbox_->WriteUserFile(
        home + "/probe", "#!/bin/sh\necho $$ >\"$HOME/probe.pid\"\nexec sleep 120\n", true));
    ASSERT_TRUE(sandbox_->InstallDesktopEntry(kProbe, home + "/probe"));
    // Where the local side works, and where the script may keep its files.
    local_ = sandbox_->Path("local");
    tmp_ = sandbox_->Path("tmp");
    std::filesystem::create_directories(local_);
    std::filesystem::create_directories(tmp_);
    ASSERT_EQ(chdir(local_.c_str()), 0);
    const char* tmpdir = getenv("TMPDIR");
    if (tmpdir) old_tmpdir_ = tmpdir;
    setenv("TMPDIR", tmp_.c_str(), 1);
  }
  void TearDown() override {
    if (old_tmpdir_) {
      setenv("TMPDIR", old_tmpdir_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    sandbox_.reset();
  }

  std::optional<pid_t> ProbePid(int tries = 100) {
    std::string file = sandbox_->home() + "/probe.pid";
    for (int i = 0; i < tries; ++i) {
      std::string text = ReadFile(file);
      if (!text.empty() && text.back() == '\n') return std::stoi(text);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
  }

  std::unique_ptr<desktop_testing::SshSandbox> sandbox_;
  std::string local_, tmp_;
  std::optional<std::string> old_tmpdir_;
};

TEST_F(RemoteControlSshTest, LaunchesAndQuitsTheProbeAsTheUser) {
  const std::string& password = sandbox_->password();
  // The login's data home is relative, so no data home: the entry is found in the default one.
  ASSERT_TRUE(sandbox_->WriteUserFile(sandbox_->home() + "/.ssh/environment",
                                      "XDG_DATA_HOME=.local/elsewhere\n", false));
  // A process of the user's graphical session: the probe is to start in that session. It merely
  // inherited the variables of the application's launch (from a program the probe started).
  std::string inherited = "GIO_LAUNCHED_DESKTOP_FILE=" + sandbox_->home() +
                          "/.local/share/applications/" + kProbe + ".desktop";
  pid_t session = fork();
  ASSERT_GE(session, 0);
  if (session == 0) {
    char* env[] = {const_cast<char*>("DISPLAY=:97"), const_cast<char*>("XAUTHORITY=/xauth"),
                   inherited.data(), const_cast<char*>("GIO_LAUNCHED_DESKTOP_FILE_PID=1"), nullptr};
    if (setgroups(0, nullptr) == 0 && setgid(sandbox_->uid()) == 0 &&
        setuid(sandbox_->uid()) == 0) {
      execle("/bin/sleep", "sleep", "60", nullptr, env);
    }
    _exit(127);
  }
  // Every process's arguments are read over and over while the script runs.
  std::atomic<bool> done{false};
  std::atomic<int> scans{0}, sightings{0};
  std::thread watcher([&] {
    while (!done) {
      std::error_code ec;
      for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        if (Arguments(entry.path() / "cmdline").find(password) != std::string::npos) ++sightings;
      }
      ++scans;
    }
  });
  std::optional<platform::Dictionary> launched =
      LaunchAppOnRemoteMac(kProbe, kHost, sandbox_->user(), password);
  done = true;
  watcher.join();
  EXPECT_EQ(launched, std::nullopt) << Describe(launched);
  EXPECT_GT(scans, 1);
  EXPECT_EQ(sightings, 0);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_)) << "the script left files behind";

  std::optional<pid_t> probe = ProbePid();
  ASSERT_TRUE(probe) << sandbox_->ServerLog();
  EXPECT_TRUE(Alive(*probe));
  std::string status = ReadFile("/proc/" + std::to_string(*probe) + "/status");
  std::string uid = std::to_string(sandbox_->uid());
  EXPECT_NE(status.find("\nUid:\t" + uid + "\t" + uid), std::string::npos) << status;
  std::string environment = ReadFile("/proc/" + std::to_string(*probe) + "/environ");
  for (std::string variable : {"DISPLAY=:97", "XAUTHORITY=/xauth"}) {
    EXPECT_NE(environment.find('\0' + variable + '\0'), std::string::npos) << variable;
  }

  std::optional<platform::Dictionary> quit =
      QuitAppOnRemoteMac(kProbe, kHost, sandbox_->user(), password);
  EXPECT_EQ(quit, std::nullopt) << Describe(quit);
  EXPECT_FALSE(Alive(*probe));
  EXPECT_TRUE(Alive(session));  // only the application's processes were ended
  // Quitting what does not run is no error.
  quit = QuitAppOnRemoteMac(kProbe, kHost, sandbox_->user(), password);
  EXPECT_EQ(quit, std::nullopt) << Describe(quit);
  kill(session, SIGKILL);
  waitpid(session, nullptr, 0);
}

TEST_F(RemoteControlSshTest, QuitEndsTheApplicationsUnitsAndNoOthers) {
  UnitSleepers sleepers(sandbox_->uid());
  if (!sleepers.skip_reason().empty()) GTEST_SKIP() << sleepers.skip_reason();
  // "flatpak" is an application's ID here: the applications that flatpak launched are not it.
  const std::string app = "flatpak";
  struct Case {
    std::string unit;
    bool ended;
    UnitSleepers::Place place = UnitSleepers::kEvery;
  };
  const Case cases[] = {
      {"app-flatpak.service", true},
      {"app-flatpak@x.service", true},
      {"app-flatpak-77.scope", true},
      {"app-gnome-flatpak-77.scope", true},
      {"app-flatpak-org.gimp.GIMP-12345.scope", false},  // GIMP, launched by flatpak
      {"app-flatpak-7-8.scope", false},                  // the application "7"
      {"app-a-b-flatpak.service", false},                // too many parts to tell the ID
      {"app-a-b-flatpak@x.service", false},
      {"app-a-b-flatpak-77.scope", false},
      // Older layouts keep systemd's own hierarchy beside the unified one, and either may
      // come first in the process's cgroup file: either may hold the unit alone.
      {"app-flatpak-78.scope", true, UnitSleepers::kUnifiedOnly},
      {"app-flatpak-79.scope", true, UnitSleepers::kSystemdOnly},
  };
  std::vector<pid_t> pids;
  for (const Case& c : cases) {
    if (!sleepers.Has(c.place)) {
      pids.push_back(-1);
      continue;
    }
    std::optional<pid_t> pid = sleepers.Start(c.unit, c.place);
    ASSERT_TRUE(pid) << sleepers.error();
    // The process walk reads the unit as the script is to.
    std::optional<std::string> id =
        platform::ApplicationIdFromCgroups(ReadFile("/proc/" + std::to_string(*pid) + "/cgroup"));
    EXPECT_EQ(id == app, c.ended) << c.unit << " holds " << id.value_or("no application");
    pids.push_back(*pid);
  }

  std::optional<platform::Dictionary> quit =
      QuitAppOnRemoteMac(app, kHost, sandbox_->user(), sandbox_->password());
  EXPECT_EQ(quit, std::nullopt) << Describe(quit);
  for (std::size_t i = 0; i < pids.size(); ++i) {
    if (pids[i] < 0) continue;
    EXPECT_EQ(Alive(pids[i]), !cases[i].ended) << cases[i].unit;
  }
}

TEST_F(RemoteControlSshTest, FailuresCarrySshsMessageAndStartNothing) {
  struct Case {
    std::string what;
    std::string machine;
    std::string password;
    bool forget_host_key;
    std::string message;
  };
  const Case cases[] = {
      {"wrong password", kHost, "not the password", false, "Permission denied"},
      {"nothing listens", "127.0.0.2", sandbox_->password(), false, "Connection refused"},
      {"unknown host key", kHost, sandbox_->password(), true, "Host key verification failed."},
  };
  for (const Case& c : cases) {
    if (c.forget_host_key) {
      ASSERT_TRUE(test_support::WriteFile(sandbox_->known_hosts(), ""));
    }
    std::optional<platform::Dictionary> error =
        LaunchAppOnRemoteMac(kProbe, c.machine, sandbox_->user(), c.password);
    EXPECT_EQ(Number(error), 255) << c.what << ": " << Describe(error);
    EXPECT_NE(Brief(error).find(c.message), std::string::npos) << c.what << ": " << Brief(error);
    EXPECT_FALSE(ProbePid(1)) << c.what;
  }
  // The unknown key was not taken on.
  EXPECT_EQ(ReadFile(sandbox_->known_hosts()), "");
}

TEST_F(RemoteControlSshTest, RefusedPasswordsMakeNoConnection) {
  for (const std::string password : {"pass:word", "caf\xC3\xA9"}) {
    std::size_t before = Count(sandbox_->ServerLog(), "Connection from");
    std::optional<platform::Dictionary> error =
        LaunchAppOnRemoteMac(kProbe, kHost, sandbox_->user(), password);
    EXPECT_EQ(Number(error), kInvalidRemotePassword) << password;
    EXPECT_FALSE(Brief(error).empty());
    EXPECT_EQ(Count(sandbox_->ServerLog(), "Connection from"), before) << password;
  }
  // "@": the script runs with no password, so only keys are tried, and the caller has none.
  std::size_t before = Count(sandbox_->ServerLog(), "Connection from");
  std::optional<platform::Dictionary> error =
      LaunchAppOnRemoteMac(kProbe, kHost, sandbox_->user(), sandbox_->password() + "@");
  EXPECT_EQ(Number(error), 255) << Describe(error);
  EXPECT_NE(Brief(error).find("Permission denied (publickey"), std::string::npos) << Brief(error);
  EXPECT_EQ(Count(sandbox_->ServerLog(), "Connection from"), before + 1);
  EXPECT_FALSE(ProbePid(1));
}

TEST_F(RemoteControlSshTest, HostileValuesRunNothingOnEitherSide) {
  const std::string hostile[] = {
      "x'; touch pwned; '", "$(touch pwned)", "`touch pwned`",
      "a;touch pwned",      "a\ntouch pwned", "a' && touch pwned #",
  };
  const std::string& user = sandbox_->user();
  const std::string& password = sandbox_->password();
  for (const std::string& value : hostile) {
    std::optional<platform::Dictionary> error = LaunchAppOnRemoteMac(value, kHost, user, password);
    EXPECT_EQ(Number(error), 3) << Describe(error);  // no such application there
    error = QuitAppOnRemoteMac(value, kHost, user, password);
    EXPECT_EQ(error, std::nullopt) << Describe(error);  // nothing of that name runs
    error = LaunchAppOnRemoteMac(kProbe, kHost, value, password);
    EXPECT_EQ(Number(error), 255) << Describe(error);  // no such user
  }
  std::optional<platform::Dictionary> error =
      LaunchAppOnRemoteMac(kProbe, "-oProxyCommand=touch pwned", user, password);
  EXPECT_EQ(Number(error), 2) << Describe(error);
  EXPECT_FALSE(std::filesystem::exists(local_ + "/pwned"));
  EXPECT_FALSE(std::filesystem::exists(sandbox_->home() + "/pwned"));
  EXPECT_FALSE(ProbePid(1));
}

}  // namespace
