// The control's public surface: dispatch tables, accessor validation and side effects (repaints,
// pauses, change notices), Initialize, Terminate and mouse forwarding.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "support/control_fixture.h"
#include "support/gif_builder.h"
#include "support/run_time_errors.h"

namespace velmora {
namespace {

using Lines = std::vector<std::string>;
using testing::AnimationGif;
using testing::ControlFixture;

TEST(DispatchTables, IdentifiersAndHelpStrings) {
  const auto properties = PropertyTable();
  ASSERT_EQ(properties.size(), 20u);
  EXPECT_EQ(properties[0].name, "AnimatedGIF");
  EXPECT_EQ(properties[0].dispatchId, 0x68030012);
  EXPECT_EQ(properties[2].name, "Enabled");
  EXPECT_EQ(properties[2].dispatchId, -514);
  EXPECT_EQ(properties[3].name, "FrameCount");
  EXPECT_EQ(properties[3].dispatchId, 0x68030010);
  EXPECT_EQ(properties[19].name, "SteppedDelay");
  EXPECT_EQ(properties[19].dispatchId, 0x68030000);
  EXPECT_EQ(properties[8].helpString,
            "The number of loops that will occur before animation stops. Zero will loop infintely");
  // Every property but Enabled has its own number, counting down without gaps.
  std::int32_t expected = 0x68030012;
  for (const MemberInfo& p : properties) {
    if (p.name == "Enabled") continue;
    EXPECT_EQ(p.dispatchId, expected--) << p.name;
  }

  const auto methods = MethodTable();
  ASSERT_EQ(methods.size(), 8u);
  for (std::size_t i = 0; i < methods.size(); ++i) {
    EXPECT_EQ(methods[i].dispatchId, 0x60030013 + static_cast<std::int32_t>(i)) << methods[i].name;
  }
  EXPECT_EQ(methods[7].name, "RestoreColorTables");
  EXPECT_EQ(methods[6].helpString,
            "Have control save GIF color tables in preparation of callig SetPalette and later "
            "restoring original palette");

  const auto events = EventTable();
  ASSERT_EQ(events.size(), 8u);
  const char* names[] = {"Click",      "MouseDown",    "MouseUp",            "MouseMove",
                         "LoopsEnded", "FrameChanged", "RemoteLoadComplete", "RemoteLoadFailure"};
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].name, names[i]);
    EXPECT_EQ(events[i].dispatchId, static_cast<std::int32_t>(i + 1));
  }
}

TEST(Initialize, DefaultsAndDesignPen) {
  ControlFixture f;
  ucAniGIF& c = f.control();
  EXPECT_EQ(c.MinFrameDelay(), 50);
  EXPECT_EQ(c.Stretch(), 1);
  EXPECT_EQ(c.DelayAnimation(), 1);
  EXPECT_EQ(c.CurrentFrame(), 0);
  EXPECT_EQ(c.Action(), 0);
  EXPECT_EQ(c.Mirrored(), 0);
  EXPECT_EQ(c.SteppedDelay(), 0);
  EXPECT_FALSE(c.SolidBkgColorUsed());
  EXPECT_EQ(f.host().DrawStyle(), platform::kPenDot);
  EXPECT_EQ(f.host().ForeColor(), 0x80000006u);
}

TEST(Properties, StretchValidationAndNotice) {
  ControlFixture f;
  for (const int bad : {5, -1, 1}) {
    f.control().SetStretch(bad);
    EXPECT_EQ(f.control().Stretch(), 1);
  }
  EXPECT_TRUE(f.host().PropertyChanges().empty());
  f.control().SetStretch(3);
  EXPECT_EQ(f.control().Stretch(), 3);
  EXPECT_EQ(f.host().PropertyChanges(), (Lines{"Stretch"}));
}

TEST(Properties, StretchChangeRestoresThePausedOrStoppedState) {
  ControlFixture g(8, 6);
  g.control().SetDelayAnimation(0);
  ASSERT_TRUE(g.Load(AnimationGif(3, 10)));
  g.control().SetAction(3);  // frame 2, paused
  g.events().Clear();
  g.control().SetStretch(2);  // paused: stays paused on frame 2
  EXPECT_EQ(g.control().CurrentFrame(), 2);
  EXPECT_EQ(g.control().Action(), 2);
  EXPECT_EQ(g.events().Log(), Lines{});

  // Stopped: the remembered 0 runs the stop command, which rewinds to frame 1.
  ControlFixture h(8, 6);
  h.control().SetDelayAnimation(2);  // loads stopped
  ASSERT_TRUE(h.Load(AnimationGif(3, 10)));
  h.clock().AdvanceTo(20);
  h.events().Clear();
  h.control().SetStretch(0);
  EXPECT_EQ(h.control().Action(), 0);
  EXPECT_EQ(h.events().Log(), (Lines{"FrameChanged 1 false"}));
}

TEST(Properties, StretchWhilePlayingKeepsPlaying) {
  ControlFixture f(8, 6);
  f.control().SetDelayAnimation(0);
  ASSERT_TRUE(f.Load(AnimationGif(3, 10)));
  f.control().SetStretch(2);
  EXPECT_EQ(f.control().Action(), 1);
  EXPECT_EQ(f.clock().ActiveCount(), 1u);
  EXPECT_EQ(f.events().Log(), Lines{});
}

TEST(Properties, MinFrameDelayClamps) {
  struct Case {
    int value;
    int stored;
  };
  const Case cases[] = {{5, 10}, {40000, 32700}, {-7, 10}, {10, 10}, {32700, 32700}, {123, 123}};
  for (const Case& c : cases) {
    ControlFixture f;
    f.control().SetMinFrameDelay(c.value);
    EXPECT_EQ(f.control().MinFrameDelay(), c.stored) << c.value;
    EXPECT_EQ(f.host().PropertyChanges(), (Lines{"Delay"})) << c.value;
  }
  ControlFixture f;
  f.control().SetMinFrameDelay(10);
  f.control().SetMinFrameDelay(9);  // clamps to the stored 10: no notice
  EXPECT_EQ(f.host().PropertyChanges(), (Lines{"Delay"}));
}

TEST(Properties, LoopsStoresTheAbsoluteValue) {
  ControlFixture f;
  f.control().SetLoops(-3);
  EXPECT_EQ(f.control().Loops(), 3);
  EXPECT_EQ(f.host().PropertyChanges(), (Lines{"Loops"}));
  f.control().SetLoops(3);
  EXPECT_EQ(f.host().PropertyChanges(), (Lines{"Loops"}));
  EXPECT_EQ(
      testing::ErrorNumber([&] { f.control().SetLoops(std::numeric_limits<std::int32_t>::min()); }),
      platform::kErrOverflow);
  EXPECT_EQ(f.control().Loops(), 3);
}

TEST(Properties, LoopsRemainingAndFrameCount) {
  ControlFixture f;
  EXPECT_EQ(f.control().LoopsRemaining(), 0);
  EXPECT_EQ(f.control().FrameCount(), 0);
  f.control().SetFrameCount(7);
  EXPECT_EQ(f.control().FrameCount(), 0);
  f.control().SetDelayAnimation(0);
  ASSERT_TRUE(f.Load(AnimationGif(3, 10, 0)));
  EXPECT_EQ(f.control().LoopsRemaining(), 0x7FFFFFFF);
  EXPECT_EQ(f.control().FrameCount(), 3);
  f.control().SetLoops(4);
  EXPECT_EQ(f.control().LoopsRemaining(), 0);  // the setter does not reload it
  f.control().SetAction(4);
  EXPECT_EQ(f.control().LoopsRemaining(), 4);
}

TEST(Properties, ActionIsInertInDesignModeAndWithoutAGif) {
  ControlFixture empty;
  empty.control().SetAction(1);
  EXPECT_EQ(empty.control().Action(), 0);
  ControlFixture design(4, 3, /*userMode=*/false);
  ASSERT_TRUE(design.Load(AnimationGif(3, 10)));
  for (const int command : {0, 1, 2, 3, 4}) design.control().SetAction(command);
  EXPECT_EQ(design.control().Action(), 0);
  EXPECT_EQ(design.control().CurrentFrame(), 1);
  EXPECT_EQ(design.events().Log(), Lines{});
}

TEST(Properties, MirroredValidationAndNotices) {
  ControlFixture f;
  f.control().SetMirrored(4);
  f.control().SetMirrored(-1);
  EXPECT_TRUE(f.host().PropertyChanges().empty());
  f.control().SetMirrored(0);  // nothing loaded: announced even unchanged
  f.control().SetMirrored(2);
  EXPECT_EQ(f.control().Mirrored(), 2);
  EXPECT_EQ(f.host().PropertyChanges(), (Lines{"Mirrored", "Mirrored"}));
}

// A 2-frame GIF whose frame 1 is red on the left column and green elsewhere.
std::vector<std::uint8_t> LeftColumnGif() {
  testing::TestGif gif;
  testing::TestFrame one = testing::SolidFrame(3, 2, 1);
  one.pixels = {0, 1, 1, 0, 1, 1};
  gif.frames = {one, testing::SolidFrame(3, 2, 2)};
  return testing::BuildGif(gif);
}

TEST(Properties, MirroredFlipsTheFramesWithAGifLoaded) {
  ControlFixture f(3, 2);
  f.control().SetDelayAnimation(0);
  ASSERT_TRUE(f.Load(LeftColumnGif()));
  f.control().SetAction(2);
  f.control().Refresh();
  EXPECT_EQ(f.host().Pixel(0, 0), 0xFF0000u);
  f.control().SetMirrored(1);
  EXPECT_EQ(f.host().Pixel(2, 0), 0xFF0000u);
  EXPECT_EQ(f.host().Pixel(0, 0), 0x00FF00u);
  EXPECT_EQ(f.control().Action(), 2);
  f.control().SetMirrored(1);  // unchanged: no notice
  EXPECT_EQ(f.host().PropertyChanges(), (Lines{"DelayAnimation", "Mirrored"}));
}

TEST(Properties, MirroredDuringDeferredDecodingMirrorsEveryFrameOnce) {
  ControlFixture f(3, 2);
  f.control().SetMirrored(1);
  ASSERT_TRUE(f.Load(LeftColumnGif()));
  EXPECT_EQ(f.control().Mirrored(), 1 | kFrameOneMirroredFlag);
  f.control().SetMirrored(0);  // before frames 2..n exist
  f.control().SetAction(2);
  f.control().Refresh();
  EXPECT_EQ(f.host().Pixel(0, 0), 0xFF0000u);
  f.control().SetMirrored(1);
  f.control().SetAction(1);
  f.clock().AdvanceTo(20);  // the deferred pass
  f.control().SetAction(0);
  EXPECT_EQ(f.host().Pixel(2, 0), 0xFF0000u);
  EXPECT_EQ(f.host().Pixel(0, 0), 0x00FF00u);
  EXPECT_EQ(f.control().Mirrored(), 1);
}

TEST(Properties, DelayAnimationValidation) {
  ControlFixture f;
  f.control().SetDelayAnimation(4);
  f.control().SetDelayAnimation(-1);
  f.control().SetDelayAnimation(1);
  EXPECT_EQ(f.control().DelayAnimation(), 1);
  EXPECT_TRUE(f.host().PropertyChanges().empty());
  f.control().SetDelayAnimation(3);
  EXPECT_EQ(f.control().DelayAnimation(), 3);
  EXPECT_EQ(f.host().PropertyChanges(), (Lines{"DelayAnimation"}));
}

TEST(Properties, OffsetRepaintsUnlessPlaying) {
  struct Case {
    bool userMode;
    int action;  // -1: no command
    bool repaints;
  };
  const Case cases[] = {{true, -1, false}, {true, 2, true}, {false, -1, true}};
  for (const Case& c : cases) {
    ControlFixture f(4, 3, c.userMode);
    ASSERT_TRUE(f.Load(AnimationGif(3, 10)));
    if (c.action >= 0) f.control().SetAction(c.action);
    const int before = f.host().PaintCount();
    f.control().SetOffsetX(5);
    f.control().SetOffsetY(-2);
    EXPECT_EQ(f.control().OffsetX(), 5);
    EXPECT_EQ(f.control().OffsetY(), -2);
    EXPECT_EQ(f.host().PaintCount() - before, c.repaints ? 2 : 0) << c.userMode << c.action;
    EXPECT_TRUE(f.host().PropertyChanges().empty());
  }
}

TEST(Properties, BackgroundColourRepaintsOnlyInDesignMode) {
  ControlFixture run;
  run.control().SetSolidBkgColorUsed(true);
  run.control().SetSolidBkgColor(0x80000006);
  EXPECT_EQ(run.host().PaintCount(), 0);
  EXPECT_EQ(run.control().SolidBkgColor(), 0x80000006u);
  ControlFixture design(4, 3, false);
  design.control().SetSolidBkgColor(0xFF);  // not used yet: no repaint
  EXPECT_EQ(design.host().PaintCount(), 0);
  design.control().SetSolidBkgColorUsed(true);
  design.control().SetSolidBkgColor(0xFF00);
  EXPECT_EQ(design.host().PaintCount(), 2);
  EXPECT_TRUE(design.control().SolidBkgColorUsed());
  EXPECT_EQ(design.control().State().SolidBkgColorUsed, kTrue);
}

TEST(Properties, SteppedDelayBelowOneIsZero) {
  ControlFixture f;
  for (const auto& [value, stored] : std::vector<std::pair<int, int>>{{-5, 0}, {0, 0}, {1, 1}, {250, 250}}) {
    f.control().SetSteppedDelay(value);
    EXPECT_EQ(f.control().SteppedDelay(), stored);
  }
}

TEST(Properties, MousePointerAndIcon) {
  ControlFixture f;
  f.control().SetMousePointer(99);
  EXPECT_EQ(f.control().MousePointer(), 99);
  f.control().SetMousePointer(42);      // the host refuses it: ignored
  f.control().SetMousePointer(70000);   // outside 16 bits: ignored
  EXPECT_EQ(f.control().MousePointer(), 99);
  EXPECT_TRUE(f.host().PropertyChanges().empty());
  f.control().SetMouseIcon(nullptr);
  EXPECT_EQ(f.control().MousePointer(), 0);
  EXPECT_EQ(f.control().MouseIcon(), nullptr);
  EXPECT_EQ(f.host().PropertyChanges(), (Lines{"MouseIcon"}));
}

TEST(Properties, EnabledPassesThroughWithNotice) {
  ControlFixture f;
  f.control().SetEnabled(false);
  EXPECT_FALSE(f.control().Enabled());
  EXPECT_FALSE(f.host().Enabled());
  EXPECT_EQ(f.host().PropertyChanges(), (Lines{"Enabled"}));
}

TEST(Properties, ActualSizeInContainerUnits) {
  ControlFixture f(36, 20);
  EXPECT_EQ(f.control().ActualWidth(), 0);
  testing::TestGif gif;
  gif.screenWidth = 100;  // the logical screen is not used
  gif.frames = {testing::SolidFrame(36, 4, 1)};
  ASSERT_TRUE(f.Load(testing::BuildGif(gif)));
  EXPECT_EQ(f.control().ActualWidth(), 540);
  EXPECT_EQ(f.control().ActualHeight(), 60);

  // A load that fails after the parser widened the canvas (frame 2 has no colour table at all)
  // leaves nothing loaded, and nothing loaded measures 0.
  testing::TestGif noTable;
  noTable.globalTable.clear();
  noTable.frames = {testing::SolidFrame(2, 2, 1), testing::SolidFrame(30, 5, 1)};
  noTable.frames[0].localTable = {0xFF0000, 0x00FF00};
  EXPECT_FALSE(f.Load(testing::BuildGif(noTable)));
  EXPECT_EQ(f.control().FrameCount(), 0);
  EXPECT_EQ(f.control().ActualWidth(), 0);
  EXPECT_EQ(f.control().ActualHeight(), 0);
}

TEST(Mouse, ForwardsInContainerUnits) {
  ControlFixture f;
  std::int16_t seenButton = 0;
  f.events().onMouseDown = [&](std::int16_t& button, std::int16_t&, float, float) {
    seenButton = button;
  };
  f.host().SendMouseDown(1, 2, 10, 3);
  f.host().SendMouseMove(0, 0, 0.5f, 2.9f);
  f.host().SendMouseUp(2, 1, 1, 1);
  f.host().SendClick();
  EXPECT_EQ(f.events().Log(),
            (Lines{"MouseDown 1 2 150 45", "MouseMove 0 0 7 43", "MouseUp 2 1 15 15", "Click"}));
  EXPECT_EQ(seenButton, 1);
  EXPECT_EQ(f.host().SendHitTest(-5, 1000), 3);

  // A disabled control receives no mouse input and raises no mouse events.
  f.control().SetEnabled(false);
  f.host().SendMouseDown(1, 0, 1, 1);
  f.host().SendMouseMove(0, 0, 1, 1);
  f.host().SendMouseUp(1, 0, 1, 1);
  f.host().SendClick();
  EXPECT_EQ(f.events().Log().size(), 4u);
}

TEST(Paint, DesignModeOutlinesTheControlEvenWhenEmpty) {
  ControlFixture f(6, 5, /*userMode=*/false);
  f.control().Refresh();
  const platform::RgbQuad frameColour = platform::RgbQuadFromColorRef(platform::GetSysColor(6));
  EXPECT_EQ(f.host().Pixel(0, 0), frameColour);
  EXPECT_EQ(f.host().Pixel(2, 2), 0u);  // the inside is left alone
  ControlFixture run(6, 5);
  run.control().Refresh();
  EXPECT_EQ(run.host().Pixel(0, 0), 0u);
}

TEST(Paint, AnOffsetPastThirtyTwoBitsDrawsNothingAndKeepsAnimating) {
  // Every frame restores to background: direct mode, where the offset adds to Left.
  testing::TestGif gif;
  for (int k = 0; k < 2; ++k) {
    testing::TestFrame frame = testing::SolidFrame(2, 2, static_cast<std::uint8_t>(k));
    frame.left = 1;
    frame.disposal = 2;
    gif.frames.push_back(frame);
  }
  ControlFixture f(3, 2);
  f.control().SetDelayAnimation(0);
  ASSERT_TRUE(f.Load(testing::BuildGif(gif)));
  f.control().SetAction(2);
  f.control().SetOffsetX(std::numeric_limits<std::int32_t>::max());  // paused: repaints at once
  EXPECT_EQ(f.host().Pixel(1, 0), 0u);
  f.control().SetAction(1);
  f.clock().AdvanceTo(500);  // every tick repaints
  EXPECT_EQ(f.control().Action(), 1);
  EXPECT_GE(f.events().Count("FrameChanged"), 4u);
}

TEST(Terminate, DestroyingAPlayingControlRemovesItsTimer) {
  ControlFixture f;
  f.control().SetDelayAnimation(0);
  ASSERT_TRUE(f.Load(AnimationGif(3, 10)));
  ASSERT_EQ(f.clock().ActiveCount(), 1u);
  f.DestroyControl();
  EXPECT_EQ(f.clock().ActiveCount(), 0u);
}

}  // namespace
}  // namespace velmora
