#pragma once
// Timer service: timers identified by (window, id) that call an entry with the four timer
// arguments (window, message, id, time), periodically until killed, as the classic platform
// timers do. Setting a timer that exists replaces it (new interval and entry, counted afresh).
//
// ManualClock is the service tests and the headless tool use: time moves only when the caller
// advances it, and advancing fires every due timer in time order, one at a time (ties in the
// order the timers were set), each call free to kill and set timers.

#include <cstdint>
#include <map>
#include <utility>

namespace velmora::platform {

inline constexpr std::uint32_t kWmTimer = 0x0113;

// The address a timer calls. The control's callback binding gives each instance one.
class TimerEntry {
 public:
  virtual std::uint32_t Call(std::uintptr_t window, std::uint32_t message, std::uintptr_t timerId,
                             std::uint32_t time) = 0;

 protected:
  ~TimerEntry() = default;
};

class TimerService {
 public:
  virtual ~TimerService() = default;
  // Returns non-zero on success. An interval of 0 counts as 1 ms. A null entry fails.
  virtual std::uintptr_t SetTimer(std::uintptr_t window, std::uintptr_t timerId,
                                  std::uint32_t intervalMs, TimerEntry* entry) = 0;
  // Returns false when no such timer exists.
  virtual bool KillTimer(std::uintptr_t window, std::uintptr_t timerId) = 0;
};

class ManualClock final : public TimerService {
 public:
  std::uintptr_t SetTimer(std::uintptr_t window, std::uintptr_t timerId, std::uint32_t intervalMs,
                          TimerEntry* entry) override;
  bool KillTimer(std::uintptr_t window, std::uintptr_t timerId) override;

  std::uint64_t Now() const { return now_; }
  // Moves time to `time` (never backwards), firing due timers on the way; each fires at its due
  // time with Now() equal to that time.
  void AdvanceTo(std::uint64_t time);
  void Advance(std::uint64_t ms) { AdvanceTo(now_ + ms); }

  bool IsSet(std::uintptr_t window, std::uintptr_t timerId) const;
  // Interval of a set timer, 0 when none.
  std::uint32_t Interval(std::uintptr_t window, std::uintptr_t timerId) const;
  std::size_t ActiveCount() const { return timers_.size(); }
  // Due time of the earliest timer, or UINT64_MAX when none is set.
  std::uint64_t NextDue() const;

 private:
  struct Timer {
    std::uint64_t due = 0;
    std::uint64_t order = 0;
    std::uint32_t interval = 0;
    TimerEntry* entry = nullptr;
  };
  std::map<std::pair<std::uintptr_t, std::uintptr_t>, Timer> timers_;
  std::uint64_t now_ = 0;
  std::uint64_t nextOrder_ = 0;
};

}  // namespace velmora::platform
