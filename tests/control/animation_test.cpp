// The animation scheduler on the manual clock: frame order, loop counting, intervals, the Action
// state machine, deferred decoding, several instances on one clock, and commands sent from a
// FrameChanged handler.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/control_fixture.h"
#include "support/gif_builder.h"

namespace velmora {
namespace {

using Lines = std::vector<std::string>;
using testing::AnimationGif;
using testing::ControlFixture;

// Loads at time 0 and runs the deferred-decoding timer (20 ms), which arms the animation.
void LoadAndDecode(ControlFixture& f, const std::vector<std::uint8_t>& gif) {
  ASSERT_TRUE(f.Load(gif));
  f.clock().AdvanceTo(20);
}

TEST(Scheduler, ThreeFramesTwoLoopsEndOnFrameOne) {
  ControlFixture f;
  LoadAndDecode(f, AnimationGif(3, 10, 2));  // 100 ms per frame
  EXPECT_EQ(f.control().LoopsRemaining(), 2);
  f.clock().AdvanceTo(2000);
  EXPECT_EQ(f.TakeTimeline(), (Lines{"120 FrameChanged 1 true", "220 FrameChanged 2 true",
                                     "320 FrameChanged 3 true", "420 FrameChanged 1 true",
                                     "520 FrameChanged 2 true", "620 FrameChanged 3 true",
                                     "620 LoopsEnded"}));
  EXPECT_EQ(f.control().CurrentFrame(), 1);
  EXPECT_EQ(f.control().Action(), 0);
  EXPECT_EQ(f.control().LoopsRemaining(), 0);
  EXPECT_EQ(f.clock().ActiveCount(), 0u);
}

TEST(Scheduler, OneLoopShowsOneTwoThreeOne) {
  ControlFixture f;
  LoadAndDecode(f, AnimationGif(3, 10, 1));
  f.clock().AdvanceTo(1000);
  EXPECT_EQ(f.TakeTimeline(), (Lines{"120 FrameChanged 1 true", "220 FrameChanged 2 true",
                                     "320 FrameChanged 3 true", "320 LoopsEnded"}));
}

TEST(Scheduler, IntervalsFollowDelayMinimumAndSteppedDelay) {
  struct Case {
    int delayCs;
    int minFrameDelay;
    int steppedDelay;
    std::uint32_t interval;
  };
  const Case cases[] = {
      {0, 50, 0, 50},      // no delay: the minimum
      {4, 50, 0, 50},      // 40 ms is below the minimum
      {7, 50, 0, 70},      // the frame's own delay
      {0, 10, 0, 10},      // the lowest minimum
      {0, 50, 5, 5},       // a stepped delay below the minimum wins
      {30, 50, 1000, 1000},
  };
  for (const Case& c : cases) {
    ControlFixture f;
    f.control().SetMinFrameDelay(c.minFrameDelay);
    f.control().SetSteppedDelay(c.steppedDelay);
    LoadAndDecode(f, AnimationGif(2, c.delayCs));
    const auto timer = reinterpret_cast<std::uintptr_t>(&f.control());
    EXPECT_EQ(f.clock().Interval(platform::kTestHostWindow, timer), c.interval)
        << c.delayCs << " " << c.minFrameDelay << " " << c.steppedDelay;
    f.clock().Advance(c.interval);
    EXPECT_EQ(f.control().CurrentFrame(), 2);
  }
}

TEST(Scheduler, MinFrameDelayChangeAppliesFromTheNextReArm) {
  ControlFixture f;
  LoadAndDecode(f, AnimationGif(3, 0));  // armed at 20 with the old 50 ms
  f.control().SetMinFrameDelay(200);
  f.clock().AdvanceTo(1000);
  const Lines timeline = f.TakeTimeline();
  ASSERT_GE(timeline.size(), 3u);
  EXPECT_EQ(timeline[0], "70 FrameChanged 1 true");
  EXPECT_EQ(timeline[1], "270 FrameChanged 2 true");
  EXPECT_EQ(timeline[2], "470 FrameChanged 3 true");
}

TEST(Scheduler, ResumeRestartsTheFramesFullDelay) {
  ControlFixture f;
  LoadAndDecode(f, AnimationGif(4, 100));  // 1000 ms per frame
  f.clock().AdvanceTo(2020);               // frames 2 (1020) and 3 (2020) shown
  ASSERT_EQ(f.control().CurrentFrame(), 3);
  f.clock().AdvanceTo(2500);
  f.control().SetAction(2);
  EXPECT_EQ(f.control().Action(), 2);
  f.clock().AdvanceTo(5000);
  EXPECT_EQ(f.control().CurrentFrame(), 3);
  f.TakeTimeline();
  f.control().SetAction(1);
  f.clock().AdvanceTo(5999);
  EXPECT_EQ(f.control().CurrentFrame(), 3);
  f.clock().AdvanceTo(6000);
  EXPECT_EQ(f.control().CurrentFrame(), 4);
  EXPECT_EQ(f.TakeTimeline(), (Lines{"6000 FrameChanged 3 true"}));
}

TEST(Scheduler, TwoInstancesOnOneClockKeepTheirOwnDelays) {
  platform::ManualClock clock;
  ControlFixture a(4, 3, true, &clock);
  ControlFixture b(4, 3, true, &clock);
  ASSERT_TRUE(a.Load(AnimationGif(2, 10)));  // 100 ms
  ASSERT_TRUE(b.Load(AnimationGif(3, 30)));  // 300 ms
  clock.AdvanceTo(700);
  EXPECT_EQ(a.TakeTimeline(),
            (Lines{"120 FrameChanged 1 true", "220 FrameChanged 2 true", "320 FrameChanged 1 true",
                   "420 FrameChanged 2 true", "520 FrameChanged 1 true", "620 FrameChanged 2 true"}));
  EXPECT_EQ(b.TakeTimeline(), (Lines{"320 FrameChanged 1 true", "620 FrameChanged 2 true"}));
  a.control().SetAction(2);
  clock.AdvanceTo(1000);
  EXPECT_EQ(a.TakeTimeline(), Lines{});
  EXPECT_EQ(b.TakeTimeline(), (Lines{"920 FrameChanged 3 true"}));
}

TEST(Scheduler, DeferredDecodingShowsFrameOneBeforeTheOthersExist) {
  ControlFixture f(4, 3);
  testing::TestGif gif;
  gif.frames = {testing::SolidFrame(4, 3, 0), testing::SolidFrame(4, 3, 2)};
  ASSERT_TRUE(f.Load(testing::BuildGif(gif)));
  EXPECT_TRUE(f.control().DeferredDecodePending());
  EXPECT_EQ(f.control().Action(), 1);
  // Frame 2's band is still empty (index 0 throughout); frame 1 is decoded.
  const GifDocument& doc = f.control().Document();
  ASSERT_NE(doc.FrameStrip.Bitmap, nullptr);
  EXPECT_EQ(doc.FrameStrip.Bitmap->Width(), 8);
  EXPECT_FALSE(doc.GifBytes.empty());
  f.control().Refresh();
  EXPECT_EQ(f.host().Pixel(0, 0), 0xFF0000u);  // frame 1: colour 0, red
  f.clock().AdvanceTo(19);
  EXPECT_TRUE(f.control().DeferredDecodePending());
  f.clock().AdvanceTo(20);
  EXPECT_FALSE(f.control().DeferredDecodePending());
  EXPECT_EQ(doc.FrameStrip.Bitmap->Row(0)[4], 2);  // frame 2 decoded into its band
  EXPECT_TRUE(doc.GifBytes.empty());               // released once the load completes
  f.clock().AdvanceTo(120);
  EXPECT_EQ(f.host().Pixel(0, 0), 0x0000FFu);  // frame 2: colour 2, blue
}

TEST(Scheduler, DelayAnimationZeroDecodesEverythingDuringTheLoad) {
  ControlFixture f;
  f.control().SetDelayAnimation(0);
  ASSERT_TRUE(f.Load(AnimationGif(3, 10, 0)));
  EXPECT_FALSE(f.control().DeferredDecodePending());
  EXPECT_TRUE(f.control().Document().GifBytes.empty());
  f.clock().AdvanceTo(100);
  EXPECT_EQ(f.TakeTimeline(), (Lines{"100 FrameChanged 1 true"}));
}

TEST(Scheduler, DelayAnimationTwoHoldsAfterDecoding) {
  ControlFixture f;
  f.control().SetDelayAnimation(2);
  ASSERT_TRUE(f.Load(AnimationGif(3, 10, 5)));
  f.clock().AdvanceTo(1000);
  EXPECT_EQ(f.TakeTimeline(), (Lines{"20 FrameChanged 1 false"}));
  EXPECT_EQ(f.control().Action(), 0);
  // A load does not reload the count when it does not start the animation.
  EXPECT_EQ(f.control().LoopsRemaining(), 0);
  f.control().SetAction(4);
  EXPECT_EQ(f.control().LoopsRemaining(), 5);
  EXPECT_EQ(f.control().Action(), 1);
}

TEST(Scheduler, PauseWhileDeferredDecodingIsArmedStillDecodesOnPlay) {
  ControlFixture f;
  ASSERT_TRUE(f.Load(AnimationGif(3, 10)));
  f.control().SetAction(2);  // removes the deferred-decoding timer
  f.clock().AdvanceTo(500);
  EXPECT_TRUE(f.control().DeferredDecodePending());
  f.control().SetAction(1);  // re-arms the deferred decoding first
  f.clock().AdvanceTo(520);
  EXPECT_FALSE(f.control().DeferredDecodePending());
  f.clock().AdvanceTo(620);
  EXPECT_EQ(f.TakeTimeline(), (Lines{"620 FrameChanged 1 true"}));
}

TEST(Scheduler, HideAndShowWhileDeferredDecodingIsArmed) {
  ControlFixture f;
  ASSERT_TRUE(f.Load(AnimationGif(3, 10)));
  f.host().SendHide();
  EXPECT_EQ(f.control().Action(), 2);
  f.clock().AdvanceTo(300);
  f.host().SendShow();
  EXPECT_EQ(f.control().Action(), 1);
  f.clock().AdvanceTo(420);
  EXPECT_EQ(f.TakeTimeline(), (Lines{"420 FrameChanged 1 true"}));
}

TEST(Scheduler, OneFrameGifNeverStartsATimer) {
  ControlFixture f;
  ASSERT_TRUE(f.Load(AnimationGif(1, 10)));
  EXPECT_EQ(f.clock().ActiveCount(), 0u);
  EXPECT_EQ(f.TakeTimeline(), (Lines{"0 FrameChanged 1 false"}));
  f.control().SetAction(1);
  EXPECT_EQ(f.control().Action(), 0);
  f.control().SetAction(4);
  EXPECT_EQ(f.control().Action(), 0);
}

// The state machine, command by command, from a GIF of 3 frames playing at frame 2.
TEST(Scheduler, ActionCommands) {
  struct Case {
    int before;  // 1 playing, 2 paused, 0 stopped
    int command;
    int action;
    int frame;
    Lines events;
    bool timerSet;
  };
  const Case cases[] = {
      {1, 0, 0, 1, {"FrameChanged 1 false"}, false},
      {2, 0, 0, 1, {"FrameChanged 1 false"}, false},
      {1, 1, 1, 2, {}, true},
      {2, 1, 1, 2, {}, true},
      {0, 1, 1, 1, {}, true},
      {1, 2, 2, 2, {}, false},
      {0, 2, 0, 1, {}, false},
      {1, 3, 2, 3, {"FrameChanged 3 false"}, false},
      {0, 3, 2, 2, {"FrameChanged 2 false"}, false},
      {1, 4, 1, 1, {"FrameChanged 1 false"}, true},
      {2, 4, 1, 1, {"FrameChanged 1 false"}, true},
      {1, 5, 1, 2, {}, true},
      {1, -1, 1, 2, {}, true},
  };
  for (const Case& c : cases) {
    ControlFixture f;
    LoadAndDecode(f, AnimationGif(3, 10, 3));
    f.clock().AdvanceTo(120);
    if (c.before == 2) f.control().SetAction(2);
    if (c.before == 0) f.control().SetAction(0);
    f.events().Clear();
    f.control().SetAction(c.command);
    const std::string label = std::to_string(c.before) + " -> " + std::to_string(c.command);
    EXPECT_EQ(f.control().Action(), c.action) << label;
    EXPECT_EQ(f.control().CurrentFrame(), c.frame) << label;
    EXPECT_EQ(f.events().Log(), c.events) << label;
    EXPECT_EQ(f.clock().ActiveCount(), c.timerSet ? 1u : 0u) << label;
  }
}

TEST(Scheduler, StepOnTheLastFrameWrapsWithoutCountingALoop) {
  ControlFixture f;
  LoadAndDecode(f, AnimationGif(3, 10, 2));
  f.control().SetAction(3);
  f.control().SetAction(3);
  EXPECT_EQ(f.control().CurrentFrame(), 3);
  f.control().SetAction(3);
  EXPECT_EQ(f.control().CurrentFrame(), 1);
  EXPECT_EQ(f.control().LoopsRemaining(), 2);
  EXPECT_EQ(f.control().Action(), 2);
}

TEST(Scheduler, PlayAfterLoopsEndedRunsOnUntilRestart) {
  ControlFixture f;
  LoadAndDecode(f, AnimationGif(2, 10, 1));
  f.clock().AdvanceTo(1000);
  ASSERT_EQ(f.control().Action(), 0);
  ASSERT_EQ(f.events().Count("LoopsEnded"), 1u);
  f.control().SetAction(1);
  f.clock().AdvanceTo(3000);
  EXPECT_EQ(f.control().Action(), 1);
  EXPECT_EQ(f.events().Count("LoopsEnded"), 1u);
  EXPECT_LT(f.control().LoopsRemaining(), 0);
  f.control().SetAction(4);
  EXPECT_EQ(f.control().LoopsRemaining(), 1);
}

TEST(Scheduler, LoopCountAboveInt16SaturatesAt32767) {
  ControlFixture f;
  LoadAndDecode(f, AnimationGif(2, 10, 40000));
  EXPECT_EQ(f.control().Loops(), 40000);
  EXPECT_EQ(f.control().LoopsRemaining(), 32767);
  f.control().SetLoops(2000000);
  f.control().SetAction(0);
  EXPECT_EQ(f.control().LoopsRemaining(), 32767);
}

TEST(Scheduler, HandlerCommandPrevailsOverTheTick) {
  struct Case {
    int command;
    int action;
    std::size_t timers;
  };
  // Stop and pause leave no timer; restart arms exactly one (its own), step leaves it paused.
  const Case cases[] = {{0, 0, 0}, {2, 2, 0}, {3, 2, 0}, {4, 1, 1}};
  for (const Case& c : cases) {
    ControlFixture f;
    LoadAndDecode(f, AnimationGif(3, 10));
    bool sent = false;
    f.events().onFrameChanged = [&](std::int32_t, bool& viaTimer) {
      if (viaTimer && !sent) {
        sent = true;
        f.control().SetAction(c.command);
      }
    };
    f.clock().AdvanceTo(120);
    EXPECT_EQ(f.control().Action(), c.action) << c.command;
    EXPECT_EQ(f.clock().ActiveCount(), c.timers) << c.command;
    if (c.command == 4) {
      const auto timer = reinterpret_cast<std::uintptr_t>(&f.control());
      EXPECT_EQ(f.clock().NextDue(), 220u);
      EXPECT_EQ(f.clock().Interval(platform::kTestHostWindow, timer), 100u);
    }
  }
}

TEST(Scheduler, StopFromTheLastLoopsHandlerStillReportsLoopsEnded) {
  ControlFixture f;
  LoadAndDecode(f, AnimationGif(2, 10, 1));
  f.events().onFrameChanged = [&](std::int32_t frame, bool& viaTimer) {
    if (viaTimer && frame == 2) f.control().SetAction(0);
  };
  f.clock().AdvanceTo(1000);
  EXPECT_EQ(f.TakeTimeline(), (Lines{"120 FrameChanged 1 true", "220 FrameChanged 2 true",
                                     "220 FrameChanged 1 false", "220 LoopsEnded"}));
}

TEST(Scheduler, LoadFromAFrameChangedHandlerTakesOverCleanly) {
  ControlFixture f;
  LoadAndDecode(f, AnimationGif(3, 10));
  const std::vector<std::uint8_t> next = AnimationGif(2, 30);
  bool loaded = false;
  f.events().onFrameChanged = [&](std::int32_t, bool& viaTimer) {
    if (viaTimer && !loaded) {
      loaded = true;
      EXPECT_TRUE(f.Load(next));  // releases the binding whose timer is calling right now
    }
  };
  f.clock().AdvanceTo(120);
  EXPECT_EQ(f.control().FrameCount(), 2);
  EXPECT_EQ(f.control().CurrentFrame(), 1);
  f.clock().AdvanceTo(140);  // the new GIF's deferred decoding
  f.clock().AdvanceTo(440);
  EXPECT_EQ(f.TakeTimeline(), (Lines{"120 FrameChanged 1 true", "440 FrameChanged 1 true"}));
}

TEST(Scheduler, ResetWhileAnimatingRemovesTheTimer) {
  ControlFixture f;
  LoadAndDecode(f, AnimationGif(3, 10));
  ASSERT_EQ(f.clock().ActiveCount(), 1u);
  EXPECT_FALSE(f.control().LoadAnimatedGIF_Array(ByteArrayArg{}));
  EXPECT_EQ(f.clock().ActiveCount(), 0u);
  f.DestroyControl();
  f.clock().AdvanceTo(5000);  // nothing left to call
}

TEST(Scheduler, DesignModeRunsNoTimer) {
  ControlFixture f(4, 3, /*userMode=*/false);
  ASSERT_TRUE(f.Load(AnimationGif(3, 10)));
  EXPECT_EQ(f.clock().ActiveCount(), 0u);
  f.control().SetAction(1);
  EXPECT_EQ(f.control().Action(), 0);
  // Only frame 1 is decoded in design mode.
  EXPECT_EQ(f.control().Document().FrameStrip.Bitmap->Width(), 4);
  EXPECT_FALSE(f.control().Document().GifBytes.empty());
}

TEST(Scheduler, NoParentWindowMeansNoAnimation) {
  ControlFixture f;
  f.host().SetParentWindow(0);
  ASSERT_TRUE(f.Load(AnimationGif(3, 10)));
  EXPECT_EQ(f.control().Action(), 0);
  EXPECT_EQ(f.clock().ActiveCount(), 0u);
  f.host().SetParentWindow(platform::kTestHostWindow);
  f.control().SetAction(1);  // the deferred decoding is still pending: it is armed now
  f.clock().AdvanceTo(20);
  EXPECT_FALSE(f.control().DeferredDecodePending());
  EXPECT_EQ(f.control().Action(), 1);
}

}  // namespace
}  // namespace velmora
