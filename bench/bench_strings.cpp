// Line splitting and MD5 over large texts: each should grow linearly with its input and stay
// within twice the cost of the plain tool (splitting at LF with memchr; the md5sum program run
// on a file of the same bytes). Prints those two ratios at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "utility/qrb_string.h"

extern char** environ;

namespace {

constexpr std::int64_t kMiB = 1 << 20;

// Text of `size` bytes: lines of 0 to 80 characters ending in LF, mostly ASCII with some "é"
// and "€" (whose first byte the line scan must look at twice). No zero byte.
const std::string& Text(std::int64_t size) {
  static std::map<std::int64_t, std::string> texts;
  std::string& text = texts[size];
  if (!text.empty()) return text;
  std::mt19937 random(42);
  text.reserve(size);
  while (static_cast<std::int64_t>(text.size()) < size) {
    int length = static_cast<int>(random() % 81);
    for (int i = 0; i < length; ++i) {
      unsigned r = random() % 64;
      text += r == 0 ? "\xC3\xA9" : r == 1 ? "\xE2\x82\xAC" : std::string(1, 'a' + r % 26);
    }
    text += '\n';
  }
  text.resize(size - 1);
  text += '\n';
  return text;
}

std::vector<std::string> SplitWithMemchr(const std::string& s) {
  std::vector<std::string> lines;
  const char* p = s.data();
  const char* end = p + s.size();
  while (const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p))) {
    lines.emplace_back(p, lf - p);
    p = lf + 1;
  }
  lines.emplace_back(p, end - p);
  return lines;
}

void BM_LineSplit(benchmark::State& state) {
  const std::string& text = Text(state.range(0));
  for (auto _ : state)
    benchmark::DoNotOptimize(QRBString::componentsSeparatedByLineSeparators(text));
  state.SetBytesProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LineSplit)
    ->Arg(kMiB)
    ->Arg(8 * kMiB)
    ->Arg(64 * kMiB)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_MemchrSplit(benchmark::State& state) {
  const std::string& text = Text(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(SplitWithMemchr(text));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MemchrSplit)->Arg(64 * kMiB)->Unit(benchmark::kMillisecond);

void BM_Md5Hash(benchmark::State& state) {
  const std::string& text = Text(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(QRBString::md5Hash(text));
  state.SetBytesProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Md5Hash)
    ->Arg(kMiB)
    ->Arg(8 * kMiB)
    ->Arg(64 * kMiB)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The whole md5sum process on a file holding the same 64 MiB (read from the page cache).
void BM_Md5sumProcess(benchmark::State& state) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_strings.XXXXXX";
  int fd = mkstemp(path.data());
  if (fd < 0) {
    state.SkipWithError("no temporary file");
    return;
  }
  const std::string& text = Text(state.range(0));
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>("md5sum"), path.data(), nullptr};
  for (auto _ : state) {
    pid_t pid;
    int status = 1;
    if (!written || posix_spawnp(&pid, "md5sum", &actions, nullptr, argv, environ) != 0 ||
        waitpid(pid, &status, 0) != pid || status != 0) {
      state.SkipWithError("md5sum failed");
      break;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  unlink(path.c_str());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Md5sumProcess)->Arg(64 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();

// The console report, keeping each benchmark's real time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
        seconds_[run.benchmark_name()] = run.real_accumulated_time / run.iterations;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatio(const char* label, const std::string& ours, const std::string& theirs) {
    if (!seconds_.count(ours) || !seconds_.count(theirs)) return;
    std::printf("%-42s %6.2f (%.1f ms / %.1f ms)\n", label, seconds_[ours] / seconds_[theirs],
                seconds_[ours] * 1e3, seconds_[theirs] * 1e3);
  }

 private:
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\nRatios on 64 MiB (must stay below 2):\n");
  reporter.PrintRatio("line split / memchr split", "BM_LineSplit/67108864",
                      "BM_MemchrSplit/67108864");
  reporter.PrintRatio("md5Hash in-process / md5sum process", "BM_Md5Hash/67108864",
                      "BM_Md5sumProcess/67108864/real_time");
  return 0;
}
