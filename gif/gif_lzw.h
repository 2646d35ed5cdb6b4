#pragma once
// GIF LZW decoding into caller-owned 8-bit rows.
//
// Codes start at minimum code size + 1 bits and grow to at most 12; the clear code is
// 2^minCodeSize and the end code one higher; the table holds at most 4096 entries. Interlaced
// images deliver rows in the four standard passes (every 8th row from 0, every 8th from 4,
// every 4th from 2, every 2nd from 1).
//
// Tolerances (each has a test):
//   - A full table (4096 entries) stays full: further codes are 12 bits wide and decode without
//     adding entries until a clear code comes.
//   - An invalid code (above the next free code, or a table code right after a clear) ends
//     decoding with kInvalidCode; the pixels written so far stay, the rest of the image keeps
//     what the rows held.
//   - Data that ends before the end code (or before the last pixel) stops with kTruncated; the
//     rest of the image keeps what the rows held.
//   - A missing end code after the last pixel is kComplete; data after the last pixel, and the
//     part of a code's string that would pass the last pixel, are ignored.
//   - A stream that does not start with a clear code decodes as if it did.
//   - A minimum code size outside 1..11 is kInvalidCode without writing anything. Sizes 9..11
//     (no GIF encoder writes them) decode; a literal above 255 writes its low byte. With size 1
//     the code width grows after the first code, as giflib does.
// Never reads outside the data and never writes outside the width x height rectangle; rows the
// data does not reach are not touched, the part of a row it reaches is written.
//
// Memory: each thread keeps a scratch of about one byte per pixel plus the joined data, reused by
// its next calls (kept up to 8 MiB, given back above that). Safe to call from several threads.
// Images above 2^31 pixels decode their first 2^31 pixels and report kTruncated, as does a call
// that cannot get its scratch memory (then with 0 pixels).

#include <cstddef>
#include <cstdint>
#include <span>

namespace velmora::gif {

enum class LzwStatus {
  kComplete,      // every pixel written (an end code may or may not have followed)
  kEndCodeEarly,  // the end code came before the last pixel; the rest keeps what it held
  kTruncated,     // the data ended before the last pixel
  kInvalidCode,   // a code beyond the table, or a bad minimum code size
};

struct LzwResult {
  LzwStatus status = LzwStatus::kTruncated;
  std::int64_t pixels = 0;  // pixels written, in the order the data delivers them
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
// byte: length, data, ..., 0). The zero-length block ends the data and anything after it is
// ignored; a sub-block that claims more bytes than remain uses what remains. An image without
// pixels (width or height not positive, or no rows) is kComplete with 0 pixels. `pixels` counts
// in delivery order, so for an interlaced image the first pixels/width delivered rows are whole.
LzwResult DecodeGifImageData(std::span<const std::uint8_t> subBlocks, int minCodeSize,
                             bool interlaced, const IndexRows& rows);

// Image row (from the top) of the k-th row an interlaced image of `height` rows delivers, for
// 0 <= k < height.
int InterlacedRow(int k, int height);

// Decodes a raw LZW code stream (no sub-block framing) into `out`, for the test vectors and the
// benchmarks. Stops when `out` is full, at the end code, or at the end of the data.
LzwResult DecodeLzwStream(std::span<const std::uint8_t> codes, int minCodeSize,
                          std::span<std::uint8_t> out);

}  // namespace velmora::gif
