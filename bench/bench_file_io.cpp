// Reading and atomically replacing files of growing size: the cost per byte should stay flat.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files/io.h"

namespace {

std::string ScratchFile() {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_file_io." + std::to_string(getpid());
}

std::string Contents(std::size_t size) {
  std::string s(size, 'x');
  for (std::size_t i = 80; i < size; i += 81) s[i] = '\n';
  return s;
}

void BM_ReadTextFile(benchmark::State& state) {
  const std::string path = ScratchFile();
  const auto size = static_cast<std::size_t>(state.range(0));
  std::string err;
  if (!platform::ReplaceFileAtomically(path, Contents(size), &err))
    state.SkipWithError(err.c_str());
  for (auto _ : state) benchmark::DoNotOptimize(platform::ReadTextFile(path, &err));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  std::filesystem::remove(path);
}
BENCHMARK(BM_ReadTextFile)
    ->RangeMultiplier(16)
    ->Range(1 << 16, 256 << 20)
    ->Unit(benchmark::kMillisecond);

void BM_ReplaceFileAtomically(benchmark::State& state) {
  const std::string path = ScratchFile();
  const std::string contents = Contents(static_cast<std::size_t>(state.range(0)));
  std::string err;
  for (auto _ : state)
    if (!platform::ReplaceFileAtomically(path, contents, &err)) state.SkipWithError(err.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * contents.size()));
  std::filesystem::remove(path);
}
BENCHMARK(BM_ReplaceFileAtomically)
    ->RangeMultiplier(16)
    ->Range(1 << 16, 256 << 20)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
