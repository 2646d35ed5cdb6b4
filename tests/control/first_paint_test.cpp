// The first frames after a run-mode load, as the host surface shows them. A two-frame 4 x 1 GIF
// whose frame 1 leaves two pixels transparent and whose frame 2 paints one pixel over it: frame 1
// must show its opaque pixels over the host's background, and frame 2 must show over frame 1
// (or over the emptied rectangle, by frame 1's disposal) the very first time round, not only
// after the first wrap. Each way of reaching the frames: the timer after a deferred or an
// immediate decode, the step command, a DelayAnimation that stays stopped, and a host that
// repaints on its own in between.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/control_fixture.h"
#include "support/gif_builder.h"

namespace velmora {
namespace {

using testing::ControlFixture;
using testing::TestFrame;
using testing::TestGif;
using Row = std::vector<std::uint32_t>;

constexpr std::uint32_t kRed = 0xFF0000;    // index 0
constexpr std::uint32_t kGreen = 0x00FF00;  // index 1
constexpr std::uint32_t kBlue = 0x0000FF;   // index 2
// The host's background: 0x00BBGGRR to the host, 0x00RRGGBB as a surface pixel.
constexpr platform::ColorRef kHostBackground = 0x00603010;
constexpr std::uint32_t kBg = 0x103060;

// Frames {0,3,3,1} and {3,2,3,3}, transparent index 3, 5 hundredths each (50 ms), no loop count.
std::vector<std::uint8_t> ReproGif(int disposal1, int disposal2) {
  TestGif gif;
  gif.globalTable = {kRed, kGreen, kBlue, 0xFFFFFF};
  TestFrame one;
  one.width = 4;
  one.pixels = {0, 3, 3, 1};
  one.delayCs = 5;
  one.disposal = disposal1;
  one.transparentIndex = 3;
  TestFrame two = one;
  two.pixels = {3, 2, 3, 3};
  two.disposal = disposal2;
  gif.frames = {one, two};
  return testing::BuildGif(gif);
}

Row SurfaceRow(ControlFixture& f) {
  Row row;
  for (int x = 0; x < f.host().WidthPx(); ++x) row.push_back(f.host().Pixel(x, 0));
  return row;
}

const Row kFrameOne = {kRed, kBg, kBg, kGreen};

// Frame 2 over frame 1 as frame 1's disposal leaves the canvas: kept (0, 1, and 3, which a first
// frame cannot carry and is read as 0), or emptied (2).
Row FrameTwoAfter(int disposal1) {
  if (disposal1 == 2) return {kBg, kBlue, kBg, kBg};
  return {kRed, kBlue, kBg, kGreen};
}

struct Case {
  const char* name;
  int disposal1;
  int disposal2;
};

const Case kCases[] = {
    {"keep-unspecified", 1, 0}, {"unspecified-keep", 0, 1}, {"keep-keep", 1, 1},
    {"background-keep", 2, 1},  {"previous-keep", 3, 1},   {"keep-previous", 1, 3},
    {"keep-background", 1, 2},  {"all-background", 2, 2},
};

// The control on a 4 x 1 host; Stretch 0 keeps the loaders from resizing the host, whose
// reallocated surface would start blank until the next paint.
void Prepare(ControlFixture& f, int delayAnimation) {
  f.host().SetBackground(kHostBackground);
  f.control().SetStretch(0);
  f.control().SetDelayAnimation(delayAnimation);
}

class FirstPaint : public ::testing::TestWithParam<Case> {};

TEST_P(FirstPaint, TimerAfterDeferredDecoding) {
  const Case& c = GetParam();
  ControlFixture f(4, 1);
  Prepare(f, 1);
  ASSERT_TRUE(f.Load(ReproGif(c.disposal1, c.disposal2)));
  EXPECT_EQ(SurfaceRow(f), kFrameOne) << "right after the load";
  f.clock().AdvanceTo(20);  // frames 2..n decoded, the animation armed with frame 1's delay
  EXPECT_EQ(SurfaceRow(f), kFrameOne) << "after the deferred decoding";
  f.clock().AdvanceTo(70);
  ASSERT_EQ(f.control().CurrentFrame(), 2);
  EXPECT_EQ(SurfaceRow(f), FrameTwoAfter(c.disposal1)) << "first frame 2";
  f.clock().AdvanceTo(120);
  ASSERT_EQ(f.control().CurrentFrame(), 1);
  EXPECT_EQ(SurfaceRow(f), kFrameOne) << "first wrap";
  f.clock().AdvanceTo(170);
  EXPECT_EQ(SurfaceRow(f), FrameTwoAfter(c.disposal1)) << "second frame 2";
}

TEST_P(FirstPaint, TimerAfterImmediateDecoding) {
  const Case& c = GetParam();
  ControlFixture f(4, 1);
  Prepare(f, 0);
  const int paintsBefore = f.host().PaintCount();
  ASSERT_TRUE(f.Load(ReproGif(c.disposal1, c.disposal2)));
  EXPECT_EQ(SurfaceRow(f), kFrameOne) << "right after the load";
  // The load paints frame 1 without announcing it: frames of a multi-frame GIF are reported by
  // the scheduler.
  EXPECT_EQ(f.host().PaintCount() - paintsBefore, 1);
  EXPECT_TRUE(f.events().Log().empty());
  f.clock().AdvanceTo(50);
  ASSERT_EQ(f.control().CurrentFrame(), 2);
  EXPECT_EQ(SurfaceRow(f), FrameTwoAfter(c.disposal1)) << "first frame 2";
  // Nothing stopped a timer between the load's paint and the tick, so the tick repainted only
  // the damage over the complete paint of frame 1.
  EXPECT_EQ(f.host().PartialPaintCount(), 1);
}

// The default Stretch resizes the host after the load, and the headless host's new surface
// starts blank; the canvas still holds frame 1, so the first frame 2 is right.
TEST_P(FirstPaint, ResizingLoad) {
  const Case& c = GetParam();
  ControlFixture f(4, 1);
  f.host().SetBackground(kHostBackground);
  ASSERT_TRUE(f.Load(ReproGif(c.disposal1, c.disposal2)));
  ASSERT_EQ(f.control().Stretch(), 1);
  ASSERT_EQ(f.host().ResizeCount(), 1);
  f.clock().AdvanceTo(70);
  ASSERT_EQ(f.control().CurrentFrame(), 2);
  EXPECT_EQ(SurfaceRow(f), FrameTwoAfter(c.disposal1)) << "first frame 2";
}

TEST_P(FirstPaint, StepStraightAfterTheLoad) {
  const Case& c = GetParam();
  for (const int delayAnimation : {0, 1}) {
    SCOPED_TRACE(delayAnimation);
    ControlFixture f(4, 1);
    Prepare(f, delayAnimation);
    ASSERT_TRUE(f.Load(ReproGif(c.disposal1, c.disposal2)));
    f.control().SetAction(3);
    ASSERT_EQ(f.control().CurrentFrame(), 2);
    EXPECT_EQ(SurfaceRow(f), FrameTwoAfter(c.disposal1)) << "first frame 2";
    f.control().SetAction(3);
    EXPECT_EQ(SurfaceRow(f), kFrameOne) << "back to frame 1";
  }
}

// DelayAnimation 2: the load ends with FrameChanged(1, false) and the animation stays stopped;
// frame 1 is what the control shows then.
TEST_P(FirstPaint, StoppedAfterDeferredDecoding) {
  const Case& c = GetParam();
  ControlFixture f(4, 1);
  Prepare(f, 2);
  ASSERT_TRUE(f.Load(ReproGif(c.disposal1, c.disposal2)));
  f.clock().AdvanceTo(20);
  ASSERT_EQ(f.control().Action(), 0);
  EXPECT_EQ(SurfaceRow(f), kFrameOne);
  f.control().SetAction(3);
  EXPECT_EQ(SurfaceRow(f), FrameTwoAfter(c.disposal1));
}

// A host that repaints of its own accord between the load and the first tick (an expose) must
// not change the result: frame 1 painted twice is frame 1.
TEST_P(FirstPaint, HostRepaintBeforeTheFirstTick) {
  const Case& c = GetParam();
  ControlFixture f(4, 1);
  Prepare(f, 1);
  ASSERT_TRUE(f.Load(ReproGif(c.disposal1, c.disposal2)));
  f.host().Refresh();
  EXPECT_EQ(SurfaceRow(f), kFrameOne);
  f.clock().AdvanceTo(20);
  f.host().Refresh();
  EXPECT_EQ(SurfaceRow(f), kFrameOne);
  f.clock().AdvanceTo(70);
  EXPECT_EQ(SurfaceRow(f), FrameTwoAfter(c.disposal1));
}

// A step while the deferred decoding is armed completes the load first, as its timer would have
// (DelayAnimation 1 starts the animation, 2 and 3 announce frame 1), then steps: paused on
// frame 2, no timer left, nothing pending.
TEST(FirstPaintStep, CompletesThePendingDecodingFirst) {
  struct StepCase {
    int delayAnimation;
    std::vector<std::string> events;
  };
  const StepCase cases[] = {
      {1, {"FrameChanged 2 false"}},
      {2, {"FrameChanged 1 false", "FrameChanged 2 false"}},
      {3, {"FrameChanged 1 false", "FrameChanged 2 false"}},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.delayAnimation);
    ControlFixture f(4, 1);
    Prepare(f, c.delayAnimation);
    ASSERT_TRUE(f.Load(ReproGif(1, 0)));
    ASSERT_TRUE(f.control().DeferredDecodePending());
    f.control().SetAction(3);
    EXPECT_EQ(f.events().Log(), c.events);
    EXPECT_FALSE(f.control().DeferredDecodePending());
    EXPECT_EQ(f.control().CurrentFrame(), 2);
    EXPECT_EQ(f.control().Action(), 2);
    EXPECT_EQ(f.clock().ActiveCount(), 0u);
    EXPECT_EQ(SurfaceRow(f), FrameTwoAfter(1));
  }
}

// A FrameChanged handler of that completion that empties the control (a load that fails) leaves
// nothing to step to: the step ends without making up a frame.
TEST(FirstPaintStep, HandlerThatEmptiesTheControl) {
  ControlFixture f(4, 1);
  Prepare(f, 2);
  ASSERT_TRUE(f.Load(ReproGif(1, 0)));
  f.events().onFrameChanged = [&f](std::int32_t, bool&) {
    const std::vector<std::uint8_t> notAGif = {'G', 'I', 'F'};
    f.Load(notAGif);
  };
  f.control().SetAction(3);
  EXPECT_EQ(f.control().CurrentFrame(), 0);
  EXPECT_EQ(f.control().FrameCount(), 0);
  EXPECT_EQ(f.events().Log(), (std::vector<std::string>{"FrameChanged 1 false"}));
}

INSTANTIATE_TEST_SUITE_P(Disposals, FirstPaint, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           std::string name = param.param.name;
                           for (char& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace velmora
