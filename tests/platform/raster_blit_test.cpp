// Bit-block transfers: every format pair and raster operation the control uses, colour tables,
// clipping, mirroring in place and halftone resampling.

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "platform/raster.h"
#include "support/raster_bitmaps.h"

namespace velmora::platform {
namespace {

using namespace testing;  // the bitmap builders and readers

struct RopCase {
  const char* name;
  int srcBpp;
  Pixels src;  // one row
  int dstBpp;
  Pixels dst;  // one row, before
  Rop rop;
  Pixels expected;
};

// Palette indices: 0 black, 1 white, 2 red, 3 green, 4 blue, 5 0x808080, 6 0x7F7F7F, 7 0x123456,
// 8 and up black again.
TEST(RasterBlit, RasterOperationsForEveryFormatPairInUse) {
  const RopCase cases[] = {
      {"8 -> 24 copy", 8, {2, 3, 4, 7}, 24, {9, 9, 9, 9}, Rop::kSrcCopy,
       {0xFF0000, 0x00FF00, 0x0000FF, 0x123456}},
      {"8 -> 24 and", 8, {5, 1, 0, 2}, 24, {0xFFFFFF, 0x123456, 0xF0F0F0, 0xABCDEF}, Rop::kSrcAnd,
       {0x808080, 0x123456, 0x000000, 0xAB0000}},
      {"8 -> 24 paint", 8, {2, 0, 7, 1}, 24, {0x000000, 0x123456, 0x0F0F0F, 0x010203},
       Rop::kSrcPaint, {0xFF0000, 0x123456, 0x1F3F5F, 0xFFFFFF}},
      {"8 -> 32 copy", 8, {7, 0, 1, 3}, 32, {9, 9, 9, 9}, Rop::kSrcCopy,
       {0x123456, 0x000000, 0xFFFFFF, 0x00FF00}},
      {"8 -> 32 and", 8, {5, 1, 0, 3}, 32, {0xFFFFFF, 0x123456, 0xF0F0F0, 0xABCDEF}, Rop::kSrcAnd,
       {0x808080, 0x123456, 0x000000, 0x00CD00}},
      // Grey 0x808080 (sum 384) is white, 0x7F7F7F (sum 381) black, pure red black.
      {"8 -> 1 copy", 8, {0, 1, 5, 6, 2, 4}, 1, {1, 0, 0, 1, 1, 1}, Rop::kSrcCopy,
       {0, 1, 1, 0, 0, 0}},
      {"8 -> 1 and", 8, {0, 1, 1, 5, 6, 0}, 1, {1, 1, 0, 1, 1, 0}, Rop::kSrcAnd,
       {0, 1, 0, 1, 0, 0}},
      {"8 -> 1 paint", 8, {0, 1, 0, 1}, 1, {0, 0, 1, 1}, Rop::kSrcPaint, {0, 1, 1, 1}},
      {"1 -> 24 and", 1, {0, 1, 1, 0}, 24, {0x123456, 0x123456, 0xABCDEF, 0xFFFFFF}, Rop::kSrcAnd,
       {0x000000, 0x123456, 0xABCDEF, 0x000000}},
      {"1 -> 32 and", 1, {1, 0, 1, 0}, 32, {0x123456, 0x123456, 0xABCDEF, 0xFFFFFF}, Rop::kSrcAnd,
       {0x123456, 0x000000, 0xABCDEF, 0x000000}},
      {"1 -> 32 copy", 1, {1, 0, 1, 1}, 32, {5, 5, 5, 5}, Rop::kSrcCopy,
       {0xFFFFFF, 0x000000, 0xFFFFFF, 0xFFFFFF}},
      {"1 -> 1 copy", 1, {1, 0, 1, 1, 0}, 1, {0, 1, 0, 0, 1}, Rop::kSrcCopy, {1, 0, 1, 1, 0}},
      {"1 -> 8 copy", 1, {1, 0, 1}, 8, {7, 7, 7}, Rop::kSrcCopy, {1, 0, 1}},
      {"24 -> 32 copy", 24, {0x010203, 0xFFFFFF, 0x000000}, 32, {9, 9, 9}, Rop::kSrcCopy,
       {0x010203, 0xFFFFFF, 0x000000}},
      {"24 -> 32 paint", 24, {0x000100, 0x020000, 0x000000}, 32, {0x100000, 0x000001, 0x0A0B0C},
       Rop::kSrcPaint, {0x100100, 0x020001, 0x0A0B0C}},
      {"24 -> 24 copy", 24, {0xA1B2C3, 0x000001}, 24, {0, 0}, Rop::kSrcCopy,
       {0xA1B2C3, 0x000001}},
      {"24 -> 24 and", 24, {0x0F0F0F, 0xFFFFFF}, 24, {0x123456, 0x123456}, Rop::kSrcAnd,
       {0x020406, 0x123456}},
      {"32 -> 32 copy", 32, {0xA1B2C3, 0x000001}, 32, {0, 0}, Rop::kSrcCopy,
       {0xA1B2C3, 0x000001}},
      {"32 -> 24 paint", 32, {0x0000F0, 0x100000}, 24, {0x00000F, 0x010101}, Rop::kSrcPaint,
       {0x0000FF, 0x110101}},
      // Nearest entry: 0x7E7E7E is nearer 0x7F7F7F (6) than 0x808080 (5); exact 0x123456 is 7.
      {"24 -> 8 copy", 24, {0x7E7E7E, 0xFE0101, 0x123456, 0x818181}, 8, {9, 9, 9, 9},
       Rop::kSrcCopy, {6, 2, 7, 5}},
      {"24 -> 1 copy", 24, {0x000000, 0xFFFFFF, 0x808080, 0x7F7F7F, 0xFF00FF}, 1, {1, 0, 0, 1, 0},
       Rop::kSrcCopy, {0, 1, 1, 0, 1}},
      // Identical tables keep the indices, even the black entries 8 and 200 that repeat entry 0.
      {"8 -> 8 copy", 8, {8, 0, 3, 200}, 8, {1, 1, 1, 1}, Rop::kSrcCopy, {8, 0, 3, 200}},
      {"8 -> 8 and acts on indices", 8, {3, 6}, 8, {5, 7}, Rop::kSrcAnd, {1, 6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int w = static_cast<int>(c.src.size());
    auto src = MakeBitmap(c.srcBpp, w, 1, c.src, TableFor(c.srcBpp));
    auto dst = MakeBitmap(c.dstBpp, w, 1, c.dst, TableFor(c.dstBpp));
    DeviceContext sdc;
    DeviceContext ddc;
    sdc.SelectObject(src.get());
    ddc.SelectObject(dst.get());
    EXPECT_TRUE(BitBlt(ddc, 0, 0, w, 1, sdc, 0, 0, c.rop));
    EXPECT_EQ(AllPixels(*dst), c.expected);
    // StretchBlt at 1:1 in halftone mode is the same exact copy.
    auto dst2 = MakeBitmap(c.dstBpp, w, 1, c.dst, TableFor(c.dstBpp));
    ddc.SelectObject(dst2.get());
    ddc.SetStretchBltMode(kHalftone);
    EXPECT_TRUE(StretchBlt(ddc, 0, 0, w, 1, sdc, 0, 0, w, 1, c.rop));
    EXPECT_EQ(AllPixels(*dst2), c.expected);
  }
}

TEST(RasterBlit, FourthByteOfThirtyTwoBitPixels) {
  // Converting copies write 0 there, AND and OR leave it, a 32 -> 32 copy moves it along.
  const Pixels before = {0xAA000000, 0xAA123456};
  auto src24 = MakeBitmap(24, 2, 1, {0x0F0F0F, 0x000001});
  auto src32 = MakeBitmap(32, 2, 1, {0x55010203, 0x550A0B0C});
  DeviceContext sdc;
  DeviceContext ddc;
  struct Case {
    const char* name;
    Bitmap* source;
    Rop rop;
    Pixels expected;
  };
  const Case cases[] = {
      {"24 -> 32 copy", src24.get(), Rop::kSrcCopy, {0x000F0F0F, 0x00000001}},
      {"24 -> 32 paint", src24.get(), Rop::kSrcPaint, {0xAA0F0F0F, 0xAA123457}},
      {"24 -> 32 and", src24.get(), Rop::kSrcAnd, {0xAA000000, 0xAA000000}},
      {"32 -> 32 copy", src32.get(), Rop::kSrcCopy, {0x55010203, 0x550A0B0C}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto dst = MakeBitmap(32, 2, 1, before);
    sdc.SelectObject(c.source);
    ddc.SelectObject(dst.get());
    ASSERT_TRUE(BitBlt(ddc, 0, 0, 2, 1, sdc, 0, 0, c.rop));
    EXPECT_EQ(AllPixels(*dst), c.expected);
  }
}

TEST(RasterBlit, EightBitTargetMapsThroughItsOwnTable) {
  // The target's table is the test palette reversed in its first eight entries.
  std::vector<RgbQuad> reversed(256, 0x000000);
  const auto palette = TestPalette();
  for (int i = 0; i < 8; ++i) reversed[static_cast<std::size_t>(7 - i)] = palette[static_cast<std::size_t>(i)];
  auto src = MakeBitmap(8, 4, 1, {0, 2, 5, 7}, palette);
  auto dst = MakeBitmap(8, 4, 1, {}, reversed);
  DeviceContext sdc;
  DeviceContext ddc;
  sdc.SelectObject(src.get());
  ddc.SelectObject(dst.get());
  ASSERT_TRUE(BitBlt(ddc, 0, 0, 4, 1, sdc, 0, 0, Rop::kSrcCopy));
  // Black goes to 7, the lowest of the black entries; red 2 -> 5, grey 5 -> 2, 0x123456 7 -> 0.
  EXPECT_EQ(AllPixels(*dst), (Pixels{7, 5, 2, 0}));
}

TEST(RasterBlit, ColourTableChangesTakeEffectWithoutTouchingPixels) {
  auto strip = MakeBitmap(8, 3, 1, {0, 1, 2}, TestPalette());
  auto canvas = MakeBitmap(24, 3, 1, {});
  DeviceContext sdc;
  DeviceContext ddc;
  sdc.SelectObject(strip.get());
  ddc.SelectObject(canvas.get());
  ASSERT_TRUE(BitBlt(ddc, 0, 0, 3, 1, sdc, 0, 0, Rop::kSrcCopy));
  EXPECT_EQ(AllPixels(*canvas), (Pixels{0x000000, 0xFFFFFF, 0xFF0000}));

  const std::vector<RgbQuad> table = {0x112233, 0x445566};
  ASSERT_EQ(SetDIBColorTable(sdc, 0, table), 2);
  ASSERT_TRUE(BitBlt(ddc, 0, 0, 3, 1, sdc, 0, 0, Rop::kSrcCopy));
  EXPECT_EQ(AllPixels(*canvas), (Pixels{0x112233, 0x445566, 0xFF0000}));
  EXPECT_EQ(AllPixels(*strip), (Pixels{0, 1, 2}));

  // The mask trick: only the transparent index white, everything else black, into a 1-bit mask.
  auto mask = MakeBitmap(1, 3, 1, {1, 1, 1}, kMonoTable);
  DeviceContext mdc;
  mdc.SelectObject(mask.get());
  const std::vector<RgbQuad> maskPalette = {0x000000, 0xFFFFFF, 0x000000};
  ASSERT_EQ(SetDIBColorTable(sdc, 0, maskPalette), 3);
  ASSERT_TRUE(BitBlt(mdc, 0, 0, 3, 1, sdc, 0, 0, Rop::kSrcAnd));
  EXPECT_EQ(AllPixels(*mask), (Pixels{0, 1, 0}));
}

struct ClipCase {
  const char* name;
  int x, y, cx, cy, xs, ys;
  bool result;
  Pixels expected;  // 3 x 3 target, top row first; 0 = untouched
};

TEST(RasterBlit, ClipsToBothBitmapsAtEveryEdge) {
  // Source indices 11..19 (all black in the palette, so 8 -> 8 keeps them as they are).
  const Pixels source = {11, 12, 13, 14, 15, 16, 17, 18, 19};
  const ClipCase cases[] = {
      {"whole", 0, 0, 3, 3, 0, 0, true, {11, 12, 13, 14, 15, 16, 17, 18, 19}},
      {"target left of 0", -1, 0, 3, 3, 0, 0, true, {12, 13, 0, 15, 16, 0, 18, 19, 0}},
      {"target above 0", 0, -2, 3, 3, 0, 0, true, {17, 18, 19, 0, 0, 0, 0, 0, 0}},
      {"target past the right", 2, 0, 3, 3, 0, 0, true, {0, 0, 11, 0, 0, 14, 0, 0, 17}},
      {"target past the bottom", 0, 1, 3, 3, 0, 0, true, {0, 0, 0, 11, 12, 13, 14, 15, 16}},
      {"source left of 0", 0, 0, 3, 3, -1, 0, true, {0, 11, 12, 0, 14, 15, 0, 17, 18}},
      {"source above 0", 0, 0, 3, 3, 0, -1, true, {0, 0, 0, 11, 12, 13, 14, 15, 16}},
      {"source past the right", 0, 0, 3, 3, 2, 0, true, {13, 0, 0, 16, 0, 0, 19, 0, 0}},
      {"source past the bottom", 0, 0, 3, 3, 0, 2, true, {17, 18, 19, 0, 0, 0, 0, 0, 0}},
      {"both shifted", 1, 1, 3, 3, -1, 1, true, {0, 0, 0, 0, 0, 14, 0, 0, 17}},
      {"target fully outside", 3, 0, 3, 3, 0, 0, false, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"target fully above", 0, -3, 3, 3, 0, 0, false, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"source fully outside", 0, 0, 3, 3, -3, 0, false, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"zero width", 0, 0, 0, 3, 0, 0, false, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"huge extent", INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, false, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto src = MakeBitmap(8, 3, 3, source, TestPalette());
    auto dst = MakeBitmap(8, 3, 3, {}, TestPalette());
    DeviceContext sdc;
    DeviceContext ddc;
    sdc.SelectObject(src.get());
    ddc.SelectObject(dst.get());
    EXPECT_EQ(BitBlt(ddc, c.x, c.y, c.cx, c.cy, sdc, c.xs, c.ys, Rop::kSrcCopy), c.result);
    EXPECT_EQ(AllPixels(*dst), c.expected);
  }
}

TEST(RasterBlit, ClipsAConvertingTransferToo) {
  auto src = MakeBitmap(8, 3, 1, {2, 3, 4}, TestPalette());
  auto dst = MakeBitmap(32, 3, 1, {0x777777, 0x777777, 0x777777});
  DeviceContext sdc;
  DeviceContext ddc;
  sdc.SelectObject(src.get());
  ddc.SelectObject(dst.get());
  ASSERT_TRUE(BitBlt(ddc, -1, 0, 5, 1, sdc, 0, 0, Rop::kSrcCopy));
  EXPECT_EQ(AllPixels(*dst), (Pixels{0x00FF00, 0x0000FF, 0x777777}));
}

TEST(RasterBlit, ExtremeStretchesStayBounded) {
  auto src = MakeBitmap(24, 1, 1, {0xABCDEF});
  auto dst = MakeBitmap(24, 2, 2, {});
  DeviceContext sdc;
  DeviceContext ddc;
  sdc.SelectObject(src.get());
  ddc.SelectObject(dst.get());
  for (int mode : {kColorOnColor, kHalftone}) {
    SCOPED_TRACE(mode);
    ddc.SetStretchBltMode(mode);
    EXPECT_TRUE(StretchBlt(ddc, 0, 0, INT_MAX, INT_MAX, sdc, 0, 0, 1, 1, Rop::kSrcCopy));
    EXPECT_EQ(AllPixels(*dst), (Pixels(4, 0xABCDEF)));
    EXPECT_TRUE(StretchBlt(ddc, 1, 1, INT_MIN, INT_MIN, sdc, 0, 0, 1, 1, Rop::kSrcCopy));
    // A source rectangle INT_MIN .. -2 lies wholly left of the bitmap.
    EXPECT_FALSE(StretchBlt(ddc, 0, 0, 2, 2, sdc, INT_MIN, 0, INT_MAX, 1, Rop::kSrcCopy));
  }
}

TEST(RasterBlit, SameBitmapOverlappingShiftReadsTheOriginal) {
  auto b = MakeBitmap(8, 4, 1, {11, 12, 13, 14}, TestPalette());
  DeviceContext dc;
  dc.SelectObject(b.get());
  ASSERT_TRUE(BitBlt(dc, 1, 0, 3, 1, dc, 0, 0, Rop::kSrcCopy));
  EXPECT_EQ(AllPixels(*b), (Pixels{11, 11, 12, 13}));
}

struct MirrorCase {
  const char* name;
  int bpp;
  bool topDown;
  int stretchMode;
  int x, y, cx, cy, xs, ys, cxs, cys;
  Pixels expected;  // 5 x 3
};

TEST(RasterBlit, MirrorsABandInPlaceLeavingItsNeighbours) {
  // A 5 x 3 bitmap with a 3 x 3 band at column 1; the band is mirrored the way the control does
  // it: the band's own rectangle as target, the source starting at its far edge.
  const Pixels before = {1, 2, 3, 4, 5, /**/ 6, 7, 8, 9, 10, /**/ 11, 12, 13, 14, 15};
  const MirrorCase cases[] = {
      {"left-right", 8, false, kBlackOnWhite, 1, 0, 3, 3, 3, 0, -3, 3,
       {1, 4, 3, 2, 5, /**/ 6, 9, 8, 7, 10, /**/ 11, 14, 13, 12, 15}},
      {"top-bottom", 8, false, kBlackOnWhite, 1, 0, 3, 3, 1, 2, 3, -3,
       {1, 12, 13, 14, 5, /**/ 6, 7, 8, 9, 10, /**/ 11, 2, 3, 4, 15}},
      {"both", 8, false, kBlackOnWhite, 1, 0, 3, 3, 3, 2, -3, -3,
       {1, 14, 13, 12, 5, /**/ 6, 9, 8, 7, 10, /**/ 11, 4, 3, 2, 15}},
      {"left-right, top-down storage", 8, true, kBlackOnWhite, 1, 0, 3, 3, 3, 0, -3, 3,
       {1, 4, 3, 2, 5, /**/ 6, 9, 8, 7, 10, /**/ 11, 14, 13, 12, 15}},
      {"top-bottom under halftone", 8, false, kHalftone, 1, 0, 3, 3, 1, 2, 3, -3,
       {1, 12, 13, 14, 5, /**/ 6, 7, 8, 9, 10, /**/ 11, 2, 3, 4, 15}},
      {"negative target width", 8, false, kBlackOnWhite, 3, 0, -3, 3, 1, 0, 3, 3,
       {1, 4, 3, 2, 5, /**/ 6, 9, 8, 7, 10, /**/ 11, 14, 13, 12, 15}},
      {"negative target height", 8, false, kBlackOnWhite, 1, 2, 3, -3, 1, 0, 3, 3,
       {1, 12, 13, 14, 5, /**/ 6, 7, 8, 9, 10, /**/ 11, 2, 3, 4, 15}},
      {"both sides negative cancel", 8, false, kBlackOnWhite, 3, 0, -3, 3, 3, 0, -3, 3, before},
      {"24-bit canvas, whole width", 24, false, kBlackOnWhite, 0, 0, 5, 3, 4, 0, -5, 3,
       {5, 4, 3, 2, 1, /**/ 10, 9, 8, 7, 6, /**/ 15, 14, 13, 12, 11}},
      {"32-bit, both", 32, true, kHalftone, 0, 0, 5, 3, 4, 2, -5, -3,
       {15, 14, 13, 12, 11, /**/ 10, 9, 8, 7, 6, /**/ 5, 4, 3, 2, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // For 8 bits the palette is all black: mirroring must move indices, not colours.
    auto b = MakeBitmap(c.bpp, 5, 3, before, std::vector<RgbQuad>(256, 0), c.topDown);
    DeviceContext dc;
    dc.SelectObject(b.get());
    dc.SetStretchBltMode(c.stretchMode);
    EXPECT_TRUE(StretchBlt(dc, c.x, c.y, c.cx, c.cy, dc, c.xs, c.ys, c.cxs, c.cys, Rop::kSrcCopy));
    EXPECT_EQ(AllPixels(*b), c.expected);
  }
}

TEST(RasterBlit, MirrorsAOneBitMaskInPlace) {
  auto mask = MakeBitmap(1, 10, 2, {1, 1, 0, 0, 0, 0, 0, 0, 0, 1, /**/ 0, 0, 0, 0, 0, 0, 0, 0, 1, 1},
                         kMonoTable);
  DeviceContext dc;
  dc.SelectObject(mask.get());
  ASSERT_TRUE(StretchBlt(dc, 0, 0, 10, 2, dc, 9, 0, -10, 2, Rop::kSrcCopy));
  EXPECT_EQ(AllPixels(*mask), (Pixels{1, 0, 0, 0, 0, 0, 0, 0, 1, 1, /**/ 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(RasterBlit, NearestNeighbourStretch) {
  auto src = MakeBitmap(8, 4, 1, {11, 12, 13, 14}, TestPalette());
  auto dst = MakeBitmap(8, 8, 1, {}, TestPalette());
  DeviceContext sdc;
  DeviceContext ddc;
  sdc.SelectObject(src.get());
  ddc.SelectObject(dst.get());
  ddc.SetStretchBltMode(kColorOnColor);
  ASSERT_TRUE(StretchBlt(ddc, 0, 0, 8, 1, sdc, 0, 0, 4, 1, Rop::kSrcCopy));
  EXPECT_EQ(AllPixels(*dst), (Pixels{11, 11, 12, 12, 13, 13, 14, 14}));
  // Shrinking samples the centre of each covered span: source 1 and 3.
  ASSERT_TRUE(StretchBlt(ddc, 0, 0, 2, 1, sdc, 0, 0, 4, 1, Rop::kSrcCopy));
  EXPECT_EQ(AllPixels(*dst), (Pixels{12, 14, 12, 12, 13, 13, 14, 14}));
}

std::uint32_t Grey(std::uint32_t v) { return v * 0x010101u; }

struct HalftoneCase {
  const char* name;
  int srcW, srcH;
  Pixels src;  // greys, 0..255
  int xs, ys, cxs, cys;
  int dstW, dstH;
  Pixels expected;  // greys
};

TEST(RasterHalftone, AveragesWhenShrinkingInterpolatesWhenEnlarging) {
  const HalftoneCase cases[] = {
      {"shrink 2:1", 4, 1, {10, 20, 30, 50}, 0, 0, 4, 1, 2, 1, {15, 40}},
      {"shrink 2:1 both ways", 2, 2, {0, 40, 80, 120}, 0, 0, 2, 2, 1, 1, {60}},
      // 3 -> 2: each target pixel covers one and a half source pixels.
      {"shrink 3:2", 3, 1, {0, 90, 180}, 0, 0, 3, 1, 2, 1, {30, 150}},
      {"shrink 4:1 vertically", 1, 4, {0, 100, 200, 100}, 0, 0, 1, 4, 1, 1, {100}},
      {"enlarge 1:2", 2, 1, {0, 100}, 0, 0, 2, 1, 4, 1, {0, 25, 75, 100}},
      {"enlarge 1:2 vertically", 1, 2, {200, 0}, 0, 0, 1, 2, 1, 4, {200, 150, 50, 0}},
      {"enlarge 1:2 mirrored", 2, 1, {0, 100}, 1, 0, -2, 1, 4, 1, {100, 75, 25, 0}},
      // Never reads outside the source rectangle: the 0 and 255 beside it do not bleed in.
      {"enlarge a sub-rectangle", 4, 1, {0, 100, 200, 255}, 1, 0, 2, 1, 4, 1,
       {100, 125, 175, 200}},
      {"shrink one axis, copy the other", 2, 2, {0, 100, 50, 150}, 0, 0, 2, 2, 1, 2, {50, 100}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pixels srcPixels;
    for (auto v : c.src) srcPixels.push_back(Grey(v));
    Pixels expected;
    for (auto v : c.expected) expected.push_back(Grey(v));
    auto src = MakeBitmap(24, c.srcW, c.srcH, srcPixels);
    auto dst = MakeBitmap(32, c.dstW, c.dstH, {});
    DeviceContext sdc;
    DeviceContext ddc;
    sdc.SelectObject(src.get());
    ddc.SelectObject(dst.get());
    ddc.SetStretchBltMode(kHalftone);
    EXPECT_TRUE(StretchBlt(ddc, 0, 0, c.dstW, c.dstH, sdc, c.xs, c.ys, c.cxs, c.cys, Rop::kSrcCopy));
    EXPECT_EQ(AllPixels(*dst), expected);
  }
}

TEST(RasterHalftone, ClippingTheTargetKeepsTheVisiblePixelsAsUnclipped) {
  // The same 3 -> 7 enlargement drawn whole, and drawn 2 columns left of and 1 row above a
  // smaller target: the pixels that remain visible must be the same ones.
  const Pixels source = {Grey(0), Grey(90), Grey(255), Grey(30), Grey(200), Grey(10)};
  auto src = MakeBitmap(24, 3, 2, source);
  auto whole = MakeBitmap(32, 7, 5, {});
  auto part = MakeBitmap(32, 4, 3, {});
  DeviceContext sdc;
  DeviceContext ddc;
  sdc.SelectObject(src.get());
  ddc.SetStretchBltMode(kHalftone);
  ddc.SelectObject(whole.get());
  ASSERT_TRUE(StretchBlt(ddc, 0, 0, 7, 5, sdc, 0, 0, 3, 2, Rop::kSrcCopy));
  ddc.SelectObject(part.get());
  ASSERT_TRUE(StretchBlt(ddc, -2, -1, 7, 5, sdc, 0, 0, 3, 2, Rop::kSrcCopy));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(ReadPixel(*part, x, y), ReadPixel(*whole, x + 2, y + 1)) << x << "," << y;
    }
  }
}

TEST(RasterHalftone, EnlargingIsMonotonicBetweenSourcePixels) {
  auto src = MakeBitmap(8, 2, 1, {0, 1}, TestPalette());  // black, white
  auto dst = MakeBitmap(24, 13, 1, {});
  DeviceContext sdc;
  DeviceContext ddc;
  sdc.SelectObject(src.get());
  ddc.SelectObject(dst.get());
  ddc.SetStretchBltMode(kHalftone);
  ASSERT_TRUE(StretchBlt(ddc, 0, 0, 13, 1, sdc, 0, 0, 2, 1, Rop::kSrcCopy));
  EXPECT_EQ(ReadPixel(*dst, 0, 0), 0x000000u);
  EXPECT_EQ(ReadPixel(*dst, 12, 0), 0xFFFFFFu);
  for (int x = 1; x < 13; ++x) {
    const std::uint32_t prev = ReadPixel(*dst, x - 1, 0);
    const std::uint32_t cur = ReadPixel(*dst, x, 0);
    EXPECT_LE(prev & 0xFF, cur & 0xFF) << x;
    EXPECT_EQ(cur, Grey(cur & 0xFF)) << x;  // stays grey: channels move together
  }
}

TEST(RasterHalftone, ResamplesInColourThenMapsToPaletteOrMonochrome) {
  // Black and white averaged give 128 grey: index 5 (0x808080) in the palette, white in 1 bit;
  // black and dark grey give 0x202020: black.
  auto src = MakeBitmap(24, 4, 1, {0x000000, 0xFFFFFF, 0x000000, 0x404040});
  DeviceContext sdc;
  sdc.SelectObject(src.get());
  auto indexed = MakeBitmap(8, 2, 1, {9, 9}, TestPalette());
  auto mono = MakeBitmap(1, 2, 1, {0, 1}, kMonoTable);
  DeviceContext ddc;
  ddc.SetStretchBltMode(kHalftone);
  ddc.SelectObject(indexed.get());
  ASSERT_TRUE(StretchBlt(ddc, 0, 0, 2, 1, sdc, 0, 0, 4, 1, Rop::kSrcCopy));
  EXPECT_EQ(AllPixels(*indexed), (Pixels{5, 0}));
  ddc.SelectObject(mono.get());
  ASSERT_TRUE(StretchBlt(ddc, 0, 0, 2, 1, sdc, 0, 0, 4, 1, Rop::kSrcCopy));
  EXPECT_EQ(AllPixels(*mono), (Pixels{1, 0}));
}

TEST(RasterBlit, StretchedMaskAndThenColoursOverABackground) {
  // The canvas-mode draw, enlarged 2:1: mask AND, then colours OR, over a grey background.
  auto mask = MakeBitmap(1, 2, 1, {0, 1}, kMonoTable);        // left painted, right not
  auto colours = MakeBitmap(24, 2, 1, {0xFF0000, 0x000000});  // unpainted pixels are black
  auto surface = MakeBitmap(32, 4, 1, Pixels(4, 0x404040), {}, true);
  DeviceContext mdc;
  DeviceContext cdc;
  DeviceContext sdc;
  mdc.SelectObject(mask.get());
  cdc.SelectObject(colours.get());
  sdc.SelectObject(surface.get());
  sdc.SetStretchBltMode(kColorOnColor);
  ASSERT_TRUE(StretchBlt(sdc, 0, 0, 4, 1, mdc, 0, 0, 2, 1, Rop::kSrcAnd));
  ASSERT_TRUE(StretchBlt(sdc, 0, 0, 4, 1, cdc, 0, 0, 2, 1, Rop::kSrcPaint));
  EXPECT_EQ(AllPixels(*surface), (Pixels{0xFF0000, 0xFF0000, 0x404040, 0x404040}));
}

}  // namespace
}  // namespace velmora::platform
