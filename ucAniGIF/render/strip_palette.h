#pragma once
// Loading palettes into the frame strip, shared by the compositor and the renderer. Internal to
// ucAniGIF/render; only the first n entries (the frame's colour count) are ever replaced, the rest
// keep what they held.

#include <cstdint>

#include "ucAniGIF/render/gif_document.h"

namespace velmora {

// The colour count n of table `tableNumber` (entry 256), 0..256; 0 for a table that does not
// exist, so that nothing is loaded for it.
int ColorCount(const GifDocument& doc, std::int32_t tableNumber);

// Loads MaskPalette entries 0..n-1 of frame f's table into the strip, with the transparent index
// white when `transparentWhite` (n = f's colour count). MaskPalette itself is left all zero.
void LoadMaskPalette(GifDocument& doc, const GifFrame& f, bool transparentWhite);

// Loads f's colours for drawing. A transparent frame gets its table with the transparent entry
// black (ActiveColorTable becomes -1: the strip holds a doctored table); an opaque frame gets its
// table only when ActiveColorTable names another one, which then records it.
void LoadFrameColors(GifDocument& doc, const GifFrame& f);

}  // namespace velmora
