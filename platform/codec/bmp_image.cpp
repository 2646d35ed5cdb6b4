#include "platform/codec/bmp_image.h"

#include <algorithm>
#include <array>
#include <bit>

#include "platform/raster.h"

namespace velmora::platform {
namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::uint32_t kCoreHeaderBytes = 12;
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr int kMaxSide = 1 << 20;

std::uint32_t U16(std::span<const std::uint8_t> b, std::size_t p) {
  return b[p] | (std::uint32_t{b[p + 1]} << 8);
}
std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t p) {
  return U16(b, p) | (U16(b, p + 2) << 16);
}

// One colour channel of a BI_BITFIELDS pixel, widened or narrowed to 8 bits.
class Channel {
 public:
  explicit Channel(std::uint32_t mask)
      : mask_(mask),
        shift_(mask ? std::countr_zero(mask) : 0),
        bits_(mask ? std::popcount(mask) : 0) {}
  std::uint32_t Extract(std::uint32_t pixel) const {
    if (bits_ == 0) return 0;
    const std::uint32_t v = (pixel & mask_) >> shift_;
    if (bits_ >= 8) return v >> (bits_ - 8);
    return v * 255 / ((1u << bits_) - 1);
  }

 private:
  std::uint32_t mask_;
  int shift_;
  int bits_;
};

struct Header {
  std::uint32_t size = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;  // negative: rows top-down
  int bitsPerPixel = 0;
  std::uint32_t compression = kBiRgb;
  std::uint32_t colorsUsed = 0;
  std::array<std::uint32_t, 3> masks{};  // red, green, blue for BI_BITFIELDS
  std::size_t paletteStart = 0;
  std::size_t paletteEntryBytes = 4;
};

// File header: +0 "BM"  +2 file size (u32)  +6 reserved (2 x u16)  +10 pixel data offset (u32)
// BITMAPCOREHEADER at +14: +0 size (12)  +4 width (u16)  +6 height (u16)  +8 planes  +10 bpp
// BITMAPINFOHEADER at +14: +0 size  +4 width (i32)  +8 height (i32)  +12 planes  +14 bpp (u16)
//   +16 compression  +20 image size  +24 x, +28 y pixels per metre  +32 colours used
//   +36 colours important; header sizes 52 and up carry the RGB masks at +40.
std::optional<Header> ReadHeader(std::span<const std::uint8_t> b) {
  if (b.size() < kFileHeaderBytes + 4) return std::nullopt;
  Header h;
  h.size = U32(b, kFileHeaderBytes);
  const std::size_t p = kFileHeaderBytes;
  if (h.size == kCoreHeaderBytes) {
    if (b.size() < p + kCoreHeaderBytes) return std::nullopt;
    h.width = U16(b, p + 4);
    h.height = U16(b, p + 6);
    h.bitsPerPixel = static_cast<int>(U16(b, p + 10));
    h.paletteStart = p + kCoreHeaderBytes;
    h.paletteEntryBytes = 3;
    return h;
  }
  if (h.size < kInfoHeaderBytes || b.size() < p + h.size) return std::nullopt;
  h.width = static_cast<std::int32_t>(U32(b, p + 4));
  h.height = static_cast<std::int32_t>(U32(b, p + 8));
  h.bitsPerPixel = static_cast<int>(U16(b, p + 14));
  h.compression = U32(b, p + 16);
  h.colorsUsed = U32(b, p + 32);
  h.paletteStart = p + h.size;
  if (h.compression == kBiBitfields) {
    const std::size_t maskAt = p + kInfoHeaderBytes;
    if (b.size() < maskAt + 12) return std::nullopt;
    // A plain info header keeps its masks right after it, in front of any palette.
    if (h.size == kInfoHeaderBytes) h.paletteStart += 12;
    h.masks = {U32(b, maskAt), U32(b, maskAt + 4), U32(b, maskAt + 8)};
  } else if (h.bitsPerPixel == 16) {
    h.masks = {0x7C00, 0x03E0, 0x001F};
  }
  return h;
}

bool SupportedFormat(const Header& h) {
  switch (h.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 24:
      return h.compression == kBiRgb;
    case 16:
    case 32:
      return h.compression == kBiRgb || h.compression == kBiBitfields;
    default:
      return false;
  }
}

std::array<RgbQuad, 256> ReadPalette(std::span<const std::uint8_t> b, const Header& h,
                                     std::size_t pixelStart) {
  std::array<RgbQuad, 256> palette{};  // entries the file leaves out are black
  if (h.bitsPerPixel > 8) return palette;
  std::size_t count = std::size_t{1} << h.bitsPerPixel;
  if (h.colorsUsed != 0) count = std::min<std::size_t>(count, h.colorsUsed);
  // Writers that leave colours-used at 0 sometimes store a shorter palette: stop at the pixels.
  if (pixelStart >= h.paletteStart) {
    count = std::min(count, (pixelStart - h.paletteStart) / h.paletteEntryBytes);
  }
  count = std::min(count, (b.size() - std::min(b.size(), h.paletteStart)) / h.paletteEntryBytes);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t e = h.paletteStart + i * h.paletteEntryBytes;
    palette[i] = (RgbQuad{b[e + 2]} << 16) | (RgbQuad{b[e + 1]} << 8) | b[e];
  }
  return palette;
}

void DecodeRow(const std::uint8_t* src, const Header& h, const std::array<RgbQuad, 256>& palette,
               const std::array<Channel, 3>& channels, RgbQuad* dst) {
  const auto width = static_cast<std::size_t>(h.width);
  switch (h.bitsPerPixel) {
    case 1:
      for (std::size_t x = 0; x < width; ++x) dst[x] = palette[(src[x / 8] >> (7 - x % 8)) & 1];
      return;
    case 4:
      for (std::size_t x = 0; x < width; ++x) {
        dst[x] = palette[(src[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F];
      }
      return;
    case 8:
      for (std::size_t x = 0; x < width; ++x) dst[x] = palette[src[x]];
      return;
    case 24:
      for (std::size_t x = 0; x < width; ++x, src += 3) {
        dst[x] = (RgbQuad{src[2]} << 16) | (RgbQuad{src[1]} << 8) | src[0];
      }
      return;
    default:
      break;
  }
  const std::size_t bytesPerPixel = static_cast<std::size_t>(h.bitsPerPixel) / 8;
  for (std::size_t x = 0; x < width; ++x, src += bytesPerPixel) {
    const std::uint32_t v = bytesPerPixel == 2
                                ? (src[0] | (std::uint32_t{src[1]} << 8))
                                : (src[0] | (std::uint32_t{src[1]} << 8) |
                                   (std::uint32_t{src[2]} << 16) | (std::uint32_t{src[3]} << 24));
    if (h.bitsPerPixel == 32 && h.compression == kBiRgb) {
      dst[x] = v & 0xFFFFFF;  // blue, green, red, unused
    } else {
      dst[x] =
          (channels[0].Extract(v) << 16) | (channels[1].Extract(v) << 8) | channels[2].Extract(v);
    }
  }
}

}  // namespace

bool LooksLikeBmp(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

std::optional<DecodedImage> DecodeBmpPicture(std::span<const std::uint8_t> bytes) {
  if (!LooksLikeBmp(bytes)) return std::nullopt;
  const std::optional<Header> header = ReadHeader(bytes);
  if (!header || !SupportedFormat(*header)) return std::nullopt;
  const Header& h = *header;
  const std::int64_t height = h.height < 0 ? -h.height : h.height;
  if (h.width <= 0 || height == 0 || h.width > kMaxSide || height > kMaxSide ||
      h.width * height > kMaxBmpPixels) {
    return std::nullopt;
  }
  const std::size_t pixelStart = U32(bytes, 10);
  const auto stride = static_cast<std::size_t>(RowBytes(h.width, h.bitsPerPixel));
  const auto rows = static_cast<std::size_t>(height);
  if (pixelStart > bytes.size() || (bytes.size() - pixelStart) / stride < rows) return std::nullopt;

  const std::array<RgbQuad, 256> palette = ReadPalette(bytes, h, pixelStart);
  const std::array<Channel, 3> channels = {Channel(h.masks[0]), Channel(h.masks[1]),
                                           Channel(h.masks[2])};
  DecodedImage out;
  out.width = static_cast<int>(h.width);
  out.height = static_cast<int>(height);
  out.pixels.resize(static_cast<std::size_t>(h.width) * rows);
  const bool topDown = h.height < 0;
  for (std::size_t y = 0; y < rows; ++y) {
    const std::size_t stored = topDown ? y : rows - 1 - y;
    DecodeRow(bytes.data() + pixelStart + stored * stride, h, palette, channels,
              out.pixels.data() + y * static_cast<std::size_t>(h.width));
  }
  return out;
}

}  // namespace velmora::platform
