// The host widget's repaints: a partial repaint (the control's RefreshRect on a frame step) shows
// exactly what a complete repaint shows, on the surface and on screen, and puts only its part on
// screen; what lies beneath is rendered once and rendered again exactly when something beneath
// changes.

// First: it names a local "emit", which Qt's headers make a macro.
#include "support/gif_builder.h"

#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <functional>
#include <vector>

#include "qt/ani_gif_widget.h"
#include "qt/beneath_cache.h"
#include "qt/qt_timer_service.h"
#include "qt/qt_test_main.h"

namespace {

using velmora::qt::AniGifWidget;
using velmora::qt::QtTimerService;
using velmora::testing::BuildGif;
using velmora::testing::TestFrame;
using velmora::testing::TestGif;

constexpr QRgb kLeft = 0xFF204060;
constexpr QRgb kRight = 0xFF806020;
constexpr QRgb kBelow = 0xFF10C0A0;
constexpr QRgb kAbove = 0xFFE0E000;
constexpr QRgb kNested = 0xFF902090;
constexpr QRgb kFar = 0xFF303030;
constexpr QRgb kChanged = 0xFFF08000;

// Paints itself in two halves (no background fill), in colours that can change.
class HalvesParent final : public QWidget {
 public:
  HalvesParent() { resize(40, 20); }
  QRgb left = kLeft;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(0, 0, 20, 20, QColor::fromRgb(left));
    painter.fillRect(20, 0, 20, 20, QColor::fromRgb(kRight));
  }
};

// An opaque block: repainting it repaints nothing beneath it.
class Block final : public QWidget {
 public:
  Block(QWidget* parent, QRect area, QRgb fill) : QWidget(parent), colour(fill) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setGeometry(area);
  }
  QRgb colour;

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor::fromRgb(colour)); }
};

// Records the rectangles of a widget's paint events.
class PaintRecorder final : public QObject {
 public:
  explicit PaintRecorder(QWidget* widget) { widget->installEventFilter(this); }
  std::vector<QRect> rects;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) rects.push_back(static_cast<QPaintEvent*>(event)->rect());
    return false;
  }
};

QByteArray ToQByteArray(const std::vector<std::uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

TestFrame Frame(int left, int top, int width, int height, std::vector<std::uint8_t> pixels,
                int disposal) {
  TestFrame frame;
  frame.left = left;
  frame.top = top;
  frame.width = width;
  frame.height = height;
  frame.pixels = std::move(pixels);
  frame.delayCs = 1000;  // ten seconds: no tick comes during a test
  frame.disposal = disposal;
  frame.transparentIndex = 3;
  return frame;
}

// 8 x 4, composited (transparency and disposal 1, 2), every later frame smaller than the canvas;
// index 3 is transparent: red 0, green 1, blue 2.
QByteArray CompositedGif() {
  TestGif gif;
  gif.globalTable = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  gif.loopCount = 0;
  gif.frames = {
      Frame(0, 0, 8, 4, {0, 3, 3, 1, 1, 3, 3, 2,  //
                         3, 3, 0, 0, 3, 3, 2, 3,  //
                         1, 3, 3, 3, 3, 2, 3, 3,  //
                         3, 3, 3, 3, 0, 3, 3, 1},
            1),
      Frame(2, 1, 3, 2, {0, 3, 1, 2, 2, 3}, 1),
      Frame(5, 0, 3, 3, {1, 1, 3, 3, 2, 0, 0, 3, 1}, 2),
      Frame(4, 2, 3, 2, {2, 2, 3, 2, 3, 2}, 1),
  };
  return ToQByteArray(BuildGif(gif));
}

// The parent (40 x 20, two halves), the widget over both halves at (16, 4) 8 x 4 and around it
// siblings below (overlapping, far away, and one holding an overlapping child) and above.
struct Scene {
  QtTimerService timers;  // first: the widget's teardown kills its timer
  HalvesParent parent;
  Block* far = new Block(&parent, QRect(0, 14, 4, 4), kFar);
  Block* below = new Block(&parent, QRect(20, 0, 20, 6), kBelow);
  QWidget* holder = new QWidget(&parent);
  Block* nested = nullptr;
  AniGifWidget* widget = nullptr;
  Block* above = nullptr;

  Scene() {
    holder->setGeometry(0, 6, 19, 10);
    nested = new Block(holder, QRect(15, 1, 4, 2), kNested);  // parent (15..18, 7..8)
    widget = new AniGifWidget(&parent, &timers);
    widget->setGeometry(16, 4, 8, 4);
    above = new Block(&parent, QRect(22, 6, 4, 4), kAbove);
  }

  // The widget's pixel (x, y) as the surface holds it after a complete repaint.
  QRgb refreshed(int x, int y) {
    widget->control().Refresh();
    return widget->surfaceImage().pixel(x, y);
  }
};

// The widget's part of the window's backing store, as the screen shows it.
QImage OnScreen(QWidget& window, QWidget& widget) {
  const QPoint at = widget.mapTo(&window, QPoint());
  return QGuiApplication::primaryScreen()
      ->grabWindow(window.winId(), at.x(), at.y(), widget.width(), widget.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

}  // namespace

class AniGifWidgetRepaintTest : public QObject {
  Q_OBJECT

 private slots:
  void partialRepaintsShowWhatCompleteRepaintsShow() {
    // Two equal windows step the same GIF: one partly, the other completely (a move away and
    // back before each step means what lies beneath may have changed, which rules a part out).
    Scene partly;
    Scene completely;
    const QByteArray gif = CompositedGif();
    for (Scene* scene : {&partly, &completely}) {
      scene->parent.show();
      QVERIFY(QTest::qWaitForWindowExposed(&scene->parent));
      scene->widget->setDelayAnimation(0);  // every frame decoded by the load
      QVERIFY(scene->widget->loadBytes(gif));
      QCOMPARE(scene->widget->frameCount(), 4);
      scene->widget->setAction(AniGifWidget::Stop);  // stopped on frame 1, completely painted
    }
    AniGifWidget& partial = *partly.widget;
    AniGifWidget& complete = *completely.widget;
    PaintRecorder partialPaints(&partial);
    PaintRecorder completePaints(&complete);
    // The damage of each step: the next frame's rectangle, and frame 3's again after it
    // restored its part to the background. The wrap to frame 1 repaints everything.
    const QRect damage[] = {QRect(2, 1, 3, 2), QRect(5, 0, 3, 3),
                            QRect(4, 2, 3, 2) | QRect(5, 0, 3, 3), partial.rect()};
    for (int step = 0; step < 4; ++step) {
      partialPaints.rects.clear();
      completePaints.rects.clear();
      complete.move(complete.pos() + QPoint(1, 0));
      complete.move(complete.pos() - QPoint(1, 0));
      partial.setAction(AniGifWidget::Step);
      complete.setAction(AniGifWidget::Step);
      QCOMPARE(partial.currentFrame(), step == 3 ? 1 : step + 2);
      QCOMPARE(complete.currentFrame(), partial.currentFrame());
      QCOMPARE(partialPaints.rects.size(), std::size_t{1});
      QVERIFY2(damage[step].contains(partialPaints.rects[0]) &&
                   (step == 3) == (partialPaints.rects[0] == partial.rect()),
               qPrintable(QStringLiteral("step %1 painted %2,%3 %4x%5")
                              .arg(step + 1)
                              .arg(partialPaints.rects[0].x())
                              .arg(partialPaints.rects[0].y())
                              .arg(partialPaints.rects[0].width())
                              .arg(partialPaints.rects[0].height())));
      QVERIFY(!completePaints.rects.empty());
      QCOMPARE(completePaints.rects.back(), complete.rect());
      QCOMPARE(partial.surfaceImage(), complete.surfaceImage());
      QCOMPARE(OnScreen(partly.parent, partial), OnScreen(completely.parent, complete));
    }
  }

  void partialRepaintAfterAChangeBeneathRepaintsEverything() {
    Scene scene;
    scene.parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&scene.parent));
    AniGifWidget& widget = *scene.widget;
    widget.setDelayAnimation(0);
    QVERIFY(widget.loadBytes(CompositedGif()));
    widget.setAction(AniGifWidget::Stop);
    // Hidden, the sibling below changes without Qt repainting the widget; the step's partial
    // repaint would leave its old colour outside the frame's rectangle.
    widget.hide();
    scene.below->colour = kChanged;
    scene.below->repaint();
    widget.show();
    widget.setAction(AniGifWidget::Step);
    QCOMPARE(widget.currentFrame(), 2);
    QCOMPARE(widget.surfaceImage().pixel(6, 0), kChanged);  // transparent in frames 1 and 2
  }

  void whatLiesBeneathIsRenderedAgainExactlyWhenItChanges() {
    struct Case {
      const char* name;
      std::function<void(Scene&)> change;
      QPoint probe;  // widget coordinates, transparent in the GIF's first frame
      QRgb expected;
      bool rendersAgain;
    };
    const Case cases[] = {
        {"nothing changes", [](Scene&) {}, {6, 0}, kBelow, false},
        {"the sibling below repaints in another colour",
         [](Scene& s) {
           s.below->colour = kChanged;
           s.below->repaint();
         },
         {6, 0}, kChanged, true},
        {"a sibling below, away from the widget, repaints",
         [](Scene& s) {
           s.far->colour = kChanged;
           s.far->repaint();
         },
         {6, 0}, kBelow, false},
        {"the sibling above repaints in another colour",
         [](Scene& s) {
           s.above->colour = kChanged;
           s.above->repaint();
         },
         {6, 3}, kRight, false},
        {"a sibling's child below repaints in another colour",
         [](Scene& s) {
           s.nested->colour = kChanged;
           s.nested->repaint();
         },
         {1, 3}, kChanged, true},
        {"the parent's painting changes",
         [](Scene& s) {
           s.parent.left = kChanged;
           s.parent.repaint();
         },
         {1, 1}, kChanged, true},
        {"the widget moves",
         [](Scene& s) { s.widget->move(16, 12); },
         {1, 1}, kLeft, true},
        {"the sibling below moves away",
         [](Scene& s) { s.below->move(20, 12); },
         {6, 0}, kRight, true},
        {"the sibling below hides",
         [](Scene& s) { s.below->hide(); },
         {6, 0}, kRight, true},
        {"the sibling above is lowered beneath",
         [](Scene& s) { s.above->lower(); },
         {6, 3}, kAbove, true},
        {"a new sibling is created below",
         [](Scene& s) {
           auto* added = new Block(&s.parent, QRect(16, 4, 3, 3), kChanged);
           added->stackUnder(s.widget);
           added->show();
         },
         {1, 1}, kChanged, true},
        {"the widget moves to another parent",
         [](Scene& s) {
           s.widget->setParent(s.holder);
           s.widget->setGeometry(12, 0, 8, 4);  // over the nested block: parent (27..34, 6..9)
           s.widget->show();
         },
         {4, 1}, kNested, true},
    };
    const QByteArray gif = CompositedGif();
    for (const Case& c : cases) {
      Scene scene;
      scene.parent.show();
      QVERIFY(QTest::qWaitForWindowExposed(&scene.parent));
      QVERIFY(scene.widget->loadBytes(gif));
      scene.refreshed(0, 0);
      const int renders = scene.widget->beneath().renderCount();
      QVERIFY2(scene.widget->beneath().isValid(), c.name);
      c.change(scene);
      QCoreApplication::processEvents();
      QVERIFY2(scene.refreshed(c.probe.x(), c.probe.y()) == c.expected,
               qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(c.name)).arg(
                   scene.widget->surfaceImage().pixel(c.probe), 8, 16)));
      QVERIFY2((scene.widget->beneath().renderCount() > renders) == c.rendersAgain, c.name);
      // And once rendered, it stays until the next change.
      const int settled = scene.widget->beneath().renderCount();
      scene.refreshed(0, 0);
      QVERIFY2(scene.widget->beneath().renderCount() == settled, c.name);
    }
  }

  void aWindowHasItsPaletteBeneath() {
    AniGifWidget widget;
    widget.resize(8, 4);
    QPalette palette;
    palette.setColor(QPalette::Window, QColor::fromRgb(kLeft));
    widget.setPalette(palette);
    QVERIFY(widget.loadBytes(CompositedGif()));
    QCOMPARE(widget.surfaceImage().pixel(1, 0), kLeft);
    palette.setColor(QPalette::Window, QColor::fromRgb(kChanged));
    widget.setPalette(palette);
    widget.control().Refresh();
    QCOMPARE(widget.surfaceImage().pixel(1, 0), kChanged);
    const int renders = widget.beneath().renderCount();
    widget.move(30, 30);  // on the screen: nothing beneath changes
    widget.control().Refresh();
    QCOMPARE(widget.beneath().renderCount(), renders);
  }
};

VELMORA_QT_TEST(AniGifWidgetRepaintTest)
#include "ani_gif_widget_repaint_test.moc"
