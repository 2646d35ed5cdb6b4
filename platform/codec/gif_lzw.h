#pragma once
// GIF LZW decoding straight into caller-owned 8-bit rows.
//
// Codes start at minimum code size + 1 bits and grow to at most 12; the clear code is
// 2^minCodeSize and the end code one higher; the table holds at most 4096 entries. Interlaced
// images deliver rows in the four standard passes (every 8th row from 0, every 8th from 4,
// every 4th from 2, every 2nd from 1).
//
// Tolerances (each has a test):
//   - A full table (4096 entries) stays full: further codes are decoded without adding entries
//     until a clear code comes.
//   - An invalid code (above the next free code) ends decoding with kInvalidCode; the pixels
//     written so far stay, the rest of the image keeps what the rows held.
//   - Data that ends before the end code (or before the last pixel) stops with kTruncated; the
//     rest of the image keeps what the rows held.
//   - A missing end code after the last pixel is kComplete; data after the last pixel is ignored.
//   - A minimum code size outside 1..11 is kInvalidCode without writing anything.
// Never reads outside `data` and never writes outside the width x height rectangle.

#include <cstddef>
#include <cstdint>
#include <span>

namespace velmora::platform {

enum class LzwStatus {
  kComplete,      // every pixel written (an end code may or may not have followed)
  kEndCodeEarly,  // the end code came before the last pixel; the rest keeps what it held
  kTruncated,     // the data ended before the last pixel
  kInvalidCode,   // a code beyond the table, or a bad minimum code size
};

struct LzwResult {
  LzwStatus status = LzwStatus::kTruncated;
  std::int64_t pixels = 0;  // pixels written
};

// Where decoded rows go: row y (counted from the top of the image) starts at
// topRow + y * rowStride; the stride may be negative (bottom-up bitmaps).
struct IndexRows {
  std::uint8_t* topRow = nullptr;
  std::ptrdiff_t rowStride = 0;
  int width = 0;
  int height = 0;
};

// Decodes GIF image data given as data sub-blocks (the bytes after the LZW minimum code size
// byte: length, data, ..., 0). A sub-block that claims more bytes than remain uses what remains.
LzwResult DecodeGifImageData(std::span<const std::uint8_t> subBlocks, int minCodeSize,
                             bool interlaced, const IndexRows& rows);

// Image row (from the top) of the k-th row an interlaced image of `height` rows delivers, for
// 0 <= k < height.
int InterlacedRow(int k, int height);

// Decodes a raw LZW code stream (no sub-block framing) into `out`, for the test vectors and the
// benchmarks. Stops when `out` is full, at the end code, or at the end of the data.
LzwResult DecodeLzwStream(std::span<const std::uint8_t> codes, int minCodeSize,
                          std::span<std::uint8_t> out);

}  // namespace velmora::platform
