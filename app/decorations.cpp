#include "app/decorations.h"

#include <QFile>
#include <cmath>
#include <exception>
#include <span>

#include "qt/ani_gif_widget.h"
#include "qt/qt_picture_formats.h"

namespace velmora::app {
namespace {

// The window's stored layout of the decorations: name and position in twips (15 per pixel). The
// size is not stored here: the container takes it from the bag's extent.
struct StoredDecoration {
  const char* name;
  int leftTwips;
  int topTwips;
};
constexpr StoredDecoration kStoredDecorations[] = {
    {"ucAniGIF2", 240, 120},
    {"ucAniGIF1", 240, 600},
};

constexpr int kTwipsPerPixel = 15;
// An extent is in hundredths of a millimetre: 2540 to the inch, at 96 pixels to the inch.
constexpr double kHimetricPerPixel = 2540.0 / 96.0;
// Larger stored extents are taken as damage and ignored.
constexpr int kMaxExtentPixels = 4096;

int PixelsFromHimetric(const platform::PropertyBag& bag, const char* key) {
  try {
    const std::int32_t himetric =
        platform::ToInt32(bag.ReadProperty(key, platform::PropertyValue{std::int32_t{0}}));
    const long pixels = std::lround(himetric / kHimetricPerPixel);
    return pixels > 0 && pixels <= kMaxExtentPixels ? static_cast<int>(pixels) : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

QWidget* CreateDecoration(QWidget* form, const StoredDecoration& stored) {
  auto* widget = new qt::AniGifWidget(form);
  widget->setObjectName(QString::fromLatin1(stored.name));
  std::optional<platform::PropertyBag> bag = StoredDecorationBag(widget->objectName());
  const int width = bag ? PixelsFromHimetric(*bag, "_extentx") : 0;
  const int height = bag ? PixelsFromHimetric(*bag, "_extenty") : 0;
  // Placed and sized before the restore, so the load's resize handling sees the stored size.
  widget->setGeometry(stored.leftTwips / kTwipsPerPixel, stored.topTwips / kTwipsPerPixel, width,
                      height);
  widget->show();
  if (bag) {
    try {
      widget->readProperties(*bag);
    } catch (const std::exception&) {
      // A stored value of the wrong type ends the restore at that key; the decoration stays
      // as far as it got, as a container leaves a control whose ReadProperties failed.
    }
  }
  return widget;
}

}  // namespace

std::optional<platform::PropertyBag> StoredDecorationBag(const QString& name) {
  QFile file(QStringLiteral(":/form/%1.bag").arg(name));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray bytes = file.readAll();
  return platform::PropertyBag::FromContents(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                    static_cast<std::size_t>(bytes.size())));
}

Decorations CreateDecorations(QWidget* form) {
  qt::RegisterQtPictureFormats();
  Decorations decorations;
  for (const StoredDecoration& stored : kStoredDecorations) {
    QWidget* widget = CreateDecoration(form, stored);
    if (widget->objectName() == QLatin1String("ucAniGIF1")) {
      decorations.ucAniGIF1 = widget;
    } else {
      decorations.ucAniGIF2 = widget;
    }
  }
  return decorations;
}

}  // namespace velmora::app
