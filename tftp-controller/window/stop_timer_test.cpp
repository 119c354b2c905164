#include "tftp-controller/window/stop_timer.h"

#include <gtest/gtest.h>

#include <vector>

namespace tftpc {
namespace {

using std::chrono::seconds;
using Clock = StopTimer::Clock;

// One step of a scenario: at second `at`, either the minutes are set or the service is seen.
struct Step {
  int at;
  enum { kSet, kTick } what;
  unsigned minutes;  // kSet
  bool running;      // the service's state at that moment
  bool fires;        // kTick: the time is up now
  long left;         // the seconds left afterwards; -1: not counting
};

struct Scenario {
  const char* name;
  std::vector<Step> steps;
};

TEST(StopTimerTest, CountsFromTheStartAndFiresOnce) {
  const Scenario scenarios[] = {
      {"off never counts",
       {{0, Step::kTick, 0, true, false, -1}, {3600, Step::kTick, 0, true, false, -1}}},
      {"set while stopped, counted from the start",
       {{0, Step::kSet, 2, false, false, -1},
        {10, Step::kTick, 0, false, false, -1},
        {20, Step::kTick, 0, true, false, 120},
        {139, Step::kTick, 0, true, false, 1},
        {140, Step::kTick, 0, true, true, -1},
        {141, Step::kTick, 0, true, false, -1}}},
      {"set while running, counted from then",
       {{0, Step::kTick, 0, true, false, -1},
        {50, Step::kSet, 1, true, false, 60},
        {109, Step::kTick, 0, true, false, 1},
        {110, Step::kTick, 0, true, true, -1}}},
      {"stopped by hand: the count ends, and starts anew with the next run",
       {{0, Step::kSet, 1, true, false, 60},
        {30, Step::kTick, 0, false, false, -1},
        {100, Step::kTick, 0, true, false, 60},
        {159, Step::kTick, 0, true, false, 1}}},
      {"set to off while counting",
       {{0, Step::kSet, 5, true, false, 300},
        {10, Step::kSet, 0, true, false, -1},
        {400, Step::kTick, 0, true, false, -1}}},
      {"fired, stopped, started again: counts again",
       {{0, Step::kSet, 1, true, false, 60},
        {60, Step::kTick, 0, true, true, -1},
        {61, Step::kTick, 0, false, false, -1},
        {70, Step::kTick, 0, true, false, 60}}},
      {"a tick seen late still fires",
       {{0, Step::kSet, 1, true, false, 60}, {500, Step::kTick, 0, true, true, -1}}},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    StopTimer timer;
    const Clock::time_point start{};
    for (const Step& step : scenario.steps) {
      SCOPED_TRACE(step.at);
      const Clock::time_point now = start + seconds(step.at);
      if (step.what == Step::kSet) {
        timer.SetMinutes(step.minutes, step.running, now);
        EXPECT_EQ(timer.minutes(), step.minutes);
      } else {
        EXPECT_EQ(timer.Tick(step.running, now), step.fires);
      }
      const auto left = timer.Remaining(now);
      if (step.left < 0) {
        EXPECT_FALSE(left.has_value());
      } else {
        ASSERT_TRUE(left.has_value());
        EXPECT_EQ(left->count(), step.left);
      }
    }
  }
}

TEST(StopTimerTest, PartSecondsRoundUpAndTextReadsAsAClock) {
  StopTimer timer;
  const Clock::time_point start{};
  timer.SetMinutes(1, true, start);
  EXPECT_EQ(timer.Remaining(start + std::chrono::milliseconds(59001))->count(), 1);
  EXPECT_EQ(timer.Remaining(start + std::chrono::milliseconds(500))->count(), 60);

  const struct {
    long seconds;
    const char* text;
  } texts[] = {{0, "0:00"},       {5, "0:05"},         {65, "1:05"}, {3599, "59:59"},
               {3600, "1:00:00"}, {86399, "23:59:59"}, {-3, "0:00"}};
  for (const auto& text : texts) EXPECT_EQ(CountdownText(seconds(text.seconds)), text.text);
}

}  // namespace
}  // namespace tftpc
