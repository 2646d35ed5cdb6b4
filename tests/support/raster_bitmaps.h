#pragma once
// Builders and readers for tiny bitmaps in raster tests. Pixels are listed top row first: an
// index (or bit) for 1 and 8 bits, 0x00RRGGBB for 24 and 32 bits. Reading and writing go through
// the byte layout directly, not through the layer under test.

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/raster.h"

namespace velmora::platform::testing {

using Pixels = std::vector<std::uint32_t>;

inline std::uint32_t ReadPixel(const Bitmap& b, int x, int y) {
  const int stored = b.TopDown() ? y : b.Height() - 1 - y;
  const std::uint8_t* row = b.Bits() + static_cast<std::size_t>(stored) * b.Stride();
  switch (b.BitsPerPixel()) {
    case 1:
      return (row[x / 8] >> (7 - x % 8)) & 1u;
    case 8:
      return row[x];
    case 24:
      return row[3 * x] | (row[3 * x + 1] << 8) | (static_cast<std::uint32_t>(row[3 * x + 2]) << 16);
    default: {
      std::uint32_t v;
      std::memcpy(&v, row + 4 * x, 4);
      return v;
    }
  }
}

inline void WritePixel(Bitmap& b, int x, int y, std::uint32_t v) {
  const int stored = b.TopDown() ? y : b.Height() - 1 - y;
  std::uint8_t* row = b.Bits() + static_cast<std::size_t>(stored) * b.Stride();
  switch (b.BitsPerPixel()) {
    case 1: {
      const auto mask = static_cast<std::uint8_t>(0x80u >> (x % 8));
      row[x / 8] = static_cast<std::uint8_t>(v ? row[x / 8] | mask : row[x / 8] & ~mask);
      return;
    }
    case 8:
      row[x] = static_cast<std::uint8_t>(v);
      return;
    case 24:
      row[3 * x] = static_cast<std::uint8_t>(v);
      row[3 * x + 1] = static_cast<std::uint8_t>(v >> 8);
      row[3 * x + 2] = static_cast<std::uint8_t>(v >> 16);
      return;
    default:
      std::memcpy(row + 4 * x, &v, 4);
      return;
  }
}

inline std::unique_ptr<Bitmap> MakeBitmap(int bpp, int w, int h,
                                          const std::vector<std::uint32_t>& pixels,
                                          const std::vector<RgbQuad>& table = {},
                                          bool topDown = false) {
  auto b = Bitmap::Create(w, topDown ? -h : h, bpp, table);
  if (!b) return b;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(y * w + x);
      if (i < pixels.size()) WritePixel(*b, x, y, pixels[i]);
    }
  }
  return b;
}

inline std::vector<std::uint32_t> AllPixels(const Bitmap& b) {
  std::vector<std::uint32_t> out;
  for (int y = 0; y < b.Height(); ++y) {
    for (int x = 0; x < b.Width(); ++x) out.push_back(ReadPixel(b, x, y));
  }
  return out;
}

// Black, white, red, green, blue, two greys either side of the black/white split, and an odd
// colour; the rest of the 256 entries stay 0 (black), as in a padded GIF table.
inline std::vector<RgbQuad> TestPalette() {
  std::vector<RgbQuad> t(256, 0);
  const RgbQuad head[] = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00,
                          0x0000FF, 0x808080, 0x7F7F7F, 0x123456};
  for (std::size_t i = 0; i < std::size(head); ++i) t[i] = head[i];
  return t;
}

inline const std::vector<RgbQuad> kMonoTable = {0x000000, 0xFFFFFF};

// The colour table the tests give a bitmap of `bpp` bits: black and white for 1, the test palette
// for 8, none for more.
inline std::vector<RgbQuad> TableFor(int bpp) {
  if (bpp == 1) return kMonoTable;
  if (bpp == 8) return TestPalette();
  return {};
}

}  // namespace velmora::platform::testing
