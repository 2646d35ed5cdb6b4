// The renderer: the Stretch table, direct and canvas destinations, the solid background, colour
// table loading around transparent frames, stretch-mode bookkeeping, and mirroring.

#include "ucAniGIF/render/renderer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/errors.h"
#include "support/render_documents.h"

namespace velmora {
namespace {

using testing::MakeDocument;
using testing::Surface;
using testing::Table;

constexpr platform::RgbQuad kGrey = 0x808080;
constexpr platform::RgbQuad kBlack = 0x000000;
constexpr platform::RgbQuad kRed = 0xFF0000;
constexpr platform::RgbQuad kGreen = 0x00FF00;
constexpr platform::RgbQuad kBlue = 0x0000FF;
const ColorTable kRgbTable = Table({kBlack, kRed, kGreen, kBlue});

TEST(ComputeScale, StretchTable) {
  struct Case {
    std::int32_t stretch, cw, ch, w, h;
    float sx, sy;
    std::int32_t newW, newH;
  };
  const Case cases[] = {
      {1, 100, 50, 300, 300, 3.0f, 3.0f, 300, 150},
      {1, 100, 50, 60, 300, 0.6f, 0.6f, 60, 30},
      {1, 100, 50, 300, 150, 3.0f, 3.0f, 300, 150},  // equal quotients: sx kept
      {1, 5, 2, 100, 1, 0.5f, 0.5f, 2, 1},           // 2.5 rounds to even
      {1, 7, 2, 100, 1, 0.5f, 0.5f, 4, 1},           // 3.5 rounds to even
      {3, 100, 50, 300, 300, 1.0f, 1.0f, 100, 50},
      {3, 100, 50, 50, 300, 0.5f, 0.5f, 50, 25},
      {3, 100, 50, 100, 300, 1.0f, 1.0f, 100, 50},   // one quotient exactly 1: as mode 1
      {0, 100, 50, 300, 20, 1.0f, 1.0f, 100, 20},
      {0, 100, 50, 40, 70, 1.0f, 1.0f, 40, 50},
      {2, 100, 50, 300, 300, 3.0f, 6.0f, 300, 300},
      {2, 3, 3, 1, 2, float(1.0 / 3.0), float(2.0 / 3.0), 1, 2},
      {4, 100, 50, 7, 900, 1.0f, 1.0f, 100, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mode " << c.stretch << ", " << c.cw << " x " << c.ch
                                      << " in " << c.w << " x " << c.h);
    GifHeader header;
    header.CanvasWidth = c.cw;
    header.CanvasHeight = c.ch;
    std::int32_t w = c.w, h = c.h;
    float sx = 9.0f, sy = 9.0f;
    ComputeScale(header, c.stretch, 1, w, h, sx, sy);
    EXPECT_EQ(sx, c.sx);
    EXPECT_EQ(sy, c.sy);
    EXPECT_EQ(w, c.newW);
    EXPECT_EQ(h, c.newH);
  }
}

TEST(ComputeScale, NothingLoadedChangesNothing) {
  GifHeader header;
  header.CanvasWidth = 10;
  header.CanvasHeight = 10;
  std::int32_t w = 33, h = 44;
  float sx = 2.5f, sy = 3.5f;
  ComputeScale(header, 4, 0, w, h, sx, sy);
  EXPECT_EQ(w, 33);
  EXPECT_EQ(h, 44);
  EXPECT_EQ(sx, 2.5f);
  EXPECT_EQ(sy, 3.5f);
}

TEST(ComputeScale, EmptyCanvasIsADivisionErrorInTheDividingModes) {
  for (std::int32_t mode = 0; mode <= 4; ++mode) {
    GifHeader header;
    header.CanvasWidth = mode % 2 == 0 ? 0 : 10;
    header.CanvasHeight = mode % 2 == 0 ? 10 : 0;
    std::int32_t w = 20, h = 20;
    float sx = 1.0f, sy = 1.0f;
    const bool divides = mode >= 1 && mode <= 3;
    try {
      ComputeScale(header, mode, 1, w, h, sx, sy);
      EXPECT_FALSE(divides) << "mode " << mode;
    } catch (const platform::RuntimeError& e) {
      EXPECT_TRUE(divides) << "mode " << mode;
      EXPECT_EQ(e.Number(), platform::kErrDivisionByZero);
      EXPECT_EQ(w, 20) << "unchanged on error";
    }
  }
}

TEST(ResolveColor, HighBitNamesASystemColour) {
  platform::SetSysColorOverride(6, 0x00332211);
  EXPECT_EQ(platform::ResolveColor(0x80000006u), 0x00332211u);
  EXPECT_EQ(platform::ResolveColor(0x80001206u), 0x00332211u) << "only the low byte counts";
  EXPECT_EQ(platform::ResolveColor(0x00332211u), 0x00332211u);
  platform::ClearSysColorOverrides();
  EXPECT_EQ(platform::ResolveColor(0x80000006u), platform::GetSysColor(6));
}

// One red 2 x 2 frame at (1, 0) on a 3 x 2 canvas, drawn directly (one frame: no canvas).
GifDocument OneRedFrame() {
  return MakeDocument({{.left = 1, .width = 2, .height = 2, .indices = {1, 1, 1, 1}}},
                      {kRgbTable});
}

TEST(PaintFrame, DirectModeScalesTheOffsetsWithThePosition) {
  GifDocument doc = OneRedFrame();
  ASSERT_EQ(doc.CompositeCanvas.Bitmap, nullptr);
  doc.Header.ScaleFactorX = doc.Header.ScaleFactorY = 2.0f;
  ControlState state;
  state.OffsetX = 10;
  state.OffsetY = 1;
  Surface surface(40, 10, kGrey);
  ASSERT_TRUE(PaintFrame(doc, state, 1, *surface.dc, {6, 4}));
  // x = round(2 * (10 + 1)) = 22, width 4; y = round(2 * (1 + 0)) = 2, height 4.
  for (int x = 20; x <= 27; ++x) {
    const bool inside = x >= 22 && x < 26;
    EXPECT_EQ(surface.Pixel(x, 3), inside ? kRed : kGrey) << x;
  }
  EXPECT_EQ(surface.Pixel(23, 1), kGrey);
  EXPECT_EQ(surface.Pixel(23, 2), kRed);
  EXPECT_EQ(surface.Pixel(23, 5), kRed);
  EXPECT_EQ(surface.Pixel(23, 6), kGrey);
}

TEST(PaintFrame, CanvasModeDoesNotScaleTheOffsets) {
  GifDocument doc = MakeDocument(
      {{.width = 2, .height = 2, .indices = {1, 1, 1, 1}, .disposal = 1},
       {.left = 2, .width = 1, .height = 2, .indices = {2, 2}, .disposal = 1}},
      {kRgbTable});
  ASSERT_NE(doc.CompositeCanvas.Bitmap, nullptr);
  doc.Header.ScaleFactorX = doc.Header.ScaleFactorY = 2.0f;
  ControlState state;
  state.OffsetX = 10;
  Surface surface(40, 10, kGrey);
  ASSERT_TRUE(PaintFrame(doc, state, 1, *surface.dc, {6, 4}));
  surface.Clear(kGrey);
  ASSERT_TRUE(PaintFrame(doc, state, 2, *surface.dc, {6, 4}));
  // The whole canvas, 3 x 2, over the 6 x 4 inner size at (10, 0).
  EXPECT_EQ(surface.Pixel(9, 0), kGrey);
  EXPECT_EQ(surface.Pixel(10, 0), kRed);
  EXPECT_EQ(surface.Pixel(11, 3), kRed);
  EXPECT_EQ(surface.Pixel(15, 3), kGreen);
  EXPECT_EQ(surface.Pixel(16, 0), kGrey);
  EXPECT_EQ(surface.Pixel(12, 4), kGrey);
}

TEST(PaintFrame, FrameZeroOrUnknownDrawsNothing) {
  GifDocument doc = OneRedFrame();
  ControlState state;
  Surface surface(3, 2, kGrey);
  EXPECT_FALSE(PaintFrame(doc, state, 0, *surface.dc, {3, 2}));
  EXPECT_FALSE(PaintFrame(doc, state, 2, *surface.dc, {3, 2}));
  EXPECT_EQ(surface.Pixel(1, 0), kGrey);
  EXPECT_TRUE(PaintFrame(doc, state, 1, *surface.dc, {3, 2}));
  EXPECT_EQ(surface.Pixel(1, 0), kRed);
}

TEST(PaintFrame, SolidBackgroundFillsTheScaledCanvasFromTheOrigin) {
  platform::SetSysColorOverride(6, 0x00332211);
  struct Case {
    std::uint32_t colour;
    platform::RgbQuad painted;
  };
  for (const Case& c : {Case{0x80000006u, 0x112233}, Case{0x000000FFu, 0xFF0000}}) {
    GifDocument doc = MakeDocument({{.left = 2, .width = 2, .indices = {2, 2}}}, {kRgbTable});
    ControlState state;
    state.SolidBkgColorUsed = kTrue;
    state.SolidBkgColor = c.colour;
    state.OffsetX = 1;  // moves the frame, not the fill
    Surface surface(7, 2, kGrey);
    ASSERT_TRUE(PaintFrame(doc, state, 1, *surface.dc, {4, 1}));
    const std::vector<platform::RgbQuad> row0 = {c.painted, c.painted, c.painted, kGreen, kGreen,
                                                 kGrey, kGrey};
    EXPECT_EQ(surface.Pixels()[0], row0);
    EXPECT_EQ(surface.Pixel(0, 1), kGrey);
  }
  platform::ClearSysColorOverrides();
}

TEST(PaintFrame, SolidBackgroundOnlyOnTheHostSurface) {
  GifDocument doc = MakeDocument(
      {{.width = 2, .indices = {0, 1}, .transparent = 1, .disposal = 1},
       {.width = 2, .indices = {0, 0}, .transparent = 1, .disposal = 1}},
      {kRgbTable});
  ASSERT_NE(doc.CompositeCanvas.MaskBitmap, nullptr);
  ControlState state;
  state.SolidBkgColorUsed = kTrue;
  state.SolidBkgColor = 0x00FF0000;  // blue
  Surface surface(3, 1, kGrey);
  ASSERT_TRUE(PaintFrame(doc, state, 1, *surface.dc, {3, 1}));
  EXPECT_EQ(surface.Pixels()[0], (std::vector<platform::RgbQuad>{kBlue, kRed, kGrey}));
  EXPECT_EQ(testing::CanvasPixel(doc, 0, 0), kBlack) << "the canvas itself stays unpainted";
}

TEST(PaintFrame, OpaqueFrameAfterTransparentOneUsesTheRealTransparentColour) {
  // Every frame restores to background: direct mode.
  GifDocument doc = MakeDocument(
      {{.width = 2, .indices = {1, 2}, .transparent = 1, .transparentIndex = 1, .disposal = 2},
       {.width = 2, .indices = {1, 3}, .disposal = 2}},
      {kRgbTable});
  ASSERT_EQ(doc.CompositeCanvas.Bitmap, nullptr);
  ControlState state;
  Surface surface(2, 1, kGrey);
  ASSERT_TRUE(PaintFrame(doc, state, 1, *surface.dc, {2, 1}));
  EXPECT_EQ(surface.Pixels()[0], (std::vector<platform::RgbQuad>{kGrey, kGreen}));
  EXPECT_EQ(doc.Tables.ActiveColorTable, -1);
  surface.Clear(kGrey);
  ASSERT_TRUE(PaintFrame(doc, state, 2, *surface.dc, {2, 1}));
  EXPECT_EQ(surface.Pixels()[0], (std::vector<platform::RgbQuad>{kRed, kBlue}));
  EXPECT_EQ(doc.Tables.ActiveColorTable, 0);
  EXPECT_EQ(doc.MaskPalette, std::vector<std::uint32_t>(256, 0));
  EXPECT_EQ(doc.Tables.ColorTables[0][1], kRed) << "the table itself is never doctored";
}

TEST(PaintFrame, OpaqueFrameReloadsOnlyAChangedTable) {
  GifDocument doc = MakeDocument(
      {{.width = 1, .indices = {2}, .colorTable = 0, .disposal = 2},
       {.width = 1, .indices = {2}, .colorTable = 1, .disposal = 2}},
      {kRgbTable, Table({kBlack, kBlack, kBlue, kBlack})});
  ControlState state;
  Surface surface(1, 1, kGrey);
  // The strip still holds the index palette, but the cache says table 0: not reloaded.
  doc.Tables.ActiveColorTable = 0;
  ASSERT_TRUE(PaintFrame(doc, state, 1, *surface.dc, {1, 1}));
  EXPECT_EQ(surface.Pixel(0, 0), 0x000002u);
  ASSERT_TRUE(PaintFrame(doc, state, 2, *surface.dc, {1, 1}));
  EXPECT_EQ(surface.Pixel(0, 0), kBlue);
  EXPECT_EQ(doc.Tables.ActiveColorTable, 1);
  ASSERT_TRUE(PaintFrame(doc, state, 1, *surface.dc, {1, 1}));
  EXPECT_EQ(surface.Pixel(0, 0), kGreen);
}

TEST(PaintFrame, StretchedDrawRestoresStretchModeAndBrushOrigin) {
  for (float scale : {1.0f, 2.0f}) {
    GifDocument doc = OneRedFrame();
    doc.Header.ScaleFactorX = doc.Header.ScaleFactorY = scale;
    Surface surface(8, 8, kGrey);
    surface.dc->SetStretchBltMode(platform::kColorOnColor);
    surface.dc->SetBrushOrgEx(3, 4);
    ControlState state;
    ASSERT_TRUE(PaintFrame(doc, state, 1, *surface.dc, {6, 4}));
    EXPECT_EQ(surface.dc->StretchBltMode(), platform::kColorOnColor);
    EXPECT_EQ(surface.dc->BrushOrg().x, 3);
    EXPECT_EQ(surface.dc->BrushOrg().y, 4);
    EXPECT_EQ(surface.Pixel(static_cast<int>(2 * scale), 0), kRed);
  }
}

TEST(DrawFrame, EmptyDestinationDrawsNothing) {
  GifDocument doc = OneRedFrame();
  ControlState state;
  state.SolidBkgColorUsed = kTrue;
  Surface surface(3, 2, kGrey);
  DrawFrame(doc, state, 1, *surface.dc, true, false, {0, 0, 0, 2});
  DrawFrame(doc, state, 1, *surface.dc, true, false, {0, 0, 2, -1});
  EXPECT_EQ(surface.Pixel(0, 0), kGrey);
}

// Colour i is (i, 0, i): every index its own colour.
ColorTable GreyRamp() {
  ColorTable table{};
  for (std::uint32_t i = 0; i < 256; ++i) table[i] = (i << 16) | i;
  table[kColorCountEntry] = 256;
  return table;
}

// Frame 1: 20 x 2 at Left 10, Top 0 with distinct indices; frame 2: 100 x 3 filling the canvas.
GifDocument MirrorDocument() {
  std::vector<std::uint8_t> first;
  for (int i = 0; i < 40; ++i) first.push_back(static_cast<std::uint8_t>(i + 1));
  return MakeDocument(
      {{.left = 10, .width = 20, .height = 2, .indices = first, .disposal = 1},
       {.width = 100, .height = 3, .indices = std::vector<std::uint8_t>(300, 200), .disposal = 3}},
      {GreyRamp()});
}

int StripIndex(const GifDocument& doc, int x, int y) { return doc.FrameStrip.Bitmap->Row(y)[x]; }

TEST(MirrorFrames, LeftRightMovesTheFrameAndFlipsItsBandOnly) {
  GifDocument doc = MirrorDocument();
  std::int32_t mirrored = 0;
  MirrorFrames(doc, mirrored, 1, true, false);
  EXPECT_EQ(mirrored, 0) << "the caller stores the new style";
  EXPECT_EQ(doc.Frame(1).Left, 70);
  EXPECT_EQ(doc.Frame(1).Top, 0);
  EXPECT_EQ(doc.Frame(2).Left, 0) << "first frame only";
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 20; ++x) EXPECT_EQ(StripIndex(doc, x, y), 20 * y + (19 - x) + 1);
  }
  EXPECT_EQ(StripIndex(doc, 20, 0), 200) << "the neighbouring band is untouched";
  EXPECT_EQ(StripIndex(doc, 0, 2), 0) << "rows below the frame are untouched";
}

TEST(MirrorFrames, FromOneToThreeFlipsTopBottomOnly) {
  GifDocument doc = MirrorDocument();
  std::int32_t mirrored = 1;
  MirrorFrames(doc, mirrored, 3, false, false);
  EXPECT_EQ(doc.Frame(1).Left, 10);
  EXPECT_EQ(doc.Frame(1).Top, 1);  // 3 - (0 + 2)
  for (int x = 0; x < 20; ++x) {
    EXPECT_EQ(StripIndex(doc, x, 0), 20 + x + 1);
    EXPECT_EQ(StripIndex(doc, x, 1), x + 1);
  }
  // And from 3 back to 0 flips both ways, returning to the decoded orientation.
  mirrored = 3;
  MirrorFrames(doc, mirrored, 0, false, false);
  EXPECT_EQ(doc.Frame(1).Left, 70);
  EXPECT_EQ(doc.Frame(1).Top, 0);
  EXPECT_EQ(StripIndex(doc, 0, 0), 20);
  EXPECT_EQ(StripIndex(doc, 19, 1), 21);
}

TEST(MirrorFrames, FlagSaysFrameOneIsAlreadyDone) {
  GifDocument doc = MirrorDocument();
  std::int32_t mirrored = 0x21;
  MirrorFrames(doc, mirrored, 0, false, false);
  EXPECT_EQ(mirrored, 1);
  EXPECT_EQ(doc.Frame(1).Left, 10);
  EXPECT_EQ(StripIndex(doc, 0, 0), 1);
  EXPECT_EQ(doc.Frame(2).Left, 0);  // 100 - (0 + 100)
}

TEST(MirrorFrames, SameStyleDoesNothing) {
  GifDocument doc = MirrorDocument();
  std::int32_t mirrored = 2;
  MirrorFrames(doc, mirrored, 2, false, true);
  EXPECT_EQ(doc.Frame(1).Top, 0);
  EXPECT_EQ(StripIndex(doc, 0, 0), 1);
}

TEST(MirrorFrames, IncludeCanvasFlipsImageAndMask) {
  GifDocument doc = MirrorDocument();
  ASSERT_NE(doc.CompositeCanvas.MaskBitmap, nullptr);
  ControlState state;
  Surface surface(100, 3, kGrey);
  ASSERT_TRUE(PaintFrame(doc, state, 1, *surface.dc, {100, 3}));
  ASSERT_EQ(testing::MaskBit(doc, 10, 0), 0);
  ASSERT_EQ(testing::MaskBit(doc, 89, 0), 1);
  const platform::RgbQuad left = testing::CanvasPixel(doc, 10, 0);
  ASSERT_EQ(left, 0x010001u);
  std::int32_t mirrored = 0;
  MirrorFrames(doc, mirrored, 3, false, true);
  EXPECT_EQ(testing::CanvasPixel(doc, 89, 2), left);
  EXPECT_EQ(testing::MaskBit(doc, 89, 2), 0);
  EXPECT_EQ(testing::MaskBit(doc, 10, 2), 1);
  EXPECT_EQ(testing::MaskBit(doc, 10, 0), 1);
  EXPECT_EQ(&doc.CompositeCanvas.DC->Selected(), doc.CompositeCanvas.Bitmap.get());
}

}  // namespace
}  // namespace velmora
