#pragma once
// Frame decoding into the frame strip, and the composition canvas.
//
// The strip is one 8-bit, 256-entry, bottom-up bitmap holding every frame side by side; frame i's
// band starts at column StripX and covers its top Height rows. Its pixels are the frames' colour
// indices exactly as stored in the file; its palette is whichever colour table was loaded last
// (the index palette, entry i = 0x000000ii, right after decoding). Each frame's LZW data is
// decoded straight into its band. The control's BuildFrames drives these steps.

#include <array>
#include <cstdint>

#include "ucAniGIF/render/gif_document.h"

namespace velmora {

// Byte length of one bitmap row (platform::RowBytes). Throws RuntimeError 6 when the padded bit
// count passes 32 bits.
std::int32_t ScanlineBytes(std::uint8_t bitsPerPixel, std::int32_t width);

// Index palette entry i = blue i: the strip's palette while it holds no colour table.
const std::array<std::uint32_t, 256>& IndexPalette();

// Creates CompositeCanvas: a 24-bit CanvasWidth x CanvasHeight bitmap selected into its own
// context and, when withMask, a 1-bit mask (entry 0 black, entry 1 white) of the same size, not
// selected anywhere. True when everything asked for exists. Nothing is released on failure.
bool CreateCompositeCanvas(GifDocument& doc, bool withMask);

// The first pass's set-up: measures the frames, decides the canvas (none in design mode or for
// one frame, none when every frame restores to background, else a canvas with a mask when some
// frame disposes 2 or 3, frame 1 is transparent, or a transparent GIF's frame 1 does not cover
// the canvas), creates the strip (frame 1's size when only frame 1 will be built), and allocates
// MaskPalette when any frame is transparent or some frame disposes 2 or 3. Returns false (never
// throws) when there are no frames or the strip or the canvas cannot be created: a strip wider
// than 32 bits can count, or any bitmap past the raster layer's size bound (hostile dimensions),
// or a frame 1 of zero width or height when only frame 1 is built. Whatever was created stays
// for the reset.
bool PrepareFrameStrip(GifDocument& doc, bool userMode);

// Decodes frames first..last (1-based) into their bands, setting each frame's StripX to its band
// column (0 for frame 1, else the previous frame's StripX + Width), and sets ActiveColorTable to
// -1. The deferred pass (first > 1, more than one frame) reloads the index palette first. Each
// image is found at its FrameSpans entry; a span running past the end of GifBytes is cut there
// and decodes the part that exists. A frame whose data cannot be decoded (no image separator at
// its span, an invalid code) keeps the rest of its band as it was; a band that does not fit in
// the strip is not written. Never reads beyond GifBytes. Throws RuntimeError 6 only if a band
// column passes 32 bits, which a strip made by PrepareFrameStrip rules out.
void DecodeFramesIntoStrip(GifDocument& doc, std::int32_t first, std::int32_t last);

// Releases the strip, the canvas and the mask, each context given back its own bitmap first.
void ReleaseFrameStrip(GifDocument& doc);

// Discards FrameSpans once every frame that will be built is (the decoder no longer needs to
// find the images in GifBytes).
void DiscardLoadTables(GifDocument& doc);

}  // namespace velmora
