// The row kernels behind the two transfers every frame paint makes on a 32-bit host surface:
// the background fill and the unscaled 8-bit copy. Both write several pixels a step, so the runs
// here cover every length up to past a few steps, at every start column mod 4, with a marked
// bitmap around them to catch a pixel written beyond either end.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/raster.h"
#include "support/raster_bitmaps.h"

namespace velmora::platform {
namespace {

using namespace testing;  // the bitmap builders and readers

constexpr std::uint32_t kMark = 0xA5C3E1F0;  // fourth byte set: no colour a transfer writes
constexpr int kWidth = 80;

TEST(RasterRowKernels, ColourFillOfEveryLengthWritesExactlyItsRun) {
  // COLORREF 0x00332211 is the pixel 0x00112233; the fourth byte of every filled pixel is 0.
  for (int left = 0; left < 4; ++left) {
    for (int n = 1; n <= 70; ++n) {
      auto b = MakeBitmap(32, kWidth, 3, std::vector<std::uint32_t>(kWidth * 3, kMark));
      DeviceContext dc;
      dc.SelectObject(b.get());
      ASSERT_TRUE(FillRect(dc, Rect{left, 1, left + n, 2}, CreateSolidBrush(0x00332211)));
      for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < kWidth; ++x) {
          const bool inside = y == 1 && x >= left && x < left + n;
          ASSERT_EQ(ReadPixel(*b, x, y), inside ? 0x00112233u : kMark)
              << "left " << left << " n " << n << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(RasterRowKernels, IndexedCopyOfEveryLengthLooksUpEachPixel) {
  // Source row: index (3 * x) % 256, so neighbours differ. Table entry i = 0xFF000000 | i * 0x10101
  // with the fourth byte set on purpose: a copy onto a colour target writes 0 there.
  std::vector<RgbQuad> table(256);
  for (std::uint32_t i = 0; i < 256; ++i) table[i] = 0xFF000000u | (i * 0x010101u);
  std::vector<std::uint32_t> indices(kWidth);
  for (int x = 0; x < kWidth; ++x) indices[static_cast<std::size_t>(x)] = (3u * x) % 256;
  auto source = MakeBitmap(8, kWidth, 1, indices, table);
  DeviceContext sourceDc;
  sourceDc.SelectObject(source.get());

  for (int from = 0; from < 4; ++from) {
    for (int to = 0; to < 4; ++to) {
      for (int n = 1; n <= 40; ++n) {
        auto target = MakeBitmap(32, kWidth, 1, std::vector<std::uint32_t>(kWidth, kMark));
        DeviceContext targetDc;
        targetDc.SelectObject(target.get());
        ASSERT_TRUE(BitBlt(targetDc, to, 0, n, 1, sourceDc, from, 0, Rop::kSrcCopy));
        for (int x = 0; x < kWidth; ++x) {
          const std::uint32_t index = (3u * static_cast<std::uint32_t>(x - to + from)) % 256;
          const bool inside = x >= to && x < to + n;
          ASSERT_EQ(ReadPixel(*target, x, 0), inside ? index * 0x010101u : kMark)
              << "from " << from << " to " << to << " n " << n << " at " << x;
        }
      }
    }
  }
}

}  // namespace
}  // namespace velmora::platform
