#include "platform/gif_picture.h"

#include <algorithm>
#include <array>
#include <memory>
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

// Where the first image lies in the picture, as described in the header.
struct Layout {
  gif::GifImageBlock image;
  int width = 0;
  int height = 0;
  int offsetX = 0;
  int offsetY = 0;
};

std::optional<Layout> LayOut(std::span<const std::uint8_t> bytes) {
  gif::GifScreen screen;
  const std::vector<gif::GifImageBlock> images = gif::FindGifImages(bytes, 1, &screen);
  if (images.empty()) return std::nullopt;
  Layout layout{images.front()};
  const gif::GifImageBlock& image = layout.image;
  const bool screenHoldsImage = screen.width > 0 && screen.height > 0 &&
                                image.left + image.width <= screen.width &&
                                image.top + image.height <= screen.height;
  if (screenHoldsImage) {
    layout.width = screen.width;
    layout.height = screen.height;
    layout.offsetX = image.left;
    layout.offsetY = image.top;
  } else {
    layout.width = image.width;
    layout.height = image.height;
  }
  const std::int64_t canvasPixels = std::int64_t{layout.width} * layout.height;
  if (canvasPixels <= 0 || canvasPixels > kMaxGifPicturePixels) return std::nullopt;
  return layout;
}

}  // namespace

std::optional<PictureSize> ProbeGifPicture(std::span<const std::uint8_t> bytes) {
  const std::optional<Layout> layout = LayOut(bytes);
  if (!layout) return std::nullopt;
  return PictureSize{layout->width, layout->height};
}

std::optional<DecodedImage> DecodeGifPicture(std::span<const std::uint8_t> bytes) {
  const std::optional<Layout> layout = LayOut(bytes);
  if (!layout) return std::nullopt;
  const gif::GifImageBlock& image = layout->image;

  DecodedImage out;
  out.width = layout->width;
  out.height = layout->height;
  const std::int64_t canvasPixels = std::int64_t{out.width} * out.height;

  // Only the rows the data reached are read back, so the index buffer needs no clearing.
  const auto imagePixels = static_cast<std::size_t>(image.width) * image.height;
  const auto indices = std::make_unique_for_overwrite<std::uint8_t[]>(std::max<std::size_t>(imagePixels, 1));
  gif::LzwResult decoded;
  if (imagePixels > 0) {
    const gif::IndexRows rows{indices.get(), image.width, image.width, image.height};
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
    const std::uint8_t* src = indices.get() + static_cast<std::size_t>(y) * image.width;
    const auto dst = static_cast<std::size_t>(layout->offsetY + y) * out.width + layout->offsetX;
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
