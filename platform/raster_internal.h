#pragma once
// Internal to the raster layer: colour matching and row stores shared by the transfers
// (raster_blit.cpp) and the fills (raster.cpp). Not part of the contract.

#include <array>
#include <cstdint>
#include <cstring>
#include <span>

#include "platform/raster.h"

namespace velmora::platform::raster_detail {

inline constexpr RgbQuad kRgbMask = 0x00FFFFFFu;

// Nearer of black and white by RGB distance. |c - white|^2 - |c|^2 = 3 * 255^2 - 510 * (r+g+b), so
// the sum of the channels decides exactly, with the tie at 382.5 unreachable: 383 and up is white.
inline std::uint32_t MonoBitFor(RgbQuad c) {
  const std::uint32_t sum = ((c >> 16) & 0xFFu) + ((c >> 8) & 0xFFu) + (c & 0xFFu);
  return sum >= 383 ? 1u : 0u;
}

// Pixel x of a row of Bpp bits as it is stored: the index for 1 and 8 bits, the 0x00RRGGBB colour
// for 24 and 32 bits.
template <int Bpp>
inline std::uint32_t ReadRaw(const std::uint8_t* row, int x) {
  if constexpr (Bpp == 1) return (row[x >> 3] >> (7 - (x & 7))) & 1u;
  if constexpr (Bpp == 8) return row[x];
  if constexpr (Bpp == 24) {
    const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 3;
    return p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
  }
  if constexpr (Bpp == 32) {
    std::uint32_t v;
    std::memcpy(&v, row + static_cast<std::ptrdiff_t>(x) * 4, 4);
    return v & kRgbMask;
  }
  return 0;
}

// Index of the entry of `table` nearest to `c` (squared RGB distance); the lowest index wins a tie,
// so an exact match is always found first among equals.
std::uint8_t NearestEntry(std::span<const RgbQuad> table, RgbQuad c);

// Nearest-entry search with a per-transfer cache: one linear search per distinct colour, not per
// pixel. The cache is a fixed open-addressed table; once it is three quarters full, further
// colours are searched without being remembered.
class PaletteMatcher {
 public:
  explicit PaletteMatcher(std::span<const RgbQuad> table) : table_(table) { keys_.fill(0); }
  std::uint8_t Match(RgbQuad c);

 private:
  static constexpr int kSlotBits = 12;
  static constexpr std::uint32_t kSlots = 1u << kSlotBits;
  static constexpr std::uint32_t kUsed = 0x01000000u;  // marks a slot; colours never carry it
  std::span<const RgbQuad> table_;
  std::array<std::uint32_t, kSlots> keys_;
  std::array<std::uint8_t, kSlots> values_{};
  std::uint32_t filled_ = 0;
};

// The value a colour takes in `target`'s own pixel format: the bit for 1 bit, the palette index
// for 8 bits, the colour itself for 24 and 32 bits.
std::uint32_t NativeValueFor(const Bitmap& target, RgbQuad c);

// Writes n native values into `row` starting at column x0 through `rop`.
void StoreRow(int bitsPerPixel, Rop rop, std::uint8_t* row, int x0, const std::uint32_t* values,
              int n);

// One pass over a run of adjacent columns: source pixels from column sx0 of `src` written straight
// into columns x0 .. x0 + n - 1 of `dst` through the raster operation, with no row of
// intermediate values. `lut` maps an indexed source's pixel to its target value; colour sources
// pass their colours through. Null when the pair of formats has no such loop (8-bit targets, which
// need colour matching, and colour sources into 1-bit targets).
using RunConverter = void (*)(const std::uint8_t* src, int sx0, std::uint8_t* dst, int x0, int n,
                              const std::uint32_t* lut);
RunConverter RunConverterFor(int sourceBpp, int targetBpp, Rop rop);

// The part of the context's selected bitmap that drawing may write: the whole bitmap, cut to the
// clip rectangle when one is set. Empty (left >= right or top >= bottom) when nothing may be.
Rect WritableArea(const DeviceContext& dc);

// Fills columns x0 .. x0 + n - 1 of `row` with one native value.
void FillRow(int bitsPerPixel, std::uint8_t* row, int x0, int n, std::uint32_t value);

}  // namespace velmora::platform::raster_detail
