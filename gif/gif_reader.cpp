#include "gif/gif_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "gif/gif_format.h"

namespace velmora::gif {
namespace {

// R, G, B at p as 0x00RRGGBB, reading p[3] too (which must exist).
std::uint32_t RgbAt(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::little) {
    return __builtin_bswap32(v) >> 8;
  } else {
    return v >> 8;
  }
}

}  // namespace

GifReader::GifReader(std::span<const std::uint8_t> bytes, std::int32_t& readPos)
    : bytes_(bytes.first(std::min<std::size_t>(bytes.size(), kMaxReadableBytes))), pos_(readPos) {}

std::int64_t GifReader::Remaining() const {
  if (pos_ < 1) return 0;
  const std::int64_t left = static_cast<std::int64_t>(bytes_.size()) - pos_ + 1;
  return std::max<std::int64_t>(left, 0);
}

std::optional<std::uint8_t> GifReader::ReadByte() {
  if (Remaining() < 1) return std::nullopt;
  return bytes_[static_cast<std::size_t>(pos_++ - 1)];
}

std::optional<std::uint16_t> GifReader::ReadWord() {
  // Both bytes must be there before the position moves: a half-read word leaves ReadPos alone.
  if (Remaining() < 2) return std::nullopt;
  const auto at = static_cast<std::size_t>(pos_ - 1);
  pos_ += 2;
  return static_cast<std::uint16_t>(bytes_[at] | (bytes_[at + 1] << 8));
}

void GifReader::ReadBlock(std::int32_t n, std::vector<std::uint8_t>& block) {
  const auto size = static_cast<std::size_t>(std::max(n, 0));
  block.assign(size, 0);
  // Too short is not an error here: the zero block simply fails whatever comparison follows
  // (a short signature, an application identifier cut off by the end of the data).
  if (pos_ < 1 || Remaining() < static_cast<std::int64_t>(size)) return;
  const auto from = bytes_.begin() + (pos_ - 1);
  std::copy(from, from + static_cast<std::ptrdiff_t>(size), block.begin());
  pos_ += static_cast<std::int32_t>(size);
}

void GifReader::SkipSubBlocks() {
  const std::int32_t last = LastIndex();
  while (pos_ >= 1 && pos_ <= last && bytes_[static_cast<std::size_t>(pos_ - 1)] != 0) {
    pos_ += bytes_[static_cast<std::size_t>(pos_ - 1)] + 1;
  }
  // Steps over the terminator, or past the end when the data stopped inside the sub-blocks.
  pos_ += 1;
}

// A colour table: count RGB triples, count = 2^bits with bits 1..8 from a packed field.
//   +0 red  +1 green  +2 blue   (then the next entry)
bool GifReader::ReadColorTable(std::vector<ColorTable>& tables, std::int32_t t,
                               std::int32_t bits) {
  if (t < 0 || bits < 1 || bits > 8) return false;
  // The table exists (all zero) before the length check, so a table cut off by the end of the
  // data still shows up in the table set with a colour count of 0.
  // New tables are value-initialised (all zero) in place, with no zero table copied in.
  tables.resize(static_cast<std::size_t>(t) + 1);
  const std::uint32_t count = kPowersOfTwo[static_cast<std::size_t>(bits)];
  const std::int64_t remaining = Remaining();
  if (remaining < 3 * static_cast<std::int64_t>(count)) return false;

  ColorTable& table = tables[static_cast<std::size_t>(t)];
  const std::uint8_t* p = bytes_.data() + (pos_ - 1);
  // Every table is read on every load, so entries are read as four bytes at once (the fourth
  // belongs to the next entry) while a fourth byte exists; a table that ends the data reads its
  // last entry byte by byte.
  const std::uint32_t wide = remaining > 3 * static_cast<std::int64_t>(count) ? count : count - 1;
  std::uint32_t i = 0;
  for (; i < wide; ++i, p += 3) table[i] = RgbAt(p);
  for (; i < count; ++i, p += 3) {
    table[i] = (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) |
               p[2];
  }
  pos_ += static_cast<std::int32_t>(3 * count);
  table[kColorCountEntry] = count;
  return true;
}

}  // namespace velmora::gif
