// Frame files, read from the surface a row at a time.
//
// PNG: GIF frames hold few colours, so a palette image is a third of the data an RGB one would
// be, and row filters, which predict smooth colour from neighbours, do not help indices: rows go
// unfiltered, which also leaves runs and repeated rows for the compressor to find whole.

#include "tools/anigif/frame_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <span>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <tmmintrin.h>
#endif

namespace velmora::anigif {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// PPM files are converted and written this many bytes at a time (at least one row): a block small
// enough to stay in the processor's cache between the conversion and the write, which was measured
// to cost less than converting whole frames or handing them to a writing thread.
constexpr std::size_t kPpmBlockBytes = std::size_t{1} << 18;
// A PNG row starts with its filter type: 0, none.
constexpr std::uint8_t kPngNoFilter = 0;
constexpr int kMaxPaletteColors = 256;
// Open addressing at most a quarter full.
constexpr int kPaletteSlotBits = 10;
constexpr std::uint32_t kNoColor = 0xFFFFFFFFu;

// One row of 32-bit pixels (blue, green, red, unused in memory) as red, green, blue bytes. The
// PPM output is mostly this and the file writes, so x86-64 gets a byte shuffle of four pixels at
// a time where the processor has one (SSSE3: every x86-64 processor since about 2008).
void BgrxToRgbPlain(const std::uint8_t* __restrict in, std::uint8_t* __restrict out, int width) {
  for (int x = 0; x < width; ++x) {
    out[3 * x] = in[4 * x + 2];
    out[3 * x + 1] = in[4 * x + 1];
    out[3 * x + 2] = in[4 * x];
  }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
__attribute__((target("ssse3"))) void BgrxToRgbSsse3(const std::uint8_t* __restrict in,
                                                     std::uint8_t* __restrict out, int width) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  int x = 0;
  // Each store writes 16 bytes for 12: the last four pixels go the plain way so that no store
  // passes the end of the row.
  for (; x + 8 <= width; x += 4) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm_shuffle_epi8(pixels, order));
  }
  BgrxToRgbPlain(in + 4 * x, out + 3 * x, width - x);
}

using RowConverter = void (*)(const std::uint8_t*, std::uint8_t*, int);

RowConverter PickBgrxToRgb() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") ? BgrxToRgbSsse3 : BgrxToRgbPlain;
}

void BgrxToRgb(const std::uint8_t* in, std::uint8_t* out, int width) {
  static const RowConverter convert = PickBgrxToRgb();
  convert(in, out, width);
}
#else
void BgrxToRgb(const std::uint8_t* in, std::uint8_t* out, int width) {
  BgrxToRgbPlain(in, out, width);
}
#endif

std::uint32_t ColorAt(const std::uint8_t* pixel) {
  return static_cast<std::uint32_t>(pixel[2]) << 16 | static_cast<std::uint32_t>(pixel[1]) << 8 |
         pixel[0];
}

bool WriteBytes(const std::string& path, std::span<const std::uint8_t> bytes) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  // One write of the whole file: a stdio buffer would only copy it once more.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
  return std::fclose(file.release()) == 0;
}

}  // namespace

bool FrameWriter::Write(const std::string& path, const platform::Bitmap& bitmap,
                        std::optional<platform::Rect> changed) {
  if (bitmap.BitsPerPixel() != 32) return false;
  return format_ == ImageFormat::kPng ? WritePng(path, bitmap) : WritePpm(path, bitmap, changed);
}

// The file is kept whole between calls, so a frame repainted over the last one in a small
// rectangle costs the conversion of that rectangle, not of the surface. It is converted and
// written in blocks, each just before its write, so that a block converted whole is still in the
// cache when the system copies it.
bool FrameWriter::WritePpm(const std::string& path, const platform::Bitmap& bitmap,
                           std::optional<platform::Rect> changed) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  platform::Rect part{0, 0, width, height};
  if (changed && width == ppmWidth_ && height == ppmHeight_) {
    part = {std::clamp(changed->left, 0, width), std::clamp(changed->top, 0, height),
            std::clamp(changed->right, 0, width), std::clamp(changed->bottom, 0, height)};
  } else {
    char header[48];
    const int headerBytes = std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", width, height);
    ppmHeaderBytes_ = static_cast<std::size_t>(headerBytes);
    ppm_.resize(ppmHeaderBytes_ + rowBytes * static_cast<std::size_t>(height));
    std::copy_n(header, headerBytes, ppm_.begin());
  }
  // Until this call succeeds the kept file matches no bitmap.
  ppmWidth_ = 0;
  ppmHeight_ = 0;
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  // Every write is a whole block: a stdio buffer would only copy it once more.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  const int blockRows = static_cast<int>(std::max<std::size_t>(1, kPpmBlockBytes / rowBytes));
  const int partWidth = part.right - part.left;
  std::size_t written = 0;
  for (int y0 = 0; y0 < height; y0 += blockRows) {
    const int y1 = std::min(height, y0 + blockRows);
    if (partWidth > 0) {
      for (int y = std::max(y0, part.top); y < std::min(y1, part.bottom); ++y) {
        BgrxToRgb(bitmap.Row(y) + 4 * static_cast<std::size_t>(part.left),
                  ppm_.data() + ppmHeaderBytes_ + rowBytes * static_cast<std::size_t>(y) +
                      3 * static_cast<std::size_t>(part.left),
                  partWidth);
      }
    }
    const std::size_t end = ppmHeaderBytes_ + rowBytes * static_cast<std::size_t>(y1);
    if (std::fwrite(ppm_.data() + written, 1, end - written, file.get()) != end - written) {
      return false;
    }
    written = end;
  }
  if (std::fclose(file.release()) != 0) return false;
  ppmWidth_ = width;
  ppmHeight_ = height;
  return true;
}

bool FrameWriter::MapToPalette(const platform::Bitmap& bitmap) {
  constexpr std::size_t kSlots = std::size_t{1} << kPaletteSlotBits;
  std::array<std::uint32_t, kSlots> keys;
  std::array<std::uint8_t, kSlots> slotIndex{};
  keys.fill(kNoColor);
  palette_.clear();
  const int width = bitmap.Width();
  rows_.resize((1 + static_cast<std::size_t>(width)) * static_cast<std::size_t>(bitmap.Height()));
  std::uint8_t* out = rows_.data();
  // Runs of one colour are the common case: they skip the table.
  std::uint32_t last = kNoColor;
  std::uint8_t lastIndex = 0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* pixel = bitmap.Row(y);
    *out++ = kPngNoFilter;
    for (int x = 0; x < width; ++x, pixel += 4) {
      const std::uint32_t color = ColorAt(pixel);
      if (color != last) {
        std::size_t slot = (color * 0x9E3779B1u) >> (32 - kPaletteSlotBits);
        while (keys[slot] != color && keys[slot] != kNoColor) slot = (slot + 1) & (kSlots - 1);
        if (keys[slot] == kNoColor) {
          const int count = static_cast<int>(palette_.size() / 3);
          if (count == kMaxPaletteColors) return false;
          keys[slot] = color;
          slotIndex[slot] = static_cast<std::uint8_t>(count);
          palette_.insert(palette_.end(), {pixel[2], pixel[1], pixel[0]});
        }
        last = color;
        lastIndex = slotIndex[slot];
      }
      *out++ = lastIndex;
    }
  }
  return true;
}

bool FrameWriter::WritePng(const std::string& path, const platform::Bitmap& bitmap) {
  const int width = bitmap.Width();
  const bool indexed = MapToPalette(bitmap);
  if (!indexed) {
    palette_.clear();
    const std::size_t rowBytes = 1 + static_cast<std::size_t>(width) * 3;
    rows_.resize(rowBytes * static_cast<std::size_t>(bitmap.Height()));
    std::uint8_t* out = rows_.data();
    for (int y = 0; y < bitmap.Height(); ++y, out += rowBytes) {
      out[0] = kPngNoFilter;
      BgrxToRgb(bitmap.Row(y), out + 1, width);
    }
  }
  if (!png_) png_ = std::make_unique<PngEncoder>();
  return png_->Encode(width, bitmap.Height(), rows_, palette_, file_) && WriteBytes(path, file_);
}

}  // namespace velmora::anigif
