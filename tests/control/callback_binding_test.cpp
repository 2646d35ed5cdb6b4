#include "ucAniGIF/control/callback_binding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/timers.h"

namespace velmora {
namespace {

// Records which procedure was reached, on which owner, with which arguments.
class FakeControl final : public TimerProcedures {
 public:
  explicit FakeControl(std::string controlName) : name(std::move(controlName)) {}

  void OnDeferredDecodeTick(std::uintptr_t window, std::uint32_t message, std::uintptr_t timerId,
                            std::uint32_t time, std::int32_t& result) override {
    calls.push_back(name + ".deferred " + Args(window, message, timerId, time));
    result = resultToSet;
  }
  void OnAnimationTick(std::uintptr_t window, std::uint32_t message, std::uintptr_t timerId,
                       std::uint32_t time, std::int32_t& result) override {
    calls.push_back(name + ".animation " + Args(window, message, timerId, time));
    result = resultToSet;
  }

  std::string name;
  std::vector<std::string> calls;
  std::int32_t resultToSet = 0;

 private:
  static std::string Args(std::uintptr_t w, std::uint32_t m, std::uintptr_t id, std::uint32_t t) {
    return std::to_string(w) + "," + std::to_string(m) + "," + std::to_string(id) + "," +
           std::to_string(t);
  }
};

struct Message {
  std::string text;
  std::string title;
  int icon;
};

// Captures the binding's message boxes for the test's lifetime.
class CallbackBindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetMessageBoxHandler([this](std::string_view text, std::string_view title,
                                            int icon) {
      messages.push_back({std::string(text), std::string(title), icon});
    });
  }
  void TearDown() override { SetMessageBoxHandler(std::move(previous_)); }

  static platform::TimerEntry* AsEntry(std::uintptr_t address) {
    return reinterpret_cast<platform::TimerEntry*>(address);
  }

  std::vector<Message> messages;

 private:
  MessageBoxHandler previous_;
};

TEST_F(CallbackBindingTest, TwoInstancesGetTwoEntriesThatReachOnlyTheirOwner) {
  FakeControl first("first");
  FakeControl second("second");
  CallbackBinding firstBinding(&first);
  CallbackBinding secondBinding(&second);
  const std::uintptr_t a = firstBinding.cb_Callback(1, 4, 0, nullptr, true);
  const std::uintptr_t b = secondBinding.cb_Callback(1, 4, 0, nullptr, true);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(a, reinterpret_cast<std::uintptr_t>(firstBinding.Entry()));

  AsEntry(a)->Call(10, platform::kWmTimer, 11, 12);
  AsEntry(b)->Call(20, platform::kWmTimer, 21, 22);
  EXPECT_EQ(first.calls, (std::vector<std::string>{"first.animation 10,275,11,12"}));
  EXPECT_EQ(second.calls, (std::vector<std::string>{"second.animation 20,275,21,22"}));
  EXPECT_TRUE(messages.empty());
}

TEST_F(CallbackBindingTest, RebindingTheOtherOrdinalKeepsTheAddress) {
  FakeControl control("c");
  CallbackBinding binding(&control);
  const std::uintptr_t deferred = binding.cb_Callback(2, 4, 0, nullptr, true);
  ASSERT_NE(deferred, 0u);
  AsEntry(deferred)->Call(1, platform::kWmTimer, 2, 3);
  const std::uintptr_t animation = binding.cb_Callback(1, 4, 0, nullptr, true);
  EXPECT_EQ(animation, deferred);
  AsEntry(animation)->Call(1, platform::kWmTimer, 2, 4);
  EXPECT_EQ(control.calls,
            (std::vector<std::string>{"c.deferred 1,275,2,3", "c.animation 1,275,2,4"}));
}

TEST_F(CallbackBindingTest, ReturnsTheProcedureResult) {
  FakeControl control("c");
  control.resultToSet = -7;
  CallbackBinding binding(&control);
  const std::uintptr_t entry = binding.cb_Callback(1, 4, 0, nullptr, false);
  EXPECT_EQ(AsEntry(entry)->Call(0, platform::kWmTimer, 0, 0), static_cast<std::uint32_t>(-7));
}

TEST_F(CallbackBindingTest, AnExplicitOwnerWinsOverTheInstance) {
  FakeControl instance("instance");
  FakeControl other("other");
  CallbackBinding binding(&instance);
  const std::uintptr_t entry = binding.cb_Callback(2, 4, 0, &other, true);
  AsEntry(entry)->Call(5, platform::kWmTimer, 6, 7);
  EXPECT_TRUE(instance.calls.empty());
  EXPECT_EQ(other.calls, (std::vector<std::string>{"other.deferred 5,275,6,7"}));
  EXPECT_EQ(binding.Owner(), &other);
  EXPECT_EQ(binding.ParamCount(), 4);
}

TEST_F(CallbackBindingTest, FailuresShowTheirMessageAndReturnZero) {
  struct Case {
    std::int32_t ordinal;
    std::int32_t nThunkNo;
    const char* text;
  };
  const Case cases[] = {
      {1, 1, "nThunkNo doesn't exist."},
      {2, -1, "nThunkNo doesn't exist."},
      {3, 1, "nThunkNo doesn't exist."},  // the thunk number is checked first
      {3, 0, "Callback address not found."},
      {0, 0, "Callback address not found."},
      {-1, 0, "Callback address not found."},
  };
  FakeControl control("c");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + std::string(" ordinal ") + std::to_string(c.ordinal));
    messages.clear();
    CallbackBinding binding(&control);
    EXPECT_EQ(binding.cb_Callback(c.ordinal, 4, c.nThunkNo, nullptr, true), 0u);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, c.text);
    EXPECT_EQ(messages[0].title, "Error in ucAniGIF.cb_Callback");
    EXPECT_EQ(messages[0].icon, kMessageBoxIconCritical);
    EXPECT_FALSE(binding.Bound());
    EXPECT_EQ(binding.Entry(), nullptr);
  }
}

TEST_F(CallbackBindingTest, AFailedRebindLeavesTheThunkAsItWas) {
  FakeControl control("c");
  CallbackBinding binding(&control);
  const std::uintptr_t entry = binding.cb_Callback(2, 4, 0, nullptr, true);
  EXPECT_EQ(binding.cb_Callback(3, 4, 0, nullptr, true), 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(binding.Entry()), entry);
  AsEntry(entry)->Call(0, platform::kWmTimer, 0, 0);
  EXPECT_EQ(control.calls, (std::vector<std::string>{"c.deferred 0,275,0,0"}));
}

TEST_F(CallbackBindingTest, NoOwnerAtAllFindsNoProcedure) {
  CallbackBinding binding(nullptr, "Decoration");
  EXPECT_EQ(binding.cb_Callback(1, 4, 0, nullptr, true), 0u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Callback address not found.");
  EXPECT_EQ(messages[0].title, "Error in Decoration.cb_Callback");
}

TEST_F(CallbackBindingTest, AllocationFailureReturnsZeroWithoutAMessage) {
  FakeControl control("c");
  CallbackBinding binding(&control);
  binding.SimulateAllocationFailure(true);
  EXPECT_EQ(binding.cb_Callback(1, 4, 0, nullptr, true), 0u);
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(binding.Bound());
  binding.SimulateAllocationFailure(false);
  EXPECT_NE(binding.cb_Callback(1, 4, 0, nullptr, true), 0u);
}

TEST_F(CallbackBindingTest, ReleaseThenRebuild) {
  FakeControl control("c");
  CallbackBinding binding(&control);
  ASSERT_NE(binding.cb_Callback(1, 4, 0, nullptr, true), 0u);
  EXPECT_TRUE(binding.Bound());
  binding.ReleaseCallbacks();
  EXPECT_FALSE(binding.Bound());
  EXPECT_EQ(binding.Entry(), nullptr);
  EXPECT_EQ(binding.Procedure(), nullptr);
  binding.ReleaseCallbacks();  // twice is harmless

  const std::uintptr_t rebuilt = binding.cb_Callback(2, 4, 0, nullptr, true);
  ASSERT_NE(rebuilt, 0u);
  AsEntry(rebuilt)->Call(9, platform::kWmTimer, 8, 7);
  EXPECT_EQ(control.calls, (std::vector<std::string>{"c.deferred 9,275,8,7"}));
}

TEST_F(CallbackBindingTest, FindCallbackAddressNamesTheTwoProcedures) {
  FakeControl control("c");
  EXPECT_EQ(CallbackBinding::FindCallbackAddress(&control, 1), &TimerProcedures::OnAnimationTick);
  EXPECT_EQ(CallbackBinding::FindCallbackAddress(&control, 2),
            &TimerProcedures::OnDeferredDecodeTick);
  EXPECT_EQ(CallbackBinding::FindCallbackAddress(&control, 3), nullptr);
  EXPECT_EQ(CallbackBinding::FindCallbackAddress(nullptr, 1), nullptr);
}

TEST_F(CallbackBindingTest, EntryDrivenByTheManualClockReachesItsOwner) {
  FakeControl first("first");
  FakeControl second("second");
  CallbackBinding firstBinding(&first);
  CallbackBinding secondBinding(&second);
  platform::ManualClock clock;
  // Two controls on one form: one window, each control's identity as its timer number.
  const std::uintptr_t window = 500;
  clock.SetTimer(window, 1, 30, AsEntry(firstBinding.cb_Callback(1, 4, 0, nullptr, true)));
  clock.SetTimer(window, 2, 20, AsEntry(secondBinding.cb_Callback(2, 4, 0, nullptr, true)));
  clock.AdvanceTo(40);
  EXPECT_EQ(first.calls, (std::vector<std::string>{"first.animation 500,275,1,30"}));
  EXPECT_EQ(second.calls, (std::vector<std::string>{"second.deferred 500,275,2,20",
                                                    "second.deferred 500,275,2,40"}));
}

}  // namespace
}  // namespace velmora
