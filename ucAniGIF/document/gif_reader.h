#pragma once
// The GIF stream reader: the byte-reading primitives the block parser is built on.
//
// A GifReader reads a byte span through a 1-based read position that it does not own (the
// document's ReadPos), so the parser and its callers see the same position the reader moves.
// Position p names bytes[p - 1]; a position past the last byte is "the end of the data".
//
// Running out of data is reported by throwing platform::RuntimeError(53, "ReadGifFile",
// "End of File") from ReadByte, ReadWord and ReadColorTable only; ReadBlock and SkipSubBlocks
// never throw for lack of data. The block parser catches the error itself.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/errors.h"
#include "ucAniGIF/document/gif_document.h"

namespace velmora {

inline constexpr const char* kReadGifFileSource = "ReadGifFile";
inline constexpr const char* kEndOfFileDescription = "End of File";

// The error every primitive raises at the end of the data: number 53, source "ReadGifFile",
// description "End of File".
platform::RuntimeError EndOfFileError();

// Longest data a reader looks at: leaves room for ReadPos to step one sub-block (at most 256
// bytes) and a terminator past the end without leaving the 32-bit signed range.
inline constexpr std::int32_t kMaxReadableBytes = 0x7FFFFFFF - 1024;

class GifReader {
 public:
  // bytes must outlive the reader; readPos is the caller's 1-based position, read and moved in
  // place. The reader keeps no other state. Data beyond kMaxReadableBytes is treated as absent,
  // so that position arithmetic can never overflow 32 bits. A position below 1 makes ReadByte,
  // ReadWord and ReadColorTable throw RuntimeError 9 (subscript out of range).
  GifReader(std::span<const std::uint8_t> bytes, std::int32_t& readPos);

  // The byte at ReadPos, then ReadPos + 1. At the end of the data: throws End of File and leaves
  // ReadPos unchanged.
  std::uint8_t ReadByte();

  // The little-endian 16-bit value at ReadPos, ReadPos + 1, then ReadPos + 2. When either byte is
  // missing: throws End of File and leaves ReadPos unchanged. Callers widen it without sign.
  std::uint16_t ReadWord();

  // block becomes exactly n bytes (n < 0 is taken as 0), then the n bytes at ReadPos are copied
  // into it and ReadPos moves past them. When fewer than n bytes remain: block stays n zero bytes,
  // ReadPos does not move, and nothing is thrown.
  void ReadBlock(std::int32_t n, std::vector<std::uint8_t>& block);

  // Skips a sequence of data sub-blocks (size byte, that many bytes, ...) and the zero-length
  // terminator: while ReadPos is inside the data and its byte s is not 0, ReadPos += s + 1; then
  // ReadPos += 1. Never throws; when the data ends inside the sub-blocks ReadPos ends up past the
  // end of the data.
  void SkipSubBlocks();

  // Reads powersOfTwo[bits] colour triples into table t of tables:
  // 1. resizes tables to t + 1 tables, keeping existing ones; new tables are all zero;
  // 2. throws End of File when fewer than 3 x count bytes remain (the table stays all zero);
  // 3. stores R x 65536 + G x 256 + B as entries 0..count-1, advancing ReadPos by 3 each;
  // 4. stores count as entry 256 (kColorCountEntry).
  // bits outside powersOfTwo, a count above 256 or t < 0 throw RuntimeError 9 (subscript out of
  // range) before anything changes.
  void ReadColorTable(std::vector<ColorTable>& tables, std::int32_t t, std::int32_t bits,
                      std::span<const std::uint32_t> powersOfTwo);

  // Bytes from ReadPos to the end of the data; 0 when ReadPos is past the end.
  std::int64_t Remaining() const;

  // The position of the last byte (the data's length), L in the layout comments.
  std::int32_t LastIndex() const { return static_cast<std::int32_t>(bytes_.size()); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::int32_t& pos_;
};

}  // namespace velmora
