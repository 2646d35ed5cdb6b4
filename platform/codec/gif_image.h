#pragma once
// The GIF codec behind PictureFromBytes: the first image of a GIF87a/GIF89a file as a picture.
//
// What the picture holds:
//   - Size: the logical screen when it contains the whole first image, the image is then placed at
//     its left/top and every pixel outside it is transparent. When the logical screen does not
//     contain the image (a smaller or 0 x 0 screen, an image poking out of it), the picture is
//     the image alone, image-sized: showing every decoded pixel beats clipping to a screen size
//     that the encoder evidently got wrong.
//   - Colours: the image's local colour table, else the global one. An index at or above the
//     table's colour count (or with no table at all) is black.
//   - Transparency: a graphic control extension before the image with the transparency flag set
//     makes pixels of its transparent index transparent.
//   - Interlaced images come out in normal row order.
//   - Damaged data: whatever the LZW data yields is kept (a truncated image, an invalid code or
//     an early end code leave the rest of the image transparent); data after the image is
//     ignored. A file that ends before the first image's descriptor and table are complete, has
//     no image, or whose picture would pass kMaxGifPicturePixels, gives no picture.
// Nothing is read outside the given bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/picture.h"

namespace velmora::platform {

// Largest picture made: 64 Mi pixels (256 MiB of 32-bit pixels, the raster layer's bound).
inline constexpr std::int64_t kMaxGifPicturePixels = std::int64_t{64} << 20;

// True for the "GIF87a" and "GIF89a" signatures.
bool LooksLikeGif(std::span<const std::uint8_t> bytes);

// One image of a GIF file as found by walking its blocks.
struct GifImageBlock {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool interlaced = false;
  // Colour table in effect (local, else global): 3 bytes per entry, may be empty.
  std::span<const std::uint8_t> colorTable;
  bool transparent = false;  // from the graphic control extension just before the image
  int transparentIndex = 0;
  int minCodeSize = 0;
  // The data sub-blocks from the first length byte to the terminator (or the end of the file).
  std::span<const std::uint8_t> subBlocks;
};

struct GifScreen {
  int width = 0;
  int height = 0;
};

// Walks the blocks of a GIF file and returns its images in file order, at most `maxImages`.
// Stops quietly at the trailer, at an unknown block or where the data ends (an image whose
// descriptor or colour table is cut short is not returned; one whose data is cut short is, with
// the data that exists). `screen` receives the logical screen size when given. Returns nothing
// for bytes without a GIF signature and complete logical screen descriptor.
std::vector<GifImageBlock> FindGifImages(std::span<const std::uint8_t> bytes, std::size_t maxImages,
                                         GifScreen* screen = nullptr);

// Decodes the first image into a picture's pixels as described above, or nullopt.
std::optional<DecodedImage> DecodeGifPicture(std::span<const std::uint8_t> bytes);

}  // namespace velmora::platform
