#include "gif/gif_images.h"

#include <algorithm>

#include "gif/gif_format.h"

namespace velmora::gif {
namespace {

int ReadU16(std::span<const std::uint8_t> b, std::size_t pos) {
  return b[pos] | (b[pos + 1] << 8);
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

}  // namespace

// Image descriptor, after the 0x2C separator:
//   +0 left  +2 top  +4 width  +6 height (u16 LE each)
//   +8 packed: local table bit 7, interlace bit 6, size bits 0-2
// then the local colour table if flagged, the LZW minimum code size, and data sub-blocks.
std::optional<GifImageBlock> ReadImageBlock(std::span<const std::uint8_t> bytes,
                                            std::size_t separator,
                                            std::span<const std::uint8_t> globalTable) {
  if (separator >= bytes.size() || bytes[separator] != kImageSeparator) return std::nullopt;
  std::size_t pos = separator + 1;
  if (pos + kImageDescriptorBytes > bytes.size()) return std::nullopt;
  GifImageBlock image;
  image.left = ReadU16(bytes, pos);
  image.top = ReadU16(bytes, pos + 2);
  image.width = ReadU16(bytes, pos + 4);
  image.height = ReadU16(bytes, pos + 6);
  const std::uint8_t packed = bytes[pos + 8];
  image.interlaced = (packed & kInterlaceFlag) != 0;
  pos += kImageDescriptorBytes;
  image.colorTable = globalTable;
  if ((packed & kColorTableFlag) != 0) {
    const std::size_t n = 3 * ColorTableEntries(packed);
    if (pos + n > bytes.size()) return std::nullopt;
    image.colorTable = bytes.subspan(pos, n);
    pos += n;
  }
  if (pos >= bytes.size()) return std::nullopt;
  image.minCodeSize = bytes[pos++];
  image.subBlocks = bytes.subspan(pos, SkipSubBlocks(bytes, pos) - pos);
  return image;
}

// Logical screen descriptor, after the 6-byte signature:
//   +0 width (u16 LE)   +2 height (u16 LE)   +4 packed: global table bit 7, size bits 0-2
//   +5 background index   +6 aspect ratio
std::vector<GifImageBlock> FindGifImages(std::span<const std::uint8_t> bytes, std::size_t maxImages,
                                         GifScreen* screen) {
  std::vector<GifImageBlock> images;
  if (!HasGifSignature(bytes) || bytes.size() < kSignatureBytes + kScreenDescriptorBytes) {
    return images;
  }
  std::size_t pos = kSignatureBytes;
  if (screen != nullptr) {
    screen->width = ReadU16(bytes, pos);
    screen->height = ReadU16(bytes, pos + 2);
  }
  const std::uint8_t screenPacked = bytes[pos + 4];
  pos += kScreenDescriptorBytes;
  std::span<const std::uint8_t> globalTable;
  if ((screenPacked & kColorTableFlag) != 0) {
    const std::size_t n = 3 * ColorTableEntries(screenPacked);
    if (pos + n > bytes.size()) return images;
    globalTable = bytes.subspan(pos, n);
    pos += n;
  }

  GraphicControl pending;
  while (pos < bytes.size() && images.size() < maxImages) {
    const std::uint8_t introducer = bytes[pos];
    if (introducer == kExtensionIntroducer) {
      if (++pos >= bytes.size()) break;
      const std::uint8_t label = bytes[pos++];
      if (label == kGraphicControlLabel) pending = ReadGraphicControl(bytes, pos);
      pos = SkipSubBlocks(bytes, pos);
      continue;
    }
    // The trailer, or something we cannot walk past, ends the walk; so does a cut-off image.
    std::optional<GifImageBlock> image = ReadImageBlock(bytes, pos, globalTable);
    if (!image) break;
    image->transparent = pending.transparent;
    image->transparentIndex = pending.transparentIndex;
    pending = {};
    pos = static_cast<std::size_t>(image->subBlocks.data() - bytes.data()) + image->subBlocks.size();
    images.push_back(*image);
  }
  return images;
}

}  // namespace velmora::gif
