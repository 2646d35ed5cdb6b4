#include "ucAniGIF/encode/gif_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
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
constexpr std::uint32_t kHashMultiplier = HashMultiplier();
static_assert(kHashMultiplier == 16);

constexpr std::size_t kColorTableBytes = 256 * 3;
constexpr std::size_t kColorTableOffset = 13;
constexpr std::size_t kAfterColorTable = kColorTableOffset + kColorTableBytes;  // 781
constexpr std::size_t kGraphicControlBytes = 8;
constexpr std::size_t kImageDescriptorBytes = 10;  // separator through packed byte

// The string table: 5003 slots, keys (c * 4096 + prefix, -1 for an empty slot) in one array and
// their codes in another. The keys take 20012 bytes, emptied by one fill of 0xFF bytes; a code is
// only read behind a matching key, so the codes are never cleared. Both arrays stay in the
// first-level cache, and the code array being 16-bit lets a hit feed the next slot computation
// straight from one load.
class StringTable {
 public:
  StringTable() { Clear(); }
  void Clear() { std::memset(keys_.data(), 0xFF, sizeof keys_); }

  // Looks up `key` starting at its home `slot`. On a hit returns true and sets `code`; on a miss
  // returns false with `slot` where the string is to be stored.
  //
  // Quirk kept on purpose (key-0 ends a probe): the first look treats every key >= 0 as
  // occupied, but while probing only a key above 0 keeps the search going. The string "index 0
  // followed by index 0" has key 0, so a slot holding it stops a probe chain like an empty slot,
  // and the new string then overwrites it. Files written by this encoder have always had this
  // shape; fixing it would change their bytes.
  bool Find(std::int32_t key, std::uint32_t& slot, std::uint32_t& code) const {
    const std::int32_t home = keys_[slot];
    if (home == key) [[likely]] {
      code = codes_[slot];
      return true;
    }
    if (home < 0) return false;
    return Probe(key, slot, code);
  }

  void Store(std::uint32_t slot, std::int32_t key, std::int32_t code) {
    keys_[slot] = key;
    codes_[slot] = static_cast<std::uint16_t>(code);
  }

 private:
  // The secondary step is fixed by the home slot; as 5003 is prime, the chain visits every slot
  // before it repeats, and the table never holds more than 3839 strings, so it always ends.
  bool Probe(std::int32_t key, std::uint32_t& slot, std::uint32_t& code) const {
    const auto home = static_cast<std::int32_t>(slot);
    const std::int32_t step = home == 0 ? 1 : kHashSize - home;
    std::int32_t at = home;
    for (;;) {
      at -= step;
      if (at < 0) at += kHashSize;
      const std::int32_t k = keys_[static_cast<std::uint32_t>(at)];
      if (k == key) {
        code = codes_[static_cast<std::uint32_t>(at)];
        slot = static_cast<std::uint32_t>(at);
        return true;
      }
      if (k <= 0) {
        slot = static_cast<std::uint32_t>(at);
        return false;
      }
    }
  }

  std::array<std::int32_t, kHashSize> keys_;
  std::array<std::uint16_t, kHashSize> codes_;
};

// Packs codes least significant bit first into a buffer sized beforehand for the worst case plus
// eight bytes, so nothing is checked per byte: each code stores the whole 64-bit accumulator and
// moves on by the bytes completed.
class BitWriter {
 public:
  explicit BitWriter(std::uint8_t* out) : begin_(out), out_(out) {}

  void Put(std::uint32_t code, std::int32_t width) {
    bits_ |= static_cast<std::uint64_t>(code) << count_;
    count_ += width;
    StoreLittleEndian(bits_);
    const std::int32_t bytes = count_ >> 3;
    out_ += bytes;
    bits_ >>= bytes * 8;
    count_ &= 7;
  }

  // Writes the remaining bits, the last byte zero-padded; returns the number of data bytes.
  std::size_t Finish() {
    if (count_ > 0) *out_++ = static_cast<std::uint8_t>(bits_);
    count_ = 0;
    bits_ = 0;
    return static_cast<std::size_t>(out_ - begin_);
  }

 private:
  void StoreLittleEndian(std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out_, &v, sizeof v);
    } else {
      for (int i = 0; i < 8; ++i) out_[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
  }

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

  std::uint32_t prefix = rows.top[0];
  for (std::int32_t r = 0; r < rows.height; ++r) {
    const std::uint8_t* p = rows.top + r * rows.stride;
    const std::uint8_t* const end = p + rows.width;
    if (r == 0) ++p;  // the top-left pixel started the first string
    for (; p != end; ++p) {
      const std::uint32_t c = *p;
      const auto key = static_cast<std::int32_t>((c << kMaxCodeBits) | prefix);
      std::uint32_t slot = (c * kHashMultiplier) ^ prefix;
      if (table->Find(key, slot, prefix)) continue;

      writer.Put(prefix, codeSize);
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
  writer.Put(prefix, codeSize);
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
