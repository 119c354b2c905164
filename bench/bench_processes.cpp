// How long the application calls that walk every process take on a busy machine: 2,000
// sleeping processes of the calling user are started before the benchmarks and ended after.
// AppIsRunning and ProcessIsRunning look for an ID nobody has, so each call walks them all.
// The calls serve a desktop user's application: started as root, the benchmark becomes the
// user "nobody" first. A desktop's processes have mostly run for a while; the benchmarks start
// once the sleepers have settled, and the first call, while they are new, is timed apart.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/apps/process_manager.h"
#include "platform/apps/workspace.h"
#include "tests/as_nobody.h"
#include "utility/apps/app_utilities.h"

extern char** environ;

namespace {

constexpr int kSleepers = 2000;

// The baseline: reading /proc/PID/stat of every process, as ps does, and nothing else.
void BM_ReadEveryStat(benchmark::State& state) {
  for (auto _ : state) {
    int read = 0;
    ProcessSerialNumber psn{kNoProcess, kNoProcess};
    while (platform::GetNextProcess(&psn) == platform::noErr) ++read;
    benchmark::DoNotOptimize(read);
  }
}
BENCHMARK(BM_ReadEveryStat)->Unit(benchmark::kMillisecond);

void BM_ProcessIsRunning(benchmark::State& state) {
  for (auto _ : state) {
    ProcessSerialNumber psn{kNoProcess, kNoProcess};
    benchmark::DoNotOptimize(ProcessIsRunning("org.qrb.NobodyHasThis", &psn));
  }
}
BENCHMARK(BM_ProcessIsRunning)->Unit(benchmark::kMillisecond);

void BM_AppIsRunning(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(AppIsRunning("org.qrb.NobodyHasThis"));
}
BENCHMARK(BM_AppIsRunning)->Unit(benchmark::kMillisecond);

void BM_LaunchedApplications(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(platform::Workspace::launchedApplications());
}
BENCHMARK(BM_LaunchedApplications)->Unit(benchmark::kMillisecond);

// What a user would otherwise run: pgrep looking through the user's processes for a name.
void BM_Pgrep(benchmark::State& state) {
  std::string uid = std::to_string(getuid());
  const char* argv[] = {"pgrep", "-u", uid.c_str(), "-f", "org.qrb.NobodyHasThis", nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  for (auto _ : state) {
    pid_t pid;
    if (posix_spawn(&pid, "/usr/bin/pgrep", &actions, nullptr, const_cast<char**>(argv), environ) !=
        0) {
      state.SkipWithError("pgrep could not be started");
      break;
    }
    waitpid(pid, nullptr, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
}
BENCHMARK(BM_Pgrep)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!test_support::BecomeOrdinaryUser()) {
    perror("becoming an ordinary user");
    return 1;
  }
  std::vector<pid_t> sleepers;
  for (int i = 0; i < kSleepers; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // none outlives a benchmark that is interrupted
      if (getppid() == 1) _exit(0);
      for (;;) pause();
    }
    if (pid < 0) {
      perror("fork");
      break;
    }
    sleepers.push_back(pid);
  }
  using Clock = std::chrono::steady_clock;
  auto start = Clock::now();
  bool running = AppIsRunning("org.qrb.NobodyHasThis");
  std::chrono::duration<double, std::milli> first = Clock::now() - start;
  int processes = 0;
  ProcessSerialNumber psn{kNoProcess, kNoProcess};
  while (platform::GetNextProcess(&psn) == platform::noErr) ++processes;
  fprintf(stderr,
          "%zu sleeping processes started; %d processes of uid %d in all; the first "
          "AppIsRunning, while they were new: %.1f ms%s\n",
          sleepers.size(), processes, static_cast<int>(getuid()), first.count(),
          running ? " (found?)" : "");
  std::this_thread::sleep_for(std::chrono::seconds(6));  // past the settling time
  benchmark::RunSpecifiedBenchmarks();
  for (pid_t pid : sleepers) kill(pid, SIGKILL);
  for (pid_t pid : sleepers) waitpid(pid, nullptr, 0);
  benchmark::Shutdown();
  return sleepers.size() == kSleepers ? 0 : 1;
}
