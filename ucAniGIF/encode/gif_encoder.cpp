#include "ucAniGIF/encode/gif_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

namespace velmora {
namespace {

constexpr std::int32_t kClearCode = 256;
constexpr std::int32_t kEndCode = 257;
constexpr std::int32_t kFirstFreeCode = 258;
constexpr std::int32_t kCodeLimit = 4096;  // 12-bit codes
constexpr std::int32_t kInitialCodeSize = 9;
constexpr std::int32_t kMaxCodeBits = 12;
constexpr std::uint8_t kLzwMinimumCodeSize = 8;
constexpr std::int32_t kSubBlockData = 254;  // not 255: the writer has always cut blocks at 254
constexpr std::int32_t kHashSize = 5003;     // a prime, so a probe sequence visits every slot

// The hash spreads a colour index over the prefix code's bits: shift the 8-bit index left by as
// many bits as 8 minus the number of doublings that take the table size to 2^16 (four), so the
// slot of (c, prefix) is (c * 16) XOR prefix, always below 4096.
constexpr std::int32_t HashMultiplier() {
  std::int32_t doublings = 0;
  for (std::int32_t size = kHashSize; size < 65536; size *= 2) ++doublings;
  return std::int32_t{1} << (8 - doublings);
}
constexpr std::int32_t kHashMultiplier = HashMultiplier();
static_assert(kHashMultiplier == 16);

constexpr std::size_t kColorTableBytes = 256 * 3;
constexpr std::size_t kColorTableOffset = 13;
constexpr std::size_t kAfterColorTable = kColorTableOffset + kColorTableBytes;  // 781
constexpr std::size_t kGraphicControlBytes = 8;
constexpr std::size_t kImageDescriptorBytes = 10;  // separator through packed byte

// One string-table slot. Keys and codes share a cache line so a probe touches one place; the
// key -1 marks an empty slot and a code is only read behind a matching key, so emptying the
// table is one fill of 0xFF bytes over both.
struct HashSlot {
  std::int32_t key;
  std::int32_t code;
};

class StringTable {
 public:
  StringTable() { Clear(); }
  void Clear() { std::memset(slots_.data(), 0xFF, sizeof slots_); }

  // Looks up the string prefix + c. On a hit returns true and sets `code`; on a miss returns false
  // and sets `slot` to where the string is to be stored.
  //
  // Quirk kept on purpose (key-0 ends a probe): the first look treats any key >= 0 as occupied,
  // but while probing only a key > 0 keeps the search going. The string "index 0 followed by
  // index 0" has key 0, so a slot holding it stops a probe chain like an empty slot, and the
  // new string then overwrites it. Files written by this encoder have always had this shape;
  // fixing it would change their bytes.
  bool Find(std::int32_t key, std::int32_t& slot, std::int32_t& code) const {
    const HashSlot* s = slots_.data();
    if (s[slot].key == key) {
      code = s[slot].code;
      return true;
    }
    if (s[slot].key < 0) return false;
    const std::int32_t step = slot == 0 ? 1 : kHashSize - slot;
    for (;;) {
      slot -= step;
      if (slot < 0) slot += kHashSize;
      const std::int32_t k = s[slot].key;
      if (k == key) {
        code = s[slot].code;
        return true;
      }
      if (k <= 0) return false;
    }
  }

  void Store(std::int32_t slot, std::int32_t key, std::int32_t code) { slots_[slot] = {key, code}; }

 private:
  std::array<HashSlot, kHashSize> slots_;
};

// Packs codes least significant bit first into a buffer sized beforehand for the worst case, so
// nothing is checked per byte. Whole 32-bit words leave the 64-bit accumulator at once.
class BitWriter {
 public:
  explicit BitWriter(std::uint8_t* out) : begin_(out), out_(out) {}

  void Put(std::uint32_t code, std::int32_t width) {
    bits_ |= static_cast<std::uint64_t>(code) << count_;
    count_ += width;
    if (count_ >= 32) {
      const auto word = static_cast<std::uint32_t>(bits_);
      out_[0] = static_cast<std::uint8_t>(word);
      out_[1] = static_cast<std::uint8_t>(word >> 8);
      out_[2] = static_cast<std::uint8_t>(word >> 16);
      out_[3] = static_cast<std::uint8_t>(word >> 24);
      out_ += 4;
      bits_ >>= 32;
      count_ -= 32;
    }
  }

  // Writes the remaining bits, the last byte zero-padded; returns the number of data bytes.
  std::size_t Finish() {
    for (; count_ > 0; count_ -= 8) {
      *out_++ = static_cast<std::uint8_t>(bits_);
      bits_ >>= 8;
    }
    count_ = 0;
    return static_cast<std::size_t>(out_ - begin_);
  }

 private:
  std::uint8_t* begin_;
  std::uint8_t* out_;
  std::uint64_t bits_ = 0;
  std::int32_t count_ = 0;
};

// Upper bound of the compressed bytes of `pixels` indices: at most one code per pixel, one clear
// per 3839 codes, the first clear, the last prefix and the end code, each at most 12 bits.
std::size_t MaxCompressedBytes(std::uint64_t pixels) {
  const std::uint64_t codes = pixels + pixels / (kCodeLimit - kFirstFreeCode) + 4;
  return static_cast<std::size_t>((codes * kMaxCodeBits + 7) / 8 + 8);
}

// The frame's rows, top row first, read in place from the bottom-up strip.
struct FrameRows {
  const std::uint8_t* top;  // first pixel of the frame's top row
  std::ptrdiff_t stride;    // from one row to the next one down (negative: bottom-up memory)
  std::int32_t width;
  std::int32_t height;
};

// LZW-compresses the frame's indices with minimum code size 8 into `out`; returns the byte count.
std::size_t CompressRows(const FrameRows& rows, std::uint8_t* out) {
  auto table = std::make_unique<StringTable>();
  BitWriter writer(out);
  std::int32_t codeSize = kInitialCodeSize;
  std::int32_t maxCode = (1 << codeSize) - 1;
  std::int32_t nextCode = kFirstFreeCode;
  writer.Put(kClearCode, codeSize);

  std::int32_t prefix = rows.top[0];
  for (std::int32_t r = 0; r < rows.height; ++r) {
    const std::uint8_t* p = rows.top + r * rows.stride;
    const std::uint8_t* const end = p + rows.width;
    if (r == 0) ++p;  // the top-left pixel started the first string
    for (; p != end; ++p) {
      const std::int32_t c = *p;
      const std::int32_t key = (c << kMaxCodeBits) + prefix;
      std::int32_t slot = (c * kHashMultiplier) ^ prefix;
      if (table->Find(key, slot, prefix)) continue;

      writer.Put(static_cast<std::uint32_t>(prefix), codeSize);
      prefix = c;
      if (nextCode <= maxCode) {
        table->Store(slot, key, nextCode);
      } else if (nextCode < kCodeLimit) {
        // The code just given is 2^k: later codes need one bit more.
        table->Store(slot, key, nextCode);
        ++codeSize;
        maxCode = (1 << codeSize) - 1;
      } else {
        // Code 4095 is used up: instead of an entry, a clear code at the full 12 bits, and the
        // next new string gets 258 again.
        writer.Put(kClearCode, codeSize);
        table->Clear();
        codeSize = kInitialCodeSize;
        maxCode = (1 << codeSize) - 1;
        nextCode = kFirstFreeCode - 1;
      }
      ++nextCode;
    }
  }
  writer.Put(static_cast<std::uint32_t>(prefix), codeSize);
  writer.Put(kEndCode, codeSize);
  return writer.Finish();
}

bool IsConsistent(const EncoderInput& in) {
  if (in.width <= 0 || in.height <= 0) return false;
  if (in.colorCount < 0 || in.colorCount > 256) return false;
  if (static_cast<std::size_t>(in.colorCount) > in.colors.size()) return false;
  const StripPixels& s = in.strip;
  if (s.width <= 0 || s.height <= 0 || in.stripX < 0) return false;
  if (static_cast<std::int64_t>(in.stripX) + in.width > s.width) return false;
  if (in.height > s.height) return false;
  const auto stripBytes = static_cast<std::uint64_t>(s.height) * StripRowBytes(s.width);
  return s.bits.size() >= stripBytes;
}

void PutU16(std::uint8_t* at, std::int32_t value) {
  at[0] = static_cast<std::uint8_t>(value & 0xFF);
  at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

// Header, logical screen descriptor, the 256-entry colour table, the optional graphic control
// extension and the image descriptor with the minimum code size. Returns the bytes written.
std::size_t WriteHeader(const EncoderInput& in, std::uint8_t* out) {
  std::memcpy(out, "GIF89a", 6);
  PutU16(out + 6, in.width);
  PutU16(out + 8, in.height);
  out[10] = 0x87;  // global table, colour resolution 0, not sorted, 2^(7+1) entries
  out[11] = 0x00;  // background index
  out[12] = 0x00;  // aspect ratio
  std::uint8_t* rgb = out + kColorTableOffset;
  std::memset(rgb, 0, kColorTableBytes);
  for (std::int32_t i = 0; i < in.colorCount; ++i) {
    const std::uint32_t color = in.colors[static_cast<std::size_t>(i)];
    rgb[3 * i] = static_cast<std::uint8_t>(color >> 16);
    rgb[3 * i + 1] = static_cast<std::uint8_t>(color >> 8);
    rgb[3 * i + 2] = static_cast<std::uint8_t>(color);
  }
  std::size_t pos = kAfterColorTable;
  if (in.transparent) {
    // Graphic control extension: 21 F9, block size 4, packed 0x01 (transparent colour flag,
    // disposal 0), delay 0, transparent index, terminator.
    const std::uint8_t gce[kGraphicControlBytes] = {
        0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, in.transparentIndex, 0x00};
    std::memcpy(out + pos, gce, sizeof gce);
    pos += kGraphicControlBytes;
  }
  // Image descriptor: 2C, left 0, top 0, width, height, packed 0 (no local table, not interlaced).
  out[pos] = 0x2C;
  std::memset(out + pos + 1, 0, 4);
  std::memcpy(out + pos + 5, out + 6, 4);
  out[pos + 9] = 0x00;
  out[pos + 10] = kLzwMinimumCodeSize;
  return pos + kImageDescriptorBytes + 1;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> EncodeFrameBytes(const EncoderInput& input) {
  if (!IsConsistent(input)) return std::nullopt;
  try {
    const std::ptrdiff_t rowBytes = StripRowBytes(input.strip.width);
    const FrameRows rows{
        input.strip.bits.data() + (input.strip.height - 1) * rowBytes + input.stripX, -rowBytes,
        input.width, input.height};
    const auto pixels = static_cast<std::uint64_t>(input.width) * input.height;
    auto data = std::make_unique_for_overwrite<std::uint8_t[]>(MaxCompressedBytes(pixels));
    const std::size_t dataBytes = CompressRows(rows, data.get());

    // The file's size is known once the data is: header, data behind a length byte per
    // sub-block, terminator and trailer. The historical writer grew its output buffer in steps
    // while writing, which never showed in the file: its length was always exactly this.
    const std::size_t headerBytes = kAfterColorTable +
                                    (input.transparent ? kGraphicControlBytes : 0) +
                                    kImageDescriptorBytes + 1;
    const std::size_t subBlocks = (dataBytes + kSubBlockData - 1) / kSubBlockData;
    std::vector<std::uint8_t> file(headerBytes + dataBytes + subBlocks + 2);
    std::uint8_t* out = file.data() + WriteHeader(input, file.data());
    for (std::size_t done = 0; done < dataBytes; done += kSubBlockData) {
      const std::size_t m = std::min<std::size_t>(kSubBlockData, dataBytes - done);
      *out++ = static_cast<std::uint8_t>(m);
      std::memcpy(out, data.get() + done, m);
      out += m;
    }
    out[0] = 0x00;  // block terminator
    out[1] = 0x3B;  // trailer
    return file;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace velmora
