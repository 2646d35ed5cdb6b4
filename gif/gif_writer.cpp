#include "gif/gif_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "gif/gif_format.h"
#include "gif/lzw_encoder.h"

namespace velmora::gif {
namespace {

constexpr std::uint8_t kLzwMinimumCodeSize = 8;
constexpr std::int32_t kSubBlockData = 254;  // not 255: the writer has always cut blocks at 254
constexpr std::size_t kColorTableBytes = 256 * 3;
constexpr std::size_t kColorTableOffset = 13;
constexpr std::size_t kAfterColorTable = kColorTableOffset + kColorTableBytes;  // 781
constexpr std::size_t kGraphicControlBytes = 8;
constexpr std::size_t kSeparatorAndDescriptor = 1 + kImageDescriptorBytes;
constexpr std::size_t kLargestHeader =
    kAfterColorTable + kGraphicControlBytes + kSeparatorAndDescriptor + 1;

bool IsConsistent(const EncoderInput& in) {
  if (in.width <= 0 || in.height <= 0) return false;
  if (in.colorCount < 0 || in.colorCount > 256) return false;
  if (static_cast<std::size_t>(in.colorCount) > in.colors.size()) return false;
  const StripPixels& s = in.strip;
  if (s.width <= 0 || s.height <= 0 || in.stripX < 0 || s.rowBytes < s.width) return false;
  if (static_cast<std::int64_t>(in.stripX) + in.width > s.width) return false;
  if (in.height > s.height) return false;
  const auto stripBytes =
      static_cast<std::uint64_t>(s.height) * static_cast<std::uint64_t>(s.rowBytes);
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
        kExtensionIntroducer, kGraphicControlLabel, 0x04, 0x01, 0x00, 0x00, in.transparentIndex,
        kBlockTerminator};
    std::memcpy(out + pos, gce, sizeof gce);
    pos += kGraphicControlBytes;
  }
  // Image descriptor: 2C, left 0, top 0, width, height, packed 0 (no local table, not interlaced).
  out[pos] = kImageSeparator;
  std::memset(out + pos + 1, 0, 4);
  std::memcpy(out + pos + 5, out + 6, 4);
  out[pos + 9] = 0x00;
  out[pos + 10] = kLzwMinimumCodeSize;
  return pos + kSeparatorAndDescriptor + 1;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> EncodeFrameBytes(const EncoderInput& input) {
  if (!IsConsistent(input)) return std::nullopt;
  try {
    const std::ptrdiff_t rowBytes = input.strip.rowBytes;
    const IndexRowsView rows{
        input.strip.bits.data() + (input.strip.height - 1) * rowBytes + input.stripX, -rowBytes,
        input.width, input.height};
    const auto pixels = static_cast<std::uint64_t>(input.width) * input.height;
    auto data = std::make_unique_for_overwrite<std::uint8_t[]>(MaxLzwBytes(pixels));
    const std::size_t dataBytes = CompressLzw(rows, data.get());

    // The file's size is known once the data is: header, data behind a length byte per
    // sub-block, terminator and trailer. The historical writer grew its output buffer in steps
    // while writing, which never showed in the file: its length was always exactly this.
    const std::size_t headerBytes = kAfterColorTable +
                                    (input.transparent ? kGraphicControlBytes : 0) +
                                    kSeparatorAndDescriptor + 1;
    // The file is appended to its reserved storage piece by piece rather than sized (and so
    // zeroed) first and then overwritten.
    const std::size_t subBlocks = (dataBytes + kSubBlockData - 1) / kSubBlockData;
    std::vector<std::uint8_t> file;
    file.reserve(headerBytes + dataBytes + subBlocks + 2);
    std::array<std::uint8_t, kLargestHeader> header;
    file.insert(file.end(), header.data(), header.data() + WriteHeader(input, header.data()));
    for (std::size_t done = 0; done < dataBytes; done += kSubBlockData) {
      const std::size_t m = std::min<std::size_t>(kSubBlockData, dataBytes - done);
      file.push_back(static_cast<std::uint8_t>(m));
      file.insert(file.end(), data.get() + done, data.get() + done + m);
    }
    file.push_back(kBlockTerminator);
    file.push_back(kTrailer);
    return file;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace velmora::gif
