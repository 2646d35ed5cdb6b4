// Bit-block transfers. A transfer is planned once per axis (which target columns and rows are
// written, and which source columns and rows feed each), then runs row by row: fetch the source
// pixels of a row already converted to the target's format through a 256-entry table, store them
// through the raster operation. Halftone resampling is separable: each source row is resampled
// horizontally once (two rows are cached, enough for bilinear enlarging), then rows are blended.

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "platform/raster.h"
#include "platform/raster_internal.h"

namespace velmora::platform {

using namespace raster_detail;

namespace {

// floor(a * b / c) for a < 2^33, b <= 2^31, 0 < c <= 2^32, exact and without overflow: the
// remainder times b stays below 2^63.
std::int64_t MulDivFloor(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  const std::uint64_t q = a / c;
  const std::uint64_t r = a % c;
  return static_cast<std::int64_t>(q * b + (r * b) / c);
}

struct Tap {
  int src = 0;
  float weight = 0;
};

// One axis of a transfer. Target coordinates first .. first + count - 1, ascending; for each the
// source coordinate nearest-neighbour sampling reads and, for halftone, the weighted taps.
struct AxisPlan {
  int first = 0;
  std::vector<int> nearest;
  std::vector<int> tapStart;  // taps of target k: [tapStart[k], tapStart[k + 1])
  std::vector<Tap> taps;

  int Count() const { return static_cast<int>(nearest.size()); }
  bool Contiguous() const {
    for (std::size_t k = 1; k < nearest.size(); ++k) {
      if (nearest[k] != nearest[k - 1] + 1) return false;
    }
    return true;
  }
};

// Plans one axis. A positive extent e at origin p covers p .. p + e - 1 in increasing order; a
// negative extent -e covers p, p - 1, ..., p - e + 1 in that order (the origin is the first pixel
// read or written, and the rectangle extends left of / above it). Target position i (0-based in
// traversal order) samples source position floor((i + 1/2) * ws / wd), so equal extents map one
// to one. Only target coordinates in [tLow, tHigh) (the bitmap cut to the clip) are planned;
// every sample and tap is a function of the traversal position alone, so a clipped plan gives
// each remaining pixel exactly what the whole one does. Target pixels whose sample falls outside
// the source bitmap are not written; taps that fall outside it are dropped (area averaging) or
// pulled to its edge (bilinear). Taps never reach outside the source rectangle, so a band of the
// frame strip never bleeds into its neighbours.
bool PlanAxis(std::int64_t tPos, std::int64_t tExt, std::int64_t tLow, std::int64_t tHigh,
              std::int64_t sPos, std::int64_t sExt, std::int64_t sLimit, bool withTaps,
              AxisPlan& plan) {
  plan.nearest.clear();
  plan.tapStart.clear();
  plan.taps.clear();
  const std::int64_t wd = tExt < 0 ? -tExt : tExt;
  const std::int64_t ws = sExt < 0 ? -sExt : sExt;
  if (wd == 0 || ws == 0) return false;
  const std::int64_t rectLow = tExt > 0 ? tPos : tPos - wd + 1;
  const std::int64_t lo = std::max<std::int64_t>(rectLow, tLow);
  const std::int64_t hi = std::min<std::int64_t>(rectLow + wd, tHigh);
  if (lo >= hi) return false;
  const auto traversal = [&](std::int64_t t) { return tExt > 0 ? t - tPos : tPos - t; };
  const auto sourceAt = [&](std::int64_t j) { return sExt > 0 ? sPos + j : sPos - j; };
  if (ws == wd) {
    // Equal extents map traversal position i to i, so the source is a + d * t with d = +-1 and
    // the targets whose source lies inside the bitmap follow directly, without a search.
    const std::int64_t d = (tExt > 0) == (sExt > 0) ? 1 : -1;
    const std::int64_t a = sourceAt(traversal(0));
    const std::int64_t first = std::max(lo, d > 0 ? -a : a - sLimit + 1);
    const std::int64_t last = std::min(hi, d > 0 ? sLimit - a : a + 1);  // exclusive
    if (first >= last) return false;
    plan.first = static_cast<int>(first);
    plan.nearest.resize(static_cast<std::size_t>(last - first));
    std::int64_t v = a + d * first;
    for (int& n : plan.nearest) {
      n = static_cast<int>(v);
      v += d;
    }
  }
  for (std::int64_t t = ws == wd ? hi : lo; t < hi; ++t) {
    const std::int64_t i = traversal(t);
    const std::int64_t s = sourceAt(MulDivFloor(2 * static_cast<std::uint64_t>(i) + 1,
                                                static_cast<std::uint64_t>(ws),
                                                2 * static_cast<std::uint64_t>(wd)));
    // The samples are monotonic in t, so the valid ones form one run.
    if (s < 0 || s >= sLimit) {
      if (!plan.nearest.empty()) break;
      continue;
    }
    if (plan.nearest.empty()) plan.first = static_cast<int>(t);
    plan.nearest.push_back(static_cast<int>(s));
  }
  if (plan.nearest.empty()) return false;
  if (!withTaps) return true;

  // Source positions (in traversal order) that lie inside the source bitmap.
  std::int64_t jLow = sExt > 0 ? -sPos : sPos - (sLimit - 1);
  std::int64_t jHigh = sExt > 0 ? sLimit - 1 - sPos : sPos;
  jLow = std::max<std::int64_t>(jLow, 0);
  jHigh = std::min<std::int64_t>(jHigh, ws - 1);
  const double scale = static_cast<double>(ws) / static_cast<double>(wd);
  for (int k = 0; k < plan.Count(); ++k) {
    plan.tapStart.push_back(static_cast<int>(plan.taps.size()));
    const std::int64_t i = traversal(plan.first + k);
    if (ws == wd) {
      plan.taps.push_back({plan.nearest[static_cast<std::size_t>(k)], 1.0f});
      continue;
    }
    if (ws > wd) {
      // Shrinking: the average of the source span the target pixel covers, partial pixels
      // weighted by the part covered.
      const double a = static_cast<double>(i) * scale;
      const double b = static_cast<double>(i + 1) * scale;
      const std::int64_t j0 = std::max(static_cast<std::int64_t>(std::floor(a)), jLow);
      const std::int64_t j1 = std::min(static_cast<std::int64_t>(std::ceil(b)) - 1, jHigh);
      const std::size_t start = plan.taps.size();
      double total = 0;
      for (std::int64_t j = j0; j <= j1; ++j) {
        const double w = std::min(b, static_cast<double>(j + 1)) - std::max(a, static_cast<double>(j));
        if (w <= 0) continue;
        plan.taps.push_back({static_cast<int>(sourceAt(j)), static_cast<float>(w)});
        total += w;
      }
      for (std::size_t n = start; n < plan.taps.size(); ++n) {
        plan.taps[n].weight = static_cast<float>(plan.taps[n].weight / total);
      }
      continue;
    }
    // Enlarging: linear between the two nearest source centres, held at the rectangle's edges.
    const double p = std::clamp((static_cast<double>(i) + 0.5) * scale - 0.5, 0.0,
                                static_cast<double>(ws - 1));
    const auto j0 = static_cast<std::int64_t>(std::floor(p));
    const double f = p - static_cast<double>(j0);
    const std::int64_t j1 = std::min(j0 + 1, ws - 1);
    plan.taps.push_back(
        {static_cast<int>(sourceAt(std::clamp(j0, jLow, jHigh))), static_cast<float>(1.0 - f)});
    if (f > 0) {
      plan.taps.push_back(
          {static_cast<int>(sourceAt(std::clamp(j1, jLow, jHigh))), static_cast<float>(f)});
    }
  }
  plan.tapStart.push_back(static_cast<int>(plan.taps.size()));
  return true;
}

// Rows of the source. When the source is also the target, the rows the transfer reads are copied
// first, so a mirror in place reads the pixels as they were before the transfer began.
class SourceRows {
 public:
  bool Init(const Bitmap& source, bool copy, int rowMin, int rowMax) {
    source_ = &source;
    if (!copy) return true;
    rowMin_ = rowMin;
    stride_ = static_cast<std::size_t>(source.Stride());
    const std::size_t rows = static_cast<std::size_t>(rowMax - rowMin + 1);
    buffer_.reset(new (std::nothrow) std::uint8_t[rows * stride_]);
    if (!buffer_) return false;
    for (int y = rowMin; y <= rowMax; ++y) {
      std::memcpy(buffer_.get() + static_cast<std::size_t>(y - rowMin) * stride_, source.Row(y),
                  stride_);
    }
    return true;
  }
  const std::uint8_t* Row(int y) const {
    if (!buffer_) return source_->Row(y);
    return buffer_.get() + static_cast<std::size_t>(y - rowMin_) * stride_;
  }

 private:
  const Bitmap* source_ = nullptr;
  std::unique_ptr<std::uint8_t[]> buffer_;
  int rowMin_ = 0;
  std::size_t stride_ = 0;
};

// Raw pixels of the given columns: an index for 1 and 8 bits (through `lut` when given), the
// colour for 24 and 32 bits.
template <int Bpp>
void FetchRow(const std::uint8_t* row, const int* cols, int n, const std::uint32_t* lut,
              std::uint32_t* out) {
  if (lut) {
    for (int k = 0; k < n; ++k) out[k] = lut[ReadRaw<Bpp>(row, cols[k])];
  } else {
    for (int k = 0; k < n; ++k) out[k] = ReadRaw<Bpp>(row, cols[k]);
  }
}

// The same for a run of adjacent columns starting at x0 (every unscaled transfer): sequential
// reads, a whole byte of 1-bit pixels at a time, with no column table to chase.
void FetchRun(int bpp, const std::uint8_t* row, int x0, int n, const std::uint32_t* lut,
              std::uint32_t* out) {
  switch (bpp) {
    case 1: {
      const std::uint32_t zero = lut ? lut[0] : 0u;
      const std::uint32_t one = lut ? lut[1] : 1u;
      int k = 0;
      int x = x0;
      for (; k < n && (x & 7) != 0; ++k, ++x) out[k] = ((row[x >> 3] >> (7 - (x & 7))) & 1u) ? one : zero;
      for (; k + 8 <= n; k += 8, x += 8) {
        const unsigned byte = row[x >> 3];
        for (int b = 0; b < 8; ++b) out[k + b] = ((byte >> (7 - b)) & 1u) ? one : zero;
      }
      for (; k < n; ++k, ++x) out[k] = ((row[x >> 3] >> (7 - (x & 7))) & 1u) ? one : zero;
      return;
    }
    case 8: {
      const std::uint8_t* p = row + x0;
      if (lut) {
        for (int k = 0; k < n; ++k) out[k] = lut[p[k]];
      } else {
        for (int k = 0; k < n; ++k) out[k] = p[k];
      }
      return;
    }
    case 24: {
      const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x0) * 3;
      for (int k = 0; k < n; ++k, p += 3) {
        out[k] = p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
      }
      return;
    }
    default: {
      const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x0) * 4;
      for (int k = 0; k < n; ++k, p += 4) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        out[k] = v & kRgbMask;
      }
      return;
    }
  }
}

void Fetch(int bpp, const std::uint8_t* row, const int* cols, int n, const std::uint32_t* lut,
           std::uint32_t* out) {
  switch (bpp) {
    case 1:
      return FetchRow<1>(row, cols, n, lut, out);
    case 8:
      return FetchRow<8>(row, cols, n, lut, out);
    case 24:
      return FetchRow<24>(row, cols, n, nullptr, out);
    default:
      return FetchRow<32>(row, cols, n, nullptr, out);
  }
}

// The hot path of every frame paint: 8-bit strip onto a 32-bit surface, one table look-up a pixel.
void CopyIndexedToRgb32(const std::uint8_t* src, const int* cols, int n, const std::uint32_t* lut,
                        std::uint8_t* dst) {
  for (int k = 0; k < n; ++k, dst += 4) std::memcpy(dst, &lut[src[cols[k]]], 4);
}

// Everything a transfer needs to turn source pixels into target values.
struct Conversion {
  int sourceBpp = 0;
  int targetBpp = 0;
  bool indexedSource = false;
  bool identity = false;                 // same format, the values move unchanged
  std::array<std::uint32_t, 256> colour{};  // source index -> 0x00RRGGBB
  std::array<std::uint32_t, 256> native{};  // source index -> target value
};

// `withColours` fills `colour` too, which only halftone resampling reads. Entries past the source
// table map to 0, as a pixel value the table does not cover always has.
void BuildConversion(const Bitmap& source, const Bitmap& target, PaletteMatcher* matcher,
                     bool withColours, Conversion& c) {
  c.sourceBpp = source.BitsPerPixel();
  c.targetBpp = target.BitsPerPixel();
  c.indexedSource = c.sourceBpp <= 8;
  c.identity = c.sourceBpp == c.targetBpp && !c.indexedSource;
  if (!c.indexedSource) return;
  const auto srcTable = source.ColorTable();
  const auto dstTable = target.ColorTable();
  const std::size_t entries = std::min<std::size_t>(srcTable.size(), c.native.size());
  if (!withColours && c.targetBpp >= 24) {
    // Colour targets take the colours themselves: one plain loop the compiler vectorises.
    for (std::size_t i = 0; i < entries; ++i) c.native[i] = srcTable[i] & kRgbMask;
    std::fill(c.native.begin() + static_cast<std::ptrdiff_t>(entries), c.native.end(), 0u);
    c.identity = false;
    return;
  }
  bool identity = c.sourceBpp == c.targetBpp;
  for (std::size_t i = 0; i < entries; ++i) {
    const RgbQuad colour = srcTable[i] & kRgbMask;
    if (withColours) c.colour[i] = colour;
    std::uint32_t v = colour;
    if (c.targetBpp == 8) {
      // An entry holding the same colour at the same index keeps its index: with identical tables
      // indices move unchanged even when the table repeats a colour (padded GIF tables do).
      v = i < dstTable.size() && (dstTable[i] & kRgbMask) == colour ? static_cast<std::uint32_t>(i)
                                                                     : matcher->Match(colour);
    } else if (c.targetBpp == 1) {
      v = MonoBitFor(colour);
      // Between two 1-bit bitmaps with the same table the bits move unchanged whatever the table.
      if (c.sourceBpp == 1 && (dstTable[i] & kRgbMask) == colour) v = static_cast<std::uint32_t>(i);
    }
    c.native[i] = v;
    identity = identity && v == i;
  }
  std::fill(c.native.begin() + static_cast<std::ptrdiff_t>(entries), c.native.end(), 0u);
  if (withColours) {
    std::fill(c.colour.begin() + static_cast<std::ptrdiff_t>(entries), c.colour.end(), 0u);
  }
  c.identity = identity;
}

// Target values of raw colours (24- and 32-bit sources, halftone results).
void ColoursToNative(int targetBpp, PaletteMatcher* matcher, std::uint32_t* values, int n) {
  if (targetBpp == 8) {
    for (int k = 0; k < n; ++k) values[k] = matcher->Match(values[k]);
  } else if (targetBpp == 1) {
    for (int k = 0; k < n; ++k) values[k] = MonoBitFor(values[k]);
  }
}

struct Scratch {
  Conversion conversion;  // 2 KiB of tables, kept rather than cleared for every transfer
  AxisPlan columns;
  AxisPlan rows;
  std::vector<std::uint32_t> values;
  std::vector<int> spanCols;
  std::vector<std::uint32_t> spanColours;
  std::vector<float> spanLanes;
  std::vector<float> blend;
  std::array<std::vector<float>, 2> resampled;
  std::array<int, 2> resampledRow{};
  std::size_t nextSlot = 0;
};

// The compositor's mask pass: an 8-bit band ANDed into a 1-bit mask, once a frame. The table
// gives each index its bit. Whole target bytes take eight source bytes at a time; a target byte
// ANDed with all ones is not written. When exactly one index maps to 1 (the mask palette: the
// transparent index alone is white), the eight bits are the eight bytes compared with that index,
// done at once in a 64-bit word on little-endian machines.
class AndIndexedIntoMono {
 public:
  explicit AndIndexedIntoMono(const std::uint32_t* lut) {
    int ones = 0;
    for (int i = 0; i < 256; ++i) {
      bits_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(lut[i] & 1u);
      if (bits_[static_cast<std::size_t>(i)] != 0) {
        ++ones;
        onlyWhite_ = static_cast<std::uint8_t>(i);
      }
    }
    compare_ = ones == 1 && std::endian::native == std::endian::little;
  }

  void Run(const std::uint8_t* src, std::uint8_t* dst, int x0, int n) const {
    const auto single = [&](int k) {
      const int x = x0 + k;
      if (bits_[src[k]] != 0) return;
      dst[x >> 3] = static_cast<std::uint8_t>(dst[x >> 3] & ~(0x80u >> (x & 7)));
    };
    int k = 0;
    for (; k < n && ((x0 + k) & 7) != 0; ++k) single(k);
    std::uint8_t* d = dst + ((x0 + k) >> 3);
    if (compare_) {
      const std::uint64_t pattern = 0x0101010101010101ull * onlyWhite_;
      for (; k + 8 <= n; k += 8, ++d) {
        std::uint64_t v;
        std::memcpy(&v, src + k, 8);
        v ^= pattern;  // zero bytes are the white index
        // High bit of each byte set where the byte is not zero (exact, no borrow between bytes).
        const std::uint64_t nonzero =
            (((v & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | v) & 0x8080808080808080ull;
        if (nonzero == 0) continue;
        // Byte j's bit (at 8j + 7) moves to bit 63 - j of the product: the first pixel ends up
        // in the most significant bit of the top byte. The shifted bits never meet, so no carry.
        const std::uint64_t white = (~nonzero & 0x8080808080808080ull) >> 7;
        const auto bits = static_cast<std::uint8_t>((white * 0x8040201008040201ull) >> 56);
        *d = static_cast<std::uint8_t>(*d & bits);
      }
    } else {
      for (; k + 8 <= n; k += 8, ++d) {
        const std::uint8_t* s = src + k;
        const unsigned bits = (bits_[s[0]] << 7) | (bits_[s[1]] << 6) | (bits_[s[2]] << 5) |
                              (bits_[s[3]] << 4) | (bits_[s[4]] << 3) | (bits_[s[5]] << 2) |
                              (bits_[s[6]] << 1) | bits_[s[7]];
        if (bits != 0xFF) *d = static_cast<std::uint8_t>(*d & bits);
      }
    }
    for (; k < n; ++k) single(k);
  }

 private:
  std::array<std::uint8_t, 256> bits_{};
  std::uint8_t onlyWhite_ = 0;
  bool compare_ = false;
};

void RunNearest(const SourceRows& src, Bitmap& target, const Conversion& conv,
                PaletteMatcher* matcher, Rop rop, Scratch& s) {
  const AxisPlan& cols = s.columns;
  const AxisPlan& rows = s.rows;
  const int n = cols.Count();
  const int x0 = cols.first;
  const int sx0 = cols.nearest[0];
  const int bytesPerPixel = conv.targetBpp / 8;
  const bool run = cols.Contiguous();
  const bool rowCopy = rop == Rop::kSrcCopy && conv.identity && conv.targetBpp >= 8 && run;
  const bool indexedTo32 = rop == Rop::kSrcCopy && conv.sourceBpp == 8 && conv.targetBpp == 32;
  const std::uint32_t* lut = conv.indexedSource ? conv.native.data() : nullptr;
  // Unscaled, unmirrored columns between formats that need no colour matching go from source row
  // to target row in one pass, with no row of intermediate values in between.
  if (run && conv.sourceBpp == 8 && conv.targetBpp == 1 && rop == Rop::kSrcAnd) {
    const AndIndexedIntoMono kernel(lut);
    for (int k = 0; k < rows.Count(); ++k) {
      kernel.Run(src.Row(rows.nearest[static_cast<std::size_t>(k)]) + sx0,
                 target.Row(rows.first + k), x0, n);
    }
    return;
  }
  const RunConverter direct =
      run && !rowCopy ? RunConverterFor(conv.sourceBpp, conv.targetBpp, rop) : nullptr;
  if (direct) {
    for (int k = 0; k < rows.Count(); ++k) {
      direct(src.Row(rows.nearest[static_cast<std::size_t>(k)]), sx0, target.Row(rows.first + k),
             x0, n, lut);
    }
    return;
  }
  s.values.resize(static_cast<std::size_t>(n));
  int fetchedRow = -1;
  for (int k = 0; k < rows.Count(); ++k) {
    const int sy = rows.nearest[static_cast<std::size_t>(k)];
    const std::uint8_t* srcRow = src.Row(sy);
    std::uint8_t* dstRow = target.Row(rows.first + k);
    if (rowCopy) {
      std::memcpy(dstRow + static_cast<std::ptrdiff_t>(x0) * bytesPerPixel,
                  srcRow + static_cast<std::ptrdiff_t>(sx0) * bytesPerPixel,
                  static_cast<std::size_t>(n) * static_cast<std::size_t>(bytesPerPixel));
      continue;
    }
    if (indexedTo32) {
      CopyIndexedToRgb32(srcRow, cols.nearest.data(), n, lut,
                         dstRow + static_cast<std::ptrdiff_t>(x0) * 4);
      continue;
    }
    // Enlarging repeats source rows; their values are fetched once.
    if (sy != fetchedRow) {
      if (run) {
        FetchRun(conv.sourceBpp, srcRow, sx0, n, lut, s.values.data());
      } else {
        Fetch(conv.sourceBpp, srcRow, cols.nearest.data(), n, lut, s.values.data());
      }
      if (!conv.indexedSource) ColoursToNative(conv.targetBpp, matcher, s.values.data(), n);
      fetchedRow = sy;
    }
    StoreRow(conv.targetBpp, rop, dstRow, x0, s.values.data(), n);
  }
}

// Halftone works on four floats a pixel (blue, green, red, unused): each pixel is one group of
// four that the compiler turns into single vector operations.
constexpr std::size_t kLanes = 4;

inline void ColourToLanes(std::uint32_t c, float* out) {
  out[0] = static_cast<float>(c & 0xFF);
  out[1] = static_cast<float>((c >> 8) & 0xFF);
  out[2] = static_cast<float>((c >> 16) & 0xFF);
  out[3] = 0;
}

// Written out lane by lane, all loads before all stores, so that each becomes one vector
// multiply (and add) even though `out` and `in` could alias as far as the compiler knows.
inline void SetScaled(float* out, const float* in, float w) {
  const float a0 = in[0], a1 = in[1], a2 = in[2], a3 = in[3];
  out[0] = w * a0;
  out[1] = w * a1;
  out[2] = w * a2;
  out[3] = w * a3;
}

inline void AddScaled(float* out, const float* in, float w) {
  const float a0 = in[0], a1 = in[1], a2 = in[2], a3 = in[3];
  const float b0 = out[0], b1 = out[1], b2 = out[2], b3 = out[3];
  out[0] = b0 + w * a0;
  out[1] = b1 + w * a1;
  out[2] = b2 + w * a2;
  out[3] = b3 + w * a3;
}

// Weights are never negative and sum to 1, so a channel is never below 0 and passes 255 only by
// rounding error (a sum of very many float weights); the cap is a branch-free minimum.
inline std::uint32_t LanesToColour(const float* in) {
  const auto channel = [](float v) {
    return static_cast<std::uint32_t>(static_cast<int>((v < 255.0f ? v : 255.0f) + 0.5f));
  };
  return channel(in[0]) | (channel(in[1]) << 8) | (channel(in[2]) << 16);
}

// Source row `sy` resampled horizontally, kLanes floats per target column. Two rows are kept:
// rows are visited in one direction, so the slot filled longer ago is the one done with.
const float* ResampledRow(const SourceRows& src, const Conversion& conv, int sy, Scratch& s) {
  for (std::size_t slot = 0; slot < 2; ++slot) {
    if (s.resampledRow[slot] == sy) return s.resampled[slot].data();
  }
  const std::size_t slot = s.nextSlot;
  s.nextSlot ^= 1u;
  s.resampledRow[slot] = sy;
  const AxisPlan& cols = s.columns;
  const int spanLow = s.spanCols.front();
  const std::size_t span = s.spanCols.size();
  Fetch(conv.sourceBpp, src.Row(sy), s.spanCols.data(), static_cast<int>(span),
        conv.indexedSource ? conv.colour.data() : nullptr, s.spanColours.data());
  float* lanes = s.spanLanes.data();
  for (std::size_t m = 0; m < span; ++m) ColourToLanes(s.spanColours[m], lanes + m * kLanes);
  float* out = s.resampled[slot].data();
  const Tap* taps = cols.taps.data();
  for (int k = 0; k < cols.Count(); ++k, out += kLanes) {
    const int begin = cols.tapStart[static_cast<std::size_t>(k)];
    const int end = cols.tapStart[static_cast<std::size_t>(k) + 1];
    SetScaled(out, lanes + static_cast<std::size_t>(taps[begin].src - spanLow) * kLanes,
              taps[begin].weight);
    for (int t = begin + 1; t < end; ++t) {
      AddScaled(out, lanes + static_cast<std::size_t>(taps[t].src - spanLow) * kLanes,
                taps[t].weight);
    }
  }
  return s.resampled[slot].data();
}

void RunHalftone(const SourceRows& src, Bitmap& target, const Conversion& conv,
                 PaletteMatcher* matcher, Rop rop, Scratch& s) {
  const AxisPlan& cols = s.columns;
  const AxisPlan& rows = s.rows;
  const int n = cols.Count();
  const auto bySource = [](const Tap& a, const Tap& b) { return a.src < b.src; };
  const auto [lowIt, highIt] = std::minmax_element(cols.taps.begin(), cols.taps.end(), bySource);
  s.spanCols.clear();
  for (int c = lowIt->src; c <= highIt->src; ++c) s.spanCols.push_back(c);
  s.spanColours.resize(s.spanCols.size());
  s.spanLanes.resize(s.spanCols.size() * kLanes);
  for (auto& line : s.resampled) line.resize(static_cast<std::size_t>(n) * kLanes);
  s.resampledRow = {-1, -1};
  s.nextSlot = 0;
  s.blend.resize(static_cast<std::size_t>(n) * kLanes);
  s.values.resize(static_cast<std::size_t>(n));
  float* blend = s.blend.data();
  std::uint32_t* values = s.values.data();
  for (int k = 0; k < rows.Count(); ++k) {
    // Each resampled row is blended in before the next is fetched: fetching may evict it.
    const int tapBegin = rows.tapStart[static_cast<std::size_t>(k)];
    const int tapEnd = rows.tapStart[static_cast<std::size_t>(k) + 1];
    for (int t = tapBegin; t < tapEnd; ++t) {
      const Tap& tap = rows.taps[static_cast<std::size_t>(t)];
      const float* line = ResampledRow(src, conv, tap.src, s);
      const float w = tap.weight;
      const std::size_t length = static_cast<std::size_t>(n) * kLanes;
      if (t == tapBegin) {
        for (std::size_t m = 0; m < length; m += kLanes) SetScaled(blend + m, line + m, w);
      } else {
        for (std::size_t m = 0; m < length; m += kLanes) AddScaled(blend + m, line + m, w);
      }
    }
    for (int m = 0; m < n; ++m) values[m] = LanesToColour(blend + static_cast<std::size_t>(m) * kLanes);
    ColoursToNative(conv.targetBpp, matcher, values, n);
    StoreRow(conv.targetBpp, rop, target.Row(rows.first + k), cols.first, values, n);
  }
}

bool Transfer(DeviceContext& targetDc, int x, int y, int cx, int cy, const DeviceContext& sourceDc,
              int xSrc, int ySrc, int cxSrc, int cySrc, Rop rop, bool mayResample) {
  if (rop != Rop::kSrcCopy && rop != Rop::kSrcAnd && rop != Rop::kSrcPaint) return false;
  Bitmap& target = targetDc.Selected();
  const Bitmap& source = sourceDc.Selected();
  const bool halftone = mayResample && targetDc.StretchBltMode() == kHalftone &&
                        (static_cast<std::int64_t>(cx) * cx != static_cast<std::int64_t>(cxSrc) * cxSrc ||
                         static_cast<std::int64_t>(cy) * cy != static_cast<std::int64_t>(cySrc) * cySrc);
  thread_local Scratch scratch;
  Scratch& s = scratch;
  try {
    const Rect area = WritableArea(targetDc);
    if (!PlanAxis(x, cx, area.left, area.right, xSrc, cxSrc, source.Width(), halftone,
                  s.columns) ||
        !PlanAxis(y, cy, area.top, area.bottom, ySrc, cySrc, source.Height(), halftone, s.rows)) {
      return false;
    }
    int rowMin = 0;
    int rowMax = 0;
    if (halftone) {
      const auto [lo, hi] = std::minmax_element(s.rows.taps.begin(), s.rows.taps.end(),
                                                [](const Tap& a, const Tap& b) { return a.src < b.src; });
      rowMin = lo->src;
      rowMax = hi->src;
    } else {
      const auto [lo, hi] = std::minmax_element(s.rows.nearest.begin(), s.rows.nearest.end());
      rowMin = *lo;
      rowMax = *hi;
    }
    SourceRows rows;
    if (!rows.Init(source, &source == &target, rowMin, rowMax)) return false;

    // Only a transfer into an 8-bit target needs the matcher; it is 20 KiB, so made only then.
    std::unique_ptr<PaletteMatcher> matcher;
    if (target.BitsPerPixel() == 8) {
      matcher.reset(new (std::nothrow) PaletteMatcher(target.ColorTable()));
      if (!matcher) return false;
    }
    Conversion& conv = s.conversion;
    BuildConversion(source, target, matcher.get(), halftone, conv);
    if (halftone) {
      RunHalftone(rows, target, conv, matcher.get(), rop, s);
    } else {
      RunNearest(rows, target, conv, matcher.get(), rop, s);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

bool BitBlt(DeviceContext& target, int x, int y, int cx, int cy, const DeviceContext& source,
            int xSrc, int ySrc, Rop rop) {
  if (cx <= 0 || cy <= 0) return false;
  return Transfer(target, x, y, cx, cy, source, xSrc, ySrc, cx, cy, rop, false);
}

bool StretchBlt(DeviceContext& target, int x, int y, int cx, int cy, const DeviceContext& source,
                int xSrc, int ySrc, int cxSrc, int cySrc, Rop rop) {
  return Transfer(target, x, y, cx, cy, source, xSrc, ySrc, cxSrc, cySrc, rop, true);
}

}  // namespace velmora::platform
