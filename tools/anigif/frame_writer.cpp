// Frame files: the caller's thread converts the surface (a palette image for PNG where it can),
// a thread of the writer's own compresses and writes, so drawing and writing overlap.
//
// PNG settings, chosen on the corpus and on large mostly empty animations: GIF frames hold few
// colours, so a palette image is a third of the data to compress, and with no row filter zlib's
// fastest level gives files smaller than libpng's defaults (level 6, adaptive filters), which
// spend most of their time on filters that do not help indexed colour.

#include "tools/anigif/frame_writer.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <system_error>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <tmmintrin.h>
#endif

namespace velmora::anigif {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Frames waiting for the writing thread, besides the one it writes: enough to keep it busy while
// the next frame is drawn, few enough that frames as large as the raster bound allows do not pile
// up.
constexpr std::size_t kMaxQueued = 1;
constexpr int kPngLevel = 1;
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

// The palette image of a bitmap with at most 256 colours, into frame.pixels and frame.palette;
// false when it has more.
bool MapToPalette(const platform::Bitmap& bitmap, FrameWriter::Frame& frame) {
  constexpr std::size_t kSlots = std::size_t{1} << kPaletteSlotBits;
  std::array<std::uint32_t, kSlots> keys;
  std::array<std::uint8_t, kSlots> slotIndex{};
  keys.fill(kNoColor);
  frame.palette.clear();
  const int width = bitmap.Width();
  frame.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(bitmap.Height()));
  std::uint8_t* out = frame.pixels.data();
  // Runs of one colour are the common case: they skip the table.
  std::uint32_t last = kNoColor;
  std::uint8_t lastIndex = 0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* pixel = bitmap.Row(y);
    for (int x = 0; x < width; ++x, pixel += 4) {
      const std::uint32_t color = ColorAt(pixel);
      if (color != last) {
        std::size_t slot = (color * 0x9E3779B1u) >> (32 - kPaletteSlotBits);
        while (keys[slot] != color && keys[slot] != kNoColor) slot = (slot + 1) & (kSlots - 1);
        if (keys[slot] == kNoColor) {
          const int count = static_cast<int>(frame.palette.size() / 3);
          if (count == kMaxPaletteColors) return false;
          keys[slot] = color;
          slotIndex[slot] = static_cast<std::uint8_t>(count);
          frame.palette.insert(frame.palette.end(), {pixel[2], pixel[1], pixel[0]});
        }
        last = color;
        lastIndex = slotIndex[slot];
      }
      *out++ = lastIndex;
    }
  }
  return true;
}

// The rows converted to RGB after `offset` bytes of frame.pixels.
void ConvertToRgb(const platform::Bitmap& bitmap, std::size_t offset, FrameWriter::Frame& frame) {
  const std::size_t rowBytes = static_cast<std::size_t>(bitmap.Width()) * 3;
  frame.pixels.resize(offset + rowBytes * static_cast<std::size_t>(bitmap.Height()));
  std::uint8_t* out = frame.pixels.data() + offset;
  for (int y = 0; y < bitmap.Height(); ++y, out += rowBytes) {
    BgrxToRgb(bitmap.Row(y), out, bitmap.Width());
  }
}

bool WritePpmFile(const FrameWriter::Frame& frame) {
  File file(std::fopen(frame.path.c_str(), "wb"));
  if (!file) return false;
  // One write of the whole file: a stdio buffer would only copy it once more.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  const std::size_t bytes = frame.pixels.size();
  if (std::fwrite(frame.pixels.data(), 1, bytes, file.get()) != bytes) return false;
  return std::fclose(file.release()) == 0;
}

// The work between the setjmp and its end. libpng leaves by longjmp on an error: nothing here may
// own anything.
void WritePngImage(png_structp png, png_infop info, const FrameWriter::Frame& frame,
                   const png_color* colors, int colorCount) {
  png_set_compression_level(png, kPngLevel);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_IHDR(png, info, static_cast<png_uint_32>(frame.width),
               static_cast<png_uint_32>(frame.height), 8,
               frame.indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (frame.indexed) png_set_PLTE(png, info, colors, colorCount);
  png_write_info(png, info);
  const std::size_t rowBytes = static_cast<std::size_t>(frame.width) * (frame.indexed ? 1 : 3);
  const std::uint8_t* row = frame.pixels.data();
  for (int y = 0; y < frame.height; ++y, row += rowBytes) png_write_row(png, row);
  png_write_end(png, nullptr);
}

bool WritePngFile(const FrameWriter::Frame& frame) {
  std::array<png_color, kMaxPaletteColors> colors{};
  const int colorCount = frame.indexed ? static_cast<int>(frame.palette.size() / 3) : 0;
  for (int i = 0; i < colorCount; ++i) {
    colors[static_cast<std::size_t>(i)] = {frame.palette[3 * i], frame.palette[3 * i + 1],
                                           frame.palette[3 * i + 2]};
  }
  File file(std::fopen(frame.path.c_str(), "wb"));
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file.get());
  WritePngImage(png, info, frame, colors.data(), colorCount);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file.release()) == 0;
}

bool WriteFrameFile(ImageFormat format, const FrameWriter::Frame& frame) {
  return format == ImageFormat::kPng ? WritePngFile(frame) : WritePpmFile(frame);
}

}  // namespace

FrameWriter::FrameWriter(ImageFormat format) : format_(format) {
  // Without a thread (the system refused one) every file is written before Write returns.
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
  }
}

FrameWriter::~FrameWriter() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void FrameWriter::Prepare(const platform::Bitmap& bitmap, Frame& frame) const {
  frame.width = bitmap.Width();
  frame.height = bitmap.Height();
  if (format_ == ImageFormat::kPng) {
    frame.indexed = MapToPalette(bitmap, frame);
    if (!frame.indexed) ConvertToRgb(bitmap, 0, frame);
    return;
  }
  char header[48];
  const int headerBytes =
      std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", frame.width, frame.height);
  ConvertToRgb(bitmap, static_cast<std::size_t>(headerBytes), frame);
  std::copy_n(header, headerBytes, frame.pixels.begin());
}

bool FrameWriter::Write(const std::string& path, const platform::Bitmap& bitmap) {
  if (bitmap.BitsPerPixel() != 32) return false;
  Frame frame;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !failedPath_.empty() || queued_.size() < kMaxQueued; });
    if (!failedPath_.empty()) return false;
    if (!spare_.empty()) {
      frame = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  frame.path = path;
  // Outside the lock: the thread writes the frame before meanwhile.
  Prepare(bitmap, frame);
  if (!thread_.joinable()) {
    if (WriteFrameFile(format_, frame)) return true;
    const std::lock_guard lock(mutex_);
    failedPath_ = frame.path;
    return false;
  }
  {
    const std::lock_guard lock(mutex_);
    queued_.push_back(std::move(frame));
  }
  changed_.notify_all();
  return true;
}

bool FrameWriter::Finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return queued_.empty() && !writing_; });
  return failedPath_.empty();
}

std::string FrameWriter::FailedPath() const {
  const std::lock_guard lock(mutex_);
  return failedPath_;
}

void FrameWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queued_.empty(); });
    if (queued_.empty()) return;
    Frame frame = std::move(queued_.front());
    queued_.pop_front();
    writing_ = true;
    lock.unlock();
    const bool written = WriteFrameFile(format_, frame);
    lock.lock();
    writing_ = false;
    if (!written && failedPath_.empty()) {
      failedPath_ = frame.path;
      queued_.clear();
    }
    spare_.push_back(std::move(frame));
    changed_.notify_all();
  }
}

}  // namespace velmora::anigif
