// A frame paint: the step command shows the next frame and the host's Refresh paints it (the host
// clears its surface first, as a window system does), at 1:1 and stretched 2x (Stretch 1 on a
// surface twice the canvas size, which draws with HALFTONE), in direct mode (frames that all
// restore to background) and in canvas mode (frames kept: the compositor prepares the canvas,
// the frame is drawn into it and the canvas onto the surface).
//
// The peer is what a Qt widget showing a QMovie does per frame: clear the surface and draw the
// cached frame with QPainter, 1:1 or scaled with SmoothPixmapTransform.
// Bytes processed are surface pixels painted.
//
//   velmora_bench --benchmark_filter=Paint/

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench/bench_control.h"
#include "bench/bench_data.h"

#ifdef VELMORA_BENCH_QT
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#endif

namespace velmora::bench {
namespace {

struct PaintCase {
  const char* label;
  const char* gif;
  int scale;
};

const PaintCase kCases[] = {
    {"direct-1x", kGeneratedDirectName, 1},
    {"direct-2x-halftone", kGeneratedDirectName, 2},
    {"canvas-1x", kGeneratedName, 1},
    {"canvas-2x-halftone", kGeneratedName, 2},
};

void PaintOurs(benchmark::State& state, PaintCase c) {
  const BenchGif& g = GifNamed(c.gif);
  BenchControl ours(g.canvasWidth * c.scale, g.canvasHeight * c.scale);
  ucAniGIF& control = ours.Control();
  control.SetDelayAnimation(0);
  if (!ours.Load(g.bytes)) {
    state.SkipWithError("cannot load");
    return;
  }
  const bool canvasMode = control.Document().CompositeCanvas.Bitmap != nullptr;
  if (canvasMode != (c.gif == std::string(kGeneratedName))) {
    state.SkipWithError("the animation is not in the intended drawing mode");
    return;
  }
  control.SetAction(0);
  std::int64_t paints = 0;
  for (auto _ : state) {
    control.SetAction(3);  // the next frame, painted
    benchmark::DoNotOptimize(ours.Host().SurfaceBitmap().Bits());
    if (++paints % 1024 == 0) ours.Host().Recorder().Clear();
  }
  state.SetBytesProcessed(state.iterations() * ours.Host().WidthPx() * ours.Host().HeightPx());
}

#ifdef VELMORA_BENCH_QT
void PaintQt(benchmark::State& state, PaintCase c) {
  const BenchGif& g = GifNamed(c.gif);
  QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(g.bytes.data()),
                                            static_cast<qsizetype>(g.bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "gif");
  std::vector<QImage> frames;
  QImage image;
  while (frames.size() < 8 && reader.read(&image)) {
    frames.push_back(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
  }
  if (frames.empty()) {
    state.SkipWithError("Qt cannot read the animation");
    return;
  }
  QImage surface(g.canvasWidth * c.scale, g.canvasHeight * c.scale, QImage::Format_RGB32);
  const QRect target(0, 0, surface.width(), surface.height());
  std::size_t k = 0;
  for (auto _ : state) {
    QPainter painter(&surface);
    painter.fillRect(target, Qt::black);
    if (c.scale != 1) painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, frames[k]);
    painter.end();
    k = (k + 1) % frames.size();
    benchmark::DoNotOptimize(surface.constBits());
  }
  state.SetBytesProcessed(state.iterations() * surface.width() * surface.height());
}
#endif

const bool kRegistered = [] {
  try {
    for (const PaintCase& c : kCases) {
      benchmark::RegisterBenchmark((std::string("Paint/velmora/") + c.label).c_str(), PaintOurs,
                                   c);
#ifdef VELMORA_BENCH_QT
      benchmark::RegisterBenchmark((std::string("Paint/qt/") + c.label).c_str(), PaintQt, c);
#endif
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmora_bench: paint benchmarks: %s\n", e.what());
    std::exit(1);
  }
  return true;
}();

}  // namespace
}  // namespace velmora::bench
