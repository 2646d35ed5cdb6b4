// Bitmaps, device contexts, colour tables, fills, outlines and system colours.

#include "platform/raster.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "support/raster_bitmaps.h"

namespace velmora::platform {
namespace {

using namespace testing;  // the bitmap builders and readers

struct CreateCase {
  const char* name;
  int width;
  int height;
  int bpp;
  int stride;  // 0: creation must fail
};

TEST(RasterBitmap, CreateChecksFormatAndBounds) {
  const CreateCase cases[] = {
      {"1 bit, 1 pixel: one padded dword", 1, 1, 1, 4},
      {"1 bit, 33 pixels: two dwords", 33, 2, 1, 8},
      {"8 bits, 5 pixels padded to 8", 5, 2, 8, 8},
      {"24 bits, 3 pixels = 9 bytes padded to 12", 3, 1, 24, 12},
      {"24 bits, 4 pixels = 12 bytes", 4, 3, 24, 12},
      {"32 bits", 3, 2, 32, 12},
      {"top-down", 7, -3, 8, 8},
      {"widest side allowed", kMaxBitmapSide, 1, 8, kMaxBitmapSide},
      {"zero width", 0, 4, 8, 0},
      {"zero height", 4, 0, 8, 0},
      {"negative width", -4, 4, 8, 0},
      {"4 bits per pixel", 4, 4, 4, 0},
      {"16 bits per pixel", 4, 4, 16, 0},
      {"0 bits per pixel", 4, 4, 0, 0},
      {"side above the bound", kMaxBitmapSide + 1, 1, 1, 0},
      {"height above the bound", 1, -(kMaxBitmapSide + 1), 1, 0},
      {"one row past the byte bound", 16384, 16385, 8, 0},
      {"both sides at the bound, 32 bits", kMaxBitmapSide, kMaxBitmapSide, 32, 0},
      {"int max width", INT_MAX, 1, 32, 0},
      {"int min height", 1, INT_MIN, 8, 0},
      {"int max both", INT_MAX, INT_MAX, 32, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto b = Bitmap::Create(c.width, c.height, c.bpp);
    if (c.stride == 0) {
      EXPECT_EQ(b, nullptr);
      continue;
    }
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width(), c.width);
    EXPECT_EQ(b->Height(), c.height < 0 ? -c.height : c.height);
    EXPECT_EQ(b->TopDown(), c.height < 0);
    EXPECT_EQ(b->BitsPerPixel(), c.bpp);
    EXPECT_EQ(b->Stride(), c.stride);
    EXPECT_EQ(b->SizeBytes(), static_cast<std::size_t>(c.stride) * b->Height());
  }
}

TEST(RasterBitmap, PixelsStartZeroAndTablesTakeWhatFits) {
  auto b8 = Bitmap::Create(5, 3, 8, std::vector<RgbQuad>{0x010203, 0x040506, 0x070809});
  ASSERT_NE(b8, nullptr);
  for (std::size_t i = 0; i < b8->SizeBytes(); ++i) ASSERT_EQ(b8->Bits()[i], 0) << i;
  ASSERT_EQ(b8->ColorTable().size(), 256u);
  EXPECT_EQ(b8->ColorTable()[0], 0x010203u);
  EXPECT_EQ(b8->ColorTable()[2], 0x070809u);
  EXPECT_EQ(b8->ColorTable()[3], 0u);
  EXPECT_EQ(b8->ColorTable()[255], 0u);

  auto b1 = Bitmap::Create(9, 2, 1, std::vector<RgbQuad>{0x000000, 0xFFFFFF, 0xABCDEF});
  ASSERT_NE(b1, nullptr);
  ASSERT_EQ(b1->ColorTable().size(), 2u);
  EXPECT_EQ(b1->ColorTable()[1], 0xFFFFFFu);

  auto b24 = Bitmap::Create(2, 2, 24, std::vector<RgbQuad>{0x123456});
  ASSERT_NE(b24, nullptr);
  EXPECT_TRUE(b24->ColorTable().empty());
}

TEST(RasterBitmap, RowCountsFromTheTopInBothStorageOrders) {
  auto up = Bitmap::Create(3, 4, 8);
  auto down = Bitmap::Create(3, -4, 8);
  ASSERT_NE(up, nullptr);
  ASSERT_NE(down, nullptr);
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(up->Row(y), up->Bits() + (3 - y) * up->Stride()) << y;
    EXPECT_EQ(down->Row(y), down->Bits() + y * down->Stride()) << y;
  }
}

TEST(RasterDeviceContext, StartsWithItsOwnMonochromeBitmap) {
  DeviceContext dc;
  Bitmap& initial = dc.Selected();
  EXPECT_EQ(initial.Width(), 1);
  EXPECT_EQ(initial.Height(), 1);
  EXPECT_EQ(initial.BitsPerPixel(), 1);
  EXPECT_EQ(initial.ColorTable()[1], 0xFFFFFFu);

  auto a = Bitmap::Create(2, 2, 24);
  auto b = Bitmap::Create(2, 2, 8);
  EXPECT_EQ(dc.SelectObject(a.get()), &initial);
  EXPECT_EQ(&dc.Selected(), a.get());
  EXPECT_EQ(dc.SelectObject(b.get()), a.get());
  EXPECT_EQ(dc.SelectObject(nullptr), b.get());
  EXPECT_EQ(&dc.Selected(), &initial);

  auto other = CreateCompatibleDC(&dc);
  ASSERT_NE(other, nullptr);
  EXPECT_NE(&other->Selected(), &initial);
}

TEST(RasterDeviceContext, ModesOriginPenAndBrushReturnThePrevious) {
  DeviceContext dc;
  EXPECT_EQ(dc.StretchBltMode(), kBlackOnWhite);
  EXPECT_EQ(dc.SetStretchBltMode(kHalftone), kBlackOnWhite);
  EXPECT_EQ(dc.SetStretchBltMode(kColorOnColor), kHalftone);
  EXPECT_EQ(dc.StretchBltMode(), kColorOnColor);

  const Point first = dc.SetBrushOrgEx(3, -4);
  EXPECT_EQ(first.x, 0);
  EXPECT_EQ(first.y, 0);
  const Point second = dc.SetBrushOrgEx(0, 0);
  EXPECT_EQ(second.x, 3);
  EXPECT_EQ(second.y, -4);

  const Pen pen0 = dc.SelectPen({kPenDot, 0x123456});
  EXPECT_EQ(pen0.style, kPenSolid);
  EXPECT_EQ(pen0.color, 0u);
  EXPECT_EQ(dc.CurrentPen().style, kPenDot);
  const Brush brush0 = dc.SelectBrush(GetStockBrush(kNullBrush));
  EXPECT_FALSE(brush0.hollow);
  EXPECT_EQ(brush0.color, 0xFFFFFFu);
  EXPECT_TRUE(dc.CurrentBrush().hollow);
}

TEST(RasterColorTable, SetDibColorTableClipsToTheTable) {
  struct Case {
    const char* name;
    int bpp;
    int start;
    std::size_t count;
    int expected;
  };
  const Case cases[] = {
      {"8 bits, all", 8, 0, 256, 256},     {"8 bits, tail cut", 8, 250, 10, 6},
      {"8 bits, start at end", 8, 256, 1, 0}, {"negative start", 8, -1, 3, 0},
      {"1 bit, 3 offered", 1, 0, 3, 2},    {"1 bit, second entry", 1, 1, 1, 1},
      {"24 bits has no table", 24, 0, 4, 0}, {"nothing offered", 8, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto b = Bitmap::Create(2, 2, c.bpp);
    DeviceContext dc;
    dc.SelectObject(b.get());
    std::vector<RgbQuad> entries(c.count);
    for (std::size_t i = 0; i < c.count; ++i) entries[i] = 0x010000u + static_cast<RgbQuad>(i);
    EXPECT_EQ(SetDIBColorTable(dc, c.start, entries), c.expected);
    const auto table = b->ColorTable();
    for (int i = 0; i < c.expected; ++i) {
      EXPECT_EQ(table[static_cast<std::size_t>(c.start + i)], 0x010000u + static_cast<RgbQuad>(i));
    }
    if (c.expected > 0 && c.start > 0) {
      EXPECT_EQ(table[static_cast<std::size_t>(c.start - 1)], 0u);
    }
  }
}

TEST(RasterFill, StockBrushes) {
  EXPECT_EQ(GetStockBrush(kWhiteBrush).color, 0xFFFFFFu);
  EXPECT_FALSE(GetStockBrush(kWhiteBrush).hollow);
  EXPECT_EQ(GetStockBrush(kBlackBrush).color, 0u);
  EXPECT_FALSE(GetStockBrush(kBlackBrush).hollow);
  EXPECT_TRUE(GetStockBrush(kNullBrush).hollow);
  EXPECT_EQ(GetStockBrush(2).color, 0x808080u);
  EXPECT_TRUE(GetStockBrush(6).hollow);
  EXPECT_TRUE(GetStockBrush(-1).hollow);
  EXPECT_EQ(CreateSolidBrush(0x0000FF).color, 0x0000FFu);
}

struct FillCase {
  const char* name;
  int bpp;
  Rect rect;
  Brush brush;
  bool result;
  std::vector<std::uint32_t> expected;  // 4 x 3, top row first
};

TEST(RasterFill, RightAndBottomExclusiveClippedAndMapped) {
  const std::uint32_t o = 0x777777;  // 24-bit background
  const std::uint32_t r = 0xFF0000;  // red as a pixel; the brush takes 0x0000FF (COLORREF)
  const FillCase cases[] = {
      {"interior", 24, {1, 1, 3, 2}, CreateSolidBrush(0x0000FF), true,
       {o, o, o, o, /**/ o, r, r, o, /**/ o, o, o, o}},
      {"over the top-left corner", 24, {-5, -5, 1, 1}, CreateSolidBrush(0x0000FF), true,
       {r, o, o, o, /**/ o, o, o, o, /**/ o, o, o, o}},
      {"over the bottom-right corner", 24, {3, 2, 99, 99}, CreateSolidBrush(0x0000FF), true,
       {o, o, o, o, /**/ o, o, o, o, /**/ o, o, o, r}},
      {"empty: right == left", 24, {2, 0, 2, 3}, CreateSolidBrush(0x0000FF), false,
       {o, o, o, o, /**/ o, o, o, o, /**/ o, o, o, o}},
      {"fully outside", 24, {4, 0, 9, 3}, CreateSolidBrush(0x0000FF), false,
       {o, o, o, o, /**/ o, o, o, o, /**/ o, o, o, o}},
      {"hollow brush", 24, {0, 0, 4, 3}, GetStockBrush(kNullBrush), false,
       {o, o, o, o, /**/ o, o, o, o, /**/ o, o, o, o}},
      // 8 bits: near-red goes to index 2, the rest keeps index 7.
      {"8 bits, nearest entry", 8, {0, 0, 2, 1}, CreateSolidBrush(0x0A00F0), true,
       {2, 2, 7, 7, /**/ 7, 7, 7, 7, /**/ 7, 7, 7, 7}},
      // 1 bit: light grey (sum 600) is white; the background bits are 0.
      {"1 bit, light grey is white", 1, {1, 0, 4, 3}, CreateSolidBrush(0xC8C8C8), true,
       {0, 1, 1, 1, /**/ 0, 1, 1, 1, /**/ 0, 1, 1, 1}},
      {"1 bit, black brush", 1, {0, 0, 4, 3}, GetStockBrush(kBlackBrush), true,
       {0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint32_t background = c.bpp == 24 ? o : c.bpp == 8 ? 7 : 0;
    auto b = MakeBitmap(c.bpp, 4, 3, std::vector<std::uint32_t>(12, background),
                        c.bpp == 1 ? kMonoTable : TestPalette());
    DeviceContext dc;
    dc.SelectObject(b.get());
    EXPECT_EQ(FillRect(dc, c.rect, c.brush), c.result);
    EXPECT_EQ(AllPixels(*b), c.expected);
  }
}

TEST(RasterFill, OneBitRowsAcrossByteBoundaries) {
  // 20 pixels: partial first byte, a whole byte, partial last byte.
  auto b = MakeBitmap(1, 20, 1, {}, kMonoTable);
  DeviceContext dc;
  dc.SelectObject(b.get());
  ASSERT_TRUE(FillRect(dc, {3, 0, 19, 1}, GetStockBrush(kWhiteBrush)));
  EXPECT_EQ(b->Row(0)[0], 0x1F);
  EXPECT_EQ(b->Row(0)[1], 0xFF);
  EXPECT_EQ(b->Row(0)[2], 0xE0);
  ASSERT_TRUE(FillRect(dc, {5, 0, 6, 1}, GetStockBrush(kBlackBrush)));
  EXPECT_EQ(b->Row(0)[0], 0x1B);
}

// Renders a 24-bit bitmap as text: '#' black, 'w' white, '.' the background, '?' anything else.
std::string Picture(const Bitmap& b) {
  std::string s;
  for (int y = 0; y < b.Height(); ++y) {
    for (int x = 0; x < b.Width(); ++x) {
      const std::uint32_t v = ReadPixel(b, x, y);
      s += v == 0 ? '#' : v == 0xFFFFFF ? 'w' : v == 0x777777 ? '.' : '?';
    }
    s += '\n';
  }
  return s;
}

struct RectangleCase {
  const char* name;
  Pen pen;
  Brush brush;
  Rect rect;
  bool result;
  const char* expected;
};

TEST(RasterRectangle, OutlinePatternsAndFill) {
  const Pen dot{kPenDot, 0x000000};
  const Pen solid{kPenSolid, 0x000000};
  const Pen none{kPenNull, 0x000000};
  const Brush hollow = GetStockBrush(kNullBrush);
  const Brush white = GetStockBrush(kWhiteBrush);
  const RectangleCase cases[] = {
      // Clockwise from the top-left corner: on, off, on, ...
      {"dotted, hollow", dot, hollow, {0, 0, 5, 4}, true,
       "#.#.#.\n"
       "......\n"
       "#...#.\n"
       ".#.#..\n"
       "......\n"},
      {"solid, filled", solid, white, {1, 1, 5, 5}, true,
       "......\n"
       ".####.\n"
       ".#ww#.\n"
       ".#ww#.\n"
       ".####.\n"},
      {"swapped corners", solid, hollow, {4, 3, 1, 0}, true,
       ".###..\n"
       ".#.#..\n"
       ".###..\n"
       "......\n"
       "......\n"},
      {"null pen fills one less each way", none, white, {1, 1, 4, 4}, true,
       "......\n"
       ".ww...\n"
       ".ww...\n"
       "......\n"
       "......\n"},
      {"one pixel wide", dot, hollow, {2, 0, 3, 5}, true,
       "..#...\n"
       "......\n"
       "..#...\n"
       "......\n"
       "..#...\n"},
      {"clipped at the left and bottom", solid, hollow, {-1, 2, 3, 9}, true,
       "......\n"
       "......\n"
       "###...\n"
       "..#...\n"
       "..#...\n"},
      {"empty", solid, white, {2, 2, 2, 4}, false,
       "......\n"
       "......\n"
       "......\n"
       "......\n"
       "......\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto b = MakeBitmap(24, 6, 5, std::vector<std::uint32_t>(30, 0x777777));
    DeviceContext dc;
    dc.SelectObject(b.get());
    dc.SelectPen(c.pen);
    dc.SelectBrush(c.brush);
    EXPECT_EQ(Rectangle(dc, c.rect.left, c.rect.top, c.rect.right, c.rect.bottom), c.result);
    EXPECT_EQ(Picture(*b), c.expected);
  }
}

TEST(RasterSysColor, DefaultsOverridesAndUnknownNumbers) {
  ClearSysColorOverrides();
  EXPECT_EQ(GetSysColor(6), 0x000000u);   // COLOR_WINDOWFRAME
  EXPECT_EQ(GetSysColor(15), 0xF0F0F0u);  // COLOR_BTNFACE
  EXPECT_EQ(GetSysColor(5), 0xFFFFFFu);   // COLOR_WINDOW
  EXPECT_EQ(GetSysColor(13), 0xD77800u);  // COLOR_HIGHLIGHT, RGB(0, 120, 215) as a COLORREF
  EXPECT_EQ(GetSysColor(24), 0xE1FFFFu);  // COLOR_INFOBK, RGB(255, 255, 225)
  EXPECT_EQ(GetSysColor(30), 0xF0F0F0u);  // COLOR_MENUBAR
  EXPECT_EQ(GetSysColor(-1), 0u);
  EXPECT_EQ(GetSysColor(31), 0u);

  SetSysColorOverride(15, 0x112233);
  SetSysColorOverride(31, 0x445566);
  EXPECT_EQ(GetSysColor(15), 0x112233u);
  EXPECT_EQ(GetSysColor(31), 0u);
  EXPECT_EQ(GetSysColor(6), 0x000000u);
  ClearSysColorOverrides();
  EXPECT_EQ(GetSysColor(15), 0xF0F0F0u);
}

}  // namespace
}  // namespace velmora::platform
