#pragma once
// The single-frame GIF encoder: one frame's colour indices, read in place from the 8-bit frame
// strip, become a complete stand-alone GIF89a file. Pure byte work: no platform calls, no state
// between calls (each thread keeps a scratch dictionary of about 170 KB, handed back empty after
// every frame), so threads may encode at the same time. The control's EncodeFrame gathers the
// frame's values and hands the bytes to PictureFromBytes.
//
// The file written, in order (numbers little-endian):
//   "GIF89a", Width and Height (low 16 bits each), 0x87 0x00 0x00,
//   a 256-entry global colour table (entries past the table's colour count are black),
//   for a transparent frame: 21 F9 04 01 00 00 <TransparentIndex> 00,
//   2C 00 00 00 00 <Width> <Height> 00, 08,
//   the LZW data in sub-blocks of 254 data bytes (length byte 0xFE; the last one holds 1..254),
//   00, 3B.
// The LZW compressor is the control's own (5003-slot hash, a key-0 slot ending a probe chain,
// clear code at code 4096 written 12 bits wide); its output is byte-exact and stable, so a file
// loaded and encoded again gives the same bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmora {

// An 8-bit, bottom-up strip bitmap: Height rows of StripRowBytes(Width) bytes each, the last
// row in memory being the top row of the picture.
struct StripPixels {
  std::span<const std::uint8_t> bits;  // at least Height * StripRowBytes(Width) bytes
  std::int32_t width = 0;              // Ws, in pixels
  std::int32_t height = 0;             // Hs, in rows
};

// One frame to encode. Width, Height, colours and transparency are the frame's own; the frame's
// pixels are strip columns stripX .. stripX + width - 1 of the strip's top `height` rows.
struct EncoderInput {
  std::int32_t width = 0;  // 1..65535 in practice; only the low 16 bits are written
  std::int32_t height = 0;
  std::span<const std::uint32_t> colors;  // 0x00RRGGBB, at least colorCount entries
  std::int32_t colorCount = 0;            // 0..256; entries colorCount..255 are written black
  bool transparent = false;               // writes the graphic control extension
  std::uint8_t transparentIndex = 0;
  StripPixels strip;
  std::int32_t stripX = 0;  // first strip column of the frame
};

// Row length of an 8-bit strip of `width` pixels: padded to a multiple of 4 bytes.
constexpr std::ptrdiff_t StripRowBytes(std::int32_t width) {
  return ((static_cast<std::ptrdiff_t>(width) * 8 + 31) & ~std::ptrdiff_t{31}) / 8;
}

// The complete GIF file of the frame. None when the frame has no pixel (width or height 0: the
// compressor has no first pixel to start from), when a value is negative or colorCount is above
// 256 or beyond `colors`, or when the frame's band does not lie inside the strip (stripX + width
// beyond the strip's width, height beyond its height, or `bits` shorter than the strip).
std::optional<std::vector<std::uint8_t>> EncodeFrameBytes(const EncoderInput& input);

}  // namespace velmora
