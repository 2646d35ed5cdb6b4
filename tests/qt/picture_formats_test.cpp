// Qt's image formats behind the picture loader: PNG with alpha, JPEG, refusal of garbage, and the
// way back to a QImage for cursors.

#include <QBuffer>
#include <QImage>
#include <QTest>

#include "platform/picture.h"
#include "qt/qt_picture_formats.h"
#include "qt/qt_test_main.h"

namespace {

using velmora::platform::PictureFromBytes;
using velmora::qt::DecodeWithQt;

std::vector<std::uint8_t> Encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return {bytes.begin(), bytes.end()};
}

}  // namespace

class PictureFormatsTest : public QObject {
  Q_OBJECT

 private slots:
  void aPngWithAlphaBecomesAPictureWithOpacity() {
    QImage image(3, 2, QImage::Format_ARGB32);
    const QRgb pixels[6] = {0xFFFF0000, 0x00000000, 0xC800FF00,   // opaque, clear, alpha 200
                            0x7F0000FF, 0x80123456, 0xFF010203};  // alpha 127, 128, opaque
    for (int i = 0; i < 6; ++i) image.setPixel(i % 3, i / 3, pixels[i]);
    const velmora::platform::PictureRef picture = PictureFromBytes(Encode(image, "PNG"));
    QVERIFY(picture != nullptr);
    QCOMPARE(picture->Width(), 3);
    QCOMPARE(picture->Height(), 2);
    const auto& decoded = picture->Image();
    QCOMPARE(decoded.pixels[0], 0xFF0000u);
    QCOMPARE(decoded.pixels[5], 0x010203u);
    QCOMPARE(decoded.pixels[4], 0x123456u);
    QCOMPARE(decoded.opaque, (std::vector<std::uint8_t>{1, 0, 1, 0, 1, 1}));
    // And back, for a cursor: transparent where the picture is.
    const QImage back = velmora::qt::ImageFromPicture(picture);
    QCOMPARE(back.size(), QSize(3, 2));
    QCOMPARE(back.pixel(0, 0), QRgb{0xFFFF0000});
    QCOMPARE(qAlpha(back.pixel(1, 0)), 0);
    QCOMPARE(qAlpha(back.pixel(1, 1)), 255);
  }

  void anOpaqueImageHasNoOpacityTable() {
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(QColor(10, 20, 30));
    const auto decoded = DecodeWithQt(Encode(image, "JPEG"));
    QVERIFY(decoded.has_value());
    QCOMPARE(decoded->width, 4);
    QCOMPARE(decoded->height, 4);
    QVERIFY(decoded->opaque.empty());
    QCOMPARE(decoded->pixels.size(), std::size_t{16});
  }

  void bytesQtCannotReadAreRefused() {
    const std::vector<std::uint8_t> garbage{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    QVERIFY(!DecodeWithQt(garbage).has_value());
    QVERIFY(!DecodeWithQt({}).has_value());
    QVERIFY(PictureFromBytes(garbage) == nullptr);
    QVERIFY(velmora::qt::ImageFromPicture(nullptr).isNull());
    // A PNG cut short is refused too.
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    std::vector<std::uint8_t> png = Encode(image, "PNG");
    png.resize(png.size() / 2);
    QVERIFY(PictureFromBytes(png) == nullptr);
  }

  void registeringTwiceIsHarmless() {
    velmora::qt::RegisterQtPictureFormats();
    velmora::qt::RegisterQtPictureFormats();
    QImage image(2, 1, QImage::Format_RGB32);
    image.fill(QColor(1, 2, 3));
    QVERIFY(PictureFromBytes(Encode(image, "PNG")) != nullptr);
  }
};

VELMORA_QT_TEST(PictureFormatsTest)
#include "picture_formats_test.moc"
