// The clip rectangle of a device context: every drawing into a clipped context writes exactly
// the pixels the unclipped drawing writes inside the clip, with the same values, and nothing
// outside. Checked for every target and source format, every raster operation, unscaled,
// stretched (nearest and halftone, enlarging and shrinking), mirrored by negative source and
// target extents, mirrored in place, and for fills and outlines; plus a few pictures written out.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/raster.h"
#include "support/raster_bitmaps.h"

namespace velmora::platform {
namespace {

using namespace testing;  // the bitmap builders and readers

constexpr int kTargetW = 13;
constexpr int kTargetH = 9;

// A deterministic jumble of values a bitmap of `bpp` bits can hold: indices 0..7 of the test
// palette, bits, or colours with every channel busy.
Pixels Jumble(int bpp, int count, std::uint32_t seed) {
  Pixels out;
  std::uint32_t x = seed * 2654435761u + 1;
  for (int i = 0; i < count; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out.push_back(bpp == 1 ? (x & 1) : bpp == 8 ? (x & 7) : (x & 0xFFFFFF));
  }
  return out;
}

struct Context {
  std::unique_ptr<Bitmap> bitmap;
  std::unique_ptr<DeviceContext> dc;
};

Context MakeContext(int bpp, int w, int h, std::uint32_t seed) {
  Context c;
  c.bitmap = MakeBitmap(bpp, w, h, Jumble(bpp, w * h, seed), TableFor(bpp));
  c.dc = CreateCompatibleDC(nullptr);
  c.dc->SelectObject(c.bitmap.get());
  return c;
}

// One drawing operation into `target`, reading `source` (which may be the target itself).
using Draw = std::function<void(DeviceContext& target, const DeviceContext& source)>;

struct Operation {
  std::string name;
  Draw draw;
  bool halftone = false;
  bool inPlace = false;  // the source is the target context
};

std::vector<Operation> TransferOperations(Rop rop) {
  const auto blit = [rop](int x, int y, int cx, int cy, int sx, int sy) {
    return [=](DeviceContext& t, const DeviceContext& s) { BitBlt(t, x, y, cx, cy, s, sx, sy, rop); };
  };
  const auto stretch = [rop](int x, int y, int cx, int cy, int sx, int sy, int scx, int scy) {
    return [=](DeviceContext& t, const DeviceContext& s) {
      StretchBlt(t, x, y, cx, cy, s, sx, sy, scx, scy, rop);
    };
  };
  return {
      {"blit", blit(2, 1, 7, 5, 0, 0)},
      {"blit past the edges", blit(-2, -1, 20, 20, 1, 0)},
      {"stretch 1:1", stretch(3, 2, 7, 5, 0, 0, 7, 5)},
      {"enlarge", stretch(1, 0, 12, 9, 0, 0, 7, 5)},
      {"shrink", stretch(2, 1, 4, 3, 0, 0, 7, 5)},
      {"uneven", stretch(0, 1, 13, 3, 1, 1, 5, 4)},
      {"mirror by source", stretch(1, 1, 10, 7, 6, 4, -7, -5)},
      {"mirror by target", stretch(11, 7, -10, -6, 0, 0, 7, 5)},
      {"halftone enlarge", stretch(1, 0, 12, 9, 0, 0, 7, 5), true},
      {"halftone shrink", stretch(2, 1, 5, 2, 0, 0, 7, 5), true},
      {"halftone mirrored", stretch(12, 1, -11, 7, 6, 0, -6, 5), true},
      {"halftone uneven", stretch(0, 0, 13, 4, 0, 0, 7, 5), true},
      {"in-place mirror", stretch(2, 1, 6, 5, 7, 1, -6, 5), false, true},
      {"in-place halftone", stretch(0, 0, 13, 9, 3, 2, 5, 4), true, true},
  };
}

// The clip rectangles tried: inside, across edges, a single pixel, everything, nothing, inverted.
const std::vector<Rect>& Clips() {
  static const std::vector<Rect> clips = {
      {3, 2, 9, 6},     {-5, -5, 4, 3},  {10, 6, 40, 40}, {5, 4, 6, 5},
      {0, 0, 13, 9},    {-9, -9, 99, 99}, {4, 4, 4, 7},    {8, 5, 2, 1},
      {0, 3, 13, 4},    {6, -1, 7, 20},
  };
  return clips;
}

bool Inside(const Rect& clip, int x, int y) {
  return x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
}

// Runs `op` once unclipped and once clipped to each clip rectangle on copies of the same target,
// and checks the clipped result pixel by pixel.
void ExpectClippedMatches(const std::string& label, int targetBpp, int sourceBpp,
                          const Operation& op) {
  const Context source = MakeContext(sourceBpp, 7, 5, 11);
  Context whole = MakeContext(targetBpp, kTargetW, kTargetH, 5);
  const Pixels before = AllPixels(*whole.bitmap);
  if (op.halftone) whole.dc->SetStretchBltMode(kHalftone);
  op.draw(*whole.dc, op.inPlace ? *whole.dc : *source.dc);
  const Pixels unclipped = AllPixels(*whole.bitmap);
  for (const Rect& clip : Clips()) {
    Context part = MakeContext(targetBpp, kTargetW, kTargetH, 5);
    if (op.halftone) part.dc->SetStretchBltMode(kHalftone);
    part.dc->SetClipRect(clip.left, clip.top, clip.right, clip.bottom);
    op.draw(*part.dc, op.inPlace ? *part.dc : *source.dc);
    for (int y = 0; y < kTargetH; ++y) {
      for (int x = 0; x < kTargetW; ++x) {
        const std::size_t i = static_cast<std::size_t>(y * kTargetW + x);
        const std::uint32_t expected = Inside(clip, x, y) ? unclipped[i] : before[i];
        ASSERT_EQ(ReadPixel(*part.bitmap, x, y), expected)
            << label << " clip (" << clip.left << ", " << clip.top << ", " << clip.right << ", "
            << clip.bottom << ") at (" << x << ", " << y << ")";
      }
    }
  }
}

TEST(RasterClip, TransfersWriteOnlyInsideWithTheUnclippedValues) {
  const int formats[] = {1, 8, 24, 32};
  for (const Rop rop : {Rop::kSrcCopy, Rop::kSrcAnd, Rop::kSrcPaint}) {
    for (const Operation& op : TransferOperations(rop)) {
      for (const int targetBpp : formats) {
        for (const int sourceBpp : formats) {
          if (op.inPlace && sourceBpp != targetBpp) continue;
          const std::string label = op.name + " rop " + std::to_string(static_cast<int>(rop)) +
                                    " " + std::to_string(sourceBpp) + " -> " +
                                    std::to_string(targetBpp);
          ExpectClippedMatches(label, targetBpp, sourceBpp, op);
          if (HasFatalFailure()) return;
        }
      }
    }
  }
}

TEST(RasterClip, FillsAndOutlinesWriteOnlyInside) {
  const auto outline = [](int style, Brush brush, Rect r) {
    return [=](DeviceContext& t, const DeviceContext&) {
      t.SelectPen(Pen{style, 0x00336699});
      t.SelectBrush(brush);
      Rectangle(t, r.left, r.top, r.right, r.bottom);
    };
  };
  const std::vector<Operation> ops = {
      {"fill", [](DeviceContext& t, const DeviceContext&) {
         FillRect(t, Rect{1, 1, 12, 8}, CreateSolidBrush(0x00808080));
       }},
      {"fill past the edges", [](DeviceContext& t, const DeviceContext&) {
         FillRect(t, Rect{-3, -3, 30, 30}, CreateSolidBrush(0x00FFFFFF));
       }},
      {"solid outline, filled", outline(kPenSolid, CreateSolidBrush(0x00102030), {1, 1, 12, 8})},
      {"dotted outline, hollow", outline(kPenDot, GetStockBrush(kNullBrush), {0, 0, 13, 9})},
      {"dashed outline past the edges",
       outline(kPenDash, CreateSolidBrush(0x00FFFFFF), {-2, 1, 40, 30})},
      {"null pen", outline(kPenNull, CreateSolidBrush(0x00FF00FF), {2, 2, 11, 8})},
  };
  for (const Operation& op : ops) {
    for (const int bpp : {1, 8, 24, 32}) {
      ExpectClippedMatches(op.name + " " + std::to_string(bpp), bpp, 8, op);
      if (HasFatalFailure()) return;
    }
  }
}

// Written out, so the check does not lean on the unclipped operation alone.
TEST(RasterClip, ClippedPicturesWrittenOut) {
  auto target = MakeBitmap(24, 6, 3, Pixels(18, 0x111111));
  auto dc = CreateCompatibleDC(nullptr);
  dc->SelectObject(target.get());
  dc->SetClipRect(1, 1, 4, 3);
  EXPECT_TRUE(FillRect(*dc, Rect{0, 0, 6, 3}, CreateSolidBrush(0x0000FF)));  // red
  EXPECT_EQ(AllPixels(*target), (Pixels{0x111111, 0x111111, 0x111111, 0x111111, 0x111111, 0x111111,
                                        0x111111, 0xFF0000, 0xFF0000, 0xFF0000, 0x111111, 0x111111,
                                        0x111111, 0xFF0000, 0xFF0000, 0xFF0000, 0x111111, 0x111111}));
  // A fill wholly outside the clip fills nothing and says so.
  EXPECT_FALSE(FillRect(*dc, Rect{4, 0, 6, 3}, CreateSolidBrush(0xFFFFFF)));

  // Source columns 0 1 2 3 enlarged 2x into 8 columns; the clip keeps target columns 3..5, which
  // show source columns 1, 2, 2 as in the whole transfer (not the clipped source 1..2 stretched).
  auto row = MakeBitmap(8, 4, 1, {2, 3, 4, 7}, TestPalette());
  auto rowDc = CreateCompatibleDC(nullptr);
  rowDc->SelectObject(row.get());
  auto wide = MakeBitmap(32, 8, 1, Pixels(8, 0));
  auto wideDc = CreateCompatibleDC(nullptr);
  wideDc->SelectObject(wide.get());
  wideDc->SetClipRect(3, 0, 6, 1);
  EXPECT_TRUE(StretchBlt(*wideDc, 0, 0, 8, 1, *rowDc, 0, 0, 4, 1, Rop::kSrcCopy));
  EXPECT_EQ(AllPixels(*wide), (Pixels{0, 0, 0, 0x00FF00, 0x0000FF, 0x0000FF, 0, 0}));

  // Everything clipped away: the transfer reports that nothing was written.
  wideDc->SetClipRect(5, 0, 5, 1);
  EXPECT_FALSE(BitBlt(*wideDc, 0, 0, 8, 1, *rowDc, 0, 0, Rop::kSrcCopy));
}

TEST(RasterClip, ClipIsKeptAcrossSelectionsUntilReset) {
  auto first = MakeBitmap(32, 4, 1, Pixels(4, 0));
  auto second = MakeBitmap(32, 4, 1, Pixels(4, 0));
  auto dc = CreateCompatibleDC(nullptr);
  EXPECT_FALSE(dc->HasClip());
  dc->SelectObject(first.get());
  dc->SetClipRect(1, 0, 3, 1);
  EXPECT_TRUE(dc->HasClip());
  EXPECT_EQ(dc->ClipRect().left, 1);
  EXPECT_EQ(dc->ClipRect().right, 3);
  dc->SelectObject(second.get());
  FillRect(*dc, Rect{0, 0, 4, 1}, CreateSolidBrush(0xFFFFFF));
  EXPECT_EQ(AllPixels(*second), (Pixels{0, 0xFFFFFF, 0xFFFFFF, 0}));
  dc->ResetClip();
  EXPECT_FALSE(dc->HasClip());
  FillRect(*dc, Rect{0, 0, 4, 1}, CreateSolidBrush(0x0000FF));
  EXPECT_EQ(AllPixels(*second), (Pixels{0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000}));
  EXPECT_EQ(AllPixels(*first), (Pixels{0, 0, 0, 0}));
}

// A clipped context read as a source gives all of its pixels.
TEST(RasterClip, SourceReadsAreNotClipped) {
  auto src = MakeBitmap(32, 3, 1, {0x0000AA, 0x00BB00, 0xCC0000});
  auto srcDc = CreateCompatibleDC(nullptr);
  srcDc->SelectObject(src.get());
  srcDc->SetClipRect(1, 0, 2, 1);
  auto dst = MakeBitmap(32, 3, 1, Pixels(3, 0));
  auto dstDc = CreateCompatibleDC(nullptr);
  dstDc->SelectObject(dst.get());
  EXPECT_TRUE(BitBlt(*dstDc, 0, 0, 3, 1, *srcDc, 0, 0, Rop::kSrcCopy));
  EXPECT_EQ(AllPixels(*dst), (Pixels{0x0000AA, 0x00BB00, 0xCC0000}));
}

}  // namespace
}  // namespace velmora::platform
