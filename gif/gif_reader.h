#pragma once
// The GIF stream reader: the byte-reading primitives the block parser is built on.
//
// A GifReader reads a byte span through a 1-based read position that it does not own (the
// parse's ReadPos), so the parser and its callers see the same position the reader moves.
// Position p names bytes[p - 1]; a position past the last byte is "the end of the data".
//
// Running out of data is a value, not an error: ReadByte and ReadWord return nothing and
// ReadColorTable false, each leaving ReadPos where it was. ReadBlock and SkipSubBlocks cannot
// fail. A position below 1 reads as the end of the data.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "gif/gif_types.h"

namespace velmora::gif {

// Longest data a reader looks at: leaves room for ReadPos to step one sub-block (at most 256
// bytes) and a terminator past the end without leaving the 32-bit signed range.
inline constexpr std::int32_t kMaxReadableBytes = 0x7FFFFFFF - 1024;

class GifReader {
 public:
  // bytes must outlive the reader; readPos is the caller's 1-based position, read and moved in
  // place. The reader keeps no other state. Data beyond kMaxReadableBytes is treated as absent,
  // so that position arithmetic can never overflow 32 bits.
  GifReader(std::span<const std::uint8_t> bytes, std::int32_t& readPos);

  // The byte at ReadPos, then ReadPos + 1. Nothing at the end of the data.
  std::optional<std::uint8_t> ReadByte();

  // The little-endian 16-bit value at ReadPos, ReadPos + 1, then ReadPos + 2. Nothing when
  // either byte is missing (ReadPos unchanged). Callers widen it without sign.
  std::optional<std::uint16_t> ReadWord();

  // block becomes exactly n bytes (n < 0 is taken as 0), then the n bytes at ReadPos are copied
  // into it and ReadPos moves past them. When fewer than n bytes remain: block stays n zero bytes
  // and ReadPos does not move.
  void ReadBlock(std::int32_t n, std::vector<std::uint8_t>& block);

  // Skips a sequence of data sub-blocks (size byte, that many bytes, ...) and the zero-length
  // terminator: while ReadPos is inside the data and its byte s is not 0, ReadPos += s + 1; then
  // ReadPos += 1. When the data ends inside the sub-blocks ReadPos ends up past the end.
  void SkipSubBlocks();

  // Reads 2^bits colour triples (bits 1..8) into table t of tables:
  // 1. resizes tables to t + 1 tables, keeping existing ones; new tables are all zero;
  // 2. returns false when fewer than 3 x 2^bits bytes remain (the table stays all zero);
  // 3. stores R x 65536 + G x 256 + B as entries 0..count-1, advancing ReadPos by 3 each;
  // 4. stores the count as entry 256 (kColorCountEntry).
  // bits outside 1..8 or t < 0 return false before anything changes.
  bool ReadColorTable(std::vector<ColorTable>& tables, std::int32_t t, std::int32_t bits);

  // Bytes from ReadPos to the end of the data; 0 when ReadPos is past the end.
  std::int64_t Remaining() const;

  // The position of the last byte (the data's length), L in the layout comments.
  std::int32_t LastIndex() const { return static_cast<std::int32_t>(bytes_.size()); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::int32_t& pos_;
};

}  // namespace velmora::gif
