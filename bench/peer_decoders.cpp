// The composited-frame peers. Qt and gdk-pixbuf are compiled in only when CMake found them
// (VELMORA_BENCH_QT, VELMORA_BENCH_GDK_PIXBUF); stb_image's implementation lives in
// lzw_bench.cpp, this file sees its declarations only.

#include "bench/peer_decoders.h"

#include <stb/stb_image.h>

#include <benchmark/benchmark.h>

// GLib's headers first: Qt's `signals` keyword would clash with a GIO member name.
#ifdef VELMORA_BENCH_GDK_PIXBUF
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#endif

#ifdef VELMORA_BENCH_QT
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#endif

namespace velmora::bench {

int DecodeFramesWithStb(const std::vector<std::uint8_t>& bytes) {
  int* delays = nullptr;
  int x = 0;
  int y = 0;
  int frames = 0;
  int channels = 0;
  stbi_uc* pixels = stbi_load_gif_from_memory(bytes.data(), static_cast<int>(bytes.size()),
                                              &delays, &x, &y, &frames, &channels, 4);
  if (pixels == nullptr) return 0;
  benchmark::DoNotOptimize(pixels);
  stbi_image_free(pixels);
  stbi_image_free(delays);  // stb allocated it with its own allocator
  return frames;
}

#ifdef VELMORA_BENCH_QT
bool HasQt() { return true; }

int DecodeFramesWithQt(const std::vector<std::uint8_t>& bytes) {
  QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                            static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  if (!buffer.open(QIODevice::ReadOnly)) return 0;
  QImageReader reader(&buffer, "gif");
  QImage image;
  int frames = 0;
  while (reader.read(&image)) {
    benchmark::DoNotOptimize(image.constBits());
    ++frames;
  }
  return frames;
}
#else
bool HasQt() { return false; }
int DecodeFramesWithQt(const std::vector<std::uint8_t>&) { return 0; }
#endif

#ifdef VELMORA_BENCH_GDK_PIXBUF
bool HasGdkPixbuf() { return true; }

int DecodeFramesWithGdkPixbuf(const std::vector<std::uint8_t>& bytes, int frames) {
  GInputStream* stream =
      g_memory_input_stream_new_from_data(bytes.data(), static_cast<gssize>(bytes.size()), nullptr);
  GError* error = nullptr;
  GdkPixbufAnimation* animation = gdk_pixbuf_animation_new_from_stream(stream, nullptr, &error);
  g_object_unref(stream);
  if (animation == nullptr) {
    if (error != nullptr) g_error_free(error);
    return 0;
  }
  // The iterator's clock is GTimeVal, deprecated in GLib but still what this API takes.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  GTimeVal now{0, 0};
  GdkPixbufAnimationIter* iter = gdk_pixbuf_animation_get_iter(animation, &now);
  int produced = 0;
  while (produced < frames) {
    GdkPixbuf* pixbuf = gdk_pixbuf_animation_iter_get_pixbuf(iter);
    if (pixbuf == nullptr) break;
    benchmark::DoNotOptimize(gdk_pixbuf_read_pixels(pixbuf));
    ++produced;
    const int delay = gdk_pixbuf_animation_iter_get_delay_time(iter);
    if (delay < 0) break;  // a still image: one frame
    now.tv_usec += static_cast<glong>(delay) * 1000;
    now.tv_sec += now.tv_usec / 1000000;
    now.tv_usec %= 1000000;
    gdk_pixbuf_animation_iter_advance(iter, &now);
  }
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_object_unref(iter);
  g_object_unref(animation);
  return produced;
}
#else
bool HasGdkPixbuf() { return false; }
int DecodeFramesWithGdkPixbuf(const std::vector<std::uint8_t>&, int) { return 0; }
#endif

}  // namespace velmora::bench
