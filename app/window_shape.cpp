#include "app/window_shape.h"

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>
#include <QWindow>
#include <cmath>
#include <vector>

#include "app/form1.h"

namespace velmora::app {
namespace {

bool IsX11() {
  return QGuiApplication::platformName() == QLatin1String("xcb");
}

// The X server's shape of the native window, in device pixels. Qt would scale a logical region.
void ShapeInDevicePixels(QWindow& window, const QRegion& region) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr) return;
  std::vector<xcb_rectangle_t> rectangles;
  for (const QRect& r : region) {
    rectangles.push_back({static_cast<int16_t>(r.x()), static_cast<int16_t>(r.y()),
                          static_cast<uint16_t>(r.width()), static_cast<uint16_t>(r.height())});
  }
  xcb_shape_rectangles(x11->connection(), XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
                       XCB_CLIP_ORDERING_YX_BANDED, static_cast<xcb_window_t>(window.winId()), 0, 0,
                       static_cast<uint32_t>(rectangles.size()), rectangles.data());
  xcb_flush(x11->connection());
}

// Key pixels take the colour of the nearest non-key pixel in their row, looking inwards from
// either end (the key lies in the corners).
void FillKeyFromRows(QImage& image, QRgb key) {
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    const int width = image.width();
    int left = 0;
    while (left < width && row[left] == key) ++left;
    if (left == width) continue;
    int right = width - 1;
    while (row[right] == key) --right;
    for (int x = 0; x < left; ++x) row[x] = row[left];
    for (int x = right + 1; x < width; ++x) row[x] = row[right];
  }
}

}  // namespace

QImage SkinPicture(qreal ratio) {
  QImage skin(ratio > 1 ? QStringLiteral(":/assets/skin@2x.gif")
                        : QStringLiteral(":/assets/skin.gif"));
  if (skin.isNull()) skin = QImage(QStringLiteral(":/assets/skin.gif"));
  if (skin.isNull()) {
    skin = QImage(1, 1, QImage::Format_RGB32);
    skin.fill(QColor(0x10, 0x24, 0x40));
  }
  return skin;
}

bool ShapesByTranslucency() {
  return !IsX11();
}

void ApplyWindowShape(QWidget* window, int ellipse) {
  if (window == nullptr) return;
  const QRegion logical =
      Form1::RoundRectRegion(window->width(), window->height(), ellipse, ellipse);
  if (!IsX11()) {
    window->winId();
    window->windowHandle()->setMask(logical);  // the input region
    return;
  }
  const qreal ratio = window->devicePixelRatioF();
  if (ratio == 1.0) {
    window->setMask(logical);
    return;
  }
  window->clearMask();
  window->winId();
  const int device = static_cast<int>(std::lround(ellipse * ratio));
  ShapeInDevicePixels(*window->windowHandle(),
                      Form1::RoundRectRegion(
                          static_cast<int>(std::lround(window->width() * ratio)),
                          static_cast<int>(std::lround(window->height() * ratio)), device, device));
}

QImage RoundedSkin(const QImage& skin, QColor key, QSize size, qreal ratio, int ellipse) {
  QImage source = skin.convertToFormat(QImage::Format_ARGB32);
  FillKeyFromRows(source, key.rgba());
  const QSize device(static_cast<int>(std::lround(size.width() * ratio)),
                     static_cast<int>(std::lround(size.height() * ratio)));
  QImage result(device, QImage::Format_ARGB32_Premultiplied);
  result.setDevicePixelRatio(ratio);
  result.fill(Qt::transparent);
  QPainter painter(&result);
  const QRectF area(QPointF(0, 0), QSizeF(size));
  const bool whole = !source.isNull() && device.width() % source.width() == 0 &&
                     device.height() % source.height() == 0;
  painter.setRenderHint(QPainter::SmoothPixmapTransform, !whole);
  painter.drawImage(area, source);
  // Everything outside the rounded rectangle goes, partly so along the edge.
  QPainterPath rounded;
  rounded.addRoundedRect(area, ellipse / 2.0, ellipse / 2.0);
  QPainterPath outside;
  outside.addRect(area);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
  painter.fillPath(outside.subtracted(rounded), Qt::black);
  return result;
}

}  // namespace velmora::app
