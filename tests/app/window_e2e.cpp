// The skin window as the screen shows it, wherever it runs: the real velmora-radio binary on its
// built-in station list (no servers), photographed from outside (ImageMagick's import on X11,
// weston-screenshooter under a headless Weston). ctest runs this under Xvfb at
// QT_SCALE_FACTOR=2 and under Weston at 1; the photographs stay in the build folder.
//
// The window must cover exactly its size in device pixels, with its four corners cut to the
// rounded rectangle at device resolution: on X11 by the window's shape (a pixel is the screen's
// background exactly when it lies outside the region cut at the device ratio), on Wayland by
// translucency (the corners' pixels are the skin's antialiased edge over the background). At a
// whole ratio the decorations' GIF pixels are exact blocks over the skin drawn at the device
// resolution. The key colour of the skin never shows, and the program prints nothing but its
// start-up report. With the list shown and nothing played, the program has loaded neither an
// OpenGL driver nor the player's library.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

#include "app/form1.h"
#include "app/window_shape.h"
#include "e2e_support.h"

using velmora::app::Form1;
using namespace velmora::e2e;

namespace {

constexpr QRgb kBackground = qRgb(0, 0, 0);  // the screen's, where no window is
constexpr QRgb kKey = qRgb(0xff, 0x00, 0xff);
constexpr QRgb kBase = qRgb(0x0a, 0x18, 0x2c);  // beneath the skin's edge on X11

bool IsX11() {
  return QGuiApplication::platformName() == QLatin1String("xcb");
}

// The whole screen in device pixels.
QImage Screenshot(const QString& folder) {
  if (IsX11()) {
    const QString file = folder + QStringLiteral("/screen.png");
    RunTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
    return QImage(file).convertToFormat(QImage::Format_RGB32);
  }
  // weston-screenshooter names its file after the time, in the folder it runs in.
  ChildProcess shooter(QStringLiteral("weston-screenshooter"), {}, ChildOptions{folder});
  shooter.WaitForExit(10000);
  QImage shot;
  for (const QFileInfo& file :
       QDir(folder).entryInfoList({QStringLiteral("wayland-screenshot*")})) {
    shot = QImage(file.filePath()).convertToFormat(QImage::Format_RGB32);
    QFile::remove(file.filePath());
  }
  return shot;
}

// The smallest rectangle holding every pixel that is not the background.
QRect WindowIn(const QImage& shot) {
  QRect box;
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) {
      if (shot.pixel(x, y) != kBackground) box |= QRect(x, y, 1, 1);
    }
  }
  return box;
}

// Channels differ by at most `tolerance` (a compositor may round its blending differently).
bool Near(QRgb a, QRgb b, int tolerance) {
  return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
         std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

}  // namespace

class WindowEndToEnd : public QObject {
  Q_OBJECT

 private slots:
  void roundAtTheDeviceRatio() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const qreal ratio = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                            ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                            : 1.0;
    const QSize device(qRound(Form1::kWidth * ratio), qRound(Form1::kHeight * ratio));
    ChildProcess app(QStringLiteral(VELMORA_RADIO_BIN), {QStringLiteral("--report-startup")},
                     ChildOptions{{}, QProcessEnvironment::systemEnvironment(), true});
    QVERIFY(app.Started());
    const QString report = app.ReadLine(kPageTimeoutMs);
    QVERIFY2(report.startsWith(QLatin1String("startup: station list shown")), qPrintable(report));
    QFile maps(QStringLiteral("/proc/%1/maps").arg(app.Pid()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QString mapped = QString::fromLocal8Bit(maps.readAll());
    for (const char* library :
         {"/libmpv.so", "/libGLX_mesa", "/libEGL_mesa", "/libLLVM", "_dri.so"}) {
      QVERIFY2(!mapped.contains(QLatin1String(library)), library);
    }
    QImage shot;
    QRect box;
    QVERIFY(WaitFor(
        [&] {
          shot = Screenshot(folder.path());
          box = WindowIn(shot);
          return box.size() == device;
        },
        20000));
    const QImage window = shot.copy(box);
    const QString name =
        QStringLiteral("window-%1-x%2.png").arg(QGuiApplication::platformName()).arg(ratio);
    QVERIFY(window.save(QStringLiteral(VELMORA_BUILD_DIR "/") + name));

    // What the corners must show: the skin cut to the shape at the device ratio, over the
    // background (Wayland) or over the base colour inside the window's shape (X11).
    const int ellipse = qRound(Form1::kCornerEllipse * ratio);
    const QRegion region =
        Form1::RoundRectRegion(device.width(), device.height(), ellipse, ellipse);
    const QImage skin = velmora::app::RoundedSkin(
        velmora::app::SkinPicture(ratio), QColor(kKey),
        QSize(Form1::kWidth, Form1::kHeight), ratio, Form1::kCornerEllipse);
    const auto expected = [&](int x, int y) {
      const QRgb over = IsX11() ? kBase : kBackground;
      if (IsX11() && !region.contains(QPoint(x, y))) return kBackground;
      const QColor top = skin.pixelColor(x, y);
      const double alpha = top.alphaF();
      return qRgb(qRound(top.red() * alpha + qRed(over) * (1 - alpha)),
                  qRound(top.green() * alpha + qGreen(over) * (1 - alpha)),
                  qRound(top.blue() * alpha + qBlue(over) * (1 - alpha)));
    };
    // The top-right and bottom-left corners hold nothing but skin.
    const int corner = ellipse / 2;
    const QRect corners[] = {QRect(device.width() - corner, 0, corner, corner),
                             QRect(0, device.height() - corner, corner, corner)};
    int blended = 0;
    for (const QRect& area : corners) {
      for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
          const QRgb seen = window.pixel(x, y);
          QVERIFY2(Near(seen, expected(x, y), 3),
                   qPrintable(QStringLiteral("%1,%2: %3 instead of %4")
                                  .arg(x)
                                  .arg(y)
                                  .arg(seen, 0, 16)
                                  .arg(expected(x, y), 0, 16)));
          const int alpha = qAlpha(skin.pixel(x, y));
          blended += alpha > 0 && alpha < 255 ? 1 : 0;
        }
      }
    }
    // The edge is smooth where the window is translucent.
    if (!IsX11()) QVERIFY2(blended >= 2 * corner, qPrintable(QString::number(blended)));
    for (int y = 0; y < window.height(); ++y) {
      for (int x = 0; x < window.width(); ++x) QVERIFY(window.pixel(x, y) != kKey);
    }
    // The decorations at a whole ratio: every block of ratio x ratio device pixels is one GIF
    // pixel (all alike) or shows the skin beneath at the device resolution, which it does
    // somewhere (the skin's edges run under both).
    const int whole = static_cast<int>(ratio);
    if (whole > 1 && whole == ratio) {
      int sharpBeneath = 0;
      for (const QRect& logical : {Form1::kUcAniGIF1Rect, Form1::kUcAniGIF2Rect}) {
        for (int y = logical.top() * whole; y <= logical.bottom() * whole; y += whole) {
          for (int x = logical.left() * whole; x <= logical.right() * whole; x += whole) {
            bool alike = true;
            bool beneath = true;
            for (int dy = 0; dy < whole; ++dy) {
              for (int dx = 0; dx < whole; ++dx) {
                alike = alike && window.pixel(x + dx, y + dy) == window.pixel(x, y);
                beneath =
                    beneath && Near(window.pixel(x + dx, y + dy), expected(x + dx, y + dy), 3);
              }
            }
            QVERIFY2(alike || beneath, qPrintable(QStringLiteral("block at %1,%2").arg(x).arg(y)));
            sharpBeneath += alike ? 0 : 1;
          }
        }
      }
      QVERIFY(sharpBeneath > 0);
    }
    app.Stop();
    const QString rest = app.ReadAll().trimmed();
    QVERIFY2(rest.isEmpty(), qPrintable(rest));
  }
};

int main(int argc, char* argv[]) {
  QGuiApplication application(argc, argv);
  WindowEndToEnd tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "window_e2e.moc"
