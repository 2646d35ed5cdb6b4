#pragma once
// Partial repaints: what the host surface shows after a paint depends on, and which part of it
// painting the next frame can change. The control remembers the view of its last complete paint
// and, when the animation moves from frame k to k + 1 with that view otherwise unchanged, asks
// the host to repaint only the damage; the pixels there come out identical to a complete repaint
// and the pixels outside are the ones the complete repaint would leave unchanged anyway.

#include <cstdint>
#include <optional>

#include "platform/raster.h"
#include "ucAniGIF/render/gif_document.h"
#include "ucAniGIF/render/renderer.h"

namespace velmora {

// Everything a complete paint of the surface depends on besides the frame strip, the colour
// tables and the canvas: two paints with equal views (and the same host background) differ only
// where the frames or the canvas differ. The document itself is not in it: a load goes through
// the reset, which drops the remembered view.
struct PaintView {
  std::int32_t frame = 0;
  double surfaceWidth = 0;
  double surfaceHeight = 0;
  float scaleX = 0;
  float scaleY = 0;
  std::int32_t stretch = 0;
  std::int32_t offsetX = 0;
  std::int32_t offsetY = 0;
  std::int32_t mirrored = 0;
  bool solidBkgUsed = false;
  platform::ColorRef solidBkg = 0;  // resolved, so a changed system colour counts as a change
  bool canvasMode = false;
  bool masked = false;
  bool runMode = false;

  bool operator==(const PaintView&) const = default;
};

// The view of a paint of `frame` now.
PaintView ViewOf(const GifDocument& doc, const ControlState& state, std::int32_t frame,
                 SurfaceSize surface, bool runMode);

// The part of the surface, in surface pixels (right and bottom exclusive, not cut to the
// surface, possibly empty), where a paint of frame `from` + 1 can differ from the paint of frame
// `from` just before it, with the view unchanged in between. Direct mode: both frames'
// destination rectangles (the host erased frame `from`). Canvas mode: frame `from` + 1's
// rectangle, and frame `from`'s when its disposal (2 or 3) changed the canvas after it was
// shown, mapped onto the surface through the offsets and, when scaled, grown by the resampling
// neighbourhood. None when no such part can be given and everything must be repainted: `from`
// is not a frame or is the last one, a position does not fit 32 bits, or a direct-mode frame
// with the solid background has an empty destination (its paint then skips the background
// fill, so the difference is not confined to the frames).
std::optional<platform::Rect> AdvanceDamage(const GifDocument& doc, const ControlState& state,
                                            std::int32_t from, SurfaceSize surface);

}  // namespace velmora
