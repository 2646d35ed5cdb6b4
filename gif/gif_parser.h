#pragma once
// The GIF block parser: walks a GIF file once, from the signature to the trailer, and records
// the header values, colour tables, one GifFrame per image and where each image lies. It does
// not decode image data (gif_lzw.h does). Span in, ParsedGif out, no I/O.
//
// Tolerances, each chosen on purpose and tested:
//   - Signature: "GIF87a" or "GIF89a" in either letter case; anything else parses to 0 frames.
//   - The logical screen's size, background index and aspect ratio are not used: the canvas is
//     the largest right and bottom edge of the images (CanvasWidth, CanvasHeight).
//   - Stray zero bytes between blocks are skipped.
//   - A byte that starts no block ends the parse like the trailer.
//   - Plain text, comment and unknown extensions are skipped without looking inside.
//   - Graphic control: a later extension before the same image replaces an earlier one whole;
//     disposal 4..7, and 3 ("restore to previous") before the first frame, read as 0; the
//     transparent index is kept only when the transparency flag is set (else 0).
//   - "NETSCAPE2.0" (identifier in any case) gives LoopCount from a 3-byte first sub-block;
//     another first sub-block size leaves LoopCount alone.
//   - An image without any colour table (no local table, no global table) makes the file
//     unusable: 0 frames, even when earlier images were fine.
//   - Running out of data (inside a block, a table or a descriptor) ends the parse with the
//     frames completed before it; an image whose data sub-blocks are cut short is complete (its
//     span then reaches past the end of the data, and the decoder stops where the data does).
//   - At most kMaxFrameCount frames: the image that would be the next ends the parse.
//   - Out of memory while growing the tables ends the parse like running out of data.

#include <cstdint>
#include <span>

#include "gif/gif_types.h"

namespace velmora::gif {

// The frame table is a 16-bit count grown in steps of 5 past 10; frame 32765 would overflow its
// growth, so the parse keeps at most this many frames.
inline constexpr std::int32_t kMaxFrameCount = 32764;

// Parses `bytes` into `out`, replacing whatever it held (local tables are numbered 1, 2, ...
// from every parse's start). Returns the number of frames stored, 0 when nothing is usable.
// Header values other than the canvas and the loop count are left 0. Never throws.
std::int32_t ParseGif(std::span<const std::uint8_t> bytes, ParsedGif& out);

}  // namespace velmora::gif
