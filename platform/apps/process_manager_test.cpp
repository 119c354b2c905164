#include "platform/apps/process_manager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>

#include "platform/apps/process_signal.h"
#include "tests/as_nobody.h"
#include "tests/test_support.h"

namespace platform {
namespace {

// The serial numbers of a whole walk.
std::vector<ProcessSerialNumber> Walk() {
  std::vector<ProcessSerialNumber> all;
  ProcessSerialNumber psn{kNoProcess, kNoProcess};
  while (GetNextProcess(&psn) == noErr) all.push_back(psn);
  EXPECT_EQ(GetNextProcess(&psn), procNotFound);  // stays at the end
  return all;
}

TEST(ProcessManager, WalksTheUsersLiveProcessesInAscendingOrder) {
  pid_t child = fork();
  if (child == 0) {
    pause();
    _exit(0);
  }
  pid_t zombie = fork();
  if (zombie == 0) _exit(0);
  ASSERT_GT(child, 0);
  ASSERT_GT(zombie, 0);
  siginfo_t info;
  ASSERT_EQ(waitid(P_PID, zombie, &info, WEXITED | WNOWAIT), 0);  // exited, not reaped

  std::vector<ProcessSerialNumber> all = Walk();
  std::optional<ProcessSerialNumber> own = SerialNumberOfPid(getpid());
  ASSERT_TRUE(own);
  EXPECT_EQ(own->lowLongOfPSN, static_cast<std::uint32_t>(getpid()));
  std::set<std::uint32_t> pids;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(all[i - 1].lowLongOfPSN, all[i].lowLongOfPSN);
    }
    pids.insert(all[i].lowLongOfPSN);
  }
  EXPECT_EQ(pids.count(getpid()), 1u);
  EXPECT_EQ(pids.count(child), 1u);
  EXPECT_EQ(pids.count(zombie), 0u);  // a zombie runs no more
  EXPECT_EQ(SerialNumberOfPid(zombie), std::nullopt);
  if (getuid() != 0) {
    EXPECT_EQ(pids.count(1), 0u);  // another user's
  }

  // Information follows the serial number, not the pid.
  std::optional<ProcessSerialNumber> child_psn = SerialNumberOfPid(child);
  ASSERT_TRUE(child_psn);
  std::optional<Dictionary> found =
      ProcessInformationCopyDictionary(&*child_psn, kProcessDictionaryIncludeAllInformationMask);
  ASSERT_TRUE(found);
  EXPECT_EQ(*found->Find(kProcessPidKey), Value(Integer::FromSigned(child)));
  ProcessSerialNumber later = *child_psn;
  later.highLongOfPSN += 1;  // the same pid, started at another time
  EXPECT_EQ(ProcessInformationCopyDictionary(&later, ~0u), std::nullopt);
  // Nor while a walk stands on the pid.
  ProcessSerialNumber psn{kNoProcess, kNoProcess};
  while (GetNextProcess(&psn) == noErr && psn != *child_psn) {
  }
  ASSERT_EQ(psn, *child_psn);
  EXPECT_EQ(ProcessInformationCopyDictionary(&later, ~0u), std::nullopt);
  EXPECT_TRUE(ProcessInformationCopyDictionary(&psn, ~0u));
  while (GetNextProcess(&psn) == noErr) {
  }
  ProcessSerialNumber none{kNoProcess, kNoProcess};
  EXPECT_EQ(ProcessInformationCopyDictionary(&none, ~0u), std::nullopt);
  EXPECT_EQ(ProcessInformationCopyDictionary(nullptr, ~0u), std::nullopt);

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  waitpid(zombie, nullptr, 0);
  EXPECT_EQ(ProcessInformationCopyDictionary(&*child_psn, ~0u), std::nullopt);  // gone
}

// The serial number a whole walk gives `pid`, if it lists it.
std::optional<ProcessSerialNumber> InWalk(pid_t pid) {
  std::optional<ProcessSerialNumber> found;
  for (const ProcessSerialNumber& psn : Walk()) {
    if (psn.lowLongOfPSN == static_cast<std::uint32_t>(pid)) found = psn;
  }
  return found;
}

// A child that waits for one command on `commands`: 'x' exits (and stays a zombie until it is
// reaped), 'd' makes the process one that may not be inspected; it then acknowledges on `acks`.
pid_t CommandedChild(int commands, int acks) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  char command = 0;
  if (read(commands, &command, 1) != 1 || command == 'x') _exit(0);
  if (command == 'd') prctl(PR_SET_DUMPABLE, 0);
  if (write(acks, "k", 1) != 1) _exit(1);
  for (;;) pause();
}

// Walks keep what they learned of a process; each walk must still see what became of it. Run as
// an ordinary user, whose walks keep what they read of a process at once here.
TEST(ProcessManager, WalksSeeWhatBecameOfAProcessTheyKnow) {
  struct Case {
    const char* what;
    char command;
    bool listed;
  } cases[] = {
      {"left alone", 'n', true},
      {"exited, not reaped", 'x', false},
      {"made uninspectable", 'd', true},
  };
  int status = test_support::AsOrdinaryUser([&] {
    SetProcessSettlingTime(std::chrono::milliseconds(0));
    int failures = 0;
    for (const Case& c : cases) {
      int commands[2], acks[2];
      if (pipe(commands) != 0 || pipe(acks) != 0) return 101;
      pid_t child = CommandedChild(commands[0], acks[1]);
      std::optional<ProcessSerialNumber> before = InWalk(child);
      bool acted = write(commands[1], &c.command, 1) == 1;
      siginfo_t info;
      char ack;
      acted = acted && (c.command == 'x' ? waitid(P_PID, child, &info, WEXITED | WNOWAIT) == 0
                                         : read(acks[0], &ack, 1) == 1);
      std::optional<ProcessSerialNumber> after = InWalk(child);
      if (!before || !acted || after.has_value() != c.listed || (after && *after != *before)) {
        fprintf(stderr, "%s: listed before %d, after %d (expected %d)\n", c.what,
                before.has_value(), after.has_value(), c.listed);
        ++failures;
      }
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
      for (int fd : {commands[0], commands[1], acks[0], acks[1]}) close(fd);
    }
    // Root's process 1: not listed, no serial number, not signalled (even with its own).
    std::optional<ProcessStat> init = ParseProcessStat(test_support::ReadFile("/proc/1/stat"));
    std::string err;
    if (InWalk(1) || SerialNumberOfPid(1) || !init ||
        SignalProcess({static_cast<std::uint32_t>(init->start_time), 1}, "", 0, &err) ||
        err.find("not the calling user's") == std::string::npos) {
      fprintf(stderr, "process 1, root's, is taken for the user's: %s\n", err.c_str());
      ++failures;
    }
    return failures;
  });
  EXPECT_EQ(status, 0);
}

// The application ID a walk finds for `pid`, asked while the walk stands on it.
std::optional<std::string> IdInWalk(pid_t pid) {
  std::optional<std::string> found;
  ProcessSerialNumber psn{kNoProcess, kNoProcess};
  while (GetNextProcess(&psn) == noErr) {
    if (psn.lowLongOfPSN != static_cast<std::uint32_t>(pid)) continue;
    std::optional<Dictionary> info = ProcessInformationCopyDictionary(&psn, ~0u);
    const Value* id = info ? info->Find(kProcessBundleIdentifierKey) : nullptr;
    if (id != nullptr && id->IsString()) found = id->string();
  }
  return found;
}

// A launcher writes the identity into the environment of the program a new process runs after
// fork: what a walk read of the process before that must not stay.
TEST(ProcessManager, WalksSeeTheProgramANewProcessRunsAfterFork) {
  int status = test_support::AsOrdinaryUser([] {
    int go[2], exec_done[2];
    if (pipe(go) != 0 || pipe2(exec_done, O_CLOEXEC) != 0) return 101;
    pid_t child = fork();
    if (child == 0) {
      char byte;
      if (read(go[0], &byte, 1) != 1) _exit(1);
      std::string pid = "GIO_LAUNCHED_DESKTOP_FILE_PID=" + std::to_string(getpid());
      const char* argv[] = {"sleep", "100", nullptr};
      const char* envp[] = {"GIO_LAUNCHED_DESKTOP_FILE=/x/applications/org.qrb.Probe.desktop",
                            pid.c_str(), nullptr};
      execve("/bin/sleep", const_cast<char**>(argv), const_cast<char**>(envp));
      _exit(1);
    }
    close(exec_done[1]);
    std::optional<std::string> before = IdInWalk(child);
    char byte;
    bool executed = write(go[1], "g", 1) == 1 && read(exec_done[0], &byte, 1) == 0;
    std::optional<std::string> after = IdInWalk(child);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    if (!executed || before || after != "org.qrb.Probe") {
      fprintf(stderr, "before exec %s, after %s\n", before.value_or("none").c_str(),
              after.value_or("none").c_str());
      return 1;
    }
    return 0;
  });
  EXPECT_EQ(status, 0);
}

// A sleeping process of an ordinary user, placed at pid `at` when that is not 0; returned once
// it has become that user.
pid_t SleeperAt(pid_t at) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  struct clone_args args = {};
  args.exit_signal = SIGCHLD;
  if (at != 0) {
    args.set_tid = reinterpret_cast<std::uintptr_t>(&at);
    args.set_tid_size = 1;
  }
  long pid = syscall(SYS_clone3, &args, sizeof args);
  if (pid == 0) {
    if (!test_support::BecomeOrdinaryUser() || write(ready[1], "k", 1) != 1) _exit(1);
    for (;;) pause();
  }
  const int error = errno;
  char byte;
  close(ready[1]);
  if (pid > 0 && read(ready[0], &byte, 1) != 1) pid = -1;  // it could not become the user
  close(ready[0]);
  errno = error;
  return static_cast<pid_t>(pid);
}

// A process that takes the pid of one an earlier walk knew is another process: the walk names
// it by its own start time.
TEST(ProcessManager, AProcessThatTakesAKnownPidIsANewOne) {
  if (geteuid() != 0) GTEST_SKIP() << "placing a process at a chosen pid needs root";
  test_support::ForkedChild first(SleeperAt(0));
  ASSERT_GT(first.pid(), 0);
  int go[2], done[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t pid = first.pid();
  test_support::ForkedChild walker(fork());
  if (walker.pid() == 0) {
    if (!test_support::BecomeOrdinaryUser()) _exit(100);
    SetProcessSettlingTime(std::chrono::milliseconds(0));
    std::optional<ProcessSerialNumber> before = InWalk(pid);
    char byte = 0;
    if (!before || write(done[1], "k", 1) != 1 || read(go[0], &byte, 1) != 1) _exit(101);
    if (byte != 'r') _exit(77);  // no second process could take the pid
    std::optional<ProcessSerialNumber> after = InWalk(pid);
    std::optional<ProcessSerialNumber> now = SerialNumberOfPid(pid);
    if (!after || !now) _exit(102);
    if (*after == *before) _exit(103);  // the earlier process's start time
    _exit(*after == *now ? 0 : 104);
  }
  char byte = 0;
  bool walked = read(done[0], &byte, 1) == 1;
  kill(pid, SIGKILL);
  first.Wait();
  usleep(30000);  // a later clock tick
  test_support::ForkedChild second(walked ? SleeperAt(pid) : -1);
  int reuse_errno = errno;
  bool reused = second.pid() == pid;
  ASSERT_EQ(write(go[1], reused ? "r" : "s", 1), 1);
  int status = walker.Wait();
  for (int fd : {go[0], go[1], done[0], done[1]}) close(fd);
  ASSERT_TRUE(walked) << "the first walk failed: " << status;
  if (!reused) GTEST_SKIP() << "the pid could not be taken again: " << strerror(reuse_errno);
  EXPECT_EQ(status, 0);
}

TEST(SignalProcess, ReachesOnlyTheProcessTheSerialNumberNames) {
  pid_t child = fork();
  if (child == 0) {
    pause();
    _exit(0);
  }
  ASSERT_GT(child, 0);
  std::optional<ProcessSerialNumber> psn = SerialNumberOfPid(child);
  ASSERT_TRUE(psn);
  std::string err;
  ProcessSerialNumber reused = *psn;
  reused.highLongOfPSN ^= 1;  // the pid as a later process would hold it
  EXPECT_FALSE(SignalProcess(reused, "", SIGTERM, &err));
  EXPECT_FALSE(SignalProcess(*psn, "org.qrb.NotThisOne", SIGTERM, &err));  // no such identity
  EXPECT_FALSE(SignalProcess({0, 0}, "", SIGTERM, &err));
  EXPECT_EQ(waitpid(child, nullptr, WNOHANG), 0) << "signalled: " << err;

  EXPECT_TRUE(SignalProcess(*psn, "", SIGTERM, &err)) << err;
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_FALSE(SignalProcess(*psn, "", SIGTERM, &err));  // gone, and reaped
}

}  // namespace
}  // namespace platform
