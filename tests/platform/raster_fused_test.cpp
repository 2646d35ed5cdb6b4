// Fused transfers against the two transfers they stand for: on random bitmaps (every target
// format they take, bottom-up and top-down, odd widths, fourth bytes set), random tables
// (black and white only ones too), clip rectangles and positions hanging over every edge, the
// whole target must come out byte for byte as the two separate BitBlt calls leave it. Also the
// 8-bit into 1-bit AND of the compositor's mask pass against a per-pixel reference.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/raster.h"
#include "support/raster_bitmaps.h"

namespace velmora::platform {
namespace {

using namespace testing;  // the bitmap builders and readers

std::vector<std::uint8_t> Bytes(const Bitmap& b) {
  return {b.Bits(), b.Bits() + b.SizeBytes()};
}

// Every byte random, row padding and the fourth byte of 32-bit pixels included.
std::unique_ptr<Bitmap> RandomBitmap(std::mt19937& rng, int bpp, int w, int h, bool topDown,
                                     std::span<const RgbQuad> table = {}) {
  auto b = Bitmap::Create(w, topDown ? -h : h, bpp, table);
  for (std::size_t i = 0; i < b->SizeBytes(); ++i) b->Bits()[i] = static_cast<std::uint8_t>(rng());
  return b;
}

// Random colours with random fourth bytes, which every transfer must ignore; or black and white
// only (the mask palettes), with entries past `count` missing.
std::vector<RgbQuad> RandomTable(std::mt19937& rng, bool blackWhite, std::size_t count) {
  std::vector<RgbQuad> t(count);
  for (RgbQuad& e : t) e = blackWhite ? (rng() % 2 ? 0xFFFFFFu : 0u) | (rng() << 24) : rng();
  return t;
}

// Runs of 1 to 20 pixels, half of them of index 7, so that long stretches of one index (a
// frame's transparent areas) meet short ones at every offset.
void IndexRuns(std::mt19937& rng, Bitmap& b, int distinct) {
  for (int y = 0; y < b.Height(); ++y) {
    for (int x = 0; x < b.Width();) {
      const auto value = rng() % 2 ? 7u : static_cast<std::uint32_t>(rng() % distinct);
      for (int run = 1 + static_cast<int>(rng() % 20); run > 0 && x < b.Width(); --run, ++x) {
        WritePixel(b, x, y, value);
      }
    }
  }
}

// A transparent frame's pair: index 7 alone white in the AND table and black in the OR table.
void MakeFrameTables(std::mt19937& rng, std::vector<RgbQuad>& andTable,
                     std::vector<RgbQuad>& paintTable) {
  andTable.assign(256, 0);
  andTable[7] = 0xFFFFFF;
  paintTable = RandomTable(rng, false, 256);
  paintTable[7] = rng() % 2 ? 0 : 0x5A000000;  // black, whatever the fourth byte
}

struct Placement {
  int x, y, cx, cy, xSrc, ySrc;
};

Placement RandomPlacement(std::mt19937& rng, int targetW, int targetH, int sourceW, int sourceH) {
  const auto pick = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
  return {pick(-4, targetW), pick(-4, targetH), pick(-1, targetW + 6),
          pick(-1, targetH + 3), pick(-3, sourceW),  pick(-3, sourceH)};
}

void MaybeClip(std::mt19937& rng, DeviceContext& dc, int w, int h) {
  if (rng() % 3 != 0) return;
  const int l = static_cast<int>(rng() % (w + 2)) - 1;
  const int t = static_cast<int>(rng() % (h + 2)) - 1;
  dc.SetClipRect(l, t, l + static_cast<int>(rng() % (w + 1)), t + static_cast<int>(rng() % (h + 1)));
}

TEST(BitBltAndPaint, EqualsSrcAndThenSrcPaintOnRandomBitmaps) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 600; ++round) {
    const int bpp = round % 2 ? 32 : 24;
    const int tw = 1 + static_cast<int>(rng() % 57);
    const int th = 1 + static_cast<int>(rng() % 7);
    const int sw = 1 + static_cast<int>(rng() % 61);
    const int sh = 1 + static_cast<int>(rng() % 7);
    const bool bw = round % 3 == 0;
    auto andTable = RandomTable(rng, bw, rng() % 4 ? 256 : rng() % 256);
    auto paintTable = RandomTable(rng, bw && round % 5 == 0, rng() % 4 ? 256 : rng() % 256);
    if (round % 4 == 1 || round % 4 == 2) MakeFrameTables(rng, andTable, paintTable);
    const auto sourceTable = RandomTable(rng, false, 256);
    auto source = RandomBitmap(rng, 8, sw, sh, rng() % 2, sourceTable);
    IndexRuns(rng, *source, rng() % 2 ? 8 : 256);
    auto fused = RandomBitmap(rng, bpp, tw, th, rng() % 2);
    auto separate = Bitmap::Create(tw, fused->TopDown() ? -th : th, bpp);
    std::memcpy(separate->Bits(), fused->Bits(), fused->SizeBytes());

    DeviceContext sourceDc, fusedDc, separateDc;
    sourceDc.SelectObject(source.get());
    fusedDc.SelectObject(fused.get());
    separateDc.SelectObject(separate.get());
    MaybeClip(rng, fusedDc, tw, th);
    if (fusedDc.HasClip()) {
      const Rect c = fusedDc.ClipRect();
      separateDc.SetClipRect(c.left, c.top, c.right, c.bottom);
    }
    const Placement p = RandomPlacement(rng, tw, th, sw, sh);

    const bool drewFused = BitBltAndPaint(fusedDc, p.x, p.y, p.cx, p.cy, sourceDc, p.xSrc,
                                          p.ySrc, andTable, paintTable);
    std::vector<RgbQuad> padded(256, 0);
    std::copy(andTable.begin(), andTable.end(), padded.begin());
    SetDIBColorTable(sourceDc, 0, padded);
    const bool drewAnd = BitBlt(separateDc, p.x, p.y, p.cx, p.cy, sourceDc, p.xSrc, p.ySrc,
                                Rop::kSrcAnd);
    std::fill(padded.begin(), padded.end(), 0u);
    std::copy(paintTable.begin(), paintTable.end(), padded.begin());
    SetDIBColorTable(sourceDc, 0, padded);
    BitBlt(separateDc, p.x, p.y, p.cx, p.cy, sourceDc, p.xSrc, p.ySrc, Rop::kSrcPaint);

    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(drewFused, drewAnd);
    ASSERT_EQ(Bytes(*fused), Bytes(*separate));
  }
}

// Written out: two pixels of a 24-bit and a 32-bit row, index 0 transparent (AND white, OR
// black), index 1 opaque red over a blue target whose fourth byte is 0xAB.
TEST(BitBltAndPaint, TransparentIndexKeepsTargetOpaqueTakesColour) {
  const std::vector<RgbQuad> andTable = {0xFFFFFF, 0x000000};
  const std::vector<RgbQuad> paintTable = {0x000000, 0xFF0000};
  for (const int bpp : {24, 32}) {
    auto source = testing::MakeBitmap(8, 3, 1, {0, 1, 2}, std::vector<RgbQuad>(256, 0x00FF00));
    auto target = testing::MakeBitmap(bpp, 3, 1, {0xAB0000FF, 0xAB0000FF, 0xAB0000FF});
    DeviceContext sourceDc, targetDc;
    sourceDc.SelectObject(source.get());
    targetDc.SelectObject(target.get());
    ASSERT_TRUE(BitBltAndPaint(targetDc, 0, 0, 3, 1, sourceDc, 0, 0, andTable, paintTable));
    const std::uint32_t fourth = bpp == 32 ? 0xAB000000u : 0u;
    EXPECT_EQ(ReadPixel(*target, 0, 0), fourth | 0x0000FFu);  // transparent: unchanged
    EXPECT_EQ(ReadPixel(*target, 1, 0), fourth | 0xFF0000u);  // opaque: red
    EXPECT_EQ(ReadPixel(*target, 2, 0), fourth | 0x000000u);  // past both tables: black
  }
}

TEST(BitBltAndPaint, RefusesOtherFormatsAndDrawsNothing) {
  const std::vector<RgbQuad> table(256, 0xFFFFFF);
  const struct {
    int sourceBpp, targetBpp;
  } pairs[] = {{8, 8}, {8, 1}, {1, 32}, {24, 32}, {32, 24}};
  for (const auto& pair : pairs) {
    std::mt19937 rng(7);
    auto source = RandomBitmap(rng, pair.sourceBpp, 9, 3, false, table);
    auto target = RandomBitmap(rng, pair.targetBpp, 9, 3, false, table);
    const auto before = Bytes(*target);
    DeviceContext sourceDc, targetDc;
    sourceDc.SelectObject(source.get());
    targetDc.SelectObject(target.get());
    EXPECT_FALSE(BitBltAndPaint(targetDc, 0, 0, 9, 3, sourceDc, 0, 0, table, table));
    EXPECT_EQ(Bytes(*target), before);
  }
}

TEST(BitBltThroughMask, EqualsMaskSrcAndThenSrcPaintOnRandomBitmaps) {
  std::mt19937 rng(99);
  for (int round = 0; round < 600; ++round) {
    const int bpp = round % 2 ? 32 : 24;
    const int tw = 1 + static_cast<int>(rng() % 45);
    const int th = 1 + static_cast<int>(rng() % 7);
    const int sw = 1 + static_cast<int>(rng() % 45);
    const int sh = 1 + static_cast<int>(rng() % 7);
    const auto maskTable = RandomTable(rng, round % 3 != 0, 2);
    auto mask = RandomBitmap(rng, 1, sw, sh, rng() % 2, maskTable);
    if (round % 2 == 0) {
      // Long stretches of one bit, as masks mostly are.
      for (std::size_t i = 0; i < mask->SizeBytes(); ++i) {
        if (rng() % 4 != 0) mask->Bits()[i] = rng() % 2 ? 0xFF : 0x00;
      }
    }
    auto colours = RandomBitmap(rng, 24, sw, sh, rng() % 2);
    auto fused = RandomBitmap(rng, bpp, tw, th, rng() % 2);
    auto separate = Bitmap::Create(tw, fused->TopDown() ? -th : th, bpp);
    std::memcpy(separate->Bits(), fused->Bits(), fused->SizeBytes());

    DeviceContext maskDc, coloursDc, fusedDc, separateDc;
    maskDc.SelectObject(mask.get());
    coloursDc.SelectObject(colours.get());
    fusedDc.SelectObject(fused.get());
    separateDc.SelectObject(separate.get());
    MaybeClip(rng, fusedDc, tw, th);
    if (fusedDc.HasClip()) {
      const Rect c = fusedDc.ClipRect();
      separateDc.SetClipRect(c.left, c.top, c.right, c.bottom);
    }
    const Placement p = RandomPlacement(rng, tw, th, sw, sh);

    const bool drewFused =
        BitBltThroughMask(fusedDc, p.x, p.y, p.cx, p.cy, coloursDc, p.xSrc, p.ySrc, *mask);
    const bool drewAnd =
        BitBlt(separateDc, p.x, p.y, p.cx, p.cy, maskDc, p.xSrc, p.ySrc, Rop::kSrcAnd);
    BitBlt(separateDc, p.x, p.y, p.cx, p.cy, coloursDc, p.xSrc, p.ySrc, Rop::kSrcPaint);

    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(drewFused, drewAnd);
    ASSERT_EQ(Bytes(*fused), Bytes(*separate));
  }
}

TEST(BitBltThroughMask, RefusesWhatItDoesNotServe) {
  std::mt19937 rng(5);
  auto mask = RandomBitmap(rng, 1, 8, 2, false, testing::kMonoTable);
  auto narrowMask = RandomBitmap(rng, 1, 7, 2, false, testing::kMonoTable);
  auto colours = RandomBitmap(rng, 24, 8, 2, false);
  auto colours32 = RandomBitmap(rng, 32, 8, 2, false);
  auto target = RandomBitmap(rng, 32, 8, 2, false);
  auto target8 = RandomBitmap(rng, 8, 8, 2, false, std::vector<RgbQuad>(256, 0));
  const struct {
    const char* name;
    Bitmap* target;
    Bitmap* source;
    const Bitmap* mask;
  } cases[] = {
      {"mask narrower than the source", target.get(), colours.get(), narrowMask.get()},
      {"32-bit source", target.get(), colours32.get(), mask.get()},
      {"8-bit target", target8.get(), colours.get(), mask.get()},
      {"mask given as source", target.get(), mask.get(), mask.get()},
      {"target is the source", colours.get(), colours.get(), mask.get()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = Bytes(*c.target);
    DeviceContext sourceDc, targetDc;
    sourceDc.SelectObject(c.source);
    targetDc.SelectObject(c.target);
    EXPECT_FALSE(BitBltThroughMask(targetDc, 0, 0, 8, 2, sourceDc, 0, 0, *c.mask));
    EXPECT_EQ(Bytes(*c.target), before);
  }
}

// The mask pass: an 8-bit band ANDed into a 1-bit bitmap, against the rule written out per pixel
// (the index's colour is white by channel sum 383 or more). Tables with exactly one white index
// (the mask palette) and with several, offsets that start mid-byte, widths that end mid-byte.
TEST(MaskPass, IndexedSrcAndIntoMonoMatchesPerPixelRule) {
  std::mt19937 rng(42);
  for (int round = 0; round < 400; ++round) {
    const int w = 1 + static_cast<int>(rng() % 70);
    const int h = 1 + static_cast<int>(rng() % 5);
    const int sw = 1 + static_cast<int>(rng() % 70);
    std::vector<RgbQuad> table(256, 0);
    const auto white = static_cast<std::uint8_t>(round % 4 == 0 ? 7 : rng() % 256);
    table[white] = 0xFFFFFF;
    if (round % 3 == 0) table[rng() % 256] = 0x808080;  // a second white one (sum 384)
    if (round % 5 == 0) table[rng() % 256] = 0x7F7F7F;  // black by one (sum 381)
    auto source = RandomBitmap(rng, 8, sw, h, rng() % 2, table);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < sw; ++x) {
        const int r = static_cast<int>(rng() % 8);
        WritePixel(*source, x, y, r < 5 ? white : rng() % 256);
      }
    }
    auto target = RandomBitmap(rng, 1, w, h, rng() % 2, testing::kMonoTable);
    auto expected = Bitmap::Create(w, target->TopDown() ? -h : h, 1, testing::kMonoTable);
    std::memcpy(expected->Bits(), target->Bits(), target->SizeBytes());
    const int x = static_cast<int>(rng() % (w + 2)) - 2;
    const int xSrc = static_cast<int>(rng() % (sw + 1));
    for (int y = 0; y < h; ++y) {
      for (int k = 0; k < w + 2; ++k) {
        const int tx = x + k;
        const int sx = xSrc + k;
        if (tx < 0 || tx >= w || sx >= sw) continue;
        const RgbQuad c = table[ReadPixel(*source, sx, y)];
        const std::uint32_t sum = (c >> 16 & 0xFF) + (c >> 8 & 0xFF) + (c & 0xFF);
        if (sum < 383) WritePixel(*expected, tx, y, 0);
      }
    }
    DeviceContext sourceDc, targetDc;
    sourceDc.SelectObject(source.get());
    targetDc.SelectObject(target.get());
    BitBlt(targetDc, x, 0, w + 2, h, sourceDc, xSrc, 0, Rop::kSrcAnd);
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(Bytes(*target), Bytes(*expected));
  }
}

}  // namespace
}  // namespace velmora::platform
