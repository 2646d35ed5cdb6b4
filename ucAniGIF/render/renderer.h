#pragma once
// The renderer: draws frames out of the frame strip onto a target, directly or through the
// composition canvas, with scaling, offsets, the solid background and colour-table loading; and
// the scale computation and mirroring that the control's resize and setters use.

#include <cstdint>

#include "platform/raster.h"
#include "ucAniGIF/render/control_state.h"
#include "ucAniGIF/render/gif_document.h"

namespace velmora {

struct DrawRect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The host surface's inner size, as PaintFrame needs it (canvas mode draws over all of it).
struct SurfaceSize {
  double scaleWidth = 0;
  double scaleHeight = 0;
};

// Paints frame `frameIndex` onto `target` (the host surface; `surface` is its inner size).
// Direct mode (no canvas): the frame at round(sx * (OffsetX + Left)), round(sy * (OffsetY + Top))
// with size round(sx * Width) x round(sy * Height), halves to even. Canvas mode: compose, draw
// the frame into the canvas unscaled, draw the canvas at (OffsetX, OffsetY) over
// round(scaleWidth) x round(scaleHeight), then dispose (Disposal 2, 3). Stretched (a scale factor
// not exactly 1) transfers use HALFTONE. False, with nothing drawn, when frameIndex is 0 or not
// a frame. Throws RuntimeError 6, before anything is drawn or composed, when a rounded position
// or size passes 32 bits (an offset near the 32-bit limit): the caller must catch it.
bool PaintFrame(GifDocument& doc, const ControlState& state, std::int32_t frameIndex,
                platform::DeviceContext& target, SurfaceSize surface);

// Where PaintFrame draws in direct mode (frame `f` on the surface, offsets scaled with the
// position) and in canvas mode (the whole canvas at the unscaled offsets over the surface's
// rounded inner size). Throw RuntimeError 6 when a rounded value passes 32 bits.
DrawRect DirectDestination(const GifHeader& header, const ControlState& state, const GifFrame& f);
DrawRect CanvasDestination(const ControlState& state, SurfaceSize surface);

// Draws frame `index`'s band (index > 0) or the whole canvas (index < 0) onto `dest`.
// `targetIsSurface` decides whether the solid background may be painted (from (0, 0) to the
// scaled canvas size, ignoring the offsets, when SolidBkgColorUsed). Loads colour tables into the
// strip as needed and keeps ActiveColorTable up to date. Nothing happens for an empty
// destination, index 0, an index past the frame count or a missing strip or canvas. When
// `stretched`, the target's stretch mode and brush origin are set and put back.
void DrawFrame(GifDocument& doc, const ControlState& state, std::int32_t index,
               platform::DeviceContext& target, bool targetIsSurface, bool stretched,
               const DrawRect& dest);

// Derives the scale factors from the available size (w, h) for the Stretch mode, and changes
// (w, h) to the drawing size. Does nothing when currentFrame is 0. Throws RuntimeError 11 for a
// canvas of zero width or height in modes 1..3 (the caller decides what that means).
void ComputeScale(const GifHeader& header, std::int32_t stretch, std::int32_t currentFrame,
                  std::int32_t& w, std::int32_t& h, float& sx, float& sy);

// Re-mirrors the decoded frames (and, when includeCanvas, the canvas and its mask) from the style
// in `mirrored` to `newStyle`. Clears the 0x20 flag from `mirrored` (frame 1 already done) but
// does not store newStyle: the caller does. Left-right moves Left to CanvasWidth - (Left + Width)
// and flips the band in place; top-bottom likewise with Top, CanvasHeight and the rows. Frames
// first..(firstFrameOnly ? 1 : frame count) are moved, so call it only for built frames.
void MirrorFrames(GifDocument& doc, std::int32_t& mirrored, std::int32_t newStyle,
                  bool firstFrameOnly, bool includeCanvas);

}  // namespace velmora
