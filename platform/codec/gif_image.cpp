#include "platform/codec/gif_image.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/codec/gif_lzw.h"

namespace velmora::platform {
namespace {

constexpr std::size_t kHeaderBytes = 6;
constexpr std::size_t kScreenDescriptorBytes = 7;
constexpr std::size_t kImageDescriptorBytes = 9;  // after the 0x2C separator
constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kGraphicControlLabel = 0xF9;
constexpr std::uint8_t kTableFlag = 0x80;
constexpr std::uint8_t kInterlaceFlag = 0x40;

int ReadU16(std::span<const std::uint8_t> b, std::size_t pos) {
  return b[pos] | (b[pos + 1] << 8);
}

std::size_t ColorTableBytes(std::uint8_t packed) {
  return 3u * (2u << (packed & 7));
}

// Skips data sub-blocks starting at `pos` (a length byte); returns the position after the
// terminator, or the end of the data when it comes first.
std::size_t SkipSubBlocks(std::span<const std::uint8_t> b, std::size_t pos) {
  while (pos < b.size()) {
    const std::size_t n = b[pos];
    ++pos;
    if (n == 0) return pos;
    pos += std::min(n, b.size() - pos);
  }
  return pos;
}

struct GraphicControl {
  bool transparent = false;
  int transparentIndex = 0;
};

// Graphic control extension, after the 0x21 0xF9 introducer:
//   +0 block size (4)   +1 packed: disposal bits 2-4, transparency bit 0
//   +2 delay (u16 LE)   +4 transparent index   +5 terminator
// A block shorter than 4 bytes carries no usable transparency.
GraphicControl ReadGraphicControl(std::span<const std::uint8_t> b, std::size_t pos) {
  GraphicControl gc;
  if (pos + 5 > b.size() || b[pos] < 4) return gc;
  gc.transparent = (b[pos + 1] & 1) != 0;
  gc.transparentIndex = b[pos + 4];
  return gc;
}

std::array<RgbQuad, 256> MakePalette(std::span<const std::uint8_t> table) {
  std::array<RgbQuad, 256> palette{};  // indices without an entry stay black
  const std::size_t count = std::min<std::size_t>(table.size() / 3, palette.size());
  for (std::size_t i = 0; i < count; ++i) {
    palette[i] =
        (RgbQuad{table[3 * i]} << 16) | (RgbQuad{table[3 * i + 1]} << 8) | table[3 * i + 2];
  }
  return palette;
}

}  // namespace

bool LooksLikeGif(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= kHeaderBytes && (std::memcmp(bytes.data(), "GIF87a", 6) == 0 ||
                                          std::memcmp(bytes.data(), "GIF89a", 6) == 0);
}

// Logical screen descriptor, after the 6-byte signature:
//   +0 width (u16 LE)   +2 height (u16 LE)   +4 packed: global table bit 7, size bits 0-2
//   +5 background index   +6 aspect ratio
// Image descriptor, after the 0x2C separator:
//   +0 left  +2 top  +4 width  +6 height (u16 LE each)
//   +8 packed: local table bit 7, interlace bit 6, size bits 0-2
std::vector<GifImageBlock> FindGifImages(std::span<const std::uint8_t> bytes, std::size_t maxImages,
                                         GifScreen* screen) {
  std::vector<GifImageBlock> images;
  if (!LooksLikeGif(bytes) || bytes.size() < kHeaderBytes + kScreenDescriptorBytes) return images;
  std::size_t pos = kHeaderBytes;
  if (screen != nullptr) {
    screen->width = ReadU16(bytes, pos);
    screen->height = ReadU16(bytes, pos + 2);
  }
  const std::uint8_t screenPacked = bytes[pos + 4];
  pos += kScreenDescriptorBytes;
  std::span<const std::uint8_t> globalTable;
  if ((screenPacked & kTableFlag) != 0) {
    const std::size_t n = ColorTableBytes(screenPacked);
    if (pos + n > bytes.size()) return images;
    globalTable = bytes.subspan(pos, n);
    pos += n;
  }

  GraphicControl pending;
  while (pos < bytes.size() && images.size() < maxImages) {
    const std::uint8_t introducer = bytes[pos++];
    if (introducer == kExtensionIntroducer) {
      if (pos >= bytes.size()) break;
      const std::uint8_t label = bytes[pos++];
      if (label == kGraphicControlLabel) pending = ReadGraphicControl(bytes, pos);
      pos = SkipSubBlocks(bytes, pos);
      continue;
    }
    if (introducer != kImageSeparator) break;  // the trailer, or something we cannot walk past
    if (pos + kImageDescriptorBytes > bytes.size()) break;
    GifImageBlock image;
    image.left = ReadU16(bytes, pos);
    image.top = ReadU16(bytes, pos + 2);
    image.width = ReadU16(bytes, pos + 4);
    image.height = ReadU16(bytes, pos + 6);
    const std::uint8_t packed = bytes[pos + 8];
    image.interlaced = (packed & kInterlaceFlag) != 0;
    pos += kImageDescriptorBytes;
    image.colorTable = globalTable;
    if ((packed & kTableFlag) != 0) {
      const std::size_t n = ColorTableBytes(packed);
      if (pos + n > bytes.size()) break;
      image.colorTable = bytes.subspan(pos, n);
      pos += n;
    }
    if (pos >= bytes.size()) break;
    image.minCodeSize = bytes[pos++];
    image.transparent = pending.transparent;
    image.transparentIndex = pending.transparentIndex;
    pending = {};
    const std::size_t dataEnd = SkipSubBlocks(bytes, pos);
    image.subBlocks = bytes.subspan(pos, dataEnd - pos);
    pos = dataEnd;
    images.push_back(image);
  }
  return images;
}

std::optional<DecodedImage> DecodeGifPicture(std::span<const std::uint8_t> bytes) {
  GifScreen screen;
  const std::vector<GifImageBlock> images = FindGifImages(bytes, 1, &screen);
  if (images.empty()) return std::nullopt;
  const GifImageBlock& image = images.front();

  DecodedImage out;
  int offsetX = 0;
  int offsetY = 0;
  const bool screenHoldsImage = screen.width > 0 && screen.height > 0 &&
                                image.left + image.width <= screen.width &&
                                image.top + image.height <= screen.height;
  if (screenHoldsImage) {
    out.width = screen.width;
    out.height = screen.height;
    offsetX = image.left;
    offsetY = image.top;
  } else {
    out.width = image.width;
    out.height = image.height;
  }
  const std::int64_t canvasPixels = std::int64_t{out.width} * out.height;
  if (canvasPixels <= 0 || canvasPixels > kMaxGifPicturePixels) return std::nullopt;

  const auto imagePixels = static_cast<std::size_t>(image.width) * image.height;
  std::vector<std::uint8_t> indices(imagePixels);
  LzwResult decoded;
  if (imagePixels > 0) {
    const IndexRows rows{indices.data(), image.width, image.width, image.height};
    decoded = DecodeGifImageData(image.subBlocks, image.minCodeSize, image.interlaced, rows);
  }

  const std::array<RgbQuad, 256> palette = MakePalette(image.colorTable);
  out.pixels.assign(static_cast<std::size_t>(canvasPixels), 0);
  out.opaque.assign(static_cast<std::size_t>(canvasPixels), 0);
  std::int64_t opaqueCount = 0;
  const std::int64_t rowsDone = image.width > 0 ? decoded.pixels / image.width : 0;
  const std::int64_t partial = image.width > 0 ? decoded.pixels % image.width : 0;
  for (std::int64_t k = 0; k < rowsDone + (partial != 0 ? 1 : 0); ++k) {
    const int y =
        image.interlaced ? InterlacedRow(static_cast<int>(k), image.height) : static_cast<int>(k);
    const std::int64_t count = k < rowsDone ? image.width : partial;
    const std::uint8_t* src = indices.data() + static_cast<std::size_t>(y) * image.width;
    const auto dst = static_cast<std::size_t>(offsetY + y) * out.width + offsetX;
    for (std::int64_t x = 0; x < count; ++x) {
      const std::uint8_t index = src[x];
      out.pixels[dst + x] = palette[index];
      const bool clear = image.transparent && index == image.transparentIndex;
      out.opaque[dst + x] = clear ? 0 : 1;
      opaqueCount += clear ? 0 : 1;
    }
  }
  if (opaqueCount == canvasPixels) out.opaque.clear();
  return out;
}

}  // namespace velmora::platform
