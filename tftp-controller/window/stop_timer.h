// When the service is to be stopped: a number of minutes counted from the moment it runs (or from
// the moment the minutes are set while it runs), and what is left of them.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace tftpc {

class StopTimer {
 public:
  using Clock = std::chrono::steady_clock;

  // 0 switches the timer off. While the service runs, the count starts again from `now`.
  void SetMinutes(unsigned minutes, bool running, Clock::time_point now);
  unsigned minutes() const { return minutes_; }

  // Called with the service's state as it is seen (once a second): a service that starts running
  // starts the count, one that stops ends it. True once, when the time is up; the count then
  // ends until the service runs again.
  bool Tick(bool running, Clock::time_point now);

  // What is left while counting (rounded up to whole seconds), nullopt when not counting.
  std::optional<std::chrono::seconds> Remaining(Clock::time_point now) const;

 private:
  unsigned minutes_ = 0;
  bool was_running_ = false;
  std::optional<Clock::time_point> deadline_;
};

// "4:05" for minutes and seconds, "1:02:03" from an hour on.
std::string CountdownText(std::chrono::seconds left);

}  // namespace tftpc
