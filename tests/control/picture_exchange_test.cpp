// The AnimatedGIF picture property on a headless host: what a read encodes (the current frame's
// band, its own table and transparency, at its own size), what a design-mode assignment loads and
// sizes, and what run mode ignores. Round trips through real files: every frame's encoding loads
// back to the same indices and encodes again to the same bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/control_fixture.h"
#include "support/gif_builder.h"
#include "platform/files.h"
#include "platform/picture.h"
#include "platform/property_bag.h"
#include "platform/test_host.h"
#include "ucAniGIF/control/ucAniGIF.h"

namespace velmora {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::BuildGif;
using testing::ControlFixture;
using testing::SolidFrame;
using testing::TestFrame;
using testing::TestGif;

constexpr bool kRunMode = true;
constexpr bool kDesignMode = false;

// Frame k's band of the strip, top row first.
Bytes Band(const ucAniGIF& control, std::int32_t k) {
  const GifDocument& doc = control.Document();
  const GifFrame& frame = doc.Frame(k);
  const platform::Bitmap& strip = *doc.FrameStrip.Bitmap;
  Bytes band;
  for (int y = 0; y < frame.Height; ++y) {
    const std::uint8_t* row = strip.Row(y) + frame.StripX;
    band.insert(band.end(), row, row + frame.Width);
  }
  return band;
}

// Runs the manual clock until the deferred pass has decoded frames 2..n.
void FinishDeferredDecoding(ControlFixture& f) {
  while (f.control().DeferredDecodePending()) f.clock().AdvanceTo(f.clock().NextDue());
}

Bytes SourceOf(const platform::PictureRef& picture) {
  return picture ? picture->SourceBytes() : Bytes{};
}

TestFrame Pattern(int left, int top, int width, int height, std::vector<std::uint8_t> pixels) {
  TestFrame f;
  f.left = left;
  f.top = top;
  f.width = width;
  f.height = height;
  f.pixels = std::move(pixels);
  f.delayCs = 10;
  return f;
}

// Three frames of different sizes and patterns on a 5 x 4 canvas; frame 2 sits at (1, 1).
Bytes ThreeFrameGif() {
  TestGif gif;
  gif.loopCount = 0;
  gif.frames.push_back(
      Pattern(0, 0, 5, 4, {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3}));
  gif.frames.push_back(Pattern(1, 1, 3, 2, {3, 3, 1, 2, 0, 2}));
  gif.frames.push_back(Pattern(0, 0, 2, 2, {1, 0, 0, 1}));
  return BuildGif(gif);
}

// --- Reading --------------------------------------------------------------------------------

TEST(PictureExchangeRead, NoGifReadsNone) {
  for (const bool userMode : {kRunMode, kDesignMode}) {
    ControlFixture f(4, 3, userMode);
    EXPECT_EQ(f.control().AnimatedGIF(), nullptr) << "userMode " << userMode;
    // A failed load leaves nothing to read either.
    EXPECT_FALSE(f.Load(Bytes{'G', 'I', 'F', '8', '9', 'a'}));
    EXPECT_EQ(f.control().AnimatedGIF(), nullptr) << "userMode " << userMode;
  }
}

// Right after the load, in both modes (in run mode before the deferred pass has run), the
// property holds frame 1; its bytes load into a second control as the same indices.
TEST(PictureExchangeRead, AfterLoadGivesFrameOne) {
  for (const bool userMode : {kRunMode, kDesignMode}) {
    ControlFixture f(5, 4, userMode);
    ASSERT_TRUE(f.Load(ThreeFrameGif()));
    const platform::PictureRef picture = f.control().AnimatedGIF();
    ASSERT_NE(picture, nullptr) << "userMode " << userMode;
    EXPECT_EQ(picture->Width(), 5);
    EXPECT_EQ(picture->Height(), 4);

    ControlFixture second(5, 4, kRunMode);
    ASSERT_TRUE(second.Load(picture->SourceBytes()));
    EXPECT_EQ(second.control().FrameCount(), 1);
    EXPECT_EQ(Band(second.control(), 1),
              (Bytes{0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3}))
        << "userMode " << userMode;
  }
}

// The documented smallest file: a 1 x 1 frame of index 0 with a two-colour table (red, green)
// becomes 799 bytes with a 256-entry table whose entries 2..255 are black.
TEST(PictureExchangeRead, TwoColourTableGivesFullTableFile) {
  TestGif gif;
  gif.globalTable = {0xFF0000, 0x00FF00};
  TestFrame frame = SolidFrame(1, 1, 0);
  frame.graphicControl = false;
  gif.frames.push_back(frame);
  ControlFixture f(1, 1, kRunMode);
  ASSERT_TRUE(f.Load(BuildGif(gif)));
  ASSERT_EQ(f.control().Document().Tables.ColorTables.at(0)[kColorCountEntry], 2u);

  Bytes expected = {'G',  'I',  'F',  '8',  '9',  'a',  0x01, 0x00, 0x01, 0x00,
                    0x87, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00};
  expected.resize(781, 0x00);
  expected.insert(expected.end(), {0x2C, 0, 0, 0, 0, 0x01, 0x00, 0x01, 0x00, 0x00, 0x08, 0x04, 0x00,
                                   0x01, 0x04, 0x04, 0x00, 0x3B});
  EXPECT_EQ(SourceOf(f.control().AnimatedGIF()), expected);
}

// A transparent frame carries its transparent index in a graphic control extension; its delay
// and disposal stay behind.
TEST(PictureExchangeRead, TransparentFrameWritesExtension) {
  TestGif gif;
  gif.globalTable = {0x000000, 0x111111, 0x222222, 0x333333, 0x444444, 0x555555};
  TestFrame frame = SolidFrame(1, 1, 5, /*delayCs=*/30);
  frame.disposal = 2;
  frame.transparentIndex = 5;
  gif.frames.push_back(frame);
  ControlFixture f(1, 1, kRunMode);
  ASSERT_TRUE(f.Load(BuildGif(gif)));

  const Bytes file = SourceOf(f.control().AnimatedGIF());
  ASSERT_EQ(file.size(), 807u);
  EXPECT_EQ(Bytes(file.begin() + 781, file.end()),
            (Bytes{0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x05, 0x00, 0x2C, 0,    0,    0,    0,
                   0x01, 0x00, 0x01, 0x00, 0x00, 0x08, 0x04, 0x00, 0x0B, 0x04, 0x04, 0x00, 0x3B}));
  // The six colours come first, the rest of the 256 entries are black.
  EXPECT_EQ(Bytes(file.begin() + 13, file.begin() + 13 + 18),
            (Bytes{0, 0, 0, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x33, 0x33, 0x33, 0x44, 0x44, 0x44,
                   0x55, 0x55, 0x55}));
  EXPECT_EQ(file[13 + 3 * 6], 0x00);
}

// A frame placed away from the canvas origin with its own (local) table is written at its own
// size, at (0, 0), with that table as the file's global one.
TEST(PictureExchangeRead, OffsetFrameWithLocalTable) {
  TestGif gif;
  gif.frames.push_back(SolidFrame(4, 3, 0));
  TestFrame local = Pattern(2, 1, 2, 2, {1, 0, 0, 1});
  local.localTable = {0xABCDEF, 0x123456};
  gif.frames.push_back(local);
  ControlFixture f(4, 3, kRunMode);
  ASSERT_TRUE(f.Load(BuildGif(gif)));
  FinishDeferredDecoding(f);
  f.control().SetAction(0);
  f.control().SetAction(3);
  ASSERT_EQ(f.control().CurrentFrame(), 2);

  const Bytes file = SourceOf(f.control().AnimatedGIF());
  ASSERT_GT(file.size(), 792u);
  EXPECT_EQ(Bytes(file.begin() + 6, file.begin() + 19),
            (Bytes{0x02, 0x00, 0x02, 0x00, 0x87, 0x00, 0x00, 0xAB, 0xCD, 0xEF, 0x12, 0x34, 0x56}));
  // No extension (the builder's graphic control has no transparency); the descriptor at 781.
  EXPECT_EQ(Bytes(file.begin() + 781, file.begin() + 792),
            (Bytes{0x2C, 0, 0, 0, 0, 0x02, 0x00, 0x02, 0x00, 0x00, 0x08}));

  ControlFixture second(2, 2, kRunMode);
  ASSERT_TRUE(second.Load(file));
  EXPECT_EQ(Band(second.control(), 1), (Bytes{1, 0, 0, 1}));
  EXPECT_EQ(second.control().Document().Tables.ColorTables.at(0)[0], 0xABCDEFu);
}

// Each read encodes the frame current at that moment.
TEST(PictureExchangeRead, ReadsWhileAnimatingFollowTheCurrentFrame) {
  ControlFixture f(5, 4, kRunMode);
  ASSERT_TRUE(f.Load(ThreeFrameGif()));
  const Bytes first = SourceOf(f.control().AnimatedGIF());
  ASSERT_EQ(f.control().CurrentFrame(), 1);
  while (f.control().CurrentFrame() == 1) f.clock().AdvanceTo(f.clock().NextDue());
  ASSERT_EQ(f.control().CurrentFrame(), 2);
  const Bytes second = SourceOf(f.control().AnimatedGIF());
  EXPECT_NE(first, second);

  ControlFixture reader(3, 2, kRunMode);
  ASSERT_TRUE(reader.Load(second));
  EXPECT_EQ(Band(reader.control(), 1), (Bytes{3, 3, 1, 2, 0, 2}));
}

// A frame of no pixels among others gives no picture rather than a file the encoder cannot
// start; the other frames still encode.
TEST(PictureExchangeRead, ZeroWidthFrameReadsNone) {
  TestGif gif;
  gif.frames.push_back(SolidFrame(2, 2, 1));
  gif.frames.push_back(Pattern(0, 0, 0, 2, {}));
  ControlFixture f(2, 2, kRunMode);
  ASSERT_TRUE(f.Load(BuildGif(gif)));
  FinishDeferredDecoding(f);
  ASSERT_EQ(f.control().FrameCount(), 2);
  f.control().SetAction(0);
  EXPECT_NE(f.control().AnimatedGIF(), nullptr);
  f.control().SetAction(3);
  ASSERT_EQ(f.control().CurrentFrame(), 2);
  ASSERT_EQ(f.control().Document().Frame(2).Width, 0);
  EXPECT_EQ(f.control().AnimatedGIF(), nullptr);
}

// --- Assigning in design mode ---------------------------------------------------------------

// The picture read from one control, assigned to another in design mode, becomes that control's
// one-frame GIF, sized to the frame at scale 1 whatever its Stretch, which comes back unchanged
// and without the Stretch setter's notice.
TEST(PictureExchangeAssign, PictureFromAnotherControlLoadsSizedToTheFrame) {
  ControlFixture source(5, 4, kRunMode);
  ASSERT_TRUE(source.Load(ThreeFrameGif()));
  FinishDeferredDecoding(source);
  source.control().SetAction(0);
  source.control().SetAction(3);
  ASSERT_EQ(source.control().CurrentFrame(), 2);
  const platform::PictureRef picture = source.control().AnimatedGIF();
  ASSERT_NE(picture, nullptr);

  for (const std::int32_t stretch : {0, 1, 2, 3, 4}) {
    ControlFixture target(40, 30, kDesignMode);
    target.control().SetStretch(stretch);
    const std::size_t notices = target.host().PropertyChanges().size();
    const int paints = target.host().PaintCount();

    target.control().SetAnimatedGIF(picture);

    const ucAniGIF& control = target.control();
    EXPECT_EQ(control.FrameCount(), 1) << "Stretch " << stretch;
    EXPECT_EQ(control.CurrentFrame(), 1);
    EXPECT_EQ(Band(control, 1), (Bytes{3, 3, 1, 2, 0, 2}));
    EXPECT_EQ(control.Document().GifBytes, picture->SourceBytes());
    EXPECT_EQ(target.host().WidthPx(), 3);
    EXPECT_EQ(target.host().HeightPx(), 2);
    EXPECT_EQ(control.ActualWidth(), 3 * 15);
    EXPECT_EQ(control.ActualHeight(), 2 * 15);
    EXPECT_EQ(control.Document().Header.ScaleFactorX, 1.0f);
    EXPECT_EQ(control.Document().Header.ScaleFactorY, 1.0f);
    EXPECT_EQ(control.Stretch(), stretch);
    EXPECT_GT(target.host().PaintCount(), paints);
    EXPECT_EQ(std::vector<std::string>(
                  target.host().PropertyChanges().begin() + static_cast<std::ptrdiff_t>(notices),
                  target.host().PropertyChanges().end()),
              std::vector<std::string>{"AnimatedGIF"})
        << "Stretch " << stretch;
  }
}

// Assigning a picture of a whole animated file loads every frame of it (design mode decodes
// frame 1 only) and reads back as frame 1.
TEST(PictureExchangeAssign, AnimatedFilePictureLoadsWhole) {
  const Bytes gif = ThreeFrameGif();
  const platform::PictureRef picture = platform::PictureFromBytes(gif);
  ASSERT_NE(picture, nullptr);
  ControlFixture f(10, 10, kDesignMode);
  f.control().SetAnimatedGIF(picture);
  EXPECT_EQ(f.control().FrameCount(), 3);
  EXPECT_EQ(f.host().WidthPx(), 5);
  EXPECT_EQ(f.host().HeightPx(), 4);
  EXPECT_EQ(f.control().Document().GifBytes, gif);
  const platform::PictureRef back = f.control().AnimatedGIF();
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->Width(), 5);
  EXPECT_EQ(back->Height(), 4);
}

// None, a picture that is not a GIF, and a picture that carries no bytes all leave the design-
// mode control empty with no GIF bytes to save; the repaint and the notice still happen.
TEST(PictureExchangeAssign, NoneOrNonGifEmptiesTheControl) {
  // A 1 x 1 24-bit BMP: file header, 40-byte info header, one padded row.
  Bytes bmp = {'B', 'M', 58, 0, 0, 0, 0, 0, 0,  0, 54, 0, 0, 0, 40,   0,    0,    0,   1, 0,
               0,   0,   1,  0, 0, 0, 1, 0, 24, 0, 0,  0, 0, 0, 4,    0,    0,    0,   0, 0,
               0,   0,   0,  0, 0, 0, 0, 0, 0,  0, 0,  0, 0, 0, 0x10, 0x20, 0x30, 0x00};
  const platform::PictureRef bmpPicture = platform::PictureFromBytes(bmp);
  ASSERT_NE(bmpPicture, nullptr);
  const auto bytelessPicture = std::make_shared<const platform::Picture>(
      Bytes{}, platform::DecodedImage{1, 1, {0x00FF00}, {}});

  const struct {
    const char* what;
    platform::PictureRef picture;
  } cases[] = {{"none", nullptr}, {"bmp", bmpPicture}, {"no bytes", bytelessPicture}};
  for (const auto& c : cases) {
    ControlFixture f(5, 4, kDesignMode);
    ASSERT_TRUE(f.Load(ThreeFrameGif()));
    ASSERT_FALSE(f.control().Document().GifBytes.empty());
    const int paints = f.host().PaintCount();

    f.control().SetAnimatedGIF(c.picture);

    EXPECT_EQ(f.control().CurrentFrame(), 0) << c.what;
    EXPECT_EQ(f.control().FrameCount(), 0) << c.what;
    EXPECT_TRUE(f.control().Document().GifBytes.empty()) << c.what;
    EXPECT_EQ(f.control().AnimatedGIF(), nullptr) << c.what;
    EXPECT_GT(f.host().PaintCount(), paints) << c.what;
    ASSERT_FALSE(f.host().PropertyChanges().empty());
    EXPECT_EQ(f.host().PropertyChanges().back(), "AnimatedGIF") << c.what;
    // The host keeps its size: there was nothing to resize to.
    EXPECT_EQ(f.host().WidthPx(), 5) << c.what;

    platform::PropertyBag bag;
    f.control().WriteProperties(bag);
    EXPECT_TRUE(platform::ToByteArray(bag.ReadProperty("GIF", std::monostate{})).bytes.empty())
        << c.what;
  }
}

// --- Assigning in run mode ------------------------------------------------------------------

TEST(PictureExchangeAssign, RunModeIgnoresEveryAssignment) {
  const platform::PictureRef other = platform::PictureFromBytes(BuildGif([] {
    TestGif gif;
    gif.frames.push_back(SolidFrame(2, 2, 3));
    return gif;
  }()));
  ASSERT_NE(other, nullptr);
  for (const platform::PictureRef& picture : {other, platform::PictureRef{}}) {
    ControlFixture f(5, 4, kRunMode);
    ASSERT_TRUE(f.Load(ThreeFrameGif()));
    // A run-mode control keeps bytes only while frames are left to decode; hold some anyway so
    // that a change would show.
    const Bytes bytesBefore = f.control().Document().GifBytes;
    const Bytes bandBefore = Band(f.control(), 1);
    const std::size_t notices = f.host().PropertyChanges().size();
    const int paints = f.host().PaintCount();

    f.control().SetAnimatedGIF(picture);

    EXPECT_EQ(f.control().FrameCount(), 3);
    EXPECT_EQ(f.control().CurrentFrame(), 1);
    EXPECT_EQ(f.control().Document().GifBytes, bytesBefore);
    EXPECT_EQ(Band(f.control(), 1), bandBefore);
    EXPECT_EQ(f.host().PropertyChanges().size(), notices);
    EXPECT_EQ(f.host().PaintCount(), paints);
    EXPECT_EQ(f.host().WidthPx(), 5);
  }
  // And on an empty run-mode control nothing loads.
  ControlFixture empty(5, 4, kRunMode);
  empty.control().SetAnimatedGIF(other);
  EXPECT_EQ(empty.control().CurrentFrame(), 0);
  EXPECT_TRUE(empty.control().Document().GifBytes.empty());
  EXPECT_TRUE(empty.host().PropertyChanges().empty());
}

// --- Round trips through real files ---------------------------------------------------------

// Every frame, encoded, loads back to the indices of its band; the reloaded frame encodes to the
// same file byte for byte.
TEST(PictureExchangeRoundTrip, EveryFrameOfRealFiles) {
  const std::filesystem::path data(VELMORA_TESTDATA_DIR);
  const std::filesystem::path files[] = {
      data / "gif-corpus" / "muybridge.gif",
      data / "gif-corpus" / "hippopotamus.interlaced.gif",
      data / "gif-corpus" / "hat.gif",
      data / "gif-suite" / "high-color.gif",   // local tables, frames off the origin
      data / "gif-suite" / "transparent.gif",  // a transparent index
      data / "gif-suite" / "animation-multi-image.gif",
      data / "gif-suite" / "4095-codes-clear.gif",  // a full string table in the original
  };
  for (const std::filesystem::path& path : files) {
    const platform::FileReadResult file = platform::ReadWholeFile(path.string());
    ASSERT_TRUE(file.Ok()) << path;
    ControlFixture f(8, 8, kRunMode);
    ASSERT_TRUE(f.Load(file.bytes)) << path;
    FinishDeferredDecoding(f);
    f.control().SetAction(0);
    const std::int32_t frames = f.control().FrameCount();
    for (std::int32_t k = 1; k <= frames; ++k) {
      if (k > 1) f.control().SetAction(3);
      ASSERT_EQ(f.control().CurrentFrame(), k) << path;
      const GifFrame& frame = f.control().Document().Frame(k);
      const platform::PictureRef picture = f.control().AnimatedGIF();
      ASSERT_NE(picture, nullptr) << path << " frame " << k;
      EXPECT_EQ(picture->Width(), frame.Width);
      EXPECT_EQ(picture->Height(), frame.Height);

      ControlFixture reloaded(8, 8, kRunMode);
      ASSERT_TRUE(reloaded.Load(picture->SourceBytes())) << path << " frame " << k;
      ASSERT_EQ(reloaded.control().FrameCount(), 1);
      EXPECT_EQ(reloaded.control().Document().Frame(1).Transparent, frame.Transparent);
      EXPECT_EQ(Band(reloaded.control(), 1), Band(f.control(), k)) << path << " frame " << k;
      EXPECT_EQ(SourceOf(reloaded.control().AnimatedGIF()), picture->SourceBytes())
          << path << " frame " << k;
    }
  }
}

}  // namespace
}  // namespace velmora
