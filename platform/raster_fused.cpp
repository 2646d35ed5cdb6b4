// Fused transfers: an AND pass and an OR pass over the same target rectangle done as one pass, so
// every target pixel is read and written once instead of twice. Both are unscaled and unmirrored,
// so the placement is a plain intersection of rectangles; the results are those of the two
// separate transfers to the byte.

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "platform/raster.h"
#include "platform/raster_internal.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <tmmintrin.h>
#define VELMORA_RASTER_SSSE3 1
#endif

namespace velmora::platform {

using namespace raster_detail;

namespace {

// The part of a 1:1 transfer that is written: target columns and rows inside the writable area
// whose source pixel lies inside a source of the given size. 64-bit arithmetic, so positions
// near the 32-bit limits clip instead of wrapping.
struct Placement {
  int x0 = 0;   // first target column
  int y0 = 0;   // first target row
  int sx0 = 0;  // its source column
  int sy0 = 0;  // its source row
  int width = 0;
  int height = 0;
};

bool PlaceAxis(std::int64_t t, std::int64_t extent, std::int64_t low, std::int64_t high,
               std::int64_t s, std::int64_t sourceLimit, int& first, int& sourceFirst, int& count) {
  const std::int64_t lo = std::max({t, low, t - s});
  const std::int64_t hi = std::min({t + extent, high, t + (sourceLimit - s)});
  if (lo >= hi) return false;
  first = static_cast<int>(lo);
  sourceFirst = static_cast<int>(s + (lo - t));
  count = static_cast<int>(hi - lo);
  return true;
}

bool Place(const DeviceContext& target, int x, int y, int cx, int cy, int xSrc, int ySrc,
           int sourceWidth, int sourceHeight, Placement& p) {
  if (cx <= 0 || cy <= 0) return false;
  const Rect area = WritableArea(target);
  return PlaceAxis(x, cx, area.left, area.right, xSrc, sourceWidth, p.x0, p.sx0, p.width) &&
         PlaceAxis(y, cy, area.top, area.bottom, ySrc, sourceHeight, p.y0, p.sy0, p.height);
}

// Per index, the value ANDed in (the fourth byte all ones, which both AND and OR keep) and the
// value ORed in (the fourth byte zero).
// `skipWord` is set when exactly one index changes nothing (AND with white, OR with black: a
// frame's transparent index) and the machine is little-endian: eight source bytes all equal to
// that index leave eight target pixels alone, which one 64-bit compare finds.
struct AndOrTables {
  std::array<std::uint32_t, 256> andValue;
  std::array<std::uint32_t, 256> orValue;
  bool skipWords = false;
  std::uint64_t unchangedWord = 0;
};

void BuildAndOr(std::span<const RgbQuad> andTable, std::span<const RgbQuad> paintTable,
                AndOrTables& t) {
  int unchanging = 0;
  std::uint64_t index = 0;
  for (std::size_t i = 0; i < 256; ++i) {
    t.andValue[i] = (i < andTable.size() ? andTable[i] & kRgbMask : 0u) | ~kRgbMask;
    t.orValue[i] = i < paintTable.size() ? paintTable[i] & kRgbMask : 0u;
    if (t.andValue[i] == 0xFFFFFFFFu && t.orValue[i] == 0) {
      ++unchanging;
      index = i;
    }
  }
  t.skipWords = unchanging == 1 && std::endian::native == std::endian::little;
  t.unchangedWord = index * 0x0101010101010101ull;
}

bool Unchanged8(const std::uint8_t* s, const AndOrTables& t) {
  std::uint64_t v;
  std::memcpy(&v, s, 8);
  return t.skipWords && v == t.unchangedWord;
}

// 32-bit targets: the pixel's four bytes read, combined and written back. Indices that neither
// clear nor set anything (the transparent one of a frame) still cost the read and write, which is
// cheaper than a branch that mispredicts on every edge of a frame's shapes.
void AndOrRow32(const std::uint8_t* s, std::uint8_t* d, int n, const AndOrTables& t) {
  int k = 0;
  for (; k + 4 <= n; k += 4, d += 16) {
    if (k + 8 <= n && Unchanged8(s + k, t)) {
      k += 4;
      d += 16;
      continue;
    }
    std::uint32_t o0, o1, o2, o3;
    std::memcpy(&o0, d, 4);
    std::memcpy(&o1, d + 4, 4);
    std::memcpy(&o2, d + 8, 4);
    std::memcpy(&o3, d + 12, 4);
    o0 = (o0 & t.andValue[s[k]]) | t.orValue[s[k]];
    o1 = (o1 & t.andValue[s[k + 1]]) | t.orValue[s[k + 1]];
    o2 = (o2 & t.andValue[s[k + 2]]) | t.orValue[s[k + 2]];
    o3 = (o3 & t.andValue[s[k + 3]]) | t.orValue[s[k + 3]];
    std::memcpy(d, &o0, 4);
    std::memcpy(d + 4, &o1, 4);
    std::memcpy(d + 8, &o2, 4);
    std::memcpy(d + 12, &o3, 4);
  }
  for (; k < n; ++k, d += 4) {
    std::uint32_t o;
    std::memcpy(&o, d, 4);
    o = (o & t.andValue[s[k]]) | t.orValue[s[k]];
    std::memcpy(d, &o, 4);
  }
}

// 24-bit targets. Eight pixels (24 bytes) go as three 64-bit words read, combined and written
// back: a pixel's four bytes read right after the previous pixel's four-byte write would overlap
// that write, which processors do not forward, so every pixel would wait for the one before.
// The pixels the words do not cover take four-byte reads and writes, the fourth byte being the
// next pixel's first, which the AND value's all-ones fourth byte and the OR value's zero keep as
// it was; the last pixel is done byte by byte, so the row is never touched past its end.
void AndOrEight24(const std::uint8_t* s, std::uint8_t* d, const AndOrTables& t) {
  constexpr std::uint64_t kPixel = 0xFFFFFF;
  std::uint64_t w[3];
  std::memcpy(w, d, sizeof w);
  std::uint64_t p[8] = {w[0],       w[0] >> 24, (w[0] >> 48) | (w[1] << 16),
                        w[1] >> 8,  w[1] >> 32, (w[1] >> 56) | (w[2] << 8),
                        w[2] >> 16, w[2] >> 40};
  for (int j = 0; j < 8; ++j) p[j] = ((p[j] & t.andValue[s[j]]) | t.orValue[s[j]]) & kPixel;
  w[0] = p[0] | (p[1] << 24) | (p[2] << 48);
  w[1] = (p[2] >> 16) | (p[3] << 8) | (p[4] << 32) | (p[5] << 56);
  w[2] = (p[5] >> 8) | (p[6] << 16) | (p[7] << 40);
  std::memcpy(d, w, sizeof w);
}

void AndOrRow24(const std::uint8_t* s, std::uint8_t* d, int n, const AndOrTables& t) {
  int k = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; k + 8 <= n; k += 8, d += 24) {
      if (!Unchanged8(s + k, t)) AndOrEight24(s + k, d, t);
    }
  }
  for (; k + 1 < n; ++k, d += 3) {
    std::uint32_t o;
    std::memcpy(&o, d, 4);
    o = (o & t.andValue[s[k]]) | t.orValue[s[k]];
    std::memcpy(d, &o, 4);
  }
  if (k < n) {
    const std::uint32_t a = t.andValue[s[k]];
    const std::uint32_t b = t.orValue[s[k]];
    d[0] = static_cast<std::uint8_t>((d[0] & a) | b);
    d[1] = static_cast<std::uint8_t>((d[1] & (a >> 8)) | (b >> 8));
    d[2] = static_cast<std::uint8_t>((d[2] & (a >> 16)) | (b >> 16));
  }
}

// Whole mask bytes (eight pixels each) of the canvas through its mask onto a 32-bit target, as
// many as `groups`: the number of pixels done. The plain version leaves them all to MaskedRow.
using MaskedGroups32 = int (*)(const std::uint8_t* mask, int groups, const std::uint8_t* colours,
                               std::uint8_t* d, const std::array<std::uint32_t, 2>& keep);

int MaskedGroups32Plain(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*,
                        const std::array<std::uint32_t, 2>&) {
  return 0;
}

#if defined(VELMORA_RASTER_SSSE3)
// Eight pixels a step: their 24 colour bytes spread to four bytes a pixel by two byte shuffles
// (the fourth byte zero), the AND value of each pixel chosen by its mask bit, both halves of the
// target read, combined and written back. Reads and writes only the group's own bytes.
__attribute__((target("ssse3"))) int MaskedGroups32Ssse3(const std::uint8_t* mask, int groups,
                                                         const std::uint8_t* colours,
                                                         std::uint8_t* d,
                                                         const std::array<std::uint32_t, 2>& keep) {
  const __m128i low = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i high = _mm_setr_epi8(4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
  const __m128i bitsLow = _mm_setr_epi32(0x80, 0x40, 0x20, 0x10);
  const __m128i bitsHigh = _mm_setr_epi32(0x08, 0x04, 0x02, 0x01);
  const __m128i keep0 = _mm_set1_epi32(static_cast<int>(keep[0]));
  const __m128i keep1 = _mm_set1_epi32(static_cast<int>(keep[1]));
  const auto andValues = [&](__m128i byte, __m128i bits) {
    const __m128i set = _mm_cmpeq_epi32(_mm_and_si128(byte, bits), bits);
    return _mm_or_si128(_mm_and_si128(set, keep1), _mm_andnot_si128(set, keep0));
  };
  for (int g = 0; g < groups; ++g, colours += 24, d += 32) {
    const __m128i byte = _mm_set1_epi32(mask[g]);
    const __m128i c0 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(colours)), low);
    const __m128i c1 =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(colours + 8)), high);
    __m128i* out = reinterpret_cast<__m128i*>(d);
    const __m128i d0 = _mm_loadu_si128(out);
    const __m128i d1 = _mm_loadu_si128(out + 1);
    _mm_storeu_si128(out, _mm_or_si128(_mm_and_si128(d0, andValues(byte, bitsLow)), c0));
    _mm_storeu_si128(out + 1, _mm_or_si128(_mm_and_si128(d1, andValues(byte, bitsHigh)), c1));
  }
  return 8 * groups;
}

MaskedGroups32 PickMaskedGroups32() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") ? MaskedGroups32Ssse3 : MaskedGroups32Plain;
}
#else
MaskedGroups32 PickMaskedGroups32() {
  return MaskedGroups32Plain;
}
#endif

// The canvas through its mask. `keep[bit]` is the value ANDed in for a mask bit (the mask's table
// entry with an all-ones fourth byte); colours are ORed in whatever the bit. A whole mask byte of
// one value takes one AND value for its eight pixels; onto 32-bit targets whole bytes go eight
// pixels at a time where the processor has byte shuffles.
template <int TargetBytes>
void MaskedRow(const std::uint8_t* mask, int mx0, const std::uint8_t* colours, std::uint8_t* d,
               int n, const std::array<std::uint32_t, 2>& keep) {
  const std::uint8_t* c = colours;
  const auto put = [&](std::uint8_t* p, const std::uint8_t* src, std::uint32_t a, bool last) {
    std::uint32_t v;
    if (last) {
      v = src[0] | (src[1] << 8) | (static_cast<std::uint32_t>(src[2]) << 16);
    } else {
      std::memcpy(&v, src, 4);
      v &= kRgbMask;
    }
    if (TargetBytes == 3 && last) {
      p[0] = static_cast<std::uint8_t>((p[0] & a) | v);
      p[1] = static_cast<std::uint8_t>((p[1] & (a >> 8)) | (v >> 8));
      p[2] = static_cast<std::uint8_t>((p[2] & (a >> 16)) | (v >> 16));
      return;
    }
    std::uint32_t o;
    std::memcpy(&o, p, 4);
    o = (o & a) | v;
    std::memcpy(p, &o, 4);
  };
  const auto bitAt = [&](int x) { return (mask[x >> 3] >> (7 - (x & 7))) & 1u; };
  // Colours are read four bytes a pixel except the row's last pixel, whose fourth byte may lie
  // past the end of the canvas row.
  int k = 0;
  int x = mx0;
  for (; k < n && (x & 7) != 0; ++k, ++x, d += TargetBytes, c += 3) {
    put(d, c, keep[bitAt(x)], k + 1 == n);
  }
  if constexpr (TargetBytes == 4) {
    static const MaskedGroups32 groups = PickMaskedGroups32();
    const int done = groups(mask + (x >> 3), (n - k) / 8, c, d, keep);
    k += done;
    x += done;
    d += 4 * static_cast<std::ptrdiff_t>(done);
    c += 3 * static_cast<std::ptrdiff_t>(done);
  }
  for (; k + 8 < n; k += 8, x += 8, d += 8 * TargetBytes, c += 24) {
    const unsigned byte = mask[x >> 3];
    if (byte == 0 || byte == 0xFF) {
      const std::uint32_t a = keep[byte & 1u];
      for (int b = 0; b < 8; ++b) {
        std::uint32_t v;
        std::uint32_t o;
        std::memcpy(&v, c + 3 * b, 4);
        std::memcpy(&o, d + TargetBytes * b, 4);
        o = (o & a) | (v & kRgbMask);
        std::memcpy(d + TargetBytes * b, &o, 4);
      }
      continue;
    }
    for (int b = 0; b < 8; ++b) {
      put(d + TargetBytes * b, c + 3 * b, keep[(byte >> (7 - b)) & 1u], false);
    }
  }
  for (; k < n; ++k, ++x, d += TargetBytes, c += 3) put(d, c, keep[bitAt(x)], k + 1 == n);
}

}  // namespace

bool BitBltAndPaint(DeviceContext& target, int x, int y, int cx, int cy,
                    const DeviceContext& source, int xSrc, int ySrc,
                    std::span<const RgbQuad> andTable, std::span<const RgbQuad> paintTable) {
  Bitmap& dst = target.Selected();
  const Bitmap& src = source.Selected();
  const int bpp = dst.BitsPerPixel();
  if (src.BitsPerPixel() != 8 || (bpp != 24 && bpp != 32)) return false;
  Placement p;
  if (!Place(target, x, y, cx, cy, xSrc, ySrc, src.Width(), src.Height(), p)) return false;
  AndOrTables tables;
  BuildAndOr(andTable, paintTable, tables);
  const auto rowFn = bpp == 32 ? AndOrRow32 : AndOrRow24;
  const std::ptrdiff_t dstOffset = static_cast<std::ptrdiff_t>(p.x0) * (bpp / 8);
  for (int r = 0; r < p.height; ++r) {
    rowFn(src.Row(p.sy0 + r) + p.sx0, dst.Row(p.y0 + r) + dstOffset, p.width, tables);
  }
  return true;
}

bool BitBltThroughMask(DeviceContext& target, int x, int y, int cx, int cy,
                       const DeviceContext& source, int xSrc, int ySrc, const Bitmap& mask) {
  Bitmap& dst = target.Selected();
  const Bitmap& src = source.Selected();
  const int bpp = dst.BitsPerPixel();
  if (src.BitsPerPixel() != 24 || mask.BitsPerPixel() != 1 || (bpp != 24 && bpp != 32)) {
    return false;
  }
  if (mask.Width() != src.Width() || mask.Height() != src.Height()) return false;
  if (&dst == &src || &dst == &mask) return false;
  Placement p;
  if (!Place(target, x, y, cx, cy, xSrc, ySrc, src.Width(), src.Height(), p)) return false;
  const auto table = mask.ColorTable();
  const std::array<std::uint32_t, 2> keep{(table[0] & kRgbMask) | ~kRgbMask,
                                          (table[1] & kRgbMask) | ~kRgbMask};
  const std::ptrdiff_t dstOffset = static_cast<std::ptrdiff_t>(p.x0) * (bpp / 8);
  const std::ptrdiff_t srcOffset = static_cast<std::ptrdiff_t>(p.sx0) * 3;
  for (int r = 0; r < p.height; ++r) {
    std::uint8_t* d = dst.Row(p.y0 + r) + dstOffset;
    const std::uint8_t* c = src.Row(p.sy0 + r) + srcOffset;
    const std::uint8_t* m = mask.Row(p.sy0 + r);
    if (bpp == 32) {
      MaskedRow<4>(m, p.sx0, c, d, p.width, keep);
    } else {
      MaskedRow<3>(m, p.sx0, c, d, p.width, keep);
    }
  }
  return true;
}

}  // namespace velmora::platform
