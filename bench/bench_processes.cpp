// How long the application calls that walk every process take on a busy machine: 2,000
// sleeping processes of the calling user are started before the benchmarks and ended after.
// AppIsRunning and ProcessIsRunning look for an ID nobody has, so each call walks them all.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/desktop/process_manager.h"
#include "platform/desktop/workspace.h"
#include "utility/desktop/app_utilities.h"

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
  std::vector<pid_t> sleepers;
  for (int i = 0; i < kSleepers; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      for (;;) pause();
    }
    if (pid < 0) {
      perror("fork");
      break;
    }
    sleepers.push_back(pid);
  }
  int processes = 0;
  ProcessSerialNumber psn{kNoProcess, kNoProcess};
  while (platform::GetNextProcess(&psn) == platform::noErr) ++processes;
  fprintf(stderr, "%zu sleeping processes started; %d processes of this user in all\n",
          sleepers.size(), processes);
  benchmark::RunSpecifiedBenchmarks();
  for (pid_t pid : sleepers) kill(pid, SIGKILL);
  for (pid_t pid : sleepers) waitpid(pid, nullptr, 0);
  benchmark::Shutdown();
  return sleepers.size() == kSleepers ? 0 : 1;
}
