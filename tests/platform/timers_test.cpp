#include "platform/timers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmora::platform {
namespace {

constexpr std::uintptr_t kWindow = 0x1234;

// Logs "<name>@<time>" per call and then runs an optional action (which may kill or set timers).
class LoggingEntry final : public TimerEntry {
 public:
  LoggingEntry(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}

  std::uint32_t Call(std::uintptr_t window, std::uint32_t message, std::uintptr_t timerId,
                     std::uint32_t time) override {
    lastWindow = window;
    lastMessage = message;
    lastId = timerId;
    log_.push_back(name_ + "@" + std::to_string(time));
    if (action) {
      action();
    }
    return 0;
  }

  std::function<void()> action;
  std::uintptr_t lastWindow = 0;
  std::uint32_t lastMessage = 0;
  std::uintptr_t lastId = 0;

 private:
  std::string name_;
  std::vector<std::string>& log_;
};

using Log = std::vector<std::string>;

TEST(ManualClockTest, PassesTheFourTimerArguments) {
  ManualClock clock;
  Log log;
  LoggingEntry a("a", log);
  EXPECT_EQ(clock.SetTimer(kWindow, 77, 30, &a), 77u);
  clock.Advance(30);
  EXPECT_EQ(a.lastWindow, kWindow);
  EXPECT_EQ(a.lastMessage, kWmTimer);
  EXPECT_EQ(a.lastId, 77u);
  EXPECT_EQ(log, (Log{"a@30"}));
}

TEST(ManualClockTest, TwoPeriodicTimersFireInTimeOrder) {
  ManualClock clock;
  Log log;
  LoggingEntry a("a", log);
  LoggingEntry b("b", log);
  clock.SetTimer(kWindow, 1, 30, &a);
  clock.SetTimer(kWindow, 2, 20, &b);
  clock.AdvanceTo(65);
  EXPECT_EQ(log, (Log{"b@20", "a@30", "b@40", "a@60", "b@60"}));
  EXPECT_EQ(clock.Now(), 65u);
  EXPECT_EQ(clock.NextDue(), 80u);
}

TEST(ManualClockTest, TiesFireInTheOrderTheTimersWereSet) {
  ManualClock clock;
  Log log;
  LoggingEntry a("a", log);
  LoggingEntry b("b", log);
  LoggingEntry c("c", log);
  clock.SetTimer(kWindow, 3, 10, &c);
  clock.SetTimer(kWindow, 1, 10, &a);
  clock.SetTimer(kWindow + 1, 2, 10, &b);
  clock.AdvanceTo(20);
  EXPECT_EQ(log, (Log{"c@10", "a@10", "b@10", "c@20", "a@20", "b@20"}));
}

TEST(ManualClockTest, CallbackKillsAnotherTimerDueAtTheSameTime) {
  ManualClock clock;
  Log log;
  LoggingEntry a("a", log);
  LoggingEntry b("b", log);
  a.action = [&] { EXPECT_TRUE(clock.KillTimer(kWindow, 2)); };
  clock.SetTimer(kWindow, 1, 10, &a);
  clock.SetTimer(kWindow, 2, 10, &b);
  clock.AdvanceTo(10);
  EXPECT_EQ(log, (Log{"a@10"}));
  EXPECT_FALSE(clock.IsSet(kWindow, 2));
}

TEST(ManualClockTest, CallbackKillsItself) {
  ManualClock clock;
  Log log;
  LoggingEntry a("a", log);
  a.action = [&] { clock.KillTimer(kWindow, 1); };
  clock.SetTimer(kWindow, 1, 10, &a);
  clock.AdvanceTo(100);
  EXPECT_EQ(log, (Log{"a@10"}));
  EXPECT_EQ(clock.ActiveCount(), 0u);
  EXPECT_EQ(clock.Now(), 100u);
}

TEST(ManualClockTest, CallbackReSetsItselfWithANewInterval) {
  ManualClock clock;
  Log log;
  LoggingEntry a("a", log);
  // The scheduler's pattern: remove the timer, then set it again with the next frame's delay.
  std::vector<std::uint32_t> delays = {5, 25};
  a.action = [&] {
    clock.KillTimer(kWindow, 1);
    if (!delays.empty()) {
      clock.SetTimer(kWindow, 1, delays.front(), &a);
      delays.erase(delays.begin());
    }
  };
  clock.SetTimer(kWindow, 1, 10, &a);
  clock.AdvanceTo(100);
  EXPECT_EQ(log, (Log{"a@10", "a@15", "a@40"}));
}

TEST(ManualClockTest, ZeroIntervalSetInsideACallbackCannotLoopForever) {
  ManualClock clock;
  Log log;
  LoggingEntry a("a", log);
  a.action = [&] { clock.SetTimer(kWindow, 1, 0, &a); };
  clock.SetTimer(kWindow, 1, 0, &a);
  EXPECT_EQ(clock.Interval(kWindow, 1), 1u);
  clock.AdvanceTo(3);
  EXPECT_EQ(log, (Log{"a@1", "a@2", "a@3"}));
}

TEST(ManualClockTest, CallbackSetsAnotherTimerDueLater) {
  ManualClock clock;
  Log log;
  LoggingEntry a("a", log);
  LoggingEntry b("b", log);
  a.action = [&] {
    clock.KillTimer(kWindow, 1);
    clock.SetTimer(kWindow, 2, 20, &b);
  };
  clock.SetTimer(kWindow, 1, 10, &a);
  clock.AdvanceTo(50);
  EXPECT_EQ(log, (Log{"a@10", "b@30", "b@50"}));
}

TEST(ManualClockTest, SetReplacesIntervalEntryAndCountsAfresh) {
  ManualClock clock;
  Log log;
  LoggingEntry a("a", log);
  LoggingEntry b("b", log);
  clock.SetTimer(kWindow, 1, 10, &a);
  clock.Advance(8);
  clock.SetTimer(kWindow, 1, 30, &b);
  EXPECT_EQ(clock.ActiveCount(), 1u);
  EXPECT_EQ(clock.Interval(kWindow, 1), 30u);
  clock.AdvanceTo(70);
  EXPECT_EQ(log, (Log{"b@38", "b@68"}));
}

TEST(ManualClockTest, SameIdOnTwoWindowsAreTwoTimers) {
  ManualClock clock;
  Log log;
  LoggingEntry a("a", log);
  LoggingEntry b("b", log);
  clock.SetTimer(kWindow, 1, 10, &a);
  clock.SetTimer(kWindow + 1, 1, 15, &b);
  EXPECT_TRUE(clock.KillTimer(kWindow, 1));
  EXPECT_FALSE(clock.KillTimer(kWindow, 1));
  clock.AdvanceTo(15);
  EXPECT_EQ(log, (Log{"b@15"}));
}

TEST(ManualClockTest, RefusesANullEntryAndNeverMovesBackwards) {
  ManualClock clock;
  EXPECT_EQ(clock.SetTimer(kWindow, 1, 10, nullptr), 0u);
  EXPECT_FALSE(clock.IsSet(kWindow, 1));
  EXPECT_EQ(clock.Interval(kWindow, 1), 0u);
  EXPECT_EQ(clock.NextDue(), UINT64_MAX);
  clock.AdvanceTo(50);
  clock.AdvanceTo(20);
  EXPECT_EQ(clock.Now(), 50u);
}

TEST(ManualClockTest, TimeArgumentIsTheClockTruncatedTo32Bits) {
  ManualClock clock;
  Log log;
  LoggingEntry a("a", log);
  clock.AdvanceTo((std::uint64_t{1} << 32) - 5);
  clock.SetTimer(kWindow, 1, 10, &a);
  clock.Advance(10);
  EXPECT_EQ(log, (Log{"a@5"}));
}

}  // namespace
}  // namespace velmora::platform
