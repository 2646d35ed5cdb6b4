#pragma once
// The built-in BMP codec behind PictureFromBytes: uncompressed device-independent bitmap files.
//
// Accepted: the "BM" file header followed by a BITMAPCOREHEADER (12 bytes) or a BITMAPINFOHEADER
// (40 bytes) or one of its later extensions (52, 56, 108, 124 bytes); 1, 4, 8, 24 and 32 bits
// per pixel uncompressed (BI_RGB), and 16 or 32 bits per pixel with channel masks
// (BI_BITFIELDS, masks after a 40-byte header or inside a later one; 16 bits defaults to 5-5-5).
// Rows bottom-up (positive height) or top-down (negative height), each padded to 4 bytes.
//
// Refused (nullopt): other signatures or compressions (RLE, JPEG, PNG), a palette or pixel array
// that does not fit in the bytes, a width or height of 0, and pictures above kMaxBmpPixels.
// Every pixel is opaque (an alpha channel is ignored, as the classic interface does for BI_RGB);
// a palette index beyond the palette is black. Nothing is read outside the given bytes.

#include <cstdint>
#include <optional>
#include <span>

#include "platform/picture.h"

namespace velmora::platform {

// Largest picture made: 64 Mi pixels, with sides of at most 1 << 20 (the raster layer's bounds).
inline constexpr std::int64_t kMaxBmpPixels = std::int64_t{64} << 20;

// True when the bytes start with the "BM" file header signature.
bool LooksLikeBmp(std::span<const std::uint8_t> bytes);

std::optional<DecodedImage> DecodeBmpPicture(std::span<const std::uint8_t> bytes);

}  // namespace velmora::platform
