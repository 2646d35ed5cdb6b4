#include "ucAniGIF/render/renderer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "platform/errors.h"
#include "ucAniGIF/render/compositor.h"
#include "ucAniGIF/render/strip_palette.h"

namespace velmora {

namespace {

// Nearest integer, halves to even: std::nearbyint under the default rounding mode, which is what
// the control's rounding of positions and sizes has always done (2.5 -> 2, 3.5 -> 4).
std::int32_t RoundToInt32(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
        rounded <= std::numeric_limits<std::int32_t>::max())) {
    throw platform::OverflowError(std::string(kControlName));
  }
  return static_cast<std::int32_t>(rounded);
}

// The same rounding for a fill edge, where an out-of-range value is simply clipped away.
int RoundClamped(double value) {
  const double rounded = std::nearbyint(value);
  if (std::isnan(rounded)) return 0;
  return static_cast<int>(std::clamp<double>(rounded, std::numeric_limits<int>::min(),
                                             std::numeric_limits<int>::max()));
}

void FillBackground(const GifDocument& doc, const ControlState& state,
                    platform::DeviceContext& target) {
  const GifHeader& h = doc.Header;
  // The fill covers the scaled canvas from the surface's origin and ignores the offsets.
  const platform::Rect rect{0, 0, RoundClamped(double{h.ScaleFactorX} * h.CanvasWidth),
                            RoundClamped(double{h.ScaleFactorY} * h.CanvasHeight)};
  platform::FillRect(target, rect, platform::CreateSolidBrush(platform::ResolveColor(state.SolidBkgColor)));
}

struct Source {
  const platform::DeviceContext* dc = nullptr;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  platform::Rop rop = platform::Rop::kSrcCopy;
  bool drawn = false;  // a fused transfer has drawn it already
};

void Transfer(platform::DeviceContext& target, bool stretched, const DrawRect& dest,
              const Source& src, platform::Rop rop) {
  if (stretched) {
    platform::StretchBlt(target, dest.x, dest.y, dest.width, dest.height, *src.dc, src.x, src.y,
                         src.width, src.height, rop);
    return;
  }
  platform::BitBlt(target, dest.x, dest.y, dest.width, dest.height, *src.dc, src.x, src.y, rop);
}

// The canvas through its mask: the mask's painted (black) pixels clear the target, then the
// canvas is ORed in, so unpainted pixels (black in the canvas, white in the mask) keep whatever
// the target had. Without a mask the canvas is opaque.
Source PrepareCanvasSource(GifDocument& doc, platform::DeviceContext& target, bool stretched,
                           const DrawRect& dest) {
  CanvasBitmaps& canvas = doc.CompositeCanvas;
  Source src{canvas.DC.get(), 0, 0, canvas.Bitmap->Width(), canvas.Bitmap->Height()};
  if (!canvas.MaskBitmap) return src;
  // Unscaled, both transfers go in one pass where the raster layer has one for the formats.
  if (!stretched && platform::BitBltThroughMask(target, dest.x, dest.y, dest.width, dest.height,
                                                *canvas.DC, 0, 0, *canvas.MaskBitmap)) {
    src.drawn = true;
    return src;
  }
  canvas.DC->SelectObject(canvas.MaskBitmap.get());
  Transfer(target, stretched, dest, src, platform::Rop::kSrcAnd);
  canvas.DC->SelectObject(canvas.Bitmap.get());
  src.rop = platform::Rop::kSrcPaint;
  return src;
}

// The pair of formats BitBltAndPaint takes: the 8-bit strip onto a colour target.
bool FusedFormats(const platform::DeviceContext& source, const platform::DeviceContext& target) {
  const int bpp = target.Selected().BitsPerPixel();
  return source.Selected().BitsPerPixel() == 8 && (bpp == 24 || bpp == 32);
}

// A frame's band: a transparent frame first blacks out the target under its opaque pixels (the
// transparent index alone white in the mask palette), then ORs in its colours with the
// transparent entry black. An opaque frame is copied.
Source PrepareFrameSource(GifDocument& doc, const GifFrame& f, platform::DeviceContext& target,
                          bool stretched, const DrawRect& dest) {
  Source src{doc.FrameStrip.DC.get(), f.StripX, 0, f.Width, f.Height};
  if (f.Transparent != 1) {
    LoadFrameColors(doc, f);
    return src;
  }
  LoadMaskPalette(doc, f, true);
  if (!stretched && FusedFormats(*src.dc, target)) {
    // One pass through both tables. The strip's table goes through the same two loads as for the
    // separate transfers, so it ends up holding what they would leave, entries past the frame's
    // colour count included, and both tables see those entries as the transfers would.
    const auto stripTable = doc.FrameStrip.DC->Selected().ColorTable();
    std::array<platform::RgbQuad, 256> maskTable{};
    std::copy_n(stripTable.begin(), std::min(stripTable.size(), maskTable.size()),
                maskTable.begin());
    LoadFrameColors(doc, f);
    // False here only means nothing lay inside the clip, as for the separate transfers.
    platform::BitBltAndPaint(target, dest.x, dest.y, dest.width, dest.height, *src.dc, src.x,
                             src.y, maskTable, doc.FrameStrip.DC->Selected().ColorTable());
    src.drawn = true;
    return src;
  }
  Transfer(target, stretched, dest, src, platform::Rop::kSrcAnd);
  src.rop = platform::Rop::kSrcPaint;
  LoadFrameColors(doc, f);
  return src;
}

}  // namespace

void DrawFrame(GifDocument& doc, const ControlState& state, std::int32_t index,
               platform::DeviceContext& target, bool targetIsSurface, bool stretched,
               const DrawRect& dest) {
  if (dest.width < 1 || dest.height < 1) return;
  if (index == 0) return;
  if (index > 0 && (index > doc.FrameCount() || !doc.FrameStrip.DC)) return;
  if (index < 0 && (!doc.CompositeCanvas.DC || !doc.CompositeCanvas.Bitmap)) return;

  int previousMode = 0;
  platform::Point previousOrigin;
  if (stretched) {
    previousMode = target.SetStretchBltMode(platform::kHalftone);
    previousOrigin = target.SetBrushOrgEx(0, 0);
  }
  if (state.SolidBkgColorUsed != kFalse && targetIsSurface) FillBackground(doc, state, target);

  const Source src = index < 0 ? PrepareCanvasSource(doc, target, stretched, dest)
                               : PrepareFrameSource(doc, doc.Frame(index), target, stretched, dest);
  if (!src.drawn) Transfer(target, stretched, dest, src, src.rop);

  if (stretched) {
    target.SetStretchBltMode(previousMode);
    target.SetBrushOrgEx(previousOrigin.x, previousOrigin.y);
  }
}

DrawRect DirectDestination(const GifHeader& header, const ControlState& state, const GifFrame& f) {
  const float sx = header.ScaleFactorX;
  const float sy = header.ScaleFactorY;
  return DrawRect{RoundToInt32(double{sx} * (std::int64_t{state.OffsetX} + f.Left)),
                  RoundToInt32(double{sy} * (std::int64_t{state.OffsetY} + f.Top)),
                  RoundToInt32(double{sx} * f.Width), RoundToInt32(double{sy} * f.Height)};
}

DrawRect CanvasDestination(const ControlState& state, SurfaceSize surface) {
  return DrawRect{state.OffsetX, state.OffsetY, RoundToInt32(surface.scaleWidth),
                  RoundToInt32(surface.scaleHeight)};
}

bool PaintFrame(GifDocument& doc, const ControlState& state, std::int32_t frameIndex,
                platform::DeviceContext& target, SurfaceSize surface) {
  if (frameIndex < 1 || frameIndex > doc.FrameCount()) return false;
  const float sx = doc.Header.ScaleFactorX;
  const float sy = doc.Header.ScaleFactorY;
  const bool stretched = sx != 1.0f || sy != 1.0f;
  const GifFrame& f = doc.Frame(frameIndex);

  if (!doc.CompositeCanvas.Bitmap) {
    // Direct mode: the offsets are scaled together with the frame position.
    DrawFrame(doc, state, frameIndex, target, true, stretched,
              DirectDestination(doc.Header, state, f));
    return true;
  }

  // Canvas mode: compose unscaled, then draw the whole canvas over the surface's inner size with
  // unscaled offsets.
  const DrawRect surfaceDest = CanvasDestination(state, surface);
  RestoreBuffers buffers;
  ComposeFrame(doc, frameIndex, false, buffers);
  DrawFrame(doc, state, frameIndex, *doc.CompositeCanvas.DC, false, false,
            DrawRect{f.Left, f.Top, f.Width, f.Height});
  DrawFrame(doc, state, -frameIndex, target, true, stretched, surfaceDest);
  if (f.Disposal > 1) ComposeFrame(doc, frameIndex, true, buffers);
  return true;
}

}  // namespace velmora
