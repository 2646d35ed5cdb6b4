#pragma once
// GIF LZW compression of 8-bit colour indices, minimum code size 8: codes of 9 bits growing to
// 12, a clear code first, the end code last, and a clear code whenever code 4096 would be made
// (written 12 bits wide). Pure byte work; each thread keeps a scratch dictionary of about
// 170 KB, handed back empty after every call, so threads may compress at the same time.
//
// The string table behaves as the classic 5003-slot hashed table (the slot of (index, prefix) is
// index * 16 XOR prefix, probing downwards by 5003 minus the home slot), including one quirk kept
// on purpose: a slot holding the string "index 0 followed by index 0" (key 0) ends a probe chain
// like an empty slot, and the new string then overwrites it. Files written by this compressor
// have always had this shape; fixing it would change their bytes.

#include <cstddef>
#include <cstdint>

namespace velmora::gif {

// The indices to compress: row y (from the top) starts at topRow + y * rowStride; the stride may
// be negative (bottom-up memory).
struct IndexRowsView {
  const std::uint8_t* topRow = nullptr;
  std::ptrdiff_t rowStride = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The room CompressLzw needs for `pixels` indices: an upper bound of what it writes plus the
// 8 bytes its bit writer may store past the last byte.
std::size_t MaxLzwBytes(std::uint64_t pixels);

// Compresses the rows (width and height at least 1) into `out`, which holds at least
// MaxLzwBytes(width * height) bytes, the last byte zero-padded. Returns the bytes of data written
// (without sub-block framing). Throws std::bad_alloc only when a thread's first call cannot get
// its dictionary.
std::size_t CompressLzw(const IndexRowsView& rows, std::uint8_t* out);

}  // namespace velmora::gif
