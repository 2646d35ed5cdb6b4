#include "platform/timers.h"

#include <cstdint>
#include <limits>

namespace velmora::platform {

namespace {

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return b > kNever - a ? kNever : a + b;
}

}  // namespace

std::uintptr_t ManualClock::SetTimer(std::uintptr_t window, std::uintptr_t timerId,
                                     std::uint32_t intervalMs, TimerEntry* entry) {
  if (entry == nullptr) {
    return 0;
  }
  // A zero interval would make a timer due again at the instant it fires; the classic service
  // raises such intervals to its minimum, and 1 ms keeps every advance finite.
  const std::uint32_t interval = intervalMs == 0 ? 1 : intervalMs;
  Timer& timer = timers_[{window, timerId}];
  timer.due = SaturatingAdd(now_, interval);
  timer.order = nextOrder_++;
  timer.interval = interval;
  timer.entry = entry;
  // The classic call answers the timer number; a number 0 would read as failure.
  return timerId != 0 ? timerId : 1;
}

bool ManualClock::KillTimer(std::uintptr_t window, std::uintptr_t timerId) {
  return timers_.erase({window, timerId}) != 0;
}

void ManualClock::AdvanceTo(std::uint64_t time) {
  while (true) {
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      const Timer& t = it->second;
      // A due time saturated at the end of the clock means never: firing it could not move it.
      if (t.due > time || t.due == kNever) {
        continue;
      }
      if (next == timers_.end() || t.due < next->second.due ||
          (t.due == next->second.due && t.order < next->second.order)) {
        next = it;
      }
    }
    if (next == timers_.end()) {
      break;
    }
    const auto [window, timerId] = next->first;
    Timer& timer = next->second;
    if (timer.due > now_) {
      now_ = timer.due;
    }
    // Re-armed before the call, keeping its place among ties (the order it was set in), so the
    // callback sees itself set and may kill or replace itself; whatever it does, the timer is
    // due again no earlier than now + 1.
    timer.due = SaturatingAdd(now_, timer.interval);
    TimerEntry* entry = timer.entry;
    entry->Call(window, kWmTimer, timerId, static_cast<std::uint32_t>(now_));
  }
  if (time > now_) {
    now_ = time;
  }
}

bool ManualClock::IsSet(std::uintptr_t window, std::uintptr_t timerId) const {
  return timers_.count({window, timerId}) != 0;
}

std::uint32_t ManualClock::Interval(std::uintptr_t window, std::uintptr_t timerId) const {
  const auto it = timers_.find({window, timerId});
  return it == timers_.end() ? 0 : it->second.interval;
}

std::uint64_t ManualClock::NextDue() const {
  std::uint64_t earliest = kNever;
  for (const auto& [key, timer] : timers_) {
    if (timer.due < earliest) {
      earliest = timer.due;
    }
  }
  return earliest;
}

}  // namespace velmora::platform
