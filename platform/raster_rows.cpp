// Colour matching and row stores for every pixel format. Each store dispatches once per row to a
// loop specialised for the format and raster operation.

#include <algorithm>
#include <cstring>

#include "platform/raster_internal.h"

namespace velmora::platform::raster_detail {

std::uint8_t NearestEntry(std::span<const RgbQuad> table, RgbQuad c) {
  const int r = static_cast<int>((c >> 16) & 0xFF);
  const int g = static_cast<int>((c >> 8) & 0xFF);
  const int b = static_cast<int>(c & 0xFF);
  int best = 0;
  int bestDistance = 1 << 30;
  for (std::size_t i = 0; i < table.size() && i < 256; ++i) {
    const RgbQuad e = table[i];
    const int dr = static_cast<int>((e >> 16) & 0xFF) - r;
    const int dg = static_cast<int>((e >> 8) & 0xFF) - g;
    const int db = static_cast<int>(e & 0xFF) - b;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = static_cast<int>(i);
      if (distance == 0) break;
    }
  }
  return static_cast<std::uint8_t>(best);
}

std::uint8_t PaletteMatcher::Match(RgbQuad c) {
  c &= kRgbMask;
  const std::uint32_t key = c | kUsed;
  std::uint32_t slot = (c * 0x9E3779B1u) >> (32 - kSlotBits);
  for (;;) {
    if (keys_[slot] == key) return values_[slot];
    if (keys_[slot] == 0) break;
    slot = (slot + 1) & (kSlots - 1);
  }
  const std::uint8_t index = NearestEntry(table_, c);
  if (filled_ < kSlots / 4 * 3) {
    keys_[slot] = key;
    values_[slot] = index;
    ++filled_;
  }
  return index;
}

std::uint32_t NativeValueFor(const Bitmap& target, RgbQuad c) {
  c &= kRgbMask;
  switch (target.BitsPerPixel()) {
    case 1:
      return MonoBitFor(c);
    case 8:
      return NearestEntry(target.ColorTable(), c);
    default:
      return c;
  }
}

namespace {

// One operation on a native value; for colours AND and OR act on blue, green and red at once.
template <Rop R>
inline std::uint32_t Combine(std::uint32_t dst, std::uint32_t src) {
  if constexpr (R == Rop::kSrcAnd) return dst & src;
  if constexpr (R == Rop::kSrcPaint) return dst | src;
  return src;
}

template <Rop R>
void StoreMono(std::uint8_t* row, int x0, const std::uint32_t* values, int n) {
  for (int k = 0; k < n; ++k) {
    const int x = x0 + k;
    std::uint8_t& byte = row[x >> 3];
    const auto mask = static_cast<std::uint8_t>(0x80u >> (x & 7));
    const std::uint32_t old = (byte & mask) ? 1u : 0u;
    if (Combine<R>(old, values[k] & 1u)) {
      byte = static_cast<std::uint8_t>(byte | mask);
    } else {
      byte = static_cast<std::uint8_t>(byte & ~mask);
    }
  }
}

template <Rop R>
void StoreIndexed(std::uint8_t* row, int x0, const std::uint32_t* values, int n) {
  std::uint8_t* d = row + x0;
  for (int k = 0; k < n; ++k) d[k] = static_cast<std::uint8_t>(Combine<R>(d[k], values[k]));
}

template <Rop R>
void StoreRgb24(std::uint8_t* row, int x0, const std::uint32_t* values, int n) {
  std::uint8_t* d = row + static_cast<std::ptrdiff_t>(x0) * 3;
  for (int k = 0; k < n; ++k, d += 3) {
    const std::uint32_t old = d[0] | (d[1] << 8) | (static_cast<std::uint32_t>(d[2]) << 16);
    const std::uint32_t v = Combine<R>(old, values[k]);
    d[0] = static_cast<std::uint8_t>(v);
    d[1] = static_cast<std::uint8_t>(v >> 8);
    d[2] = static_cast<std::uint8_t>(v >> 16);
  }
}

// The fourth byte is not a colour: a copy writes 0 there, AND and OR leave it as it was.
template <Rop R>
void StoreRgb32(std::uint8_t* row, int x0, const std::uint32_t* values, int n) {
  std::uint8_t* d = row + static_cast<std::ptrdiff_t>(x0) * 4;
  for (int k = 0; k < n; ++k, d += 4) {
    std::uint32_t old;
    std::memcpy(&old, d, 4);
    std::uint32_t v;
    if constexpr (R == Rop::kSrcCopy) {
      v = values[k] & kRgbMask;
    } else {
      v = (old & ~kRgbMask) | Combine<R>(old & kRgbMask, values[k] & kRgbMask);
    }
    std::memcpy(d, &v, 4);
  }
}

template <Rop R>
void StoreFor(int bitsPerPixel, std::uint8_t* row, int x0, const std::uint32_t* values, int n) {
  switch (bitsPerPixel) {
    case 1:
      return StoreMono<R>(row, x0, values, n);
    case 8:
      return StoreIndexed<R>(row, x0, values, n);
    case 24:
      return StoreRgb24<R>(row, x0, values, n);
    case 32:
      return StoreRgb32<R>(row, x0, values, n);
    default:
      return;
  }
}

// Source pixel x of a row as a target value: indexed pixels through `lut`, colours as they are.
template <int Bpp>
inline std::uint32_t SourceValue(const std::uint8_t* row, int x, const std::uint32_t* lut) {
  const std::uint32_t raw = ReadRaw<Bpp>(row, x);
  if constexpr (Bpp == 1 || Bpp == 8) return lut[raw];
  return raw;
}

// 24-bit targets: every pixel but the last is written as four bytes, the fourth being the next
// pixel's first byte, which AND and OR leave as it was and a copy overwrites right after. The last
// pixel is written byte by byte so the run never touches a byte past its end.
template <int SrcBpp, Rop R>
void RunToRgb24(const std::uint8_t* src, int sx0, std::uint8_t* dst, int x0, int n,
                const std::uint32_t* lut) {
  std::uint8_t* d = dst + static_cast<std::ptrdiff_t>(x0) * 3;
  int k = 0;
  for (; k + 1 < n; ++k, d += 3) {
    const std::uint32_t v = SourceValue<SrcBpp>(src, sx0 + k, lut) & kRgbMask;
    std::uint32_t out = v;
    if constexpr (R != Rop::kSrcCopy) {
      std::uint32_t old;
      std::memcpy(&old, d, 4);
      out = R == Rop::kSrcAnd ? old & (v | ~kRgbMask) : old | v;
    }
    std::memcpy(d, &out, 4);
  }
  if (k < n) {
    const std::uint32_t old = d[0] | (d[1] << 8) | (static_cast<std::uint32_t>(d[2]) << 16);
    const std::uint32_t v = Combine<R>(old, SourceValue<SrcBpp>(src, sx0 + k, lut));
    d[0] = static_cast<std::uint8_t>(v);
    d[1] = static_cast<std::uint8_t>(v >> 8);
    d[2] = static_cast<std::uint8_t>(v >> 16);
  }
}

// 32-bit targets keep the rule of StoreRgb32: a copy writes 0 into the fourth byte, AND and OR
// leave it.
template <int SrcBpp, Rop R>
void RunToRgb32(const std::uint8_t* src, int sx0, std::uint8_t* dst, int x0, int n,
                const std::uint32_t* lut) {
  std::uint8_t* d = dst + static_cast<std::ptrdiff_t>(x0) * 4;
  if constexpr (SrcBpp == 1) {
    // Masks are mostly long stretches of one bit: a whole source byte of one value writes its
    // eight pixels with one value, or nothing at all when it is AND with white or OR with black.
    const std::uint32_t v0 = lut[0] & kRgbMask;
    const std::uint32_t v1 = lut[1] & kRgbMask;
    const auto put = [](std::uint8_t* p, std::uint32_t v) {
      std::uint32_t out = v;
      if constexpr (R != Rop::kSrcCopy) {
        std::memcpy(&out, p, 4);
        out = R == Rop::kSrcAnd ? out & (v | ~kRgbMask) : out | v;
      }
      std::memcpy(p, &out, 4);
    };
    constexpr std::uint32_t kUnchanging = R == Rop::kSrcAnd ? kRgbMask : 0u;
    int k = 0;
    for (; k < n && ((sx0 + k) & 7) != 0; ++k, d += 4) put(d, SourceValue<1>(src, sx0 + k, lut) & kRgbMask);
    for (; k + 8 <= n; k += 8, d += 32) {
      const unsigned byte = src[(sx0 + k) >> 3];
      if (byte == 0 || byte == 0xFF) {
        const std::uint32_t v = byte ? v1 : v0;
        if (R != Rop::kSrcCopy && v == kUnchanging) continue;
        for (int b = 0; b < 8; ++b) put(d + 4 * b, v);
        continue;
      }
      for (int b = 0; b < 8; ++b) put(d + 4 * b, ((byte >> (7 - b)) & 1u) ? v1 : v0);
    }
    for (; k < n; ++k, d += 4) put(d, SourceValue<1>(src, sx0 + k, lut) & kRgbMask);
    return;
  }
  if constexpr (SrcBpp == 24) {
    // Four-byte source reads too, except for the last pixel (its fourth byte may lie past the row).
    const std::uint8_t* p = src + static_cast<std::ptrdiff_t>(sx0) * 3;
    int k = 0;
    for (; k + 1 < n; ++k, d += 4, p += 3) {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      v &= kRgbMask;
      std::uint32_t out = v;
      if constexpr (R != Rop::kSrcCopy) {
        std::memcpy(&out, d, 4);
        out = R == Rop::kSrcAnd ? out & (v | ~kRgbMask) : out | v;
      }
      std::memcpy(d, &out, 4);
    }
    sx0 += k;
    n -= k;
  }
  if constexpr (SrcBpp == 8 && R == Rop::kSrcCopy) {
    // Every unscaled frame paint in direct mode lands here. The table holds target values,
    // which for a colour target are colours with a zero fourth byte already, so a copy is one
    // look-up and one store a pixel, unrolled by hand into independent look-ups.
    const std::uint8_t* s = src + sx0;
    int k = 0;
    for (; k + 4 <= n; k += 4, d += 16) {
      std::memcpy(d, &lut[s[k]], 4);
      std::memcpy(d + 4, &lut[s[k + 1]], 4);
      std::memcpy(d + 8, &lut[s[k + 2]], 4);
      std::memcpy(d + 12, &lut[s[k + 3]], 4);
    }
    for (; k < n; ++k, d += 4) std::memcpy(d, &lut[s[k]], 4);
    return;
  }
  for (int k = 0; k < n; ++k, d += 4) {
    const std::uint32_t v = SourceValue<SrcBpp>(src, sx0 + k, lut) & kRgbMask;
    std::uint32_t out = v;
    if constexpr (R != Rop::kSrcCopy) {
      std::memcpy(&out, d, 4);
      out = R == Rop::kSrcAnd ? out & (v | ~kRgbMask) : out | v;
    }
    std::memcpy(d, &out, 4);
  }
}

// 1-bit targets from indexed sources (whose table values are bits): whole target bytes are
// gathered eight pixels at a time and combined in one operation.
template <int SrcBpp, Rop R>
void RunToMono(const std::uint8_t* src, int sx0, std::uint8_t* dst, int x0, int n,
               const std::uint32_t* lut) {
  const auto single = [&](int k) {
    const int x = x0 + k;
    std::uint8_t& byte = dst[x >> 3];
    const auto mask = static_cast<std::uint8_t>(0x80u >> (x & 7));
    const std::uint32_t old = (byte & mask) ? 1u : 0u;
    if (Combine<R>(old, SourceValue<SrcBpp>(src, sx0 + k, lut) & 1u)) {
      byte = static_cast<std::uint8_t>(byte | mask);
    } else {
      byte = static_cast<std::uint8_t>(byte & ~mask);
    }
  };
  int k = 0;
  for (; k < n && ((x0 + k) & 7) != 0; ++k) single(k);
  for (; k + 8 <= n; k += 8) {
    unsigned bits = 0;
    for (int b = 0; b < 8; ++b) bits = (bits << 1) | (SourceValue<SrcBpp>(src, sx0 + k + b, lut) & 1u);
    std::uint8_t& byte = dst[(x0 + k) >> 3];
    byte = static_cast<std::uint8_t>(Combine<R>(byte, bits));
  }
  for (; k < n; ++k) single(k);
}

template <Rop R>
RunConverter ConverterForRop(int sourceBpp, int targetBpp) {
  switch (targetBpp) {
    case 1:
      if (sourceBpp == 1) return RunToMono<1, R>;
      if (sourceBpp == 8) return RunToMono<8, R>;
      return nullptr;
    case 24:
      if (sourceBpp == 1) return RunToRgb24<1, R>;
      if (sourceBpp == 8) return RunToRgb24<8, R>;
      if (sourceBpp == 24) return RunToRgb24<24, R>;
      return RunToRgb24<32, R>;
    case 32:
      if (sourceBpp == 1) return RunToRgb32<1, R>;
      if (sourceBpp == 8) return RunToRgb32<8, R>;
      if (sourceBpp == 24) return RunToRgb32<24, R>;
      return RunToRgb32<32, R>;
    default:
      return nullptr;
  }
}

// Given the first pixel of a run of n, copies the pixels written so far after themselves until
// the run is full: a handful of block copies instead of a store per pixel. Short runs (small
// images) are cheaper stored pixel by pixel than through the calls.
void FillByDoubling(std::uint8_t* d, int bytesPerPixel, int n) {
  if (n < 64) {
    for (int k = 1; k < n; ++k) {
      std::memcpy(d + static_cast<std::ptrdiff_t>(k) * bytesPerPixel, d,
                  static_cast<std::size_t>(bytesPerPixel));
    }
    return;
  }
  const std::size_t total = static_cast<std::size_t>(n) * static_cast<std::size_t>(bytesPerPixel);
  std::size_t done = static_cast<std::size_t>(bytesPerPixel);
  while (done < total) {
    const std::size_t chunk = std::min(done, total - done);
    std::memcpy(d + done, d, chunk);
    done += chunk;
  }
}

// 1- and 24-bit fills, kept out of line so that the 32-bit path of FillRow saves no registers.
[[gnu::noinline]] void FillOtherRow(int bitsPerPixel, std::uint8_t* row, int x0, int n,
                                    std::uint32_t value) {
  if (bitsPerPixel == 1) {
    // Partial bytes at the ends bit by bit, whole bytes in between with one memset.
    int x = x0;
    const int end = x0 + n;
    const auto set = [&](int px) {
      const auto mask = static_cast<std::uint8_t>(0x80u >> (px & 7));
      row[px >> 3] =
          static_cast<std::uint8_t>(value ? (row[px >> 3] | mask) : (row[px >> 3] & ~mask));
    };
    for (; x < end && (x & 7) != 0; ++x) set(x);
    const int wholeBytes = (end - x) >> 3;
    if (wholeBytes > 0) {
      std::memset(row + (x >> 3), value ? 0xFF : 0x00, static_cast<std::size_t>(wholeBytes));
      x += wholeBytes * 8;
    }
    for (; x < end; ++x) set(x);
    return;
  }
  if (bitsPerPixel == 24) {
    std::uint8_t* d = row + static_cast<std::ptrdiff_t>(x0) * 3;
    d[0] = static_cast<std::uint8_t>(value);
    d[1] = static_cast<std::uint8_t>(value >> 8);
    d[2] = static_cast<std::uint8_t>(value >> 16);
    FillByDoubling(d, 3, n);
  }
}

}  // namespace

RunConverter RunConverterFor(int sourceBpp, int targetBpp, Rop rop) {
  if (sourceBpp != 1 && sourceBpp != 8 && sourceBpp != 24 && sourceBpp != 32) return nullptr;
  switch (rop) {
    case Rop::kSrcCopy:
      return ConverterForRop<Rop::kSrcCopy>(sourceBpp, targetBpp);
    case Rop::kSrcAnd:
      return ConverterForRop<Rop::kSrcAnd>(sourceBpp, targetBpp);
    case Rop::kSrcPaint:
      return ConverterForRop<Rop::kSrcPaint>(sourceBpp, targetBpp);
  }
  return nullptr;
}

void StoreRow(int bitsPerPixel, Rop rop, std::uint8_t* row, int x0, const std::uint32_t* values,
              int n) {
  switch (rop) {
    case Rop::kSrcCopy:
      return StoreFor<Rop::kSrcCopy>(bitsPerPixel, row, x0, values, n);
    case Rop::kSrcAnd:
      return StoreFor<Rop::kSrcAnd>(bitsPerPixel, row, x0, values, n);
    case Rop::kSrcPaint:
      return StoreFor<Rop::kSrcPaint>(bitsPerPixel, row, x0, values, n);
  }
}

void FillRow(int bitsPerPixel, std::uint8_t* row, int x0, int n, std::uint32_t value) {
  if (n <= 0) return;
  if (bitsPerPixel == 32) {
    // The host surface is cleared before every paint, a row at a time: this path stays a leaf
    // with the value in a register and nothing read back, which the compiler turns into wide
    // stores. Cheaper than pixel-by-pixel copies for the short rows of small images and than
    // doubling block copies for long ones.
    const std::uint32_t v = value & kRgbMask;
    std::uint8_t* d = row + static_cast<std::ptrdiff_t>(x0) * 4;
    for (int k = 0; k < n; ++k) std::memcpy(d + static_cast<std::ptrdiff_t>(k) * 4, &v, 4);
    return;
  }
  if (bitsPerPixel == 8) {
    std::memset(row + x0, static_cast<int>(value & 0xFF), static_cast<std::size_t>(n));
    return;
  }
  FillOtherRow(bitsPerPixel, row, x0, n, value);
}

}  // namespace velmora::platform::raster_detail
