#include "platform/picture.h"

#include <cstring>
#include <limits>
#include <utility>

#include "platform/bmp_image.h"
#include "platform/gif_picture.h"

namespace velmora::platform {
namespace {

using PictureProbe = std::optional<PictureSize> (*)(std::span<const std::uint8_t>);

// A decoder with a probe makes pictures that decode when first drawn.
struct RegisteredDecoder {
  std::string name;
  PictureDecoder decode;
  PictureProbe probe = nullptr;
};

// Built-ins first, host additions after them in the order they were registered. Everything runs
// on the user-interface thread, so the list needs no lock.
std::vector<RegisteredDecoder>& Decoders() {
  static std::vector<RegisteredDecoder> decoders = {
      {"GIF", [](std::span<const std::uint8_t> b) { return DecodeGifPicture(b); },
       ProbeGifPicture},
      {"BMP", [](std::span<const std::uint8_t> b) { return DecodeBmpPicture(b); }},
  };
  return decoders;
}

bool SizeWithinBounds(PictureSize size) {
  if (size.width <= 0 || size.height <= 0 || size.width > kMaxBitmapSide ||
      size.height > kMaxBitmapSide) {
    return false;
  }
  const auto count = static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height);
  return count <= static_cast<std::size_t>(kMaxBitmapBytes / 4);
}

// A decoder's output is checked before a picture is built on it.
bool Consistent(const DecodedImage& image) {
  if (!SizeWithinBounds(PictureSize{image.width, image.height})) return false;
  const auto count = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  return image.pixels.size() == count && (image.opaque.empty() || image.opaque.size() == count);
}

std::unique_ptr<Bitmap> MakeTopDownBitmap(const DecodedImage& image, bool maskOnly) {
  std::unique_ptr<Bitmap> bitmap = Bitmap::CreateUninitialized(image.width, -image.height, 32);
  if (!bitmap) return nullptr;
  const auto width = static_cast<std::size_t>(image.width);
  for (int y = 0; y < image.height; ++y) {
    const std::size_t first = static_cast<std::size_t>(y) * width;
    auto* row = reinterpret_cast<RgbQuad*>(bitmap->Row(y));
    if (!maskOnly) {
      std::memcpy(row, image.pixels.data() + first, width * sizeof(RgbQuad));
      continue;
    }
    for (std::size_t x = 0; x < width; ++x) row[x] = image.opaque[first + x] ? 0xFFFFFF : 0;
  }
  return bitmap;
}

// Puts back, from `saved` (a copy of the target's memory), every pixel that `cover` (a 32-bit
// bitmap of the target's size) does not mark as reached by an opaque picture pixel.
void RestoreUncovered(Bitmap& target, const std::vector<std::uint8_t>& saved, Bitmap& cover) {
  const int bpp = target.BitsPerPixel();
  for (int y = 0; y < target.Height(); ++y) {
    std::uint8_t* row = target.Row(y);
    const std::uint8_t* old = saved.data() + (row - target.Bits());
    const auto* covered = reinterpret_cast<const RgbQuad*>(cover.Row(y));
    for (int x = 0; x < target.Width(); ++x) {
      if (((covered[x] >> 8) & 0xFF) >= 0x80) continue;
      if (bpp == 1) {
        const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x % 8));
        row[x / 8] = static_cast<std::uint8_t>((row[x / 8] & ~bit) | (old[x / 8] & bit));
        continue;
      }
      const int bytes = bpp / 8;
      std::memcpy(row + x * bytes, old + x * bytes, static_cast<std::size_t>(bytes));
    }
  }
}

}  // namespace

Picture::Picture(std::vector<std::uint8_t> sourceBytes, DecodedImage image)
    : sourceBytes_(std::move(sourceBytes)),
      size_{image.width, image.height},
      image_(std::move(image)) {}

Picture::Picture(std::vector<std::uint8_t> sourceBytes, PictureSize size, PictureDecoder decode)
    : sourceBytes_(std::move(sourceBytes)), size_(size), decode_(std::move(decode)) {}

const DecodedImage& Picture::Image() const {
  std::call_once(decoded_, [this] {
    if (!decode_) return;
    try {
      std::optional<DecodedImage> image = decode_(sourceBytes_);
      if (image && image->width == size_.width && image->height == size_.height &&
          Consistent(*image)) {
        image_ = std::move(*image);
      }
    } catch (...) {
      // No pixels (see the header); the picture still reports its size and bytes.
    }
  });
  return image_;
}

// Picture coordinates are edges with the y axis up: the source is the span from ySrc to
// ySrc + cySrc. The bitmap is top-down, so edge Y is bitmap edge H - Y and the vertical extent
// flips sign. The raster layer names a pixel as the origin and runs a negative extent back from
// it, so a span read backwards starts at the pixel just inside its far edge. Transparent pictures
// are drawn whole and then the pixels that only transparent picture pixels reached are put back:
// that keeps every stretch, mirror and colour conversion the raster layer's, for any target format.
// Pictures with transparency are rare (the frame builder clears it), so the extra pass over the
// target costs little overall.
void Picture::Render(DeviceContext& dc, int x, int y, int cx, int cy, int xSrc, int ySrc, int cxSrc,
                     int cySrc) const {
  const DecodedImage& image = Image();
  if (image.width <= 0 || image.height <= 0) return;
  const std::unique_ptr<Bitmap> source = MakeTopDownBitmap(image, false);
  if (!source) return;
  const std::unique_ptr<DeviceContext> sourceDc = CreateCompatibleDC(&dc);
  sourceDc->SelectObject(source.get());
  const std::int64_t left64 = cxSrc < 0 ? std::int64_t{xSrc} - 1 : xSrc;
  const std::int64_t cyTop64 = -std::int64_t{cySrc};
  const std::int64_t top64 = std::int64_t{image.height} - ySrc - (cyTop64 < 0 ? 1 : 0);
  constexpr std::int64_t kMin = std::numeric_limits<int>::min();
  constexpr std::int64_t kMax = std::numeric_limits<int>::max();
  if (left64 < kMin || top64 < kMin || top64 > kMax || cyTop64 > kMax) return;
  const auto left = static_cast<int>(left64);
  const auto top = static_cast<int>(top64);
  const auto cyTop = static_cast<int>(cyTop64);

  if (image.opaque.empty()) {
    StretchBlt(dc, x, y, cx, cy, *sourceDc, left, top, cxSrc, cyTop, Rop::kSrcCopy);
    return;
  }

  Bitmap& target = dc.Selected();
  const std::vector<std::uint8_t> saved(target.Bits(), target.Bits() + target.SizeBytes());
  const std::unique_ptr<Bitmap> mask = MakeTopDownBitmap(image, true);
  const std::unique_ptr<Bitmap> cover = Bitmap::Create(target.Width(), -target.Height(), 32);
  if (!mask || !cover) return;
  StretchBlt(dc, x, y, cx, cy, *sourceDc, left, top, cxSrc, cyTop, Rop::kSrcCopy);

  sourceDc->SelectObject(mask.get());
  const std::unique_ptr<DeviceContext> coverDc = CreateCompatibleDC(&dc);
  coverDc->SelectObject(cover.get());
  coverDc->SetStretchBltMode(kColorOnColor);
  StretchBlt(*coverDc, x, y, cx, cy, *sourceDc, left, top, cxSrc, cyTop, Rop::kSrcCopy);
  RestoreUncovered(target, saved, *cover);
}

void RegisterPictureDecoder(std::string name, PictureDecoder decoder) {
  if (!decoder) return;
  Decoders().push_back({std::move(name), std::move(decoder)});
}

namespace {

// The picture of the first decoder that takes `bytes`; `keep()` hands over the bytes the picture
// keeps and is called once, when the picture is made.
template <typename KeepBytes>
PictureRef MakePicture(std::span<const std::uint8_t> bytes, KeepBytes keep) {
  try {
    for (const RegisteredDecoder& entry : Decoders()) {
      if (entry.probe != nullptr) {
        std::optional<PictureSize> size;
        try {
          size = entry.probe(bytes);
        } catch (...) {
          continue;
        }
        if (!size || !SizeWithinBounds(*size)) continue;
        return std::make_shared<const Picture>(keep(), *size, entry.decode);
      }
      std::optional<DecodedImage> image;
      try {
        image = entry.decode(bytes);
      } catch (...) {
        continue;  // a decoder that throws simply did not recognise the bytes
      }
      if (image && Consistent(*image)) {
        return std::make_shared<const Picture>(keep(), std::move(*image));
      }
    }
  } catch (...) {
    // Out of memory copying the bytes or building the picture: no picture, as the platform does.
  }
  return nullptr;
}

}  // namespace

PictureRef PictureFromBytes(std::span<const std::uint8_t> bytes) {
  return MakePicture(bytes,
                     [bytes] { return std::vector<std::uint8_t>(bytes.begin(), bytes.end()); });
}

PictureRef PictureFromBytes(std::vector<std::uint8_t>&& bytes) {
  const std::span<const std::uint8_t> view(bytes);
  return MakePicture(view, [&bytes] { return std::move(bytes); });
}

}  // namespace velmora::platform
