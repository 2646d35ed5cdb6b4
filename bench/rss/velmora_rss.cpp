// velmora_rss DECODER [FILE]: the peak resident memory one decoder adds while holding every
// frame of one animation, for the bench script, which runs each decoder in its own process.
//
//   DECODER  velmora | stb | qmovie | gdk-pixbuf
//   FILE     a GIF file; without it, the large generated animation of the benchmarks
//
// The input is read (or generated) first; then the peak is reset (writing 5 to
// /proc/self/clear_refs), the decoder decodes every frame and keeps them all (ours: load and
// paint every frame; QMovie: cache mode CacheAll and a jump to every frame; stb_image: the RGBA
// block; gdk-pixbuf: the animation with a pixbuf taken for every frame), and the peak minus the
// resident size before decoding is reported as one JSON line on stdout.

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_control.h"
#include "bench/bench_data.h"
#include "bench/peer_decoders.h"

#ifdef VELMORA_BENCH_QT
#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QMovie>
#include <QPixmap>
#endif

namespace {

using velmora::bench::BenchGif;

// A "Vm...:" line of /proc/self/status, in kB; -1 when absent.
long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  }
  return -1;
}

bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

int DecodeAndHold(const std::string& decoder, const BenchGif& g, int argc, char** argv) {
  if (decoder == "velmora") {
    static velmora::bench::BenchControl ours(g.canvasWidth, g.canvasHeight);
    ours.Control().SetDelayAnimation(0);
    if (!ours.Load(g.bytes)) return 0;
    for (int k = 1; k <= ours.Control().FrameCount(); ++k) ours.Control().SetAction(k == 1 ? 0 : 3);
    ours.Host().Recorder().Clear();
    return ours.Control().FrameCount();
  }
  if (decoder == "stb") return velmora::bench::DecodeFramesWithStb(g.bytes);
  if (decoder == "gdk-pixbuf") return velmora::bench::DecodeFramesWithGdkPixbuf(g.bytes, g.frames);
#ifdef VELMORA_BENCH_QT
  if (decoder == "qmovie") {
    static QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(g.bytes.data()),
                                                     static_cast<qsizetype>(g.bytes.size()));
    static QBuffer buffer(&data);
    static QMovie movie(&buffer, "gif");
    movie.setCacheMode(QMovie::CacheAll);
    int frames = 0;
    for (int k = 0; k < g.frames && movie.jumpToFrame(k); ++k) {
      if (!movie.currentPixmap().isNull()) ++frames;
    }
    return frames;
  }
#endif
  (void)argc;
  (void)argv;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: velmora_rss velmora|stb|qmovie|gdk-pixbuf [FILE]\n");
    return 2;
  }
  const std::string decoder = argv[1];
#ifdef VELMORA_BENCH_QT
  // QMovie caches QPixmaps, which need a GUI application; no display is needed.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int qtArgc = 1;
  static QGuiApplication* app = decoder == "qmovie" ? new QGuiApplication(qtArgc, argv) : nullptr;
  (void)app;
#endif
  BenchGif g;
  try {
    if (argc == 3) {
      g.name = argv[2];
      g.bytes = velmora::bench::ReadBenchFile(argv[2]);
      velmora::bench::Measure(g);
    } else {
      g = velmora::bench::MakeGenerated(velmora::bench::kGeneratedName, 400, 300, 200, 1);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmora_rss: %s\n", e.what());
    return 1;
  }
  const long before = StatusKb("VmRSS");
  if (!ResetPeak()) {
    std::fprintf(stderr, "velmora_rss: cannot reset the peak resident size\n");
    return 1;
  }
  const int frames = DecodeAndHold(decoder, g, argc, argv);
  if (frames < 0) {
    std::fprintf(stderr, "velmora_rss: unknown or unavailable decoder %s\n", decoder.c_str());
    return 2;
  }
  const long peak = StatusKb("VmHWM");
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const long added = peak - before;
  std::printf(
      "{\"decoder\": \"%s\", \"file\": \"%s\", \"frames\": %d, \"expected_frames\": %d, "
      "\"frame_pixels\": %lld, \"rss_before_kb\": %ld, \"peak_kb\": %ld, \"added_kb\": %ld, "
      "\"maxrss_kb\": %ld, \"added_bytes_per_px\": %.3f}\n",
      decoder.c_str(), g.name.c_str(), frames, g.frames, static_cast<long long>(g.framePixels),
      before, peak, added, usage.ru_maxrss,
      g.framePixels > 0 ? added * 1024.0 / static_cast<double>(g.framePixels) : 0.0);
  return frames == g.frames ? 0 : 1;
}
