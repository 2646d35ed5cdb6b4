#pragma once
// The GIF codec behind PictureFromBytes: the first image of a GIF87a/GIF89a file as a picture.
// The file's blocks are walked by gif/gif_images.h and its data decoded by gif/gif_lzw.h.
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

#include <cstdint>
#include <optional>
#include <span>

#include "platform/picture.h"

namespace velmora::platform {

// Largest picture made: 64 Mi pixels (256 MiB of 32-bit pixels, the raster layer's bound).
inline constexpr std::int64_t kMaxGifPicturePixels = std::int64_t{64} << 20;

// Decodes the first image into a picture's pixels as described above, or nullopt.
std::optional<DecodedImage> DecodeGifPicture(std::span<const std::uint8_t> bytes);

// The size DecodeGifPicture's picture of `bytes` has, found by walking the blocks up to the first
// image without decoding a pixel; nullopt exactly when DecodeGifPicture gives none (short of
// memory running out while it decodes).
std::optional<PictureSize> ProbeGifPicture(std::span<const std::uint8_t> bytes);

}  // namespace velmora::platform
