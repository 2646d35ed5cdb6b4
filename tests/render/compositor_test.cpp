// The frame compositor through whole canvas-mode paints: the worked 4 x 4 example, each disposal
// method, restoring mask bits at unaligned positions, repaints, and canvases with and without a
// mask.

#include "ucAniGIF/render/compositor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/render_documents.h"
#include "ucAniGIF/render/renderer.h"

namespace velmora {
namespace {

using testing::FrameSpec;
using testing::MakeDocument;
using testing::Surface;
using testing::Table;
using Pixels = std::vector<std::vector<platform::RgbQuad>>;

constexpr platform::RgbQuad kGrey = 0x808080;  // the host's cleared surface
constexpr platform::RgbQuad kBlack = 0x000000;
constexpr platform::RgbQuad kRed = 0xFF0000;
constexpr platform::RgbQuad kGreen = 0x00FF00;
constexpr platform::RgbQuad kBlue = 0x0000FF;
constexpr platform::RgbQuad R = kRed, G = kGreen, B = kBlue, K = kBlack, S = kGrey;

const ColorTable kRgbTable = Table({kBlack, kRed, kGreen, kBlue});

// One paint as the host does it: clear the surface, then let the renderer paint the frame.
void Paint(GifDocument& doc, Surface& surface, int frame) {
  surface.Clear(kGrey);
  ControlState state;
  ASSERT_TRUE(PaintFrame(doc, state, frame, *surface.dc,
                         {double(surface.bitmap->Width()), double(surface.bitmap->Height())}));
}

// Canvas 4 x 4 with a mask. Frame 1: 4 x 4, opaque, kept. Frame 2: 2 x 2 at (1, 1), transparent
// (index 0), restores to previous. Frame 3: 1 x 1 at (0, 0), restores to background.
GifDocument WorkedExample() {
  return MakeDocument(
      {
          {.width = 4, .height = 4,
           .indices = {1, 2, 1, 2, 2, 1, 2, 1, 1, 2, 1, 2, 2, 1, 2, 1}, .disposal = 1},
          {.left = 1, .top = 1, .width = 2, .height = 2, .indices = {3, 0, 0, 3},
           .transparent = 1, .transparentIndex = 0, .disposal = 3},
          {.width = 1, .height = 1, .indices = {3}, .disposal = 2},
      },
      {kRgbTable});
}

const Pixels kFrame1 = {{R, G, R, G}, {G, R, G, R}, {R, G, R, G}, {G, R, G, R}};
const std::vector<std::string> kAllPainted = {"0000", "0000", "0000", "0000"};

TEST(Compositor, WorkedExample) {
  GifDocument doc = WorkedExample();
  ASSERT_NE(doc.CompositeCanvas.MaskBitmap, nullptr);
  Surface surface(4, 4, kGrey);

  Paint(doc, surface, 1);
  EXPECT_EQ(surface.Pixels(), kFrame1);
  EXPECT_EQ(testing::CanvasPixels(doc), kFrame1);
  EXPECT_EQ(testing::MaskRows(doc), kAllPainted);

  Paint(doc, surface, 2);
  EXPECT_EQ(surface.Pixels(),
            (Pixels{{R, G, R, G}, {G, B, G, R}, {R, G, B, G}, {G, R, G, R}}));
  EXPECT_EQ(testing::CanvasPixels(doc), kFrame1) << "restored to frame 1's colours";
  EXPECT_EQ(testing::MaskRows(doc), kAllPainted);

  Paint(doc, surface, 3);
  EXPECT_EQ(surface.Pixels(),
            (Pixels{{B, G, R, G}, {G, R, G, R}, {R, G, R, G}, {G, R, G, R}}));
  EXPECT_EQ(testing::CanvasPixels(doc),
            (Pixels{{K, G, R, G}, {G, R, G, R}, {R, G, R, G}, {G, R, G, R}}));
  EXPECT_EQ(testing::MaskRows(doc), (std::vector<std::string>{"1000", "0000", "0000", "0000"}));

  // Frame 2 again: the emptied pixel shows the background.
  Paint(doc, surface, 2);
  EXPECT_EQ(surface.Pixel(0, 0), kGrey);

  // Looping back to frame 1 empties the canvas first.
  Paint(doc, surface, 1);
  EXPECT_EQ(surface.Pixels(), kFrame1);
  EXPECT_EQ(testing::MaskRows(doc), kAllPainted);
}

TEST(Compositor, EachDisposalMethod) {
  struct Case {
    std::uint8_t disposal;
    platform::RgbQuad canvasAfter;  // the frame's pixels once it has been shown
    int maskAfter;
    platform::RgbQuad shownBeneathNext;  // seen through a wholly transparent next frame
  };
  for (const Case& c : {Case{0, kGreen, 0, kGreen}, Case{1, kGreen, 0, kGreen},
                        Case{2, kBlack, 1, kGrey}, Case{3, kRed, 0, kRed}}) {
    SCOPED_TRACE(int{c.disposal});
    // Frame 1 is transparent in name only (no pixel uses index 0), so a mask always exists.
    GifDocument doc = MakeDocument(
        {
            {.width = 4, .height = 2, .indices = {1, 1, 1, 1, 1, 1, 1, 1}, .transparent = 1,
             .disposal = 1},
            {.left = 1, .width = 2, .height = 1, .indices = {2, 2}, .disposal = c.disposal},
            {.width = 4, .height = 2, .indices = {0, 0, 0, 0, 0, 0, 0, 0}, .transparent = 1,
             .disposal = 1},
        },
        {kRgbTable});
    ASSERT_NE(doc.CompositeCanvas.MaskBitmap, nullptr);
    Surface surface(4, 2, kGrey);
    Paint(doc, surface, 1);
    Paint(doc, surface, 2);
    EXPECT_EQ(surface.Pixel(1, 0), kGreen) << "the frame itself is always shown";
    for (int x : {1, 2}) {
      EXPECT_EQ(testing::CanvasPixel(doc, x, 0), c.canvasAfter) << x;
      EXPECT_EQ(testing::MaskBit(doc, x, 0), c.maskAfter) << x;
    }
    EXPECT_EQ(testing::CanvasPixel(doc, 0, 0), kRed);
    EXPECT_EQ(testing::CanvasPixel(doc, 3, 0), kRed);
    Paint(doc, surface, 3);
    EXPECT_EQ(surface.Pixel(1, 0), c.shownBeneathNext);
    EXPECT_EQ(surface.Pixel(2, 0), c.shownBeneathNext);
    EXPECT_EQ(surface.Pixel(0, 0), kRed);
    EXPECT_EQ(surface.Pixel(1, 1), kRed);
  }
}

// Restore-to-previous frames over a patterned mask, starting at every bit position of a mask
// byte, with right edges that cross one byte more than the width needs (32 pixels from 92 touch
// five bytes) or run to the canvas's edge. Afterwards canvas and mask must be exactly what they
// were before the frame, pixel by pixel, and a wholly transparent frame shows frame 1's holes.
TEST(Compositor, RestoreToPreviousRestoresMaskBitsExactlyAtAnyLeft) {
  constexpr int kWidth = 128;
  std::vector<std::uint8_t> holes;
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < kWidth; ++x) holes.push_back((x * 7 + y * 3) % 5 == 0 ? 0 : 1);
  }
  struct Case {
    int left, width;
  };
  for (const Case c : {Case{92, 32}, Case{1, 32}, Case{2, 16}, Case{3, 8}, Case{4, 9},
                       Case{5, 6}, Case{6, 64}, Case{7, 2}, Case{0, 32}, Case{31, 33},
                       Case{95, 33}, Case{127, 1}}) {
    SCOPED_TRACE(::testing::Message() << "left " << c.left << " width " << c.width);
    const auto area = static_cast<std::size_t>(c.width) * 2;
    GifDocument doc = MakeDocument(
        {
            {.width = kWidth, .height = 3, .indices = holes, .transparent = 1, .disposal = 1},
            {.left = c.left, .top = 1, .width = c.width, .height = 2,
             .indices = std::vector<std::uint8_t>(area, 2), .disposal = 3},
            {.width = kWidth, .height = 3, .indices = std::vector<std::uint8_t>(holes.size(), 0),
             .transparent = 1, .disposal = 1},
        },
        {kRgbTable});
    Surface surface(kWidth, 3, kGrey);
    Paint(doc, surface, 1);
    const auto mask = testing::MaskRows(doc);
    const auto canvas = testing::CanvasPixels(doc);
    const auto frameOne = surface.Pixels();

    Paint(doc, surface, 2);
    EXPECT_EQ(surface.Pixel(c.left, 1), kGreen);
    EXPECT_EQ(surface.Pixel(c.left + c.width - 1, 2), kGreen);
    EXPECT_EQ(testing::MaskRows(doc), mask);
    EXPECT_EQ(testing::CanvasPixels(doc), canvas);

    Paint(doc, surface, 3);
    EXPECT_EQ(surface.Pixels(), frameOne);
  }
}

TEST(Compositor, RepaintingAFrameGivesTheSamePictureAndCanvas) {
  for (int frame : {2, 3}) {
    SCOPED_TRACE(frame);
    GifDocument doc = WorkedExample();
    Surface surface(4, 4, kGrey);
    for (int k = 1; k <= frame; ++k) Paint(doc, surface, k);
    const auto shown = surface.Pixels();
    const auto canvas = testing::CanvasPixels(doc);
    const auto mask = testing::MaskRows(doc);
    Paint(doc, surface, frame);
    EXPECT_EQ(surface.Pixels(), shown);
    EXPECT_EQ(testing::CanvasPixels(doc), canvas);
    EXPECT_EQ(testing::MaskRows(doc), mask);
  }
}

TEST(Compositor, TransparentFrameOneLeavesUncoveredPixelsUnpainted) {
  GifDocument doc = MakeDocument(
      {
          {.width = 2, .height = 2, .indices = {1, 0, 1, 1}, .transparent = 1, .disposal = 1},
          {.left = 2, .top = 2, .width = 2, .height = 2, .indices = {2, 2, 2, 2}, .disposal = 1},
      },
      {kRgbTable});
  Surface surface(4, 4, kGrey);
  Paint(doc, surface, 1);
  EXPECT_EQ(testing::MaskRows(doc), (std::vector<std::string>{"0111", "0011", "1111", "1111"}));
  EXPECT_EQ(surface.Pixels(), (Pixels{{R, S, S, S}, {R, R, S, S}, {S, S, S, S}, {S, S, S, S}}));
  Paint(doc, surface, 2);
  EXPECT_EQ(surface.Pixels(), (Pixels{{R, S, S, S}, {R, R, S, S}, {S, S, G, G}, {S, S, G, G}}));
}

TEST(Compositor, WithoutAMaskUncoveredCanvasShowsBlack) {
  GifDocument doc = MakeDocument(
      {
          {.width = 2, .height = 2, .indices = {1, 1, 1, 1}, .disposal = 1},
          {.left = 2, .top = 2, .width = 2, .height = 2, .indices = {2, 2, 2, 2}, .disposal = 1},
      },
      {kRgbTable});
  ASSERT_NE(doc.CompositeCanvas.Bitmap, nullptr);
  ASSERT_EQ(doc.CompositeCanvas.MaskBitmap, nullptr);
  Surface surface(4, 4, kGrey);
  Paint(doc, surface, 1);
  EXPECT_EQ(surface.Pixels(), (Pixels{{R, R, K, K}, {R, R, K, K}, {K, K, K, K}, {K, K, K, K}}));
}

TEST(Compositor, PreparePhaseSavesTheRectangleAndInvalidatesTheLoadedTable) {
  GifDocument doc = WorkedExample();
  doc.Tables.ActiveColorTable = 0;
  RestoreBuffers buffers;
  ComposeFrame(doc, 2, false, buffers);
  EXPECT_EQ(buffers.savedPixels.size(), 2u * 3u * 2u);
  EXPECT_EQ(buffers.savedMask.size(), 1u * 2u);  // pixels 1 and 2 lie in byte 0; 2 rows
  EXPECT_EQ(doc.Tables.ActiveColorTable, -1);
  // The mask palette is lent to the strip, never changed.
  EXPECT_EQ(doc.MaskPalette, std::vector<std::uint32_t>(256, 0));
  // Out-of-range frames are refused without touching anything.
  ComposeFrame(doc, 0, false, buffers);
  ComposeFrame(doc, 4, true, buffers);
}

}  // namespace
}  // namespace velmora
