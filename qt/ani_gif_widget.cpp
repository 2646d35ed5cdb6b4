#include "qt/ani_gif_widget.h"

#include <QByteArray>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <span>
#include <utility>

#include "platform/files.h"

#include "qt/async_downloads.h"
#include "qt/qt_timer_service.h"

namespace velmora::qt {
namespace {

constexpr int kHitTestHit = 3;
constexpr int kDefaultSide = 32;
// The control refuses larger files itself (platform/files.h); nothing larger is read here either.
constexpr qint64 kMaxGifFileBytes = platform::kMaxFileBytes;

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

}  // namespace

AniGifWidget::AniGifWidget(QWidget* parent, QtTimerService* timers, QNetworkAccessManager* network)
    : QWidget(parent),
      host_(std::make_unique<WidgetHost>(
          *this, timers != nullptr ? *timers : QtTimerService::shared(), network)) {
  // Every pixel is painted from the surface, which starts from what lies beneath, yet the widget
  // does not tell Qt it is opaque: Qt would then never repaint the widgets beneath where it lies,
  // and a change there would reach neither them nor the BeneathCache. Qt paints them under each
  // repaint of this widget instead (a clipped paint into the backing store, cheaper than
  // rendering them for the surface) and the cache knows those paints for its own.
  setMouseTracking(true);
  control_ = std::make_unique<velmora::ucAniGIF>(*host_);
  host_->attach(control_.get());
  reported_ = current();
}

AniGifWidget::~AniGifWidget() {
  // Terminate runs first, while the surface, timers and downloads it uses still exist; no
  // notification reaches the control once its destruction has begun.
  host_->attach(nullptr);
  control_.reset();
}

bool AniGifWidget::loadFile(const QString& path) {
  QFile file(path);
  // Read here rather than by the control, so that gifData can give the file back; the control
  // refuses what it cannot load either way.
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxGifFileBytes) {
    gif_.clear();
    return loadGif({});
  }
  return loadGif(file.readAll());
}

bool AniGifWidget::loadBytes(const QByteArray& bytes) { return loadGif(bytes); }

bool AniGifWidget::loadGif(QByteArray bytes) {
  gif_ = std::move(bytes);
  const std::span<const std::uint8_t> span(reinterpret_cast<const std::uint8_t*>(gif_.constData()),
                                           static_cast<std::size_t>(gif_.size()));
  bool loaded = false;
  change([&] { loaded = control_->LoadAnimatedGIF_Array(ByteArrayArg::FromSpan(span)); });
  if (!loaded) gif_.clear();
  updateGeometry();
  emit gifDataChanged();
  return loaded;
}

void AniGifWidget::loadRemote(const QString& location) {
  change([&] { control_->LoadAnimatedGIF_Remote(location.toUtf8().toStdString()); });
}

void AniGifWidget::readProperties(platform::PropertyBag& bag) {
  change([&] { control_->ReadProperties(bag); });
  updateGeometry();
}

void AniGifWidget::writeProperties(platform::PropertyBag& bag) { control_->WriteProperties(bag); }

QSize AniGifWidget::sizeHint() const {
  const GifHeader& header = control_->Document().Header;
  if (control_->FrameCount() == 0 || header.CanvasWidth < 1) return {kDefaultSide, kDefaultSide};
  return {std::min(header.CanvasWidth, kMaxSurfaceSide),
          std::min(std::abs(header.CanvasHeight), kMaxSurfaceSide)};
}

template <typename Change>
void AniGifWidget::change(Change&& change) {
  Guarded(std::forward<Change>(change));
  reportChanges();
}

void AniGifWidget::setStretch(Stretch value) { change([&] { control_->SetStretch(value); }); }
void AniGifWidget::setMinFrameDelay(int value) {
  change([&] { control_->SetMinFrameDelay(value); });
}
void AniGifWidget::setLoops(int value) { change([&] { control_->SetLoops(value); }); }
void AniGifWidget::setMirrored(Mirror value) { change([&] { control_->SetMirrored(value); }); }
void AniGifWidget::setAction(Action value) { change([&] { control_->SetAction(value); }); }
void AniGifWidget::setDelayAnimation(int value) {
  change([&] { control_->SetDelayAnimation(value); });
}
void AniGifWidget::setMousePointer(int value) { change([&] { control_->SetMousePointer(value); }); }
void AniGifWidget::setOffsetX(int value) { change([&] { control_->SetOffsetX(value); }); }
void AniGifWidget::setOffsetY(int value) { change([&] { control_->SetOffsetY(value); }); }
void AniGifWidget::setSolidBkgColor(uint value) {
  change([&] { control_->SetSolidBkgColor(value); });
}
void AniGifWidget::setSolidBkgColorUsed(bool value) {
  change([&] { control_->SetSolidBkgColorUsed(value); });
}
void AniGifWidget::setSteppedDelay(int value) { change([&] { control_->SetSteppedDelay(value); }); }
void AniGifWidget::setDesignMode(bool design) { change([&] { host_->setUserMode(!design); }); }

void AniGifWidget::setGifData(const QString& base64) {
  const QByteArray bytes = QByteArray::fromBase64(base64.toLatin1());
  if (bytes == gif_ && !gif_.isEmpty()) return;
  loadGif(bytes);
}

AniGifWidget::Reported AniGifWidget::current() const {
  Reported r;
  r.currentFrame = currentFrame();
  r.frameCount = frameCount();
  r.actualWidth = actualWidth();
  r.actualHeight = actualHeight();
  r.stretch = stretch();
  r.minFrameDelay = minFrameDelay();
  r.loops = loops();
  r.loopsRemaining = loopsRemaining();
  r.mirrored = mirrored();
  r.action = action();
  r.delayAnimation = delayAnimation();
  r.mousePointer = mousePointer();
  r.offsetX = offsetX();
  r.offsetY = offsetY();
  r.steppedDelay = steppedDelay();
  r.solidBkgColor = solidBkgColor();
  r.solidBkgColorUsed = solidBkgColorUsed();
  r.designMode = designMode();
  return r;
}

void AniGifWidget::reportChanges() {
  const Reported now = current();
  const Reported was = std::exchange(reported_, now);
  if (now.currentFrame != was.currentFrame) emit currentFrameChanged(now.currentFrame);
  if (now.frameCount != was.frameCount) emit frameCountChanged(now.frameCount);
  if (now.actualWidth != was.actualWidth || now.actualHeight != was.actualHeight) {
    emit actualSizeChanged();
  }
  if (now.stretch != was.stretch) emit stretchChanged(static_cast<Stretch>(now.stretch));
  if (now.minFrameDelay != was.minFrameDelay) emit minFrameDelayChanged(now.minFrameDelay);
  if (now.loops != was.loops) emit loopsChanged(now.loops);
  if (now.loopsRemaining != was.loopsRemaining) emit loopsRemainingChanged(now.loopsRemaining);
  if (now.mirrored != was.mirrored) emit mirroredChanged(static_cast<Mirror>(now.mirrored));
  if (now.action != was.action) emit actionChanged(static_cast<Action>(now.action));
  if (now.delayAnimation != was.delayAnimation) emit delayAnimationChanged(now.delayAnimation);
  if (now.mousePointer != was.mousePointer) emit mousePointerChanged(now.mousePointer);
  if (now.offsetX != was.offsetX) emit offsetXChanged(now.offsetX);
  if (now.offsetY != was.offsetY) emit offsetYChanged(now.offsetY);
  if (now.solidBkgColor != was.solidBkgColor) emit solidBkgColorChanged(now.solidBkgColor);
  if (now.solidBkgColorUsed != was.solidBkgColorUsed) {
    emit solidBkgColorUsedChanged(now.solidBkgColorUsed);
  }
  if (now.steppedDelay != was.steppedDelay) emit steppedDelayChanged(now.steppedDelay);
  if (now.designMode != was.designMode) emit designModeChanged(now.designMode);
}

void AniGifWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  host_->paint(painter, event->rect());
}

void AniGifWidget::resizeEvent(QResizeEvent* /*event*/) { host_->widgetResized(); }

void AniGifWidget::showEvent(QShowEvent* /*event*/) {
  host_->widgetShown();
  Guarded([&] { control_->Show(); });
}

void AniGifWidget::hideEvent(QHideEvent* /*event*/) {
  Guarded([&] { control_->Hide(); });
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

}  // namespace velmora::qt
