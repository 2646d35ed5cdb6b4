#pragma once
// The frame compositor: keeps CompositeCanvas holding the animation up to the frame shown, with a
// 1-bit mask of the pixels some frame has painted (1 = unpainted, 0 = painted).
//
// For every paint of frame k in canvas mode the renderer runs: ComposeFrame(k, prepare); draw
// frame k's colours into the canvas; draw the canvas onto the host surface; and only for
// Disposal 2 or 3, ComposeFrame(k, dispose). The restore buffers live for one paint.

#include <cstdint>
#include <vector>

#include "ucAniGIF/render/gif_document.h"

namespace velmora {

struct RestoreBuffers {
  std::vector<std::uint8_t> savedPixels;  // Width * 3 bytes per row, Height rows
  std::vector<std::uint8_t> savedMask;    // the mask bytes the rectangle touches, per row
};

// Prepare phase (disposePhase false): frame 1 empties the canvas; Disposal 3 saves the frame
// rectangle; with a mask, the frame's opaque pixels are marked painted (ActiveColorTable -1).
// Dispose phase (true): Disposal 2 empties the rectangle, 3 restores it; others do nothing.
// Does nothing without a canvas or for a frameIndex outside 1..frame count. Everything is memory
// fills, row copies, palette swaps and one mask transfer; rectangles are clipped to the canvas
// bitmap, and the mask is saved as the whole bytes its rectangle touches, so the restore is
// exact for every Left and Width. The dispose phase of Disposal 3 restores only from buffers the
// prepare phase of the same frame filled.
void ComposeFrame(GifDocument& doc, std::int32_t frameIndex, bool disposePhase,
                  RestoreBuffers& buffers);

}  // namespace velmora
