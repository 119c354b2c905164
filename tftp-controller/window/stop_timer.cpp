#include "tftp-controller/window/stop_timer.h"

#include <cstdio>

namespace tftpc {

void StopTimer::SetMinutes(unsigned minutes, bool running, Clock::time_point now) {
  minutes_ = minutes;
  was_running_ = running;
  deadline_.reset();
  if (minutes_ > 0 && running) deadline_ = now + std::chrono::minutes(minutes_);
}

bool StopTimer::Tick(bool running, Clock::time_point now) {
  if (!running) {
    deadline_.reset();
  } else if (!was_running_ && minutes_ > 0) {
    deadline_ = now + std::chrono::minutes(minutes_);
  }
  was_running_ = running;
  if (!deadline_ || now < *deadline_) return false;
  deadline_.reset();
  return true;
}

std::optional<std::chrono::seconds> StopTimer::Remaining(Clock::time_point now) const {
  if (!deadline_) return std::nullopt;
  if (now >= *deadline_) return std::chrono::seconds(0);
  return std::chrono::ceil<std::chrono::seconds>(*deadline_ - now);
}

std::string CountdownText(std::chrono::seconds left) {
  const long long total = left.count() < 0 ? 0 : left.count();
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  }
  return text;
}

}  // namespace tftpc
