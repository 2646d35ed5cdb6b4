#include "qt/widget_host.h"

#include <QCoreApplication>
#include <QCursor>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>

#include "platform/errors.h"
#include "qt/ani_gif_widget.h"
#include "qt/async_downloads.h"
#include "qt/beneath_cache.h"
#include "qt/qt_picture_formats.h"
#include "qt/qt_timer_service.h"
#include "ucAniGIF/control/ucAniGIF.h"

namespace velmora::qt {
namespace {

// The container measures in twips: 1440 per inch at the 96 dots per inch it assumes, whatever
// the screen's real density (Qt's logical pixels are already scaled for it).
constexpr double kTwipsPerPixel = 1440.0 / 96.0;
constexpr int kMaxDrawStyle = 6;
constexpr std::int16_t kMaxStockPointer = 15;
constexpr std::int16_t kCustomPointer = 99;
constexpr const char* kSource = "AniGifWidget";

double TwipsPerUnit(int unit, bool vertical) {
  return platform::TwipsPerUnit(unit, vertical, kTwipsPerPixel, kSource);
}

int ClampSide(int side) { return std::clamp(side, 1, kMaxSurfaceSide); }

int PixelsFromTwips(double twips) {
  if (!std::isfinite(twips)) return 1;
  const double pixels = std::round(twips / kTwipsPerPixel);
  return static_cast<int>(std::clamp(pixels, 1.0, static_cast<double>(kMaxSurfaceSide)));
}

platform::RuntimeError InvalidPropertyValue() {
  return {platform::kErrInvalidPropertyValue, kSource, "Invalid property value"};
}

}  // namespace

bool cursorShapeForPointer(int pointer, Qt::CursorShape& shape) {
  switch (pointer) {
    case 1: shape = Qt::ArrowCursor; return true;
    case 2: shape = Qt::CrossCursor; return true;
    case 3: shape = Qt::IBeamCursor; return true;
    case 4: shape = Qt::ArrowCursor; return true;  // the classic "icon" pointer: a small square
    case 5: shape = Qt::SizeAllCursor; return true;
    case 6: shape = Qt::SizeBDiagCursor; return true;
    case 7: shape = Qt::SizeVerCursor; return true;
    case 8: shape = Qt::SizeFDiagCursor; return true;
    case 9: shape = Qt::SizeHorCursor; return true;
    case 10: shape = Qt::UpArrowCursor; return true;
    case 11: shape = Qt::WaitCursor; return true;
    case 12: shape = Qt::ForbiddenCursor; return true;
    case 13: shape = Qt::BusyCursor; return true;
    case 14: shape = Qt::WhatsThisCursor; return true;
    case 15: shape = Qt::SizeAllCursor; return true;
    case kCustomPointer: shape = Qt::BitmapCursor; return true;
    default: return false;
  }
}

// Turns the control's events into the widget's signals.
class WidgetHost::EventBridge final : public platform::ControlEvents {
 public:
  explicit EventBridge(AniGifWidget& owner) : owner_(owner) {}
  void Click() override { emit owner_.clicked(); }
  void MouseDown(std::int16_t& button, std::int16_t& shift, float x, float y) override {
    emit owner_.mouseDown(button, shift, x, y);
  }
  void MouseUp(std::int16_t& button, std::int16_t& shift, float x, float y) override {
    emit owner_.mouseUp(button, shift, x, y);
  }
  void MouseMove(std::int16_t& button, std::int16_t& shift, float x, float y) override {
    emit owner_.mouseMove(button, shift, x, y);
  }
  void LoopsEnded() override {
    owner_.reportChanges();
    emit owner_.loopsEnded();
  }
  void FrameChanged(std::int32_t frameIndex, bool& viaTimer) override {
    owner_.reportChanges();
    emit owner_.frameChanged(frameIndex, viaTimer);
  }
  void RemoteLoadComplete(float gifWidth, float gifHeight, bool& cancel) override {
    emit owner_.remoteLoadComplete(gifWidth, gifHeight, cancel);
  }
  void RemoteLoadFailure() override { emit owner_.remoteLoadFailure(); }

 private:
  AniGifWidget& owner_;
};

WidgetHost::WidgetHost(AniGifWidget& widget, QtTimerService& timers,
                       QNetworkAccessManager* network)
    : widget_(widget),
      timers_(timers),
      downloads_(std::make_unique<AsyncDownloads>(network)),
      events_(std::make_unique<EventBridge>(widget)),
      dc_(platform::CreateCompatibleDC(nullptr)) {
  downloads_->setDeliveries(
      [this](platform::AsyncProperty& property) {
        if (control_ == nullptr) return;
        Guarded([&] { control_->AsyncReadComplete(property); });
        widget_.reportChanges();
        widget_.updateGeometry();
      },
      [this](platform::AsyncProperty& property) {
        if (control_ != nullptr) Guarded([&] { control_->AsyncReadProgress(property); });
      });
  beneath_ = std::make_unique<BeneathCache>(widget_);
  // The control's outline goes over a transparent fill.
  dc_->SelectBrush(platform::Brush{true, 0});
  applyPen();
  ensureSurface();
  notifiedSize_ = widget_.size();
}

WidgetHost::~WidgetHost() {
  downloads_->setDeliveries({}, {});
  dc_->SelectObject(nullptr);
}

void WidgetHost::attach(ucAniGIF* control) { control_ = control; }

// --- Surface ---

void WidgetHost::ensureSurface() {
  const int width = ClampSide(widget_.width());
  const int height = ClampSide(widget_.height());
  if (surface_ && width == surfaceWidth_ && height == surfaceHeight_) return;
  // Top-down, so the rows are a QImage's rows as they are.
  auto bitmap = platform::Bitmap::Create(width, -height, 32);
  if (!bitmap) return;  // keeps the old surface; within kMaxSurfaceSide this does not happen
  dc_->SelectObject(bitmap.get());
  surface_ = std::move(bitmap);
  surfaceWidth_ = width;
  surfaceHeight_ = height;
  freshArea_ = QRect();
  holdsCompletePaint_ = false;
  // Not while constructing: rendering the parent then would only polish half-built widgets.
  if (control_ != nullptr) {
    fillWithBackground(surfaceView().rect());
    makeOpaque(surfaceView().rect());
  }
}

platform::DeviceContext& WidgetHost::Dc() {
  ensureSurface();
  return *dc_;
}

double WidgetHost::ScaleWidth() const { return ClampSide(widget_.width()); }

double WidgetHost::ScaleHeight() const { return ClampSide(widget_.height()); }

QImage WidgetHost::surfaceView() const {
  return QImage(surface_->Bits(), surfaceWidth_, surfaceHeight_, surface_->Stride(),
                QImage::Format_RGB32);
}

void WidgetHost::fillWithBackground(const QRect& area) {
  // Rendering what lies beneath may deliver this widget's pending resize, which reallocates the
  // surface: the view of it is taken only afterwards.
  beneath_->prepare(QSize(surfaceWidth_, surfaceHeight_));
  QImage target = surfaceView();
  beneath_->fill(target, area);
}

// Qt takes a Format_RGB32 pixel's fourth byte as 0xFF and some of its paths read it as alpha;
// the raster layer's copies write 0 there. Setting it in place over the painted part is cheaper
// than converting a copy of the surface for each paint.
void WidgetHost::makeOpaque(const QRect& area) {
  const QRect clipped = area & QRect(0, 0, surfaceWidth_, surfaceHeight_);
  auto* bits = static_cast<std::uint8_t*>(surface_->Bits());
  for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(bits + static_cast<std::ptrdiff_t>(y) * surface_->Stride());
    for (int x = clipped.left(); x <= clipped.right(); ++x) row[x] |= 0xFF000000u;
  }
}

void WidgetHost::renderSurface() {
  ensureSurface();
  fillWithBackground(QRect(0, 0, surfaceWidth_, surfaceHeight_));
  const QRect all(0, 0, surfaceWidth_, surfaceHeight_);  // the surface may be new
  holdsCompletePaint_ = true;
  if (control_ != nullptr) Guarded([&] { control_->Paint(); });
  makeOpaque(all);
}

QImage WidgetHost::surfaceImage() const { return surfaceView().copy(); }

void WidgetHost::paint(QPainter& painter, const QRect& area) {
  // After Refresh or RefreshRect the part they painted is ready. Any other paint means the
  // window was exposed or something in it changed over this widget's area: what lies beneath is
  // rendered again with the frame. While a Refresh settles the window the control must not paint
  // (it has already moved on to the frame it is about to paint; painting a frame twice would
  // apply its disposal twice): the surface is shown as it is and the Refresh paints completely.
  if (!freshArea_.contains(area)) {
    beneath_->invalidate();
    if (settling_) {
      holdsCompletePaint_ = false;
    } else {
      renderSurface();
    }
  }
  freshArea_ = QRect();
  const qreal ratio = widget_.devicePixelRatioF();
  if (ratio == 1.0 || !drawAtDeviceRatio(painter, area, ratio)) {
    painter.drawImage(area.topLeft(), surfaceView(), area);
  }
}

// The surface holds the control's pixels over what lies beneath, one pixel a logical pixel.
// Drawn as it is on a screen of more device pixels, everything in it would be scaled up, the
// widgets beneath too. Instead what lies beneath is drawn at the device resolution, and over it
// the control's own pixels, those that differ from what lies beneath them: scaled by a whole
// ratio, each becomes a block of device pixels exactly; by another, neighbours blend. A pixel
// the control paints in the very colour beneath it shows the sharper original of that colour.
bool WidgetHost::drawAtDeviceRatio(QPainter& painter, const QRect& area, qreal ratio) {
  const QSize device(qRound(surfaceWidth_ * ratio), qRound(surfaceHeight_ * ratio));
  const qint64 pixels = static_cast<qint64>(device.width()) * device.height();
  if (pixels > static_cast<qint64>(kMaxSurfaceSide) * kMaxSurfaceSide) return false;
  // Rendering what lies beneath may deliver a pending resize: the surface is looked at after.
  const QImage& sharp = beneath_->scaled(ratio);
  const QImage& below = beneath_->image();
  if (below.size() != QSize(surfaceWidth_, surfaceHeight_) || sharp.isNull()) return false;
  const QImage surface = surfaceView();
  const QRect part = area & surface.rect();
  QImage own(part.size(), QImage::Format_ARGB32);
  for (int y = 0; y < part.height(); ++y) {
    const auto* painted = reinterpret_cast<const QRgb*>(surface.constScanLine(part.top() + y));
    const auto* under = reinterpret_cast<const QRgb*>(below.constScanLine(part.top() + y));
    auto* out = reinterpret_cast<QRgb*>(own.scanLine(y));
    for (int x = 0; x < part.width(); ++x) {
      const QRgb pixel = painted[part.left() + x];
      const bool same = ((pixel ^ under[part.left() + x]) & 0x00FFFFFFu) == 0;
      out[x] = same ? 0u : (pixel | 0xFF000000u);
    }
  }
  const QRectF source(part.left() * ratio, part.top() * ratio, part.width() * ratio,
                      part.height() * ratio);
  painter.drawImage(QRectF(part), sharp, source);
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform, std::floor(ratio) != ratio);
  painter.drawImage(part, own);
  painter.restore();
  return true;
}

// Qt paints everything the window has waiting whenever one widget repaints at once. A change
// beneath this widget that is still waiting would then arrive inside this widget's own repaint,
// indistinguishable from it; delivered first, it arrives as a paint of its own.
void WidgetHost::settleWindow() {
  if (!widget_.isVisible()) return;
  settling_ = true;
  QCoreApplication::sendPostedEvents(widget_.window(), QEvent::UpdateRequest);
  settling_ = false;
}

void WidgetHost::showPainted(const QRect& part) {
  freshArea_ |= part;
  if (!widget_.isVisible()) return;
  const BeneathCache::OwnRepaint own(*beneath_, part);
  widget_.repaint(part);
}

void WidgetHost::Refresh() {
  settleWindow();
  renderSurface();
  showPainted(QRect(0, 0, surfaceWidth_, surfaceHeight_));
}

void WidgetHost::RefreshRect(int left, int top, int right, int bottom) {
  settleWindow();
  ensureSurface();
  // The pixels outside the part must still be those a complete paint leaves now; they are not
  // when the surface holds no complete paint or when what lies beneath changed since.
  if (!holdsCompletePaint_ || !beneath_->isValid()) {
    Refresh();
    return;
  }
  const QRect all(0, 0, surfaceWidth_, surfaceHeight_);
  // Cut to the surface in 64 bits: the control passes any 32-bit rectangle, empty ones too.
  const auto cut = [](int value, int limit) {
    return static_cast<int>(std::clamp<long long>(value, 0, limit));
  };
  const QRect part = QRect(QPoint(cut(left, surfaceWidth_), cut(top, surfaceHeight_)),
                           QPoint(cut(right, surfaceWidth_) - 1, cut(bottom, surfaceHeight_) - 1)) &
                     all;
  fillWithBackground(part);
  // An empty part still runs the paint, with everything clipped away: the control may keep
  // state between paints.
  dc_->SetClipRect(part.left(), part.top(), part.left() + part.width(), part.top() + part.height());
  if (control_ != nullptr) Guarded([&] { control_->Paint(); });
  dc_->ResetClip();
  makeOpaque(part);
  if (!part.isEmpty()) showPainted(part);
}

void WidgetHost::widgetResized() {
  ensureSurface();
  if (control_ == nullptr || widget_.size() == notifiedSize_) return;
  notifiedSize_ = widget_.size();
  Guarded([&] { control_->Resize(); });
}

void WidgetHost::Resize(double widthTwips, double heightTwips) {
  const QSize wanted(PixelsFromTwips(widthTwips), PixelsFromTwips(heightTwips));
  // The notification below is the one the contract promises; the resize event must not repeat it.
  notifiedSize_ = wanted;
  widget_.resize(wanted);
  notifiedSize_ = widget_.size();
  ensureSurface();
  if (control_ != nullptr) control_->Resize();
}

double WidgetHost::ScaleX(double value, int fromUnit, int toUnit) const {
  return value * TwipsPerUnit(fromUnit, false) / TwipsPerUnit(toUnit, false);
}

double WidgetHost::ScaleY(double value, int fromUnit, int toUnit) const {
  return value * TwipsPerUnit(fromUnit, true) / TwipsPerUnit(toUnit, true);
}

// --- Pen, pointer, enabled ---

void WidgetHost::applyPen() {
  dc_->SelectPen(platform::Pen{drawStyle_, platform::ResolveColor(foreColor_)});
}

void WidgetHost::SetDrawStyle(int style) {
  if (style < 0 || style > kMaxDrawStyle) {
    throw InvalidPropertyValue();
  }
  drawStyle_ = style;
  applyPen();
}

void WidgetHost::SetForeColor(platform::ColorRef color) {
  foreColor_ = color;
  applyPen();
}

void WidgetHost::SetEnabled(bool enabled) {
  enabled_ = enabled;
  widget_.setEnabled(enabled);
}

void WidgetHost::SetMousePointer(std::int16_t pointer) {
  if ((pointer < 0 || pointer > kMaxStockPointer) && pointer != kCustomPointer) {
    throw InvalidPropertyValue();
  }
  pointer_ = pointer;
  applyCursor();
}

void WidgetHost::SetMouseIcon(platform::PictureRef icon) {
  mouseIcon_ = std::move(icon);
  applyCursor();
}

void WidgetHost::applyCursor() {
  Qt::CursorShape shape = Qt::ArrowCursor;
  if (!cursorShapeForPointer(pointer_, shape)) {
    widget_.unsetCursor();
    return;
  }
  if (shape != Qt::BitmapCursor) {
    widget_.setCursor(shape);
    return;
  }
  const QImage icon = ImageFromPicture(mouseIcon_);
  if (icon.isNull()) {
    widget_.unsetCursor();  // a custom pointer without an icon shows the default
    return;
  }
  // Pictures carry no hot spot; an icon's is its centre.
  widget_.setCursor(QCursor(QPixmap::fromImage(icon), icon.width() / 2, icon.height() / 2));
}

// --- Container ---

std::uintptr_t WidgetHost::ParentWindow() {
  const WId id = widget_.window()->winId();
  if (id == 0) {
    throw platform::RuntimeError(438, kSource, "Object doesn't support this property or method");
  }
  return static_cast<std::uintptr_t>(id);
}

platform::TimerService& WidgetHost::Timers() { return timers_; }

void WidgetHost::PropertyChanged(std::string_view name) {
  if (control_ != nullptr) widget_.reportChanges();
  emit widget_.propertyChanged(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}

void WidgetHost::AsyncRead(std::string_view target, std::string_view propertyName,
                             std::uint32_t options) {
  downloads_->start(target, propertyName, options);
}

void WidgetHost::CancelAsyncRead(std::string_view propertyName) {
  downloads_->cancel(propertyName);
}

platform::ControlEvents& WidgetHost::Events() { return *events_; }

}  // namespace velmora::qt
