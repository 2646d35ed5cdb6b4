#include "gif/gif_lzw.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

// How this decoder is fast:
//
// Every string a code stands for has already been written once, contiguously, to the output: a
// new table entry is "the previous code's string plus the first byte of the current one", and
// those bytes sit side by side where the previous and current codes were written. So an entry is
// just (start offset in the output, length), and expanding a code is one forward copy of `length`
// bytes from earlier output, done in 16-byte chunks that may run past the string's end (the
// over-written bytes lie beyond the current position and are overwritten by the next code).
// Literal codes get the same treatment from a small area in front of the output holding bytes
// 0, 1, 2, ..., so the hot loop has no literal/non-literal branch and no per-byte chain walk.
//
// That needs one contiguous output buffer with room for the over-copy, so the decoder works in a
// per-call scratch (literal area, pixels, tail slack) and copies finished rows out to the
// caller's rows at the end (de-interlacing on the way). Rows the data never reached are not
// touched. Bits are refilled 56+ at a time with one unaligned 64-bit load while at least 8 input
// bytes remain; near the end of the data a byte-wise refill takes over, so nothing is read past
// the input. Sub-block framing is removed up front into another scratch buffer.
//
// Small images make the per-call set-up count as much as the decoding itself, so nothing is set
// up twice on a thread: the code table lives in the thread's workspace beside the scratch, and
// its literal entries (and the literal bytes in front of the output) are written once and only
// redone where an earlier call's string entries overwrote them. The first code after a clear
// is decoded apart from the others, so the loop that does nearly all the work never asks whether
// there is a previous code.

namespace velmora::gif {
namespace {

constexpr int kMaxCodeBits = 12;
constexpr unsigned kTableSize = 1u << kMaxCodeBits;
constexpr int kMinLiteralBits = 1;
constexpr int kMaxLiteralBits = 11;  // clear code 2048, still below the 4096-entry table
// Literal codes 0 .. clear-1 live at offsets 0 .. clear-1 of the scratch.
constexpr std::size_t kLiteralArea = std::size_t{1} << kMaxLiteralBits;
// The longest string is below kTableSize bytes; a copy may run up to 15 bytes past it.
constexpr std::size_t kCopyChunk = 16;
constexpr std::size_t kTailSlack = kTableSize + 2 * kCopyChunk;
// Entry offsets are 32-bit; an image larger than this decodes its first kMaxPixels pixels only
// (far above any bitmap the raster layer creates).
constexpr std::int64_t kMaxPixels = std::int64_t{1} << 31;

std::uint64_t LoadLittleEndian64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) {
    v = __builtin_bswap64(v);
  }
  return v;
}

void CopyChunk(std::uint8_t* dst, const std::uint8_t* src) {
  std::uint8_t chunk[kCopyChunk];
  std::memcpy(chunk, src, kCopyChunk);
  std::memcpy(dst, chunk, kCopyChunk);
}

// Copies at least `n` bytes (a whole number of chunks). Safe when src + n <= dst: every byte the
// string needs is read before any chunk can overwrite it.
void CopyString(std::uint8_t* dst, const std::uint8_t* src, std::uint32_t n) {
  CopyChunk(dst, src);
  for (std::uint32_t i = kCopyChunk; i < n; i += kCopyChunk) {
    CopyChunk(dst + i, src + i);
  }
}

// LSB-first bit reader over a contiguous buffer.
class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> data)
      : data_(data.data()), size_(data.size()), fastEnd_(data.size() >= 8 ? data.size() - 7 : 0) {}

  // Makes at least `need` bits available; false when the data ends first. A refill tops the
  // buffer up to 56 bits or more, enough for four 12-bit codes, so most calls only compare.
  bool Fill(unsigned need) {
    if (count_ >= need) return true;
    if (pos_ < fastEnd_) [[likely]] {
      bits_ |= LoadLittleEndian64(data_ + pos_) << count_;
      pos_ += (63 - count_) >> 3;
      count_ |= 56;
      return true;
    }
    while (count_ <= 56 && pos_ < size_) {
      bits_ |= std::uint64_t{data_[pos_++]} << count_;
      count_ += 8;
    }
    return count_ >= need;
  }

  unsigned Take(unsigned width, unsigned mask) {
    const auto v = static_cast<unsigned>(bits_) & mask;
    bits_ >>= width;
    count_ -= width;
    return v;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t fastEnd_;  // positions below it have 8 bytes to load
  std::size_t pos_ = 0;
  std::uint64_t bits_ = 0;
  unsigned count_ = 0;
};

// A code's string at step k (counting every code read) is at most k bytes long and never longer
// than the table, so this bounds what `codeBytes` bytes of data can expand to. It keeps the
// scratch small when a large image comes with little data.
std::int64_t MaxOutputFor(std::size_t codeBytes, int minCodeSize) {
  const auto codes = static_cast<std::int64_t>(codeBytes) * 8 / (minCodeSize + 1);
  if (codes >= static_cast<std::int64_t>(kTableSize)) {
    return std::min(codes, kMaxPixels) * static_cast<std::int64_t>(kTableSize);
  }
  return codes * (codes + 1) / 2;
}

// The code table: entry i is its string's offset from the scratch base in the low 32 bits and
// its length above them, so one load gives both. The clear and end codes have length 0, which
// sends them off the path of string codes without a comparison of their own. One slot past the
// 4096 entries takes the entry a full table would add, so the loop adds without asking whether
// there is room.
using CodeEntry = std::uint64_t;
constexpr CodeEntry kLengthOne = CodeEntry{1} << 32;
struct CodeTable {
  std::array<CodeEntry, kTableSize + 1> entries;
};

// Buffers reused by the calls on one thread. Fresh megabytes for every image would cost more in
// page faults than the decoding itself; anything above kKeepBytes is given back after the call,
// so a huge image does not pin its scratch for the thread's lifetime.
class Workspace {
 public:
  static constexpr std::size_t kKeepBytes = std::size_t{8} << 20;

  // Null when the memory cannot be had. A new pixel buffer has no literal bytes yet.
  std::uint8_t* Pixels(std::size_t n) {
    if (n > pixelsSize_) literalBytes_ = 0;
    return Reserve(pixels_, pixelsSize_, n);
  }
  std::uint8_t* Codes(std::size_t n) { return Reserve(codes_, codesSize_, n); }

  // The code table with literal entries 0 .. clear-1 and the clear and end entries in place, and
  // the literal bytes 0 .. clear-1 at the start of `base` (the pixel buffer). Null when the table
  // cannot be had. The decoding that follows may overwrite entries from clear + 2 on, which the
  // next call redoes if it needs them as literals.
  CodeTable* TableWithLiterals(unsigned clear, std::uint8_t* base) {
    if (!table_) {
      table_.reset(new (std::nothrow) CodeTable);
      if (!table_) return nullptr;
      literalEntries_ = 0;
    }
    for (unsigned i = literalBytes_; i < clear; ++i) {
      base[i] = static_cast<std::uint8_t>(i);  // literals above 255 keep their low byte
    }
    literalBytes_ = std::max(literalBytes_, clear);
    for (unsigned i = literalEntries_; i < clear; ++i) table_->entries[i] = kLengthOne | i;
    table_->entries[clear] = 0;
    table_->entries[clear + 1] = 0;
    literalEntries_ = clear;
    return table_.get();
  }

  void Trim() {
    if (pixelsSize_ > kKeepBytes) Release(pixels_, pixelsSize_);
    if (codesSize_ > kKeepBytes) Release(codes_, codesSize_);
  }

 private:
  static std::uint8_t* Reserve(std::unique_ptr<std::uint8_t[]>& buffer, std::size_t& size,
                               std::size_t n) {
    if (n > size) {
      Release(buffer, size);
      buffer.reset(new (std::nothrow) std::uint8_t[n]);
      if (!buffer) return nullptr;
      size = n;
    }
    return buffer.get();
  }
  static void Release(std::unique_ptr<std::uint8_t[]>& buffer, std::size_t& size) {
    buffer.reset();
    size = 0;
  }

  std::unique_ptr<std::uint8_t[]> pixels_;
  std::size_t pixelsSize_ = 0;
  std::unique_ptr<std::uint8_t[]> codes_;
  std::size_t codesSize_ = 0;
  std::unique_ptr<CodeTable> table_;
  unsigned literalBytes_ = 0;    // bytes 0 .. literalBytes_-1 of pixels_ hold 0, 1, 2, ...
  unsigned literalEntries_ = 0;  // table entries 0 .. literalEntries_-1 are literals
};

thread_local Workspace tWorkspace;

struct Scratch {
  std::uint8_t* base = nullptr;  // literal area, then the decoded pixels
  std::uint8_t* out = nullptr;   // decoded pixels start here
  std::int64_t capacity = 0;     // pixels the decoder may produce
  CodeTable* table = nullptr;
};

// Null base when there is no memory for it.
Scratch MakeScratch(std::int64_t wanted, std::size_t codeBytes, int minCodeSize) {
  Scratch s;
  s.capacity = std::min({wanted, kMaxPixels, MaxOutputFor(codeBytes, minCodeSize)});
  std::uint8_t* base =
      tWorkspace.Pixels(kLiteralArea + static_cast<std::size_t>(s.capacity) + kTailSlack);
  if (base == nullptr) return s;
  s.table = tWorkspace.TableWithLiterals(1u << minCodeSize, base);
  if (s.table == nullptr) return s;
  s.base = base;
  s.out = base + kLiteralArea;
  return s;
}

// The decoder proper: writes up to `scratch.capacity` pixels to `scratch.out`. `wanted` is the
// image's pixel count; reaching it is kComplete.
LzwResult DecodeIntoScratch(std::span<const std::uint8_t> codes, int minCodeSize,
                            std::int64_t wanted, const Scratch& scratch) {
  std::uint8_t* const base = scratch.base;
  CodeEntry* const table = scratch.table->entries.data();
  const unsigned clear = 1u << minCodeSize;
  const unsigned end = clear + 1;
  const unsigned firstWidth = static_cast<unsigned>(minCodeSize) + 1;

  std::uint8_t* const out = scratch.out;
  std::uint8_t* d = out;
  std::uint8_t* const outEnd = out + scratch.capacity;
  BitReader reader(codes);
  const auto stop = [&](LzwStatus status) {
    return LzwResult{status, std::min<std::int64_t>(d - out, scratch.capacity)};
  };

  while (d < outEnd) {
    // Start of the data or a clear code: the table holds the literals only.
    unsigned width = firstWidth;
    unsigned mask = (1u << width) - 1;
    unsigned next = clear + 2;
    unsigned growAt = 1u << width;
    // Reached when `next` gets to 2^width. Below 12 bits the code widens; at 12 bits the table
    // is full and stays full until the next clear: later entries go to the spare slot.
    const auto grow = [&] {
      if (width < kMaxCodeBits) {
        ++width;
        mask = (1u << width) - 1;
        growAt <<= 1;
      } else {
        next = kTableSize;
      }
    };

    unsigned code = clear;
    while (code == clear) {
      if (!reader.Fill(width)) return stop(LzwStatus::kTruncated);
      code = reader.Take(width, mask);
    }
    if (code == end) return stop(LzwStatus::kEndCodeEarly);
    // No string entry exists yet, so anything but a literal is beyond the table.
    if (code > clear) return stop(LzwStatus::kInvalidCode);
    *d = base[code];
    // The previous code's string (offset and length), ready to become the next entry.
    CodeEntry previous = kLengthOne | static_cast<std::uint32_t>(d - base);
    ++d;
    // With literal width 1 the very first code already fills the 2-bit range, so the width grows
    // before any entry is added (">=" rather than "=="), as giflib does.
    if (next >= growAt) grow();

    while (d < outEnd) {
      if (!reader.Fill(width)) return stop(LzwStatus::kTruncated);
      code = reader.Take(width, mask);
      std::uint32_t n;
      if (code < next) [[likely]] {
        const CodeEntry entry = table[code];
        n = static_cast<std::uint32_t>(entry >> 32);
        if (n == 0) [[unlikely]] {
          if (code == clear) break;
          return stop(LzwStatus::kEndCodeEarly);
        }
        CopyString(d, base + static_cast<std::uint32_t>(entry), n);
      } else if (code == next) {
        // The code being defined right now: the previous string plus its own first byte.
        const auto prevStart = static_cast<std::uint32_t>(previous);
        const auto prevLength = static_cast<std::uint32_t>(previous >> 32);
        n = prevLength + 1;
        CopyString(d, base + prevStart, prevLength);
        d[prevLength] = base[prevStart];
      } else {
        return stop(LzwStatus::kInvalidCode);
      }
      table[next] = previous + kLengthOne;
      ++next;
      // The next code may name entry `next` (the one it defines itself), so the width must
      // reach it.
      if (next >= growAt) [[unlikely]] grow();
      previous = (CodeEntry{n} << 32) | static_cast<std::uint32_t>(d - base);
      d += n;
    }
  }
  // The capacity is below `wanted` only when the data cannot fill the image (or past kMaxPixels).
  if (scratch.capacity < wanted) {
    return {LzwStatus::kTruncated, scratch.capacity};
  }
  return {LzwStatus::kComplete, wanted};
}

bool ValidMinCodeSize(int minCodeSize) {
  return minCodeSize >= kMinLiteralBits && minCodeSize <= kMaxLiteralBits;
}

// Joins the data sub-blocks into `joined` (room for subBlocks.size() bytes) and returns how many
// bytes it holds. Stops at the zero-length terminator; a block that claims more bytes than remain
// contributes what remains.
std::size_t JoinSubBlocks(std::span<const std::uint8_t> subBlocks, std::uint8_t* joined) {
  std::size_t length = 0;
  std::size_t pos = 0;
  while (pos < subBlocks.size()) {
    const std::size_t blockLength = subBlocks[pos++];
    if (blockLength == 0) break;
    const std::size_t take = std::min(blockLength, subBlocks.size() - pos);
    std::memcpy(joined + length, subBlocks.data() + pos, take);
    length += take;
    pos += take;
  }
  return length;
}

void CopyRowsOut(const std::uint8_t* pixels, std::int64_t count, bool interlaced,
                 const IndexRows& rows) {
  const auto width = static_cast<std::int64_t>(rows.width);
  if (!interlaced && rows.rowStride == rows.width) {
    std::memcpy(rows.topRow, pixels, static_cast<std::size_t>(count));
    return;
  }
  const std::int64_t fullRows = count / width;
  const auto rest = static_cast<std::size_t>(count % width);
  auto rowAt = [&](std::int64_t k) {
    const std::int64_t y = interlaced ? InterlacedRow(static_cast<int>(k), rows.height) : k;
    return rows.topRow + y * rows.rowStride;
  };
  for (std::int64_t k = 0; k < fullRows; ++k) {
    std::memcpy(rowAt(k), pixels + k * width, static_cast<std::size_t>(width));
  }
  if (rest != 0) {
    std::memcpy(rowAt(fullRows), pixels + fullRows * width, rest);
  }
}

}  // namespace

int InterlacedRow(int k, int height) {
  static constexpr int kPassStart[4] = {0, 4, 2, 1};
  static constexpr int kPassStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    const int rowsInPass = height > kPassStart[pass]
                               ? (height - kPassStart[pass] + kPassStep[pass] - 1) / kPassStep[pass]
                               : 0;
    if (k < rowsInPass) {
      return kPassStart[pass] + k * kPassStep[pass];
    }
    k -= rowsInPass;
  }
  return height;  // not reached for k < height
}

LzwResult DecodeGifImageData(std::span<const std::uint8_t> subBlocks, int minCodeSize,
                             bool interlaced, const IndexRows& rows) {
  if (!ValidMinCodeSize(minCodeSize)) {
    return {LzwStatus::kInvalidCode, 0};
  }
  if (rows.width <= 0 || rows.height <= 0 || rows.topRow == nullptr) {
    return {LzwStatus::kComplete, 0};
  }
  std::uint8_t* joined = tWorkspace.Codes(std::max<std::size_t>(subBlocks.size(), 1));
  if (joined == nullptr) return {LzwStatus::kTruncated, 0};
  const std::span<const std::uint8_t> codes(joined, JoinSubBlocks(subBlocks, joined));
  const std::int64_t wanted = std::int64_t{rows.width} * rows.height;
  const Scratch scratch = MakeScratch(wanted, codes.size(), minCodeSize);
  LzwResult result{LzwStatus::kTruncated, 0};
  if (scratch.base != nullptr) {
    result = DecodeIntoScratch(codes, minCodeSize, wanted, scratch);
    if (result.pixels > 0) CopyRowsOut(scratch.out, result.pixels, interlaced, rows);
  }
  tWorkspace.Trim();
  return result;
}

LzwResult DecodeLzwStream(std::span<const std::uint8_t> codes, int minCodeSize,
                          std::span<std::uint8_t> out) {
  if (!ValidMinCodeSize(minCodeSize)) {
    return {LzwStatus::kInvalidCode, 0};
  }
  const auto wanted = static_cast<std::int64_t>(out.size());
  const Scratch scratch = MakeScratch(wanted, codes.size(), minCodeSize);
  LzwResult result{LzwStatus::kTruncated, 0};
  if (scratch.base != nullptr) {
    result = DecodeIntoScratch(codes, minCodeSize, wanted, scratch);
    if (result.pixels > 0) {
      std::memcpy(out.data(), scratch.out, static_cast<std::size_t>(result.pixels));
    }
  }
  tWorkspace.Trim();
  return result;
}

}  // namespace velmora::gif
