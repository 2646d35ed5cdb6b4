// Frame files: the caller's thread converts the surface (a palette image for PNG where it can),
// a thread of the writer's own compresses and writes, so drawing and writing overlap.
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

// The palette image of a bitmap with at most 256 colours, as PNG rows, into frame.pixels and
// frame.palette; false when it has more.
bool MapToPalette(const platform::Bitmap& bitmap, FrameWriter::Frame& frame) {
  constexpr std::size_t kSlots = std::size_t{1} << kPaletteSlotBits;
  std::array<std::uint32_t, kSlots> keys;
  std::array<std::uint8_t, kSlots> slotIndex{};
  keys.fill(kNoColor);
  frame.palette.clear();
  const int width = bitmap.Width();
  frame.pixels.resize((1 + static_cast<std::size_t>(width)) *
                      static_cast<std::size_t>(bitmap.Height()));
  std::uint8_t* out = frame.pixels.data();
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

// The rows converted to RGB after `offset` bytes of frame.pixels, each led by a PNG filter type
// byte when `pngRows`.
void ConvertToRgb(const platform::Bitmap& bitmap, std::size_t offset, bool pngRows,
                  FrameWriter::Frame& frame) {
  const std::size_t lead = pngRows ? 1 : 0;
  const std::size_t rowBytes = lead + static_cast<std::size_t>(bitmap.Width()) * 3;
  frame.pixels.resize(offset + rowBytes * static_cast<std::size_t>(bitmap.Height()));
  std::uint8_t* out = frame.pixels.data() + offset;
  for (int y = 0; y < bitmap.Height(); ++y, out += rowBytes) {
    if (pngRows) out[0] = kPngNoFilter;
    BgrxToRgb(bitmap.Row(y), out + lead, bitmap.Width());
  }
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
    if (!frame.indexed) ConvertToRgb(bitmap, 0, /*pngRows=*/true, frame);
    return;
  }
  char header[48];
  const int headerBytes =
      std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", frame.width, frame.height);
  ConvertToRgb(bitmap, static_cast<std::size_t>(headerBytes), /*pngRows=*/false, frame);
  std::copy_n(header, headerBytes, frame.pixels.begin());
}

bool FrameWriter::WriteFile(const Frame& frame) {
  if (format_ == ImageFormat::kPpm) return WriteBytes(frame.path, frame.pixels);
  const std::span<const std::uint8_t> palette = frame.indexed
                                                    ? std::span<const std::uint8_t>(frame.palette)
                                                    : std::span<const std::uint8_t>();
  return png_.Encode(frame.width, frame.height, frame.pixels, palette, file_) &&
         WriteBytes(frame.path, file_);
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
    if (WriteFile(frame)) return true;
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
    const bool written = WriteFile(frame);
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
