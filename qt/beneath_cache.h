#pragma once
// BeneathCache: what lies beneath a child widget, kept between its paints.
//
// A widget that shows its window through some of its pixels (AniGifWidget, through transparent
// GIF pixels) starts each paint from the pixels its parent and the siblings stacked below it
// would show in its place. Rendering those widgets costs a paint of each of them, every frame;
// this keeps the result for the widget's geometry and renders again only after something beneath
// may have changed:
//   - the widget moves, resizes, gets another parent or changes its place in the stacking order;
//   - the parent paints any part of the widget's area, resizes, or gains or loses a child;
//   - a sibling, or any descendant of one, paints any part of the widget's area; or moves,
//     resizes, shows, hides or changes its stacking order over or away from it.
// Paint events that rendering for a cache causes are not changes (they paint what is there).
//
// The widget must not be opaque to Qt (Qt::WA_OpaquePaintEvent): Qt never repaints what lies
// under an opaque widget, so a change there would show in no paint event. A widget that is not
// opaque has the widgets beneath repainted under each of its own repaints; its owner marks those
// with OwnRepaint. A change that shows only as a paint of the widget itself (an expose) is the
// owner's to report with invalidate().
//
// A widget that is a window itself, or has no parent, has only its own palette's window colour
// beneath it; the cache follows its size and palette.
//
// On a screen with more device pixels than logical ones the same may be kept a second time at
// the device resolution (scaled()), so what shows through the widget stays as sharp as the
// widgets beneath paint it; both copies are forgotten together.

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <vector>

class QWidget;

namespace velmora::qt {

class BeneathCache final : public QObject {
 public:
  // Watches `widget` (which must outlive the cache), its parent and its siblings from now on.
  explicit BeneathCache(QWidget& widget);
  ~BeneathCache() override;

  // Renders what lies beneath the whole widget, into an image of `size` (the widget's, or its
  // surface's), unless the cache already holds it. Rendering runs other widgets' paint events
  // and may deliver pending move and resize events, to the widget too: call this before taking
  // pointers into anything those may reallocate. Does nothing while this cache renders.
  void prepare(QSize size);
  // Copies what lies beneath `area` of the widget (widget coordinates) into the same pixels of
  // `target`, a Format_RGB32 image in widget coordinates; the part of `area` outside `target`
  // is ignored. Prepares for target's size first. Called while this cache renders, it fills
  // with the parent's window colour.
  void fill(QImage& target, const QRect& area);
  // What lies beneath the whole widget (the last prepare()'s, in widget coordinates), or a null
  // image while nothing is cached.
  const QImage& image() const { return image_; }
  // What lies beneath the whole widget at device pixel ratio `ratio`: an image of the widget's
  // size times `ratio` with that ratio set, rendered unless held. The same cautions as for
  // prepare() apply.
  const QImage& scaled(qreal ratio);

  // While one lives, paints of the widgets beneath that lie within `part` (widget coordinates)
  // are taken for the widget's own repaint of that part, not for changes.
  class OwnRepaint {
   public:
    OwnRepaint(BeneathCache& cache, const QRect& part);
    ~OwnRepaint();
    OwnRepaint(const OwnRepaint&) = delete;
    OwnRepaint& operator=(const OwnRepaint&) = delete;

   private:
    BeneathCache& cache_;
    QRect previous_;
  };

  // Forgets the cached pixels; the next fill (or scaled()) renders.
  void invalidate() {
    valid_ = false;
    scaledValid_ = false;
  }
  // True when the next fill copies without rendering.
  bool isValid() const;
  // How often the cache has rendered what lies beneath (for tests and diagnostics).
  int renderCount() const { return renderCount_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void watchFamily();
  void watchTree(QWidget* root);
  void unwatchAll();
  // Paints what lies beneath into `image` (the widget's size, at the image's pixel ratio).
  void render(QImage& image);
  // What the cached pixels depend on of the widget: its geometry, or a window's size.
  QRect key() const;
  // True when `watched` (the parent or one of its descendants), showing at `rectInParent` in the
  // parent's coordinates, lies beneath some of the widget.
  bool coversArea(const QWidget* watched, const QRect& rectInParent) const;
  bool isBelowWidget(const QWidget* watched) const;

  QWidget& widget_;
  QPointer<QWidget> parent_;
  std::vector<QPointer<QWidget>> watched_;
  QImage image_;        // what lies beneath, the widget's size
  QRect renderedArea_;  // key() when rendered
  QImage scaled_;       // what lies beneath at a device pixel ratio, when asked for
  QRect scaledArea_;    // key() when scaled_ was rendered
  bool scaledValid_ = false;
  QRect ownRepaint_;    // in the parent's coordinates; empty when none runs
  bool valid_ = false;
  bool rendering_ = false;
  int renderCount_ = 0;
};

}  // namespace velmora::qt
