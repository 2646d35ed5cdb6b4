#pragma once
// AniGifWidget: a QWidget hosting one ucAniGIF control.
//
// The widget is the control's container and host surface:
//   - run mode by default (setDesignMode(true) switches the ambient flag; it is read at the
//     moment of use, so set it before loading);
//   - the surface is a 32-bit top-down bitmap of the widget's size, selected into a device
//     context. Every paint of the control starts from what lies beneath the widget (the parent's
//     background and the siblings stacked below it, as they paint themselves; kept in a
//     BeneathCache between paints), so transparent GIF pixels show the window behind; then the
//     control paints; then the surface is drawn;
//   - Refresh paints at once (the control's Paint runs before it returns, visible or not, and
//     the result reaches the screen through repaint()); RefreshRect does the same for a part of
//     the surface, clearing only that part and clipping the paint to it, and puts only that part
//     on screen. It repaints everything instead when the surface holds no complete paint (new,
//     resized) or when what lies beneath has changed since the last paint. Any other paint
//     event (an expose, a change over the widget's area) takes what lies beneath afresh and runs
//     the control's paint. Resize takes twips, 15 per pixel;
//   - the widget, and so its surface, is at most 8192 x 8192 pixels (kMaxSurfaceSide): Resize
//     clamps each side to 1..8192, and a GIF larger than that is shown cropped to the part the
//     widget covers, as any picture larger than its widget is. Tools that must render whole
//     frames use the headless host, which is bounded only by the raster layer's memory bound;
//   - show, hide, resize, mouse press, release, move and click reach the control; buttons map to
//     1 left, 2 right, 4 middle and modifiers to 1 Shift, 2 Ctrl, 4 Alt. A click is a left press
//     and release both over the widget; it follows MouseUp;
//   - timers run on a QtTimerService (by default the shared one), keyed by the top-level
//     window's native handle; asynchronous reads run through AsyncDownloads;
//   - MousePointer 0..15 and 99 become Qt cursors (cursorShapeForPointer), 99 using MouseIcon.
//
// The control's properties are Qt properties here and its events Qt signals, emitted while the
// control raises them (direct connections see by-reference arguments such as `cancel`).

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "platform/container.h"
#include "ucAniGIF/control/ucAniGIF.h"

class QByteArray;
class QNetworkAccessManager;

namespace velmora::qt {

class AsyncDownloads;
class BeneathCache;
class QtTimerService;

// The largest side of the widget's surface, in pixels; 8192 x 8192 x 4 bytes stays within the
// raster layer's bound.
inline constexpr int kMaxSurfaceSide = 8192;

// The Qt cursor for a classic pointer number: 1 arrow, 2 cross, 3 I-beam, 4 icon, 5 size, 6 size NE-SW,
// 7 size N-S, 8 size NW-SE, 9 size W-E, 10 up arrow, 11 hourglass, 12 no drop, 13 arrow and
// hourglass, 14 arrow and question mark, 15 size all, 99 custom (Qt::BitmapCursor).
// Returns false for 0 (default: the widget unsets its cursor and shows its parent's) and for
// unknown numbers.
bool cursorShapeForPointer(int pointer, Qt::CursorShape& shape);

class AniGifWidget : public QWidget, public platform::Container, public platform::HostSurface {
  Q_OBJECT
  Q_PROPERTY(int currentFrame READ currentFrame)
  Q_PROPERTY(int frameCount READ frameCount)
  Q_PROPERTY(int actualWidth READ actualWidth)
  Q_PROPERTY(int actualHeight READ actualHeight)
  Q_PROPERTY(int stretch READ stretch WRITE setStretch)
  Q_PROPERTY(int minFrameDelay READ minFrameDelay WRITE setMinFrameDelay)
  Q_PROPERTY(int loops READ loops WRITE setLoops)
  Q_PROPERTY(int loopsRemaining READ loopsRemaining)
  Q_PROPERTY(int mirrored READ mirrored WRITE setMirrored)
  Q_PROPERTY(int action READ action WRITE setAction)
  Q_PROPERTY(int delayAnimation READ delayAnimation WRITE setDelayAnimation)
  Q_PROPERTY(int mousePointer READ mousePointer WRITE setMousePointer)
  Q_PROPERTY(int offsetX READ offsetX WRITE setOffsetX)
  Q_PROPERTY(int offsetY READ offsetY WRITE setOffsetY)
  Q_PROPERTY(uint solidBkgColor READ solidBkgColor WRITE setSolidBkgColor)
  Q_PROPERTY(bool solidBkgColorUsed READ solidBkgColorUsed WRITE setSolidBkgColorUsed)
  Q_PROPERTY(int steppedDelay READ steppedDelay WRITE setSteppedDelay)
  Q_PROPERTY(bool designMode READ designMode WRITE setDesignMode)

 public:
  // `timers` and `network` are not owned and must outlive the widget; null uses
  // QtTimerService::shared() and AsyncDownloads::sharedManager().
  explicit AniGifWidget(QWidget* parent = nullptr, QtTimerService* timers = nullptr,
                        QNetworkAccessManager* network = nullptr);
  ~AniGifWidget() override;

  velmora::ucAniGIF& control() { return *control_; }
  const velmora::ucAniGIF& control() const { return *control_; }
  // The widget's own downloads (limits can be changed there).
  AsyncDownloads& downloads() { return *downloads_; }

  // --- Loading and persistence ---
  bool loadFile(const QString& path);
  bool loadBytes(const QByteArray& bytes);
  void loadRemote(const QString& location);  // outcome: remoteLoadComplete / remoteLoadFailure
  void readProperties(platform::PropertyBag& bag);
  void writeProperties(platform::PropertyBag& bag);

  // --- Qt properties ---
  int currentFrame() const { return control_->CurrentFrame(); }
  int frameCount() const { return control_->FrameCount(); }
  int actualWidth() const { return control_->ActualWidth(); }
  int actualHeight() const { return control_->ActualHeight(); }
  int stretch() const { return control_->Stretch(); }
  void setStretch(int value) { control_->SetStretch(value); }
  int minFrameDelay() const { return control_->MinFrameDelay(); }
  void setMinFrameDelay(int value) { control_->SetMinFrameDelay(value); }
  int loops() const { return control_->Loops(); }
  void setLoops(int value);
  int loopsRemaining() const { return control_->LoopsRemaining(); }
  int mirrored() const { return control_->Mirrored(); }
  void setMirrored(int value) { control_->SetMirrored(value); }
  int action() const { return control_->Action(); }
  void setAction(int value) { control_->SetAction(value); }
  int delayAnimation() const { return control_->DelayAnimation(); }
  void setDelayAnimation(int value) { control_->SetDelayAnimation(value); }
  int mousePointer() const { return control_->MousePointer(); }
  void setMousePointer(int value);
  int offsetX() const { return control_->OffsetX(); }
  void setOffsetX(int value) { control_->SetOffsetX(value); }
  int offsetY() const { return control_->OffsetY(); }
  void setOffsetY(int value) { control_->SetOffsetY(value); }
  uint solidBkgColor() const { return control_->SolidBkgColor(); }
  void setSolidBkgColor(uint value) { control_->SetSolidBkgColor(value); }
  bool solidBkgColorUsed() const { return control_->SolidBkgColorUsed(); }
  void setSolidBkgColorUsed(bool value) { control_->SetSolidBkgColorUsed(value); }
  int steppedDelay() const { return control_->SteppedDelay(); }
  void setSteppedDelay(int value) { control_->SetSteppedDelay(value); }
  bool designMode() const { return !userMode_; }
  void setDesignMode(bool design) { userMode_ = !design; }

  // The surface as last painted (a copy), for tests and screenshots.
  QImage surfaceImage() const;
  // Paints the control into the surface (background first) without touching the screen.
  void renderSurface();
  // What lies beneath the widget, as its paints take it (for tests and diagnostics).
  const BeneathCache& beneath() const { return *beneath_; }

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

 signals:
  // The control's change notice: its saved properties are out of date ("Stretch", "Delay", ...).
  void propertyChanged(const QString& name);
  void clicked();
  void mouseDown(int button, int shift, float x, float y);
  void mouseUp(int button, int shift, float x, float y);
  void mouseMove(int button, int shift, float x, float y);
  void loopsEnded();
  void frameChanged(int frameIndex, bool viaTimer);
  // Set `cancel` (direct connections only) to keep the GIF shown before.
  void remoteLoadComplete(float gifWidth, float gifHeight, bool& cancel);
  void remoteLoadFailure();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

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
  // Delivers the window's waiting update requests.
  void settleWindow();
  // Puts `part` of the surface on screen (at once, when visible).
  void showPainted(const QRect& part);
  void applyPen();
  void applyCursor();
  bool hit(const QPointF& position);

  bool userMode_ = true;
  QtTimerService* timers_;
  std::unique_ptr<AsyncDownloads> downloads_;
  std::unique_ptr<EventBridge> events_;

  std::unique_ptr<platform::DeviceContext> dc_;
  std::unique_ptr<platform::Bitmap> surface_;
  int surfaceWidth_ = 0;
  int surfaceHeight_ = 0;
  QSize notifiedSize_;
  std::unique_ptr<BeneathCache> beneath_;
  // The part of the surface that Refresh or RefreshRect painted for the screen; a paintEvent
  // within it only shows the surface, any other repaints it.
  QRect freshArea_;
  bool holdsCompletePaint_ = false;  // since the last reallocation
  bool settling_ = false;            // inside settleWindow
  bool leftPressed_ = false;

  bool enabled_ = true;
  std::int16_t pointer_ = 0;
  platform::PictureRef mouseIcon_;
  int drawStyle_ = platform::kPenSolid;
  platform::ColorRef foreColor_ = 0x80000012;  // the system's button-text colour

  std::unique_ptr<velmora::ucAniGIF> control_;  // last: built on everything above
};

}  // namespace velmora::qt
