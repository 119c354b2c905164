// The text edit core alone, without reading or writing the file: many replacements on one long
// line against none, and one edit at the top of a large file.
#include <benchmark/benchmark.h>

#include <string>

#include "configtool/text_edit.h"

namespace {

const std::string& LongLine() {
  static const std::string line = "k = " + [] {
    std::string s;
    for (int i = 0; i < (8 << 20); ++i) s += "ab";
    return s;
  }() + "\n";
  return line;
}

// 8 Mi replacements of "ab" (the new value as long as the old one, or shorter, or longer)
// against a run that finds the line but nothing on it.
void BM_LongLine(benchmark::State& state, const char* old_value, const char* new_value) {
  std::string text;  // freed outside the timed part
  for (auto _ : state) {
    state.PauseTiming();
    text = LongLine();
    state.ResumeTiming();
    configtool::TextEdit edit = configtool::EditParameterLine(&text, "k", old_value, new_value);
    benchmark::DoNotOptimize(edit.count);
  }
  state.SetBytesProcessed(state.iterations() * LongLine().size());
}
BENCHMARK_CAPTURE(BM_LongLine, none, "zz", "cd")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LongLine, same_length, "ab", "cd")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LongLine, shorter, "ab", "c")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LongLine, longer, "ab", "cde")->Unit(benchmark::kMillisecond);

// One short edit on the first line of 64 MiB of text.
void BM_TopOfLargeFile(benchmark::State& state, const char* new_value) {
  static const std::string file = [] {
    std::string s = "first = old\n";
    while (s.size() < (64u << 20)) s += "filler = the quick brown fox jumps over the lazy dog\n";
    return s;
  }();
  std::string text;
  for (auto _ : state) {
    state.PauseTiming();
    text = file;
    state.ResumeTiming();
    configtool::TextEdit edit = configtool::EditParameterLine(&text, "first", "old", new_value);
    benchmark::DoNotOptimize(edit.count);
  }
}
// A few iterations only: each copies the 64 MiB outside the timed part.
BENCHMARK_CAPTURE(BM_TopOfLargeFile, same_length, "new")
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(20);
BENCHMARK_CAPTURE(BM_TopOfLargeFile, longer, "newer")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
