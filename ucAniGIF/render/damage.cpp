// The damage of one animation step. Why it is exact (never too small):
//   - Direct mode: a complete paint is the host's clear, the solid background (the same area and
//     colour every paint while the view is unchanged) and one frame drawn inside its destination
//     rectangle; every transfer, stretched or not, writes only inside its destination. So two
//     consecutive paints differ only inside the two frames' destinations.
//   - Canvas mode: the surface shows the background, the solid fill and the canvas drawn through
//     its mask at a fixed place. Between the canvas shown with frame k and the one shown with
//     frame k + 1, only frame k's dispose phase (Disposal 2 or 3, confined to its rectangle;
//     the mask restore rewrites whole bytes but with the values they had) and frame k + 1's
//     prepare phase and colour draw (its rectangle) change anything. Frame 1's prepare empties
//     the whole canvas, which is why the wrap to frame 1 is never partial.
//   - Scaled canvas: target pixel i of an axis with r target pixels per source pixel reads
//     source pixels (i + 1/2) / r for nearest sampling, the span [i / r, (i + 1) / r) when area
//     averaging, and the two source centres either side of (i + 1/2) / r - 1/2 when
//     interpolating. A changed source span [a, b) therefore reaches at most the targets from
//     a * r - r / 2 - 1 to b * r + r / 2; the margin of ceil(r) + 2 covers that with room for
//     the rounding of the sampling positions.

#include "ucAniGIF/render/damage.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/errors.h"

namespace velmora {
namespace {

// Extra target pixels each side of a mapped span, beyond the resampling reach, for rounding.
constexpr std::int64_t kResampleSlack = 2;

struct Span {
  std::int64_t low = 0;
  std::int64_t high = 0;  // exclusive
  bool Empty() const { return low >= high; }
};

struct Area {
  Span x;
  Span y;
  bool Empty() const { return x.Empty() || y.Empty(); }
};

Area Union(const Area& a, const Area& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return Area{{std::min(a.x.low, b.x.low), std::max(a.x.high, b.x.high)},
              {std::min(a.y.low, b.y.low), std::max(a.y.high, b.y.high)}};
}

Area FrameArea(const GifFrame& f) {
  return Area{{f.Left, std::int64_t{f.Left} + f.Width}, {f.Top, std::int64_t{f.Top} + f.Height}};
}

Area DestinationArea(const DrawRect& d) {
  if (d.width < 1 || d.height < 1) return Area{};  // DrawFrame draws nothing
  return Area{{d.x, std::int64_t{d.x} + d.width}, {d.y, std::int64_t{d.y} + d.height}};
}

// A changed span of a canvas axis of `source` pixels, drawn over `target` surface pixels from
// `origin`: unscaled a plain shift, scaled the targets the resampling lets it reach.
Span MapCanvasSpan(Span changed, std::int64_t source, std::int64_t target, std::int64_t origin,
                   bool stretched) {
  changed.low = std::max<std::int64_t>(changed.low, 0);
  changed.high = std::min(changed.high, source);
  if (changed.Empty() || target < 1) return Span{};
  if (!stretched) {
    // BitBlt of the surface's size from the canvas origin: target origin + x shows canvas x.
    return Span{origin + changed.low, origin + std::min(changed.high, target)};
  }
  const double perSource = static_cast<double>(target) / static_cast<double>(source);
  const auto reach = static_cast<std::int64_t>(std::ceil(perSource)) + kResampleSlack;
  const auto low = static_cast<std::int64_t>(std::floor(static_cast<double>(changed.low) * perSource));
  const auto high = static_cast<std::int64_t>(std::ceil(static_cast<double>(changed.high) * perSource));
  return Span{origin + std::max<std::int64_t>(low - reach, 0),
              origin + std::min(high + reach, target)};
}

int ToInt(std::int64_t v) {
  return static_cast<int>(std::clamp<std::int64_t>(v, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

platform::Rect ToRect(const Area& a) {
  if (a.Empty()) return platform::Rect{};
  return platform::Rect{ToInt(a.x.low), ToInt(a.y.low), ToInt(a.x.high), ToInt(a.y.high)};
}

bool Stretched(const GifHeader& h) { return h.ScaleFactorX != 1.0f || h.ScaleFactorY != 1.0f; }

std::optional<Area> DirectDamage(const GifDocument& doc, const ControlState& state,
                                 const GifFrame& shown, const GifFrame& next) {
  const DrawRect before = DirectDestination(doc.Header, state, shown);
  const DrawRect after = DirectDestination(doc.Header, state, next);
  const bool filled = state.SolidBkgColorUsed != kFalse;
  if (filled && (DestinationArea(before).Empty() || DestinationArea(after).Empty())) {
    return std::nullopt;
  }
  return Union(DestinationArea(before), DestinationArea(after));
}

Area CanvasDamage(const GifDocument& doc, const ControlState& state, const GifFrame& shown,
                  const GifFrame& next, SurfaceSize surface) {
  Area changed = FrameArea(next);
  if (shown.Disposal > 1) changed = Union(changed, FrameArea(shown));
  if (changed.Empty()) return Area{};
  const platform::Bitmap& canvas = *doc.CompositeCanvas.Bitmap;
  const DrawRect dest = CanvasDestination(state, surface);
  const bool stretched = Stretched(doc.Header);
  return Area{MapCanvasSpan(changed.x, canvas.Width(), dest.width, dest.x, stretched),
              MapCanvasSpan(changed.y, canvas.Height(), dest.height, dest.y, stretched)};
}

}  // namespace

PaintView ViewOf(const GifDocument& doc, const ControlState& state, std::int32_t frame,
                 SurfaceSize surface, bool runMode) {
  PaintView view;
  view.frame = frame;
  view.surfaceWidth = surface.scaleWidth;
  view.surfaceHeight = surface.scaleHeight;
  view.scaleX = doc.Header.ScaleFactorX;
  view.scaleY = doc.Header.ScaleFactorY;
  view.stretch = state.Stretch;
  view.offsetX = state.OffsetX;
  view.offsetY = state.OffsetY;
  view.mirrored = state.Mirrored;
  view.solidBkgUsed = state.SolidBkgColorUsed != kFalse;
  view.solidBkg = view.solidBkgUsed ? platform::ResolveColor(state.SolidBkgColor) : 0;
  view.canvasMode = doc.CompositeCanvas.Bitmap != nullptr;
  view.masked = doc.CompositeCanvas.MaskBitmap != nullptr;
  view.runMode = runMode;
  return view;
}

std::optional<platform::Rect> AdvanceDamage(const GifDocument& doc, const ControlState& state,
                                            std::int32_t from, SurfaceSize surface) {
  if (from < 1 || from >= doc.FrameCount()) return std::nullopt;
  const GifFrame& shown = doc.Frame(from);
  const GifFrame& next = doc.Frame(from + 1);
  try {
    if (!doc.CompositeCanvas.Bitmap) {
      const std::optional<Area> damage = DirectDamage(doc, state, shown, next);
      if (!damage) return std::nullopt;
      return ToRect(*damage);
    }
    return ToRect(CanvasDamage(doc, state, shown, next, surface));
  } catch (const platform::RuntimeError&) {
    return std::nullopt;  // a position past 32 bits: the paint draws nothing and says so itself
  }
}

}  // namespace velmora
