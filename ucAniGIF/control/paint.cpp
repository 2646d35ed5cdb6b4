// The host's paint, resize and hit-test notifications. The drawing itself is the renderer's
// (render/renderer.h); this file only connects it to the host surface.

#include <cmath>

#include "platform/errors.h"
#include "ucAniGIF/control/ucAniGIF.h"
#include "ucAniGIF/render/renderer.h"

namespace velmora {
namespace {

constexpr int kHitTestHit = 3;

// Rounds to the nearest whole number, halves to even (the current rounding mode is the default).
std::int32_t RoundPixels(double value) { return static_cast<std::int32_t>(std::lrint(value)); }

// Marks a resize of the control's own making for as long as the host resizes, by negating
// CanvasHeight, and takes the mark off again even when the host throws.
class OwnResizeMark {
 public:
  explicit OwnResizeMark(GifHeader& header) : header_(header) {
    header_.CanvasHeight = -header_.CanvasHeight;
  }
  ~OwnResizeMark() { header_.CanvasHeight = -header_.CanvasHeight; }
  OwnResizeMark(const OwnResizeMark&) = delete;
  OwnResizeMark& operator=(const OwnResizeMark&) = delete;

 private:
  GifHeader& header_;
};

}  // namespace

// At design time the dotted outline in the window-frame colour surrounds the control, with or
// without a GIF; the host's fill style is transparent, so the outline does not cover the frame.
//
// An offset so large that a drawing position passes 32 bits makes PaintFrame throw its overflow
// error before it draws anything. Raised out of a paint notification (or out of a timer tick that
// repaints) it would end a host that cannot take it, so the frame is simply not drawn.
//
// A clipped paint that is not our own partial repaint (a host repainting part of an exposed
// window) leaves the surface outside its clip as it was, which need not be what a complete paint
// of this frame shows: the view is then unknown until the next complete paint.
void ucAniGIF::Paint() {
  platform::HostSurface& surface = Surface();
  platform::DeviceContext& dc = surface.Dc();
  const bool equalsComplete = !dc.HasClip() || partialRepaintRunning_;
  shownView_.reset();
  try {
    PaintFrame(doc_, state_, state_.CurrentFrame, dc,
               SurfaceSize{surface.ScaleWidth(), surface.ScaleHeight()});
  } catch (const platform::RuntimeError& error) {
    if (error.Number() != platform::kErrOverflow) throw;
  }
  if (equalsComplete) shownView_ = CurrentView(state_.CurrentFrame);
  if (RunMode()) return;
  const platform::Pen previousPen =
      dc.SelectPen(platform::Pen{surface.DrawStyle(), platform::ResolveColor(surface.ForeColor())});
  const platform::Brush previousBrush = dc.SelectBrush(platform::GetStockBrush(platform::kNullBrush));
  platform::Rectangle(dc, 0, 0, RoundPixels(surface.ScaleWidth()),
                      RoundPixels(surface.ScaleHeight()));
  dc.SelectBrush(previousBrush);
  dc.SelectPen(previousPen);
}

// Quirk mended: a canvas of zero width or height makes ComputeScale fail with a division error
// (number 11). Letting it reach the host would fault the host's resize, the Stretch setter or a
// loader; instead the resize ends there, without scaling and without resizing the host.
void ucAniGIF::Resize() {
  shownView_.reset();  // the host may have reallocated or cleared the surface
  if (state_.CurrentFrame == 0 || doc_.Header.CanvasHeight < 0) return;
  platform::HostSurface& surface = Surface();
  std::int32_t w = RoundPixels(surface.ScaleWidth());
  std::int32_t h = RoundPixels(surface.ScaleHeight());
  try {
    ComputeScale(doc_.Header, state_.Stretch, state_.CurrentFrame, w, h, doc_.Header.ScaleFactorX,
                 doc_.Header.ScaleFactorY);
  } catch (const platform::RuntimeError& error) {
    if (error.Number() == platform::kErrDivisionByZero) return;
    throw;
  }
  const double widthTwips = surface.ScaleX(w, platform::kUnitPixels, platform::kUnitTwips);
  const double heightTwips = surface.ScaleY(h, platform::kUnitPixels, platform::kUnitTwips);
  const OwnResizeMark mark(doc_.Header);
  surface.Resize(widthTwips, heightTwips);
}

PaintView ucAniGIF::CurrentView(std::int32_t frame) const {
  const platform::HostSurface& surface = Surface();
  return ViewOf(doc_, state_, frame, SurfaceSize{surface.ScaleWidth(), surface.ScaleHeight()},
                RunMode());
}

void ucAniGIF::RepaintAdvance(std::int32_t previous) {
  platform::HostSurface& surface = Surface();
  std::optional<platform::Rect> damage;
  if (shownView_ && state_.CurrentFrame == previous + 1 && *shownView_ == CurrentView(previous)) {
    damage = AdvanceDamage(doc_, state_, previous,
                           SurfaceSize{surface.ScaleWidth(), surface.ScaleHeight()});
  }
  if (!damage) {
    Refresh();
    return;
  }
  struct RunningMark {
    bool& running;
    ~RunningMark() { running = false; }
  } mark{partialRepaintRunning_};
  partialRepaintRunning_ = true;
  surface.RefreshRect(damage->left, damage->top, damage->right, damage->bottom);
}

// Every point is a hit, so mouse input arrives over transparent pixels too.
int ucAniGIF::HitTest(float /*x*/, float /*y*/) { return kHitTestHit; }

}  // namespace velmora
