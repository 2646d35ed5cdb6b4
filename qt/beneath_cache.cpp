#include "qt/beneath_cache.h"

#include <QEvent>
#include <QMoveEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWidget>
#include <cstring>

namespace velmora::qt {
namespace {

// Rendering sends paint events to the widgets it renders; while any cache renders, the paint
// events it causes show what is already there and change nothing beneath anyone. One counter for
// all caches: everything runs on the one GUI thread.
int renderDepth = 0;

class RenderScope {
 public:
  RenderScope() { ++renderDepth; }
  ~RenderScope() { --renderDepth; }
  RenderScope(const RenderScope&) = delete;
  RenderScope& operator=(const RenderScope&) = delete;
};

}  // namespace

BeneathCache::OwnRepaint::OwnRepaint(BeneathCache& cache, const QRect& part)
    : cache_(cache), previous_(cache.ownRepaint_) {
  cache_.ownRepaint_ = part.translated(cache_.widget_.pos());
}

BeneathCache::OwnRepaint::~OwnRepaint() { cache_.ownRepaint_ = previous_; }

BeneathCache::BeneathCache(QWidget& widget) : widget_(widget) {
  widget_.installEventFilter(this);
  watchFamily();
}

BeneathCache::~BeneathCache() {
  unwatchAll();
  widget_.removeEventFilter(this);
}

bool BeneathCache::isValid() const { return valid_ && renderedArea_ == key(); }

// A window's position is on the screen, where nothing it shows comes from.
QRect BeneathCache::key() const {
  return parent_ == nullptr ? QRect(QPoint(), widget_.size()) : widget_.geometry();
}

void BeneathCache::prepare(QSize size) {
  if (rendering_ || (isValid() && image_.size() == size)) return;
  rendering_ = true;
  // Into a new image: rendering may deliver events that come back here.
  QImage image(size, QImage::Format_RGB32);
  // Valid from here: a change that rendering delivers (a pending move or resize) marks it stale.
  renderedArea_ = key();
  valid_ = true;
  render(image);
  image_ = std::move(image);
  rendering_ = false;
}

const QImage& BeneathCache::scaled(qreal ratio) {
  const QSize size(qRound(widget_.width() * ratio), qRound(widget_.height() * ratio));
  const bool held = scaledValid_ && scaledArea_ == key() && scaled_.size() == size &&
                    scaled_.devicePixelRatio() == ratio;
  if (rendering_ || held) return scaled_;
  rendering_ = true;
  QImage image(size, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  // Valid from here: a change that rendering delivers marks it stale.
  scaledArea_ = key();
  scaledValid_ = true;
  render(image);
  scaled_ = std::move(image);
  rendering_ = false;
  return scaled_;
}

void BeneathCache::fill(QImage& target, const QRect& area) {
  const QRect clipped = area & target.rect();
  if (clipped.isEmpty()) return;
  prepare(target.size());
  if (image_.size() != target.size()) {
    // Only while this cache renders and a paint that the rendering set off comes back here:
    // the parent's colour stands in this once.
    QWidget* below = parent_ != nullptr ? parent_.data() : &widget_;
    QPainter(&target).fillRect(clipped, below->palette().window());
    return;
  }
  const qsizetype rowBytes = static_cast<qsizetype>(clipped.width()) * 4;
  const qsizetype offset = static_cast<qsizetype>(clipped.left()) * 4;
  for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
    std::memcpy(target.scanLine(y) + offset, image_.constScanLine(y) + offset,
                static_cast<std::size_t>(rowBytes));
  }
}

void BeneathCache::render(QImage& image) {
  const RenderScope scope;
  const QRect area = widget_.geometry();
  ++renderCount_;
  QPainter painter(&image);
  if (parent_ == nullptr) {
    painter.fillRect(image.rect(), widget_.palette().window());
    return;
  }
  // The parent's background and its own painting, then every visible sibling stacked below the
  // widget (the parent's children are kept bottom first), each with its children. Siblings
  // above are not beneath.
  painter.fillRect(image.rect(), parent_->palette().window());
  parent_->render(&painter, QPoint(), QRegion(area), QWidget::DrawWindowBackground);
  for (QObject* object : parent_->children()) {
    if (object == &widget_) break;
    if (!object->isWidgetType()) continue;
    auto* sibling = static_cast<QWidget*>(object);
    if (sibling->isWindow() || !sibling->isVisible()) continue;
    const QRect overlap = sibling->geometry() & area;
    if (overlap.isEmpty()) continue;
    // A child widget shows its background only when it fills it itself, as on screen.
    const QWidget::RenderFlags flags =
        sibling->autoFillBackground() ? QWidget::DrawWindowBackground | QWidget::DrawChildren
                                      : QWidget::RenderFlags(QWidget::DrawChildren);
    sibling->render(&painter, overlap.topLeft() - area.topLeft(),
                    QRegion(overlap.translated(-sibling->pos())), flags);
  }
}

void BeneathCache::watchFamily() {
  unwatchAll();
  valid_ = false;
  parent_ = widget_.isWindow() ? nullptr : widget_.parentWidget();
  if (parent_ == nullptr) return;
  parent_->installEventFilter(this);
  watched_.emplace_back(parent_);
  for (QObject* object : parent_->children()) {
    if (object != &widget_ && object->isWidgetType()) watchTree(static_cast<QWidget*>(object));
  }
}

void BeneathCache::watchTree(QWidget* root) {
  if (root == &widget_) return;
  root->installEventFilter(this);
  watched_.emplace_back(root);
  for (QObject* object : root->children()) {
    if (object->isWidgetType()) watchTree(static_cast<QWidget*>(object));
  }
}

void BeneathCache::unwatchAll() {
  for (const QPointer<QWidget>& watched : watched_) {
    if (watched != nullptr) watched->removeEventFilter(this);
  }
  watched_.clear();
}

bool BeneathCache::isBelowWidget(const QWidget* watched) const {
  if (watched == parent_) return true;
  const QWidget* sibling = watched;
  while (sibling->parentWidget() != parent_) sibling = sibling->parentWidget();
  const QObjectList& order = parent_->children();
  return order.indexOf(sibling) < order.indexOf(&widget_);
}

bool BeneathCache::coversArea(const QWidget* watched, const QRect& rectInParent) const {
  return rectInParent.intersects(widget_.geometry()) && isBelowWidget(watched);
}

bool BeneathCache::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == &widget_) {
    switch (type) {
      case QEvent::ParentChange: watchFamily(); break;
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::Show:
      case QEvent::ZOrderChange:
      case QEvent::PaletteChange: invalidate(); break;
      default: break;
    }
    return false;
  }
  auto* widget = static_cast<QWidget*>(watched);  // only widgets are watched
  // A widget that has left the family since it was watched (re-parented elsewhere) is no longer
  // beneath; its events are ignored until the family is watched afresh.
  if (parent_ == nullptr || (widget != parent_ && !parent_->isAncestorOf(widget))) return false;
  const QPoint offset = widget == parent_ ? QPoint() : widget->mapTo(parent_, QPoint());
  const QRect now(offset, widget->size());
  switch (type) {
    case QEvent::Paint: {
      if (renderDepth > 0 || !valid_) break;
      const QRegion painted = static_cast<QPaintEvent*>(event)->region().translated(offset);
      if (ownRepaint_.contains(painted.boundingRect())) break;
      if (painted.intersects(widget_.geometry()) && isBelowWidget(widget)) invalidate();
      break;
    }
    case QEvent::Move: {
      if (widget == parent_) break;  // the whole family moves together
      const auto* move = static_cast<QMoveEvent*>(event);
      const QRect before = now.translated(move->oldPos() - move->pos());
      if (coversArea(widget, now) || coversArea(widget, before)) invalidate();
      break;
    }
    case QEvent::Resize: {
      const QRect before(offset, static_cast<QResizeEvent*>(event)->oldSize());
      if (widget == parent_ || coversArea(widget, now) || coversArea(widget, before)) invalidate();
      break;
    }
    case QEvent::Show:
    case QEvent::Hide:
      if (coversArea(widget, now)) invalidate();
      break;
    case QEvent::ZOrderChange:
      // It may have come from above: it lies beneath now, or it did before.
      if (widget == parent_ || now.intersects(widget_.geometry())) invalidate();
      break;
    case QEvent::ChildAdded: {
      QObject* child = static_cast<QChildEvent*>(event)->child();
      if (child->isWidgetType()) watchTree(static_cast<QWidget*>(child));
      invalidate();
      break;
    }
    case QEvent::ChildRemoved:
    case QEvent::PaletteChange:
    case QEvent::StyleChange: invalidate(); break;
    default: break;
  }
  return false;
}

}  // namespace velmora::qt
