#include "qt/ani_gif_widget.h"

#include <QByteArray>
#include <QMouseEvent>
#include <QPainter>
#include <span>

#include "qt/async_downloads.h"
#include "qt/qt_timer_service.h"

namespace velmora::qt {
namespace {

constexpr int kHitTestHit = 3;

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
}

AniGifWidget::~AniGifWidget() {
  // Terminate runs first, while the surface, timers and downloads it uses still exist; no
  // notification reaches the control once its destruction has begun.
  host_->attach(nullptr);
  control_.reset();
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
