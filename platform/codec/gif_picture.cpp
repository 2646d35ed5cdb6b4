#include "platform/codec/gif_picture.h"

#include <algorithm>
#include <array>
#include <vector>

#include "gif/gif_images.h"
#include "gif/gif_lzw.h"

namespace velmora::platform {
namespace {

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

std::optional<DecodedImage> DecodeGifPicture(std::span<const std::uint8_t> bytes) {
  gif::GifScreen screen;
  const std::vector<gif::GifImageBlock> images = gif::FindGifImages(bytes, 1, &screen);
  if (images.empty()) return std::nullopt;
  const gif::GifImageBlock& image = images.front();

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
  gif::LzwResult decoded;
  if (imagePixels > 0) {
    const gif::IndexRows rows{indices.data(), image.width, image.width, image.height};
    decoded = gif::DecodeGifImageData(image.subBlocks, image.minCodeSize, image.interlaced, rows);
  }

  const std::array<RgbQuad, 256> palette = MakePalette(image.colorTable);
  out.pixels.assign(static_cast<std::size_t>(canvasPixels), 0);
  out.opaque.assign(static_cast<std::size_t>(canvasPixels), 0);
  std::int64_t opaqueCount = 0;
  const std::int64_t rowsDone = image.width > 0 ? decoded.pixels / image.width : 0;
  const std::int64_t partial = image.width > 0 ? decoded.pixels % image.width : 0;
  for (std::int64_t k = 0; k < rowsDone + (partial != 0 ? 1 : 0); ++k) {
    const int y =
        image.interlaced ? gif::InterlacedRow(static_cast<int>(k), image.height) : static_cast<int>(k);
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
