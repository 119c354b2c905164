#include "platform/apps/process_stat.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace platform
