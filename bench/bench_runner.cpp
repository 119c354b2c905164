// The command runner against the bare system calls it is built on: capturing a large output
// (cat of a 256 MiB file) and starting a trivial program.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "utility/qrb_shell_command.h"

extern char** environ;

namespace {

constexpr std::size_t kFileSize = 256u << 20;

// A 256 MiB file made once for the run, removed at exit. Kept on the heap so that it outlives
// the exit handler that removes it.
const std::string& BigFile() {
  static const std::string* path = [] {
    char name[] = "/tmp/bench-runner-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) std::abort();
    std::string block(1u << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 26);
    for (std::size_t done = 0; done < kFileSize; done += block.size()) {
      if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) std::abort();
    }
    close(fd);
    return new std::string(name);
  }();
  static const bool removed_at_exit = std::atexit([] { unlink(path->c_str()); }) == 0;
  (void)removed_at_exit;
  return *path;
}

// posix_spawn of argv with its standard output on a pipe that is drained and thrown away.
void BareSpawnDrained(const char* const* argv) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) std::abort();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ) != 0)
    std::abort();
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  static char sink[1u << 16];
  while (read(ends[0], sink, sizeof sink) > 0) {
  }
  close(ends[0]);
  waitpid(pid, nullptr, 0);
}

void BM_BareCatIntoPipe(benchmark::State& state) {
  const char* argv[] = {"/bin/cat", BigFile().c_str(), nullptr};
  for (auto _ : state) BareSpawnDrained(argv);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_BareCatIntoPipe)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RunnerCapturesCat(benchmark::State& state) {
  std::unique_ptr<QRBShellCommand> runner = QRBShellCommand::Create();
  const std::string& file = BigFile();
  for (auto _ : state) {
    platform::Dictionary result = runner->launch("/bin/cat", {file});
    const std::string* output = result.StringFor(commandOutputKey);
    if (output == nullptr || output->size() != kFileSize) std::abort();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_RunnerCapturesCat)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BareSpawnTrue(benchmark::State& state) {
  const char* argv[] = {"/bin/true", nullptr};
  for (auto _ : state) {
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ))
      std::abort();
    waitpid(pid, nullptr, 0);
  }
}
BENCHMARK(BM_BareSpawnTrue)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_RunnerLaunchesTrue(benchmark::State& state) {
  std::unique_ptr<QRBShellCommand> runner = QRBShellCommand::Create();
  for (auto _ : state) benchmark::DoNotOptimize(runner->launch("/bin/true"));
}
BENCHMARK(BM_RunnerLaunchesTrue)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
