// The host widget: what lies beneath shows through transparent pixels, mouse input reaches the
// control in twips, units, resizing, pointers, the timer window, pause on hide, design mode and
// the Qt properties and signals.

// First: it names a local "emit", which Qt's headers make a macro.
#include "support/gif_builder.h"

#include <array>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <array>
#include <limits>
#include <memory>
#include <vector>
#include "platform/errors.h"
#include "qt/ani_gif_widget.h"
#include "qt/qt_timer_service.h"
#include "qt/qt_test_main.h"

namespace {

using velmora::qt::AniGifWidget;
using velmora::qt::QtTimerService;
using velmora::testing::BuildGif;
using velmora::testing::TestFrame;
using velmora::testing::TestGif;

constexpr int kWait = 5000;
constexpr QRgb kParentLeft = 0xFF204060;
constexpr QRgb kParentRight = 0xFF806020;
constexpr QRgb kBeneath = 0xFF10C0A0;
constexpr QRgb kAbove = 0xFFE0E000;

// Paints itself in two halves in paintEvent (no background fill): the widget must pick up the
// parent's own painting, not just its palette.
class HalvesParent final : public QWidget {
 public:
  HalvesParent() { resize(40, 20); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(0, 0, 20, 20, QColor::fromRgb(kParentLeft));
    painter.fillRect(20, 0, 20, 20, QColor::fromRgb(kParentRight));
  }
};

class Block final : public QWidget {
 public:
  Block(QWidget* parent, QRect area, QRgb colour) : QWidget(parent), colour_(colour) {
    setGeometry(area);
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor::fromRgb(colour_)); }

 private:
  QRgb colour_;
};

QByteArray ToQByteArray(const std::vector<std::uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

// 8 x 4, all transparent (index 3) but red (0, 0), blue (7, 0) and green (3, 3).
QByteArray SparseGif() {
  TestGif gif;
  gif.globalTable = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  TestFrame frame;
  frame.width = 8;
  frame.height = 4;
  frame.pixels.assign(32, 3);
  frame.pixels[0] = 0;
  frame.pixels[7] = 2;
  frame.pixels[3 * 8 + 3] = 1;
  frame.transparentIndex = 3;
  gif.frames.push_back(frame);
  return ToQByteArray(BuildGif(gif));
}

QByteArray TwoFrameGif(int delayCs) {
  return ToQByteArray(velmora::testing::AnimationGif(2, delayCs, 0, 4, 3));
}

struct MouseCase {
  Qt::MouseButton button;
  Qt::KeyboardModifiers modifiers;
  int expectedButton;
  int expectedShift;
};

}  // namespace

class AniGifWidgetTest : public QObject {
  Q_OBJECT

 private slots:
  void transparentPixelsShowWhatLiesBeneath() {
    HalvesParent parent;
    new Block(&parent, QRect(20, 0, 20, 6), kBeneath);  // stacked below the widget
    auto* widget = new AniGifWidget(&parent);
    widget->setGeometry(16, 4, 8, 4);
    new Block(&parent, QRect(14, 6, 4, 4), kAbove);  // stacked above: not beneath
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QVERIFY(widget->loadBytes(SparseGif()));
    QCOMPARE(widget->currentFrame(), 1);
    const QImage surface = widget->surfaceImage();
    QCOMPARE(surface.size(), QSize(8, 4));
    struct Expect { int x, y; QRgb colour; };
    const Expect expected[] = {
        {0, 0, 0xFFFF0000}, {7, 0, 0xFF0000FF}, {3, 3, 0xFF00FF00},  // the GIF's opaque pixels
        {1, 0, kParentLeft},   // parent (17, 4), left half
        {6, 0, kBeneath},      // parent (22, 4): the sibling below
        {6, 3, kParentRight},  // parent (22, 7), right half
        {1, 3, kParentLeft},   // under the sibling above, which is not beneath
    };
    for (const Expect& e : expected) {
      QVERIFY2(surface.pixel(e.x, e.y) == e.colour,
               qPrintable(QStringLiteral("(%1, %2): %3").arg(e.x).arg(e.y).arg(surface.pixel(e.x, e.y), 8, 16)));
    }
    // On screen too: the window shows the surface at the widget's place.
    const QImage shot = parent.grab().toImage();
    QCOMPARE(shot.pixel(16, 4), QRgb{0xFFFF0000});
    QCOMPARE(shot.pixel(17, 4), kParentLeft);
    QCOMPARE(shot.pixel(22, 4), kBeneath);
    QCOMPARE(shot.pixel(23, 4), QRgb{0xFF0000FF});
  }

  void refreshRunsThePaintBeforeReturningEvenWhenHidden() {
    QWidget parent;
    parent.resize(10, 10);
    parent.setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, QColor::fromRgb(kParentRight));
    parent.setPalette(palette);
    auto* widget = new AniGifWidget(&parent);
    widget->setGeometry(0, 0, 8, 4);
    QVERIFY(widget->loadBytes(SparseGif()));  // the one-frame load paints at once
    QImage surface = widget->surfaceImage();
    QCOMPARE(surface.pixel(0, 0), QRgb{0xFFFF0000});
    QCOMPARE(surface.pixel(1, 0), kParentRight);  // the parent's palette background
    widget->setOffsetX(1);                        // repaints through Refresh
    surface = widget->surfaceImage();
    QCOMPARE(surface.pixel(1, 0), QRgb{0xFFFF0000});
    QCOMPARE(surface.pixel(0, 0), kParentRight);
  }

  void mouseInputReachesTheControlInTwips() {
    AniGifWidget widget;
    widget.resize(40, 20);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QSignalSpy down(&widget, &AniGifWidget::mouseDown);
    QSignalSpy up(&widget, &AniGifWidget::mouseUp);
    QSignalSpy clicked(&widget, &AniGifWidget::clicked);
    const MouseCase cases[] = {
        {Qt::LeftButton, Qt::ShiftModifier, 1, 1},
        {Qt::RightButton, Qt::ControlModifier, 2, 2},
        {Qt::MiddleButton, Qt::AltModifier, 4, 4},
        {Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 1, 7},
    };
    for (const MouseCase& c : cases) {
      down.clear();
      up.clear();
      QTest::mousePress(&widget, c.button, c.modifiers, QPoint(10, 3));
      QTest::mouseRelease(&widget, c.button, c.modifiers, QPoint(10, 3));
      QCOMPARE(down.count(), 1);
      QCOMPARE(down.at(0).at(0).toInt(), c.expectedButton);
      QCOMPARE(down.at(0).at(1).toInt(), c.expectedShift);
      QCOMPARE(down.at(0).at(2).toFloat(), 150.0f);
      QCOMPARE(down.at(0).at(3).toFloat(), 45.0f);
      QCOMPARE(up.count(), 1);
      QCOMPARE(up.at(0).at(0).toInt(), c.expectedButton);
    }
    QCOMPARE(clicked.count(), 2);  // the two left clicks only

    // A left press inside and a release outside is no click.
    QTest::mousePress(&widget, Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseRelease(&widget, Qt::LeftButton, {}, QPoint(60, 2));
    QCOMPARE(clicked.count(), 2);

    QSignalSpy move(&widget, &AniGifWidget::mouseMove);
    QMouseEvent drag(QEvent::MouseMove, QPointF(4, 2), widget.mapToGlobal(QPointF(4, 2)), Qt::NoButton,
                     Qt::LeftButton | Qt::RightButton, Qt::ShiftModifier);
    QApplication::sendEvent(&widget, &drag);
    QCOMPARE(move.count(), 1);
    QCOMPARE(move.at(0).at(0).toInt(), 3);  // buttons held
    QCOMPARE(move.at(0).at(1).toInt(), 1);
    QCOMPARE(move.at(0).at(2).toFloat(), 60.0f);
    QCOMPARE(move.at(0).at(3).toFloat(), 30.0f);

    // A disabled control receives no mouse input and raises no mouse events.
    const auto counts = [&] {
      return std::array{down.count(), up.count(), clicked.count(), move.count()};
    };
    const auto before = counts();
    widget.host().SetEnabled(false);
    QTest::mousePress(&widget, Qt::LeftButton, {}, QPoint(10, 3));
    QTest::mouseRelease(&widget, Qt::LeftButton, {}, QPoint(10, 3));
    QApplication::sendEvent(&widget, &drag);
    QCOMPARE(counts(), before);
  }

  void unitConversionsAndResizeInTwips() {
    AniGifWidget widget;
    struct Case { double value; int from; int to; double x; double y; };
    const Case cases[] = {
        {10, 3, 1, 150, 150},    {150, 1, 3, 10, 10},  {1, 5, 3, 96, 96},
        {1, 4, 1, 120, 240},     {20, 1, 2, 1, 1},
        {2, 3, 9, 30, 30},       {45, 10, 0, 3, 3},       {2.54, 7, 5, 1, 1},
    };
    for (const Case& c : cases) {
      QCOMPARE(widget.host().ScaleX(c.value, c.from, c.to), c.x);
      QCOMPARE(widget.host().ScaleY(c.value, c.from, c.to), c.y);
    }
    try {
      widget.host().ScaleX(1, 8, 1);
      QFAIL("unit 8 was accepted");
    } catch (const velmora::platform::RuntimeError& error) {
      QCOMPARE(error.Number(), 5);
    }
    widget.host().Resize(600, 300);
    QCOMPARE(widget.size(), QSize(40, 20));
    QCOMPARE(widget.host().ScaleWidth(), 40.0);
    QCOMPARE(widget.host().ScaleHeight(), 20.0);
    QCOMPARE(widget.surfaceImage().size(), QSize(40, 20));
    widget.host().Resize(-5, 1e12);  // clamped to 1 .. 8192 pixels
    QCOMPARE(widget.size(), QSize(1, 8192));
  }

  void stretchOneFitsTheWidgetToTheGifsShape() {
    QWidget parent;  // hidden: the widget's size must count before Qt delivers resize events
    auto* widget = new AniGifWidget(&parent);
    widget->resize(50, 50);
    QVERIFY(widget->loadBytes(SparseGif()));
    QCOMPARE(widget->size(), QSize(50, 25));  // 8 x 4 scaled by 6.25 both ways
    QCOMPARE(widget->host().ScaleWidth(), 50.0);
    QCOMPARE(widget->surfaceImage().size(), QSize(50, 25));
    QCOMPARE(widget->actualWidth(), 120);  // twips
    QCOMPARE(widget->actualHeight(), 60);
  }

  void pointersMapToQtCursors() {
    struct Case { int pointer; Qt::CursorShape shape; };
    const Case cases[] = {{1, Qt::ArrowCursor},      {2, Qt::CrossCursor},      {3, Qt::IBeamCursor},
                          {5, Qt::SizeAllCursor},    {6, Qt::SizeBDiagCursor},  {7, Qt::SizeVerCursor},
                          {8, Qt::SizeFDiagCursor},  {9, Qt::SizeHorCursor},    {10, Qt::UpArrowCursor},
                          {11, Qt::WaitCursor},      {12, Qt::ForbiddenCursor}, {13, Qt::BusyCursor},
                          {14, Qt::WhatsThisCursor}, {15, Qt::SizeAllCursor}};
    QWidget parent;  // a window keeps a cursor of its own; a child falls back to its parent's
    AniGifWidget& widget = *new AniGifWidget(&parent);
    for (const Case& c : cases) {
      widget.host().SetMousePointer(static_cast<std::int16_t>(c.pointer));
      QVERIFY(widget.testAttribute(Qt::WA_SetCursor));
      QCOMPARE(widget.cursor().shape(), c.shape);
    }
    try {
      widget.host().SetMousePointer(16);
      QFAIL("pointer 16 was accepted");
    } catch (const velmora::platform::RuntimeError& error) {
      QCOMPARE(error.Number(), 380);
    }
    QCOMPARE(widget.host().MousePointer(), std::int16_t{15});
    widget.host().SetMousePointer(0);
    QVERIFY(!widget.testAttribute(Qt::WA_SetCursor));
    widget.host().SetMousePointer(99);  // custom without an icon: the default
    QVERIFY(!widget.testAttribute(Qt::WA_SetCursor));
    const std::vector<std::uint8_t> icon = velmora::testing::AnimationGif(1, 0, std::nullopt, 6, 4);
    widget.host().SetMouseIcon(velmora::platform::PictureFromBytes(icon));
    QCOMPARE(widget.cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(widget.cursor().pixmap().size(), QSize(6, 4));
    QCOMPARE(widget.cursor().hotSpot(), QPoint(3, 2));
    Qt::CursorShape shape = Qt::ArrowCursor;
    QVERIFY(!velmora::qt::cursorShapeForPointer(0, shape));
    QVERIFY(!velmora::qt::cursorShapeForPointer(42, shape));
  }

  void animatesOnItsTimerKeyedByTheTopLevelWindow() {
    QtTimerService timers;
    QWidget window;
    window.resize(20, 20);
    auto* widget = new AniGifWidget(&window, &timers);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(widget->host().ParentWindow(), static_cast<std::uintptr_t>(window.winId()));
    QVERIFY(widget->host().ParentWindow() != 0);
    QSignalSpy frames(widget, &AniGifWidget::frameChanged);
    QVERIFY(widget->loadBytes(TwoFrameGif(6)));
    const auto timerId = reinterpret_cast<std::uintptr_t>(&widget->control());
    QVERIFY(timers.isSet(window.winId(), timerId));
    // The timer's frame changes alternate between the two frames (the deferred decoding's tick
    // shows frame 1 first).
    const auto timerFrames = [&] {
      std::vector<int> indices;
      for (const QList<QVariant>& args : frames) {
        if (args.at(1).toBool()) indices.push_back(args.at(0).toInt());
      }
      return indices;
    };
    QTRY_VERIFY_WITH_TIMEOUT(timerFrames().size() >= 3, kWait);
    const std::vector<int> seen = timerFrames();
    for (std::size_t i = 0; i + 1 < seen.size(); ++i) {
      QCOMPARE(seen[i] + seen[i + 1], 3);
    }
    QCOMPARE(timers.interval(window.winId(), timerId), 60);
    // Hiding pauses (the timer goes), showing resumes.
    widget->hide();
    QCOMPARE(widget->action(), 2);
    QVERIFY(!timers.isSet(window.winId(), timerId));
    widget->show();
    QCOMPARE(widget->action(), 1);
    QVERIFY(timers.isSet(window.winId(), timerId));
  }

  void designModeRunsNoTimer() {
    QtTimerService timers;
    AniGifWidget widget(nullptr, &timers);
    widget.setDesignMode(true);
    QVERIFY(widget.designMode());
    QVERIFY(!widget.host().UserMode());
    QVERIFY(widget.loadBytes(TwoFrameGif(6)));
    QCOMPARE(widget.currentFrame(), 1);
    QCOMPARE(timers.activeCount(), std::size_t{0});
  }

  void propertiesAndChangeNotices() {
    AniGifWidget widget;
    QSignalSpy changed(&widget, &AniGifWidget::propertyChanged);
    QVERIFY(widget.setProperty("stretch", 2));
    QCOMPARE(widget.stretch(), AniGifWidget::Fill);
    QVERIFY(widget.setProperty("minFrameDelay", 120));
    QCOMPARE(widget.property("minFrameDelay").toInt(), 120);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("Stretch"));
    QCOMPARE(changed.at(1).at(0).toString(), QStringLiteral("Delay"));
    widget.setLoops(std::numeric_limits<int>::min());  // the control's overflow is not a crash
    widget.host().SetEnabled(false);
    QVERIFY(!widget.isEnabled());
    QVERIFY(!widget.host().Enabled());
    QCOMPARE(widget.property("frameCount").toInt(), 0);
  }

  // What Qt code expects of a widget: enum properties settable by name, a notification for every
  // change whoever made it, and the GIF's size as the size hint.
  void qtPropertiesNotifyAndSizeHint() {
    AniGifWidget widget;
    QCOMPARE(widget.sizeHint(), QSize(32, 32));
    QSignalSpy stretch(&widget, &AniGifWidget::stretchChanged);
    QSignalSpy frames(&widget, &AniGifWidget::frameCountChanged);
    QSignalSpy current(&widget, &AniGifWidget::currentFrameChanged);
    QSignalSpy action(&widget, &AniGifWidget::actionChanged);
    QSignalSpy gifData(&widget, &AniGifWidget::gifDataChanged);
    QVERIFY(widget.setProperty("stretch", QStringLiteral("ShrinkToFit")));
    QCOMPARE(widget.stretch(), AniGifWidget::ShrinkToFit);
    QVERIFY(widget.setProperty("stretch", 3));  // the same value: no notification
    QCOMPARE(stretch.count(), 1);

    const QByteArray gif = TwoFrameGif(6);
    QVERIFY(widget.loadBytes(gif));
    QCOMPARE(widget.sizeHint(), QSize(4, 3));
    QCOMPARE(frames.count(), 1);
    QCOMPARE(frames.at(0).at(0).toInt(), 2);
    QCOMPARE(current.count(), 1);
    QCOMPARE(gifData.count(), 1);
    QCOMPARE(QByteArray::fromBase64(widget.gifData().toLatin1()), gif);
    // The animation's own changes are reported too: the deferred pass starts it playing.
    QTRY_COMPARE_WITH_TIMEOUT(widget.action(), AniGifWidget::Play, kWait);
    QCOMPARE(action.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(current.count() >= 2, kWait);
    widget.setAction(AniGifWidget::Stop);
    QCOMPARE(action.last().at(0).value<AniGifWidget::Action>(), AniGifWidget::Stop);
    QCOMPARE(widget.metaObject()->enumerator(widget.metaObject()->indexOfEnumerator("Mirror")).keyCount(), 4);
  }

  void badInputLoadsNothing() {
    AniGifWidget widget;
    QVERIFY(!widget.loadBytes(QByteArray("GIF89a not really")));
    QVERIFY(!widget.loadBytes(QByteArray()));
    QVERIFY(!widget.loadFile(QStringLiteral("/nonexistent/for/sure.gif")));
    QCOMPARE(widget.currentFrame(), 0);
  }
};

VELMORA_QT_TEST(AniGifWidgetTest)
#include "ani_gif_widget_test.moc"
