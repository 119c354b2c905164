#include "platform/desktop/process_manager.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "platform/desktop/process_signal.h"

namespace platform {
namespace {

TEST(ProcessStat, ParsesStateAndStartTimeWhateverTheCommandHolds) {
  std::string tail = " 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 987654321 19 20\n";
  struct Case {
    std::string stat;
    std::optional<char> state;
    std::uint64_t start_time;
  } cases[] = {
      {"42 (sleep) S" + tail, 'S', 987654321},
      {"42 (a) (b) ) Z" + tail, 'Z', 987654321},  // a command may hold ") "
      {"42 (with space) R" + tail, 'R', 987654321},
      {"42 (short) S 1 2 3", std::nullopt, 0},
      {"42 no parenthesis S" + tail, std::nullopt, 0},
      {"42 (x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 -5 19\n", std::nullopt, 0},
  };
  for (const Case& c : cases) {
    std::optional<ProcessStat> stat = ParseProcessStat(c.stat);
    ASSERT_EQ(stat.has_value(), c.state.has_value()) << c.stat;
    if (!stat) continue;
    EXPECT_EQ(stat->state, *c.state);
    EXPECT_EQ(stat->start_time, c.start_time);
  }
}

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
  ProcessSerialNumber none{kNoProcess, kNoProcess};
  EXPECT_EQ(ProcessInformationCopyDictionary(&none, ~0u), std::nullopt);
  EXPECT_EQ(ProcessInformationCopyDictionary(nullptr, ~0u), std::nullopt);

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  waitpid(zombie, nullptr, 0);
  EXPECT_EQ(ProcessInformationCopyDictionary(&*child_psn, ~0u), std::nullopt);  // gone
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
