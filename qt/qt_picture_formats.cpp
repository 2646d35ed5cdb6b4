#include "qt/qt_picture_formats.h"

#include <QByteArray>
#include <atomic>

namespace velmora::qt {
namespace {

// Alpha at or above this is drawn; the picture model has no partial opacity.
constexpr int kOpaqueAlpha = 128;
// Larger inputs are refused before Qt sees them: QByteArray sizes are signed.
constexpr std::size_t kMaxInputBytes = std::size_t{1} << 30;

}  // namespace

std::optional<platform::DecodedImage> DecodeWithQt(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || bytes.size() > kMaxInputBytes) {
    return std::nullopt;
  }
  const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<qsizetype>(bytes.size()));
  QImage image = QImage::fromData(data);
  if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
    return std::nullopt;
  }
  image = image.convertToFormat(QImage::Format_ARGB32);
  if (image.isNull()) {
    return std::nullopt;
  }
  platform::DecodedImage decoded;
  decoded.width = image.width();
  decoded.height = image.height();
  const std::size_t count = static_cast<std::size_t>(decoded.width) * decoded.height;
  decoded.pixels.resize(count);
  std::vector<std::uint8_t> opaque(count, 1);
  bool anyTransparent = false;
  for (int y = 0; y < decoded.height; ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    const std::size_t base = static_cast<std::size_t>(y) * decoded.width;
    for (int x = 0; x < decoded.width; ++x) {
      decoded.pixels[base + x] = row[x] & 0x00FFFFFFu;
      if (qAlpha(row[x]) < kOpaqueAlpha) {
        opaque[base + x] = 0;
        anyTransparent = true;
      }
    }
  }
  if (anyTransparent) {
    decoded.opaque = std::move(opaque);
  }
  return decoded;
}

void RegisterQtPictureFormats() {
  static std::atomic<bool> registered{false};
  if (registered.exchange(true)) {
    return;
  }
  platform::RegisterPictureDecoder("qt", [](std::span<const std::uint8_t> bytes) {
    return DecodeWithQt(bytes);
  });
}

QImage ImageFromPicture(const platform::PictureRef& picture) {
  if (!picture || picture->Width() <= 0 || picture->Height() <= 0) {
    return {};
  }
  const platform::DecodedImage& source = picture->Image();
  const std::size_t count = static_cast<std::size_t>(source.width) * source.height;
  if (source.pixels.size() < count || (!source.opaque.empty() && source.opaque.size() < count)) {
    return {};
  }
  QImage image(source.width, source.height, QImage::Format_ARGB32);
  if (image.isNull()) {
    return {};
  }
  for (int y = 0; y < source.height; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    const std::size_t base = static_cast<std::size_t>(y) * source.width;
    for (int x = 0; x < source.width; ++x) {
      const bool opaque = source.opaque.empty() || source.opaque[base + x] != 0;
      row[x] = (source.pixels[base + x] & 0x00FFFFFFu) | (opaque ? 0xFF000000u : 0u);
    }
  }
  return image;
}

}  // namespace velmora::qt
