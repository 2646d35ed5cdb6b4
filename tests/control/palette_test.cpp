// Palette operations: reading and replacing colour tables, the cache, and the pause around them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/control_fixture.h"
#include "support/gif_builder.h"

namespace velmora {
namespace {

using testing::ControlFixture;

constexpr std::int32_t kRed = 0xFF0000;  // 16711680
constexpr std::int32_t kBlue = 0x0000FF;

// Frame 1 coloured by the 4-entry global table (red, green, blue, white), frame 2 by its own
// 2-entry local table (black, yellow); both 2 x 2, pixels of index 1.
std::vector<std::uint8_t> TwoTableGif() {
  testing::TestGif gif;
  testing::TestFrame local = testing::SolidFrame(2, 2, 1);
  local.localTable = {0x000000, 0xFFFF00};
  gif.frames = {testing::SolidFrame(2, 2, 0), local};
  return testing::BuildGif(gif);
}

LongArray Sized(std::int32_t lowerBound, std::vector<std::int32_t> values) {
  LongArray a;
  a.allocated = true;
  a.lowerBound = lowerBound;
  a.values = std::move(values);
  return a;
}

TEST(GetPalette, ChoosesTheTableByFrame) {
  ControlFixture f(2, 2);
  ASSERT_TRUE(f.Load(TwoTableGif()));
  LongArray a;
  EXPECT_TRUE(f.control().GetPalette(0, a));
  EXPECT_EQ(a.values, (std::vector<std::int32_t>{kRed, 0x00FF00, kBlue, 0xFFFFFF}));
  EXPECT_EQ(a.lowerBound, 0);
  EXPECT_EQ(a.UpperBound(), 3);
  EXPECT_TRUE(f.control().GetPalette(2, a));
  EXPECT_EQ(a.values, (std::vector<std::int32_t>{0x000000, 0xFFFF00}));

  const LongArray before = Sized(5, {1, 2, 3});
  for (const std::int32_t index : {1, 3, -1}) {  // global-coloured frame, past the end, negative
    LongArray b = before;
    EXPECT_FALSE(f.control().GetPalette(index, b)) << index;
    EXPECT_EQ(b.values, before.values) << index;
    EXPECT_EQ(b.lowerBound, 5) << index;
  }
}

TEST(GetPalette, PausesAndResumesAPlayingAnimation) {
  ControlFixture f(2, 2);
  ASSERT_TRUE(f.Load(TwoTableGif()));
  f.clock().AdvanceTo(20);
  ASSERT_EQ(f.control().Action(), 1);
  LongArray a;
  const int paints = f.host().PaintCount();
  EXPECT_TRUE(f.control().GetPalette(0, a));
  EXPECT_EQ(f.control().Action(), 1);
  EXPECT_EQ(f.clock().ActiveCount(), 1u);
  EXPECT_EQ(f.host().PaintCount(), paints);  // no repaint of its own
  // A refusal past the pause resumes too; -1 never pauses.
  EXPECT_FALSE(f.control().GetPalette(1, a));
  EXPECT_EQ(f.control().Action(), 1);
  EXPECT_FALSE(f.control().GetPalette(-1, a));
  EXPECT_EQ(f.control().Action(), 1);
}

TEST(GetPalette, EmptyGlobalTableAndFixedArrayReturnFalseAndResume) {
  testing::TestGif gif;
  gif.globalTable.clear();
  testing::TestFrame one = testing::SolidFrame(2, 2, 1);
  one.localTable = {0x111111, 0x222222};
  testing::TestFrame two = one;
  gif.frames = {one, two};
  ControlFixture f(2, 2);
  ASSERT_TRUE(f.Load(testing::BuildGif(gif)));
  f.clock().AdvanceTo(20);
  LongArray a = Sized(0, {7});
  EXPECT_FALSE(f.control().GetPalette(0, a));
  EXPECT_EQ(a.values, (std::vector<std::int32_t>{7}));
  EXPECT_EQ(f.control().Action(), 1);
  LongArray fixed = Sized(0, {0, 0});
  fixed.fixedSize = true;
  EXPECT_FALSE(f.control().GetPalette(1, fixed));
  EXPECT_EQ(f.control().Action(), 1);
  EXPECT_TRUE(f.control().GetPalette(1, a));
  EXPECT_EQ(a.values, (std::vector<std::int32_t>{0x111111, 0x222222}));
}

TEST(SetPalette, OverwritesFromTheLowerBound) {
  ControlFixture f(2, 2);
  ASSERT_TRUE(f.Load(TwoTableGif()));
  EXPECT_TRUE(f.control().SetPalette(0, Sized(1, {kBlue, 1, 2, 3, 99})));
  LongArray a;
  ASSERT_TRUE(f.control().GetPalette(0, a));
  EXPECT_EQ(a.values, (std::vector<std::int32_t>{kBlue, 1, 2, 3}));
  EXPECT_EQ(f.control().Document().Tables.ColorTables[0][kColorCountEntry], 4u);
}

TEST(SetPalette, ANewColourShowsAtTheRepaintThatEndsTheCall) {
  ControlFixture f(2, 2);
  f.control().SetDelayAnimation(2);
  ASSERT_TRUE(f.Load(TwoTableGif()));
  f.clock().AdvanceTo(20);
  f.control().Refresh();
  ASSERT_EQ(f.host().Pixel(0, 0), static_cast<std::uint32_t>(kRed));
  // Table 0 is the one loaded in the strip's palette right now.
  EXPECT_TRUE(f.control().SetPalette(0, Sized(0, {kBlue, 0, 0, 0})));
  EXPECT_EQ(f.host().Pixel(0, 0), static_cast<std::uint32_t>(kBlue));
}

TEST(SetPalette, Refusals) {
  ControlFixture empty;
  EXPECT_FALSE(empty.control().SetPalette(0, Sized(0, {1, 2, 3, 4})));

  ControlFixture f(2, 2);
  ASSERT_TRUE(f.Load(TwoTableGif()));
  f.clock().AdvanceTo(20);
  const LongArray never;
  int paints = f.host().PaintCount();
  EXPECT_FALSE(f.control().SetPalette(0, never));
  EXPECT_FALSE(f.control().SetPalette(-1, Sized(0, {1, 2, 3, 4})));
  EXPECT_EQ(f.host().PaintCount(), paints);  // no pause, no repaint
  EXPECT_EQ(f.control().Action(), 1);

  // Too short, or a frame without its own table: false, and the table stays.
  EXPECT_FALSE(f.control().SetPalette(0, Sized(0, {1, 2, 3})));
  EXPECT_FALSE(f.control().SetPalette(1, Sized(0, {1, 2, 3, 4})));
  EXPECT_FALSE(f.control().SetPalette(3, Sized(0, {1, 2, 3, 4})));
  LongArray a;
  ASSERT_TRUE(f.control().GetPalette(0, a));
  EXPECT_EQ(a.values[0], kRed);
  EXPECT_EQ(f.control().Action(), 1);

  // Not playing: a refusal still repaints.
  f.control().SetAction(2);
  paints = f.host().PaintCount();
  EXPECT_FALSE(f.control().SetPalette(0, Sized(0, {1, 2, 3})));
  EXPECT_EQ(f.host().PaintCount(), paints + 1);
}

TEST(ColorTableCache, CacheSetRestoreSequence) {
  ControlFixture f(2, 2);
  EXPECT_TRUE(f.control().CacheColorTables());  // nothing loaded: caches an empty set
  EXPECT_TRUE(f.control().RestoreColorTables(true));
  EXPECT_FALSE(f.control().RestoreColorTables(false));

  ASSERT_TRUE(f.Load(TwoTableGif()));
  EXPECT_FALSE(f.control().RestoreColorTables(false));
  EXPECT_TRUE(f.control().CacheColorTables());
  ASSERT_TRUE(f.control().SetPalette(2, Sized(0, {kBlue, kBlue})));
  EXPECT_FALSE(f.control().CacheColorTables());  // the held copy is not refreshed
  LongArray a;
  ASSERT_TRUE(f.control().GetPalette(2, a));
  EXPECT_EQ(a.values, (std::vector<std::int32_t>{kBlue, kBlue}));

  EXPECT_TRUE(f.control().RestoreColorTables(false));
  EXPECT_EQ(f.control().Document().Tables.ActiveColorTable, -1);
  ASSERT_TRUE(f.control().GetPalette(2, a));
  EXPECT_EQ(a.values, (std::vector<std::int32_t>{0x000000, 0xFFFF00}));
  ASSERT_TRUE(f.control().SetPalette(2, Sized(0, {kRed, kRed})));
  EXPECT_TRUE(f.control().RestoreColorTables(true));  // restores the same colours again
  ASSERT_TRUE(f.control().GetPalette(2, a));
  EXPECT_EQ(a.values, (std::vector<std::int32_t>{0x000000, 0xFFFF00}));
  EXPECT_FALSE(f.control().RestoreColorTables(true));
}

TEST(ColorTableCache, ANewLoadEmptiesTheCache) {
  ControlFixture f(2, 2);
  ASSERT_TRUE(f.Load(TwoTableGif()));
  ASSERT_TRUE(f.control().CacheColorTables());
  ASSERT_TRUE(f.Load(TwoTableGif()));
  EXPECT_FALSE(f.control().RestoreColorTables(false));
}

TEST(Palette, NothingLoaded) {
  ControlFixture f;
  LongArray a;
  EXPECT_FALSE(f.control().GetPalette(0, a));
  EXPECT_FALSE(a.allocated);
}

}  // namespace
}  // namespace velmora
