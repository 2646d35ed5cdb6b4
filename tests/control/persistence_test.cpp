// Property persistence: which keys are written, round trips through the serialised bag, the
// read's order and tolerance of legacy values, and a bad saved GIF.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/property_bag.h"
#include "support/control_fixture.h"
#include "support/gif_builder.h"
#include "support/run_time_errors.h"

namespace velmora {
namespace {

using Lines = std::vector<std::string>;
using testing::AnimationGif;
using testing::ControlFixture;

platform::PropertyBag SaveAndReload(ucAniGIF& control) {
  platform::PropertyBag bag;
  control.WriteProperties(bag);
  auto restored = platform::PropertyBag::FromContents(bag.Contents());
  EXPECT_TRUE(restored.has_value());
  return restored.value_or(platform::PropertyBag{});
}

TEST(Persistence, DefaultsWriteOnlyTheGif) {
  ControlFixture f(4, 3, /*userMode=*/false);
  const std::vector<std::uint8_t> gif = AnimationGif(2, 10);
  ASSERT_TRUE(f.Load(gif));
  platform::PropertyBag bag = SaveAndReload(f.control());
  EXPECT_EQ(bag.Keys(), (Lines{"gif"}));
  const platform::ByteArray stored =
      platform::ToByteArray(bag.ReadProperty("GIF", std::monostate{}));
  EXPECT_EQ(stored.lowerBound, 1);
  EXPECT_EQ(stored.bytes, gif);

  ControlFixture back(4, 3, /*userMode=*/false);
  back.control().ReadProperties(bag);
  EXPECT_EQ(back.control().FrameCount(), 2);
  EXPECT_EQ(back.control().MinFrameDelay(), 50);
  EXPECT_EQ(back.control().Stretch(), 1);
  EXPECT_EQ(back.control().Document().GifBytes, gif);
  EXPECT_TRUE(back.host().PropertyChanges().empty());
}

TEST(Persistence, EverySettingComesBackEqual) {
  ControlFixture f(4, 3, /*userMode=*/false);
  ASSERT_TRUE(f.Load(AnimationGif(3, 10, 2)));
  ucAniGIF& c = f.control();
  c.SetMinFrameDelay(80);
  c.SetStretch(2);
  c.SetLoops(7);
  c.SetDelayAnimation(3);
  c.SetMirrored(3);
  c.SetEnabled(false);
  c.SetMousePointer(11);
  c.SetOffsetX(-4);
  c.SetOffsetY(9);
  c.SetSolidBkgColor(0x80000005);
  c.SetSolidBkgColorUsed(true);
  c.SetSteppedDelay(33);
  platform::PropertyBag bag = SaveAndReload(c);
  EXPECT_EQ(bag.Keys(), (Lines{"gif", "delay", "stretch", "loops", "delayload", "mirror",
                               "mousepointer", "enabled", "offsetx", "offsety", "bkgfill",
                               "bkgused", "stepdelay"}));

  ControlFixture back(4, 3, /*userMode=*/false);
  ucAniGIF& b = back.control();
  b.ReadProperties(bag);
  EXPECT_EQ(b.MinFrameDelay(), 80);
  EXPECT_EQ(b.Stretch(), 2);
  EXPECT_EQ(b.Loops(), 7);
  EXPECT_EQ(b.DelayAnimation(), 3);
  EXPECT_EQ(b.Mirrored(), 3);
  EXPECT_FALSE(b.Enabled());
  EXPECT_EQ(b.MousePointer(), 11);
  EXPECT_EQ(b.OffsetX(), -4);
  EXPECT_EQ(b.OffsetY(), 9);
  EXPECT_EQ(b.SolidBkgColor(), 0x80000005u);
  EXPECT_TRUE(b.SolidBkgColorUsed());
  EXPECT_EQ(b.SteppedDelay(), 33);
  EXPECT_EQ(b.FrameCount(), 3);
  EXPECT_EQ(b.State().LoopsRemaining, 7);
}

TEST(Persistence, LoopsZeroOverAGifOfThreeIsNotStored) {
  ControlFixture f(4, 3, /*userMode=*/false);
  ASSERT_TRUE(f.Load(AnimationGif(2, 10, 3)));
  f.control().SetLoops(0);
  platform::PropertyBag bag = SaveAndReload(f.control());
  EXPECT_FALSE(bag.Contains("Loops"));
  ControlFixture back(4, 3, /*userMode=*/false);
  back.control().ReadProperties(bag);
  EXPECT_EQ(back.control().Loops(), 3);
}

TEST(Persistence, StoredValuesAreTakenAsTheyCome) {
  platform::PropertyBag bag;
  bag.WriteProperty("GIF", platform::ByteArray{1, AnimationGif(2, 10, 4)});
  bag.WriteProperty("Stretch", std::int32_t{7});
  bag.WriteProperty("Delay", std::int16_t{5});
  bag.WriteProperty("DelayLoad", std::int32_t{-1});
  bag.WriteProperty("Loops", std::int32_t{40000});
  ControlFixture f(4, 3);
  f.control().ReadProperties(bag);
  EXPECT_EQ(f.control().Stretch(), 7);
  EXPECT_EQ(f.control().MinFrameDelay(), 5);
  EXPECT_EQ(f.control().DelayAnimation(), 1);
  EXPECT_EQ(f.control().Loops(), 40000);
  EXPECT_EQ(f.control().State().LoopsRemaining, 32767);
  EXPECT_TRUE(f.host().PropertyChanges().empty());
  EXPECT_EQ(f.control().FrameCount(), 2);
}

TEST(Persistence, LowerCaseGifKeyIsFound) {
  platform::PropertyBag bag;
  bag.WriteProperty("gif", platform::ByteArray{1, AnimationGif(3, 10)});
  ControlFixture f(4, 3, /*userMode=*/false);
  f.control().ReadProperties(bag);
  EXPECT_EQ(f.control().FrameCount(), 3);
}

TEST(Persistence, BadGifRestoresSettingsAndLeavesTheControlEmpty) {
  platform::PropertyBag bag;
  bag.WriteProperty("GIF", platform::ByteArray{1, {'G', 'I', 'F', '8', '9', 'a', 0, 0}});
  bag.WriteProperty("OffsetX", std::int32_t{12});
  bag.WriteProperty("Loops", std::int32_t{9});
  ControlFixture f(4, 3);
  f.control().ReadProperties(bag);
  EXPECT_EQ(f.control().OffsetX(), 12);
  EXPECT_EQ(f.control().CurrentFrame(), 0);
  EXPECT_EQ(f.control().Loops(), 0);  // "Loops" is not read after a failed load
  EXPECT_TRUE(f.control().Document().GifBytes.empty());
}

TEST(Persistence, WrongTypeEndsTheReadAtThatKey) {
  platform::PropertyBag bag;
  bag.WriteProperty("GIF", platform::ByteArray{1, AnimationGif(2, 10)});
  bag.WriteProperty("Stretch", std::int32_t{3});
  bag.WriteProperty("DelayLoad", std::string("soon"));
  bag.WriteProperty("Mirror", std::int32_t{2});
  ControlFixture f(4, 3);
  EXPECT_EQ(testing::ErrorNumber([&] { f.control().ReadProperties(bag); }),
            platform::kErrTypeMismatch);
  EXPECT_EQ(f.control().Stretch(), 3);    // read before the bad key
  EXPECT_EQ(f.control().Mirrored(), 0);   // not read
  EXPECT_EQ(f.control().CurrentFrame(), 0);  // not loaded
}

TEST(Persistence, RunModeSaveAfterALoadWritesAnEmptyGif) {
  ControlFixture f(4, 3);
  f.control().SetDelayAnimation(0);
  ASSERT_TRUE(f.Load(AnimationGif(2, 10)));
  platform::PropertyBag bag = SaveAndReload(f.control());
  ASSERT_TRUE(bag.Contains("GIF"));
  EXPECT_TRUE(platform::ToByteArray(bag.ReadProperty("GIF", std::monostate{})).bytes.empty());
  ControlFixture back(4, 3);
  back.control().ReadProperties(bag);
  EXPECT_EQ(back.control().CurrentFrame(), 0);
}

TEST(Persistence, RunModeReadStartsTheAnimationWithTheStoredLoops) {
  ControlFixture design(4, 3, /*userMode=*/false);
  ASSERT_TRUE(design.Load(AnimationGif(2, 10, 5)));
  design.control().SetLoops(1);
  platform::PropertyBag bag = SaveAndReload(design.control());
  ControlFixture run(4, 3);
  run.control().ReadProperties(bag);
  run.clock().AdvanceTo(1000);
  EXPECT_EQ(run.TakeTimeline(),
            (Lines{"120 FrameChanged 1 true", "220 FrameChanged 2 true", "220 LoopsEnded"}));
}

}  // namespace
}  // namespace velmora
