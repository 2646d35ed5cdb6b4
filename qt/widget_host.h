#pragma once
// WidgetHost: the container and host surface that an AniGifWidget gives its ucAniGIF control.
// The widget owns one and forwards its Qt events to it; everything the control asks of its host
// lands here.
//
//   - Run mode by default (the widget's designMode switches the ambient flag; it is read at the
//     moment of use, so set it before loading).
//   - The surface is a 32-bit top-down bitmap of the widget's size, selected into a device
//     context. Every paint of the control starts from what lies beneath the widget (the parent's
//     background and the siblings stacked below it, as they paint themselves; kept in a
//     BeneathCache between paints), so transparent GIF pixels show the window behind; then the
//     control paints; then the surface is drawn. On a screen whose device pixel ratio is not 1,
//     what lies beneath is drawn at the device resolution and the control's own pixels scaled
//     over it (whole ratios repeat each pixel exactly).
//   - Refresh paints at once (the control's Paint runs before it returns, visible or not, and
//     the result reaches the screen through repaint()); RefreshRect does the same for a part of
//     the surface, clearing only that part and clipping the paint to it, and puts only that part
//     on screen. It repaints everything instead when the surface holds no complete paint (new,
//     resized) or when what lies beneath has changed since the last paint. Any other paint
//     event (an expose, a change over the widget's area) takes what lies beneath afresh and runs
//     the control's paint.
//   - Resize takes twips, 15 per pixel. The widget, and so its surface, is at most
//     kMaxSurfaceSide pixels a side: Resize clamps each side to 1..8192, and a GIF larger than
//     that is shown cropped to the part the widget covers, as any picture larger than its widget
//     is. Tools that must render whole frames use the headless host, which is bounded only by the
//     raster layer's memory bound.
//   - Timers run on a QtTimerService, keyed by the top-level window's native handle;
//     asynchronous reads run through AsyncDownloads; the control's events become the widget's
//     signals, emitted while the control raises them.
//   - MousePointer 0..15 and 99 become Qt cursors (cursorShapeForPointer), 99 using MouseIcon.

#include <QImage>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <exception>
#include <memory>
#include <string_view>

#include "platform/container.h"

class QNetworkAccessManager;
class QPainter;

namespace velmora {
class ucAniGIF;
}

namespace velmora::qt {

class AniGifWidget;
class AsyncDownloads;
class BeneathCache;
class QtTimerService;

// The largest side of the widget's surface, in pixels; 8192 x 8192 x 4 bytes stays within the
// raster layer's bound.
inline constexpr int kMaxSurfaceSide = 8192;

// The Qt cursor for a classic pointer number: 1 arrow, 2 cross, 3 I-beam, 4 icon, 5 size, 6 size
// NE-SW, 7 size N-S, 8 size NW-SE, 9 size W-E, 10 up arrow, 11 hourglass, 12 no drop, 13 arrow
// and hourglass, 14 arrow and question mark, 15 size all, 99 custom (Qt::BitmapCursor).
// Returns false for 0 (default: the widget unsets its cursor and shows its parent's) and for
// unknown numbers.
bool cursorShapeForPointer(int pointer, Qt::CursorShape& shape);

// Exceptions must not cross Qt's event dispatching. The control leaves errors in its paint, timer
// and input handling to the container; this container drops them: the surface keeps what was
// painted before the error, and the next event starts afresh.
template <typename Action>
void Guarded(Action&& action) {
  try {
    action();
  } catch (const std::exception&) {
    // Dropped: see above.
  }
}

class WidgetHost final : public platform::Container, public platform::HostSurface {
 public:
  // `widget` owns the host and outlives it; `network` may be null (the shared manager).
  WidgetHost(AniGifWidget& widget, QtTimerService& timers, QNetworkAccessManager* network);
  ~WidgetHost() override;
  WidgetHost(const WidgetHost&) = delete;
  WidgetHost& operator=(const WidgetHost&) = delete;

  // The control notifications go to; null before the widget has built it and while it goes.
  void attach(ucAniGIF* control);

  AsyncDownloads& downloads() { return *downloads_; }
  const BeneathCache& beneath() const { return *beneath_; }
  void setUserMode(bool userMode) { userMode_ = userMode; }

  // The surface as last painted (a copy).
  QImage surfaceImage() const;
  // Paints the control into the surface (background first) without touching the screen.
  void renderSurface();

  // --- The widget's events ---
  // Draws `area` of the surface with `painter`, painting it first unless Refresh or RefreshRect
  // just did.
  void paint(QPainter& painter, const QRect& area);
  // The widget has its new size: the surface follows, and the control hears of a size it was not
  // told of by Resize.
  void widgetResized();
  // What lies beneath may have changed while hidden: the first paint shown starts afresh.
  void widgetShown() { freshArea_ = QRect(); }

  // --- platform::Container ---
  bool UserMode() const override { return userMode_; }
  platform::HostSurface& Surface() override { return *this; }
  std::uintptr_t ParentWindow() override;  // the top-level window's winId()
  platform::TimerService& Timers() override;
  void PropertyChanged(std::string_view name) override;
  void AsyncRead(std::string_view target, std::string_view propertyName,
                 std::uint32_t options) override;
  void CancelAsyncRead(std::string_view propertyName) override;
  platform::ControlEvents& Events() override;

  // --- platform::HostSurface ---
  // The surface follows the widget's size, also while the widget is hidden (Qt delivers a hidden
  // widget's resize events only when it is shown).
  platform::DeviceContext& Dc() override;
  double ScaleWidth() const override;
  double ScaleHeight() const override;
  // Unit codes 0 and 3 pixels, 1 twips, 2 points, 4 characters, 5 inches, 6 millimetres,
  // 7 centimetres, 9 and 10 twips; another code throws RuntimeError 5.
  double ScaleX(double value, int fromUnit, int toUnit) const override;
  double ScaleY(double value, int fromUnit, int toUnit) const override;
  void Resize(double widthTwips, double heightTwips) override;
  void Refresh() override;
  void RefreshRect(int left, int top, int right, int bottom) override;
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override;
  std::int16_t MousePointer() const override { return pointer_; }
  void SetMousePointer(std::int16_t pointer) override;  // 0..15 and 99, else RuntimeError 380
  platform::PictureRef MouseIcon() const override { return mouseIcon_; }
  void SetMouseIcon(platform::PictureRef icon) override;
  int DrawStyle() const override { return drawStyle_; }
  void SetDrawStyle(int style) override;  // 0..6, else RuntimeError 380
  platform::ColorRef ForeColor() const override { return foreColor_; }
  void SetForeColor(platform::ColorRef color) override;

 private:
  class EventBridge;

  // Reallocates the surface when the widget's size differs from it; a new surface starts from
  // what lies beneath.
  void ensureSurface();
  // The surface as an image over the same pixels (no copy).
  QImage surfaceView() const;
  // Copies what lies beneath into `area` of the surface.
  void fillWithBackground(const QRect& area);
  // Sets the fourth byte of every pixel in `area`, which the raster layer's copies leave 0.
  void makeOpaque(const QRect& area);
  // Draws `area` of the surface at device pixel ratio `ratio` (see the source); false when it
  // cannot (too large, nothing beneath cached), and the caller draws the surface as it is.
  bool drawAtDeviceRatio(QPainter& painter, const QRect& area, qreal ratio);
  // Delivers the window's waiting update requests.
  void settleWindow();
  // Puts `part` of the surface on screen (at once, when visible).
  void showPainted(const QRect& part);
  void applyPen();
  void applyCursor();

  AniGifWidget& widget_;
  ucAniGIF* control_ = nullptr;
  bool userMode_ = true;
  QtTimerService& timers_;
  std::unique_ptr<AsyncDownloads> downloads_;
  std::unique_ptr<EventBridge> events_;

  std::unique_ptr<platform::DeviceContext> dc_;
  std::unique_ptr<platform::Bitmap> surface_;
  int surfaceWidth_ = 0;
  int surfaceHeight_ = 0;
  QSize notifiedSize_;
  std::unique_ptr<BeneathCache> beneath_;
  // The part of the surface that Refresh or RefreshRect painted for the screen; a paint event
  // within it only shows the surface, any other repaints it.
  QRect freshArea_;
  bool holdsCompletePaint_ = false;  // since the last reallocation
  bool settling_ = false;            // inside settleWindow

  bool enabled_ = true;
  std::int16_t pointer_ = 0;
  platform::PictureRef mouseIcon_;
  int drawStyle_ = platform::kPenSolid;
  platform::ColorRef foreColor_ = 0x80000012;  // the system's button-text colour
};

}  // namespace velmora::qt
