// The window's decorations restored from the stored form: the bags are exactly what the property
// bag writes, the GIFs have the stored properties, the widgets sit where the form says, animate
// on their own timers and show the skin through their transparent pixels.

#include "app/decorations.h"

#include <QFile>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <span>

#include "qt/ani_gif_widget.h"
#include "qt/qt_timer_service.h"
#include "qt/qt_test_main.h"

namespace {

using velmora::app::CreateDecorations;
using velmora::app::Decorations;
using velmora::qt::AniGifWidget;

constexpr int kWait = 10000;

std::vector<std::uint8_t> ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> CommittedGif(const QString& name) {
  return ReadAll(QStringLiteral(VELMORA_SOURCE_DIR "/app/form/%1.gif").arg(name));
}

// The skin the app paints, as Image1 does.
class Skin final : public QWidget {
 public:
  explicit Skin(QWidget* parent)
      : QWidget(parent), skin_(QStringLiteral(VELMORA_SOURCE_DIR "/app/assets/skin.gif")) {
    setGeometry(0, 0, 290, 480);
  }
  const QImage& image() const { return skin_; }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, skin_); }

 private:
  QImage skin_;
};

struct Expected {
  const char* name;
  QRect geometry;
  std::int32_t extentX;
  std::int32_t extentY;
  int colours;
  int background;
  int delayMs;
  int transparentIndex;
};
constexpr Expected kExpected[] = {
    {"ucAniGIF2", QRect(16, 8, 36, 30), 953, 794, 2, 1, 500, 1},
    {"ucAniGIF1", QRect(16, 40, 140, 24), 3704, 635, 256, 255, 200, 255},
};

AniGifWidget* Decoration(const Decorations& decorations, const char* name) {
  return qobject_cast<AniGifWidget*>(QByteArray(name) == "ucAniGIF1" ? decorations.ucAniGIF1
                                                                      : decorations.ucAniGIF2);
}

int TimerFrameChanges(const QSignalSpy& spy) {
  int count = 0;
  for (const QList<QVariant>& args : spy) count += args.at(1).toBool() ? 1 : 0;
  return count;
}

}  // namespace

class DecorationsTest : public QObject {
  Q_OBJECT

 private slots:
  void theStoredBagsAreWhatThePropertyBagWrites() {
    for (const Expected& e : kExpected) {
      const QString name = QString::fromLatin1(e.name);
      const std::vector<std::uint8_t> gif = CommittedGif(name);
      QVERIFY(!gif.empty());
      velmora::platform::PropertyBag expected;
      expected.WriteProperty("_ExtentX", e.extentX);
      expected.WriteProperty("_ExtentY", e.extentY);
      expected.WriteProperty("GIF", velmora::platform::ByteArray{1, gif});
      QCOMPARE(ReadAll(QStringLiteral(":/form/%1.bag").arg(name)), expected.Contents());

      const std::optional<velmora::platform::PropertyBag> bag = velmora::app::StoredDecorationBag(name);
      QVERIFY(bag.has_value());
      QCOMPARE(bag->Keys(), (std::vector<std::string>{"_extentx", "_extenty", "gif"}));
      const auto stored = std::get<velmora::platform::ByteArray>(bag->ReadProperty("gif", {}));
      QCOMPARE(stored.lowerBound, 1);
      QCOMPARE(stored.bytes, gif);
      QVERIFY(std::holds_alternative<std::int32_t>(bag->ReadProperty("_extentx", {})));
    }
    QVERIFY(!velmora::app::StoredDecorationBag(QStringLiteral("ucAniGIF3")).has_value());
  }

  void theGifsHaveTheStoredHeaderValues() {
    for (const Expected& e : kExpected) {
      const std::vector<std::uint8_t> gif = CommittedGif(QString::fromLatin1(e.name));
      QVERIFY(gif.size() > 13);
      QCOMPARE(std::string(gif.begin(), gif.begin() + 6), std::string("GIF89a"));
      const int flags = gif[10];
      QVERIFY(flags & 0x80);                      // a global colour table
      QCOMPARE(2 << (flags & 7), e.colours);      // of this many entries
      QCOMPARE(int{gif[11]}, e.background);       // background index
      // NETSCAPE2.0 right after the table, loop count 0.
      const std::size_t app = 13 + 3 * static_cast<std::size_t>(e.colours);
      const std::vector<std::uint8_t> expected{0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A',
                                               'P', 'E', '2', '.', '0', 0x03, 0x01, 0x00, 0x00, 0x00};
      QCOMPARE(std::vector<std::uint8_t>(gif.begin() + app, gif.begin() + app + expected.size()), expected);
    }
  }

  void restoredDecorationsAnimateOnTheirOwnDelays() {
    QWidget form;
    form.resize(290, 480);
    auto* skin = new Skin(&form);
    const Decorations decorations = CreateDecorations(&form);
    QVERIFY(decorations.ucAniGIF1 != nullptr);
    QVERIFY(decorations.ucAniGIF2 != nullptr);
    QSignalSpy frames1(Decoration(decorations, "ucAniGIF1"), &AniGifWidget::frameChanged);
    QSignalSpy frames2(Decoration(decorations, "ucAniGIF2"), &AniGifWidget::frameChanged);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    for (const Expected& e : kExpected) {
      AniGifWidget* widget = Decoration(decorations, e.name);
      QVERIFY(widget != nullptr);
      QCOMPARE(widget->parentWidget(), &form);
      QCOMPARE(widget->objectName(), QString::fromLatin1(e.name));
      QCOMPARE(widget->geometry(), e.geometry);
      QVERIFY(!widget->designMode());
      QTRY_VERIFY_WITH_TIMEOUT(!widget->control().DeferredDecodePending(), kWait);
      const velmora::GifDocument& doc = widget->control().Document();
      QCOMPARE(doc.Header.CanvasWidth, e.geometry.width());
      QCOMPARE(doc.Header.CanvasHeight, e.geometry.height());
      QCOMPARE(doc.Header.LoopCount, 0);
      QCOMPARE(doc.FrameCount(), 2);
      QCOMPARE(static_cast<int>(doc.Tables.ColorTables.at(0)[velmora::kColorCountEntry]), e.colours);
      for (const velmora::GifFrame& frame : doc.Frames) {
        QCOMPARE(frame.Delay, e.delayMs);
        QCOMPARE(int{frame.Disposal}, 1);
        QCOMPARE(int{frame.Transparent}, 1);
        QCOMPARE(int{frame.TransparentIndex}, e.transparentIndex);
        QCOMPARE(frame.ColorTable, 0);
      }
      QCOMPARE(widget->action(), 1);  // playing, for ever
      QCOMPARE(widget->loops(), 0);
      // Each on its own timer, on the window, with its own delay.
      const auto timerId = reinterpret_cast<std::uintptr_t>(&widget->control());
      QTRY_COMPARE_WITH_TIMEOUT(velmora::qt::QtTimerService::shared().interval(form.winId(), timerId),
                                e.delayMs, kWait);
    }
    // Both change frames by themselves, the 200 ms one more often than the 500 ms one.
    QTRY_VERIFY_WITH_TIMEOUT(TimerFrameChanges(frames2) >= 3, kWait);
    QVERIFY(TimerFrameChanges(frames1) > TimerFrameChanges(frames2));

    // The skin shows through transparent pixels; the mast's beacon is gold.
    const QImage shot = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage& skinImage = skin->image();
    QCOMPARE(shot.pixel(16, 8), skinImage.pixel(16, 8));      // ucAniGIF2 (0, 0), transparent
    QCOMPARE(shot.pixel(16, 40), skinImage.pixel(16, 40));    // ucAniGIF1 (0, 0), transparent
    QCOMPARE(shot.pixel(155, 63), skinImage.pixel(155, 63));  // ucAniGIF1's last pixel
    QCOMPARE(shot.pixel(16 + 18, 8 + 10), QRgb{0xFFFFD682});  // the beacon
    QVERIFY(shot.save(QStringLiteral(VELMORA_BUILD_DIR "/decorations.png")));
  }
};

VELMORA_QT_TEST(DecorationsTest)
#include "decorations_test.moc"
