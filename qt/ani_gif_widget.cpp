#include "qt/ani_gif_widget.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <exception>

#include "platform/errors.h"
#include "qt/async_downloads.h"
#include "qt/beneath_cache.h"
#include "qt/qt_picture_formats.h"
#include "qt/qt_timer_service.h"

namespace velmora::qt {
namespace {

// The container measures in twips: 1440 per inch at the 96 dots per inch it assumes, whatever
// the screen's real density (Qt's logical pixels are already scaled for it).
constexpr double kTwipsPerPixel = 1440.0 / 96.0;
constexpr int kHitTestHit = 3;
constexpr int kMaxDrawStyle = 6;
constexpr std::int16_t kMaxStockPointer = 15;
constexpr std::int16_t kCustomPointer = 99;

double TwipsPerUnit(int unit, bool vertical) {
  return platform::TwipsPerUnit(unit, vertical, kTwipsPerPixel, "AniGifWidget");
}

int ClampSide(int side) { return std::clamp(side, 1, kMaxSurfaceSide); }

int PixelsFromTwips(double twips) {
  if (!std::isfinite(twips)) return 1;
  const double pixels = std::round(twips / kTwipsPerPixel);
  return static_cast<int>(std::clamp(pixels, 1.0, static_cast<double>(kMaxSurfaceSide)));
}

std::int16_t ButtonCode(Qt::MouseButtons buttons) {
  std::int16_t code = 0;
  if (buttons & Qt::LeftButton) code |= 1;
  if (buttons & Qt::RightButton) code |= 2;
  if (buttons & Qt::MiddleButton) code |= 4;
  return code;
}

std::int16_t ShiftCode(Qt::KeyboardModifiers modifiers) {
  std::int16_t code = 0;
  if (modifiers & Qt::ShiftModifier) code |= 1;
  if (modifiers & Qt::ControlModifier) code |= 2;
  if (modifiers & Qt::AltModifier) code |= 4;
  return code;
}

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
class AniGifWidget::EventBridge final : public platform::ControlEvents {
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
  void LoopsEnded() override { emit owner_.loopsEnded(); }
  void FrameChanged(std::int32_t frameIndex, bool& viaTimer) override {
    emit owner_.frameChanged(frameIndex, viaTimer);
  }
  void RemoteLoadComplete(float gifWidth, float gifHeight, bool& cancel) override {
    emit owner_.remoteLoadComplete(gifWidth, gifHeight, cancel);
  }
  void RemoteLoadFailure() override { emit owner_.remoteLoadFailure(); }

 private:
  AniGifWidget& owner_;
};

AniGifWidget::AniGifWidget(QWidget* parent, QtTimerService* timers, QNetworkAccessManager* network)
    : QWidget(parent),
      timers_(timers != nullptr ? timers : &QtTimerService::shared()),
      downloads_(std::make_unique<AsyncDownloads>(network)),
      events_(std::make_unique<EventBridge>(*this)),
      dc_(platform::CreateCompatibleDC(nullptr)) {
  downloads_->setDeliveries(
      [this](platform::AsyncProperty& property) {
        Guarded([&] { control_->AsyncReadComplete(property); });
      },
      [this](platform::AsyncProperty& property) {
        Guarded([&] { control_->AsyncReadProgress(property); });
      });
  // Every pixel is painted from the surface, which starts from what lies beneath, yet the widget
  // does not tell Qt it is opaque: Qt would then never repaint the widgets beneath where it lies,
  // and a change there would reach neither them nor the BeneathCache. Qt paints them under each
  // repaint of this widget instead (a clipped paint into the backing store, cheaper than
  // rendering them for the surface) and the cache knows those paints for its own.
  setMouseTracking(true);
  beneath_ = std::make_unique<BeneathCache>(*this);
  // The control's outline goes over a transparent fill.
  dc_->SelectBrush(platform::Brush{true, 0});
  applyPen();
  ensureSurface();
  notifiedSize_ = size();
  control_ = std::make_unique<velmora::ucAniGIF>(*this);
}

AniGifWidget::~AniGifWidget() {
  // Terminate runs first, while the surface, timers and downloads it uses still exist.
  control_.reset();
  downloads_->setDeliveries({}, {});
  dc_->SelectObject(nullptr);
}

bool AniGifWidget::loadFile(const QString& path) {
  return control_->LoadAnimatedGIF_File(path.toUtf8().toStdString());
}

bool AniGifWidget::loadBytes(const QByteArray& bytes) {
  const std::span<const std::uint8_t> span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                           static_cast<std::size_t>(bytes.size()));
  return control_->LoadAnimatedGIF_Array(ByteArrayArg::FromSpan(span));
}

void AniGifWidget::loadRemote(const QString& location) {
  control_->LoadAnimatedGIF_Remote(location.toUtf8().toStdString());
}

void AniGifWidget::readProperties(platform::PropertyBag& bag) { control_->ReadProperties(bag); }

void AniGifWidget::writeProperties(platform::PropertyBag& bag) { control_->WriteProperties(bag); }

void AniGifWidget::setLoops(int value) {
  Guarded([&] { control_->SetLoops(value); });
}

void AniGifWidget::setMousePointer(int value) {
  Guarded([&] { control_->SetMousePointer(value); });
}

// --- Surface ---

void AniGifWidget::ensureSurface() {
  const int width = ClampSide(this->width());
  const int height = ClampSide(this->height());
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

platform::DeviceContext& AniGifWidget::Dc() {
  ensureSurface();
  return *dc_;
}

double AniGifWidget::ScaleWidth() const { return ClampSide(width()); }

double AniGifWidget::ScaleHeight() const { return ClampSide(height()); }

QImage AniGifWidget::surfaceView() const {
  return QImage(surface_->Bits(), surfaceWidth_, surfaceHeight_, surface_->Stride(),
                QImage::Format_RGB32);
}

void AniGifWidget::fillWithBackground(const QRect& area) {
  // Rendering what lies beneath may deliver this widget's pending resize, which reallocates the
  // surface: the view of it is taken only afterwards.
  beneath_->prepare(QSize(surfaceWidth_, surfaceHeight_));
  QImage target = surfaceView();
  beneath_->fill(target, area);
}

// Qt takes a Format_RGB32 pixel's fourth byte as 0xFF and some of its paths read it as alpha;
// the raster layer's copies write 0 there. Setting it in place over the painted part is cheaper
// than converting a copy of the surface for each paint.
void AniGifWidget::makeOpaque(const QRect& area) {
  const QRect clipped = area & QRect(0, 0, surfaceWidth_, surfaceHeight_);
  auto* bits = static_cast<std::uint8_t*>(surface_->Bits());
  for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(bits + static_cast<std::ptrdiff_t>(y) * surface_->Stride());
    for (int x = clipped.left(); x <= clipped.right(); ++x) row[x] |= 0xFF000000u;
  }
}

void AniGifWidget::renderSurface() {
  ensureSurface();
  fillWithBackground(QRect(0, 0, surfaceWidth_, surfaceHeight_));
  const QRect all(0, 0, surfaceWidth_, surfaceHeight_);  // the surface may be new
  holdsCompletePaint_ = true;
  Guarded([&] { control_->Paint(); });
  makeOpaque(all);
}

QImage AniGifWidget::surfaceImage() const { return surfaceView().copy(); }

void AniGifWidget::paintEvent(QPaintEvent* event) {
  // After Refresh or RefreshRect the part they painted is ready. Any other paint means the
  // window was exposed or something in it changed over this widget's area: what lies beneath is
  // rendered again with the frame. While a Refresh settles the window the control must not paint
  // (it has already moved on to the frame it is about to paint; painting a frame twice would
  // apply its disposal twice): the surface is shown as it is and the Refresh paints completely.
  const QRect area = event->rect();
  if (!freshArea_.contains(area)) {
    beneath_->invalidate();
    if (settling_) {
      holdsCompletePaint_ = false;
    } else {
      renderSurface();
    }
  }
  freshArea_ = QRect();
  QPainter painter(this);
  painter.drawImage(area.topLeft(), surfaceView(), area);
}

// Qt paints everything the window has waiting whenever one widget repaints at once. A change
// beneath this widget that is still waiting would then arrive inside this widget's own repaint,
// indistinguishable from it; delivered first, it arrives as a paint of its own.
void AniGifWidget::settleWindow() {
  if (!isVisible()) return;
  settling_ = true;
  QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
  settling_ = false;
}

void AniGifWidget::showPainted(const QRect& part) {
  freshArea_ |= part;
  if (!isVisible()) return;
  const BeneathCache::OwnRepaint own(*beneath_, part);
  repaint(part);
}

void AniGifWidget::Refresh() {
  settleWindow();
  renderSurface();
  showPainted(QRect(0, 0, surfaceWidth_, surfaceHeight_));
}

void AniGifWidget::RefreshRect(int left, int top, int right, int bottom) {
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
  Guarded([&] { control_->Paint(); });
  dc_->ResetClip();
  makeOpaque(part);
  if (!part.isEmpty()) showPainted(part);
}

void AniGifWidget::resizeEvent(QResizeEvent* /*event*/) {
  ensureSurface();
  if (control_ == nullptr || size() == notifiedSize_) return;
  notifiedSize_ = size();
  Guarded([&] { control_->Resize(); });
}

void AniGifWidget::Resize(double widthTwips, double heightTwips) {
  const QSize wanted(PixelsFromTwips(widthTwips), PixelsFromTwips(heightTwips));
  // The notification below is the one the contract promises; the resize event must not repeat it.
  notifiedSize_ = wanted;
  resize(wanted);
  notifiedSize_ = size();
  ensureSurface();
  control_->Resize();
}

double AniGifWidget::ScaleX(double value, int fromUnit, int toUnit) const {
  return value * TwipsPerUnit(fromUnit, false) / TwipsPerUnit(toUnit, false);
}

double AniGifWidget::ScaleY(double value, int fromUnit, int toUnit) const {
  return value * TwipsPerUnit(fromUnit, true) / TwipsPerUnit(toUnit, true);
}

void AniGifWidget::showEvent(QShowEvent* /*event*/) {
  // What lies beneath may have changed while hidden; the first paint shown starts afresh.
  freshArea_ = QRect();
  Guarded([&] { control_->Show(); });
}

void AniGifWidget::hideEvent(QHideEvent* /*event*/) {
  Guarded([&] { control_->Hide(); });
}

// --- Pen, pointer, enabled ---

void AniGifWidget::applyPen() {
  dc_->SelectPen(platform::Pen{drawStyle_, platform::ResolveColor(foreColor_)});
}

void AniGifWidget::SetDrawStyle(int style) {
  if (style < 0 || style > kMaxDrawStyle) {
    throw platform::RuntimeError(platform::kErrInvalidPropertyValue, "AniGifWidget",
                                 "Invalid property value");
  }
  drawStyle_ = style;
  applyPen();
}

void AniGifWidget::SetForeColor(platform::ColorRef color) {
  foreColor_ = color;
  applyPen();
}

void AniGifWidget::SetEnabled(bool enabled) {
  enabled_ = enabled;
  setEnabled(enabled);
}

void AniGifWidget::SetMousePointer(std::int16_t pointer) {
  if ((pointer < 0 || pointer > kMaxStockPointer) && pointer != kCustomPointer) {
    throw platform::RuntimeError(platform::kErrInvalidPropertyValue, "AniGifWidget",
                                 "Invalid property value");
  }
  pointer_ = pointer;
  applyCursor();
}

void AniGifWidget::SetMouseIcon(platform::PictureRef icon) {
  mouseIcon_ = std::move(icon);
  applyCursor();
}

void AniGifWidget::applyCursor() {
  Qt::CursorShape shape = Qt::ArrowCursor;
  if (!cursorShapeForPointer(pointer_, shape)) {
    unsetCursor();
    return;
  }
  if (shape != Qt::BitmapCursor) {
    setCursor(shape);
    return;
  }
  const QImage icon = ImageFromPicture(mouseIcon_);
  if (icon.isNull()) {
    unsetCursor();  // a custom pointer without an icon shows the default
    return;
  }
  // Pictures carry no hot spot; an icon's is its centre.
  setCursor(QCursor(QPixmap::fromImage(icon), icon.width() / 2, icon.height() / 2));
}

// --- Mouse ---

bool AniGifWidget::hit(const QPointF& position) {
  int result = 0;
  Guarded([&] {
    result = control_->HitTest(static_cast<float>(position.x()), static_cast<float>(position.y()));
  });
  return result == kHitTestHit;
}

void AniGifWidget::mousePressEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  if (!hit(at)) {
    event->ignore();
    return;
  }
  if (event->button() == Qt::LeftButton) leftPressed_ = true;
  Guarded([&] {
    control_->MouseDownNotify(ButtonCode(event->button()), ShiftCode(event->modifiers()),
                              static_cast<float>(at.x()), static_cast<float>(at.y()));
  });
}

void AniGifWidget::mouseReleaseEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  const bool click = event->button() == Qt::LeftButton && leftPressed_ && rect().contains(at.toPoint());
  if (event->button() == Qt::LeftButton) leftPressed_ = false;
  Guarded([&] {
    control_->MouseUpNotify(ButtonCode(event->button()), ShiftCode(event->modifiers()),
                            static_cast<float>(at.x()), static_cast<float>(at.y()));
  });
  if (click) Guarded([&] { control_->ClickNotify(); });
}

void AniGifWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  Guarded([&] {
    control_->MouseMoveNotify(ButtonCode(event->buttons()), ShiftCode(event->modifiers()),
                              static_cast<float>(at.x()), static_cast<float>(at.y()));
  });
}

// --- Container ---

std::uintptr_t AniGifWidget::ParentWindow() {
  const WId id = window()->winId();
  if (id == 0) {
    throw platform::RuntimeError(438, "AniGifWidget", "Object doesn't support this property or method");
  }
  return static_cast<std::uintptr_t>(id);
}

platform::TimerService& AniGifWidget::Timers() { return *timers_; }

void AniGifWidget::PropertyChanged(std::string_view name) {
  emit propertyChanged(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}

void AniGifWidget::AsyncRead(std::string_view target, std::string_view propertyName,
                             std::uint32_t options) {
  downloads_->start(target, propertyName, options);
}

void AniGifWidget::CancelAsyncRead(std::string_view propertyName) {
  downloads_->cancel(propertyName);
}

platform::ControlEvents& AniGifWidget::Events() { return *events_; }

}  // namespace velmora::qt
