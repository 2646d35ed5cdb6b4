#pragma once
// The single-frame GIF writer: one frame's colour indices, read in place from 8-bit rows (the
// control's frame strip), become a complete stand-alone GIF89a file. Pure byte work; its LZW data
// comes from lzw_encoder.h, whose output is byte-exact and stable, so a file loaded and encoded
// again gives the same bytes.
//
// The file written, in order (numbers little-endian):
//   "GIF89a", Width and Height (low 16 bits each), 0x87 0x00 0x00,
//   a 256-entry global colour table (entries past the table's colour count are black),
//   for a transparent frame: 21 F9 04 01 00 00 <TransparentIndex> 00,
//   2C 00 00 00 00 <Width> <Height> 00, 08,
//   the LZW data in sub-blocks of 254 data bytes (length byte 0xFE; the last one holds 1..254),
//   00, 3B.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmora::gif {

// 8-bit bottom-up rows (the frame strip): `height` rows of `rowBytes` bytes each, the last row
// in memory being the top row of the picture.
struct StripPixels {
  std::span<const std::uint8_t> bits;  // at least height * rowBytes bytes
  std::int32_t width = 0;              // Ws, in pixels
  std::int32_t height = 0;             // Hs, in rows
  std::ptrdiff_t rowBytes = 0;         // at least width
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

// The complete GIF file of the frame. None when the frame has no pixel (width or height 0: the
// compressor has no first pixel to start from), when a value is negative or colorCount is above
// 256 or beyond `colors`, when the frame's band does not lie inside the strip (stripX + width
// beyond the strip's width, height beyond its height, rows shorter than the strip's width, or
// `bits` shorter than the strip), or when memory runs out.
std::optional<std::vector<std::uint8_t>> EncodeFrameBytes(const EncoderInput& input);

}  // namespace velmora::gif
