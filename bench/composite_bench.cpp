// Decoding a GIF to composited colour frames: our load plus a paint of every frame, in order,
// into a 32-bit host surface of the canvas size (the stop command shows frame 1, the step
// command each next one, as anigif frames does), against stb_image's animated loader, Qt's
// QImageReader and gdk-pixbuf's animation iterator, each producing every canvas-sized frame.
// Bytes processed are canvas pixels x frames: one per composited output pixel.
//
//   velmora_bench --benchmark_filter=Frames/

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench/bench_control.h"
#include "bench/bench_data.h"
#include "bench/peer_decoders.h"

namespace velmora::bench {
namespace {

std::int64_t OutputPixels(const BenchGif& g) {
  return static_cast<std::int64_t>(g.canvasWidth) * g.canvasHeight * g.frames;
}

void FramesOurs(benchmark::State& state, const BenchGif* g) {
  BenchControl ours(g->canvasWidth, g->canvasHeight);
  ucAniGIF& control = ours.Control();
  control.SetDelayAnimation(0);  // every frame decoded during the load, as the peers do
  for (auto _ : state) {
    if (!ours.Load(g->bytes) || control.FrameCount() != g->frames) {
      state.SkipWithError(("cannot load " + g->name).c_str());
      return;
    }
    for (int k = 1; k <= g->frames; ++k) {
      control.SetAction(k == 1 ? 0 : 3);
      benchmark::DoNotOptimize(ours.Host().SurfaceBitmap().Bits());
    }
    if (control.CurrentFrame() != g->frames) {
      state.SkipWithError("a frame was not shown");
      return;
    }
    ours.Host().Recorder().Clear();
  }
  state.SetBytesProcessed(state.iterations() * OutputPixels(*g));
}

template <typename Decode>
void FramesPeer(benchmark::State& state, const BenchGif* g, Decode decode) {
  for (auto _ : state) {
    const int frames = decode(*g);
    if (frames != g->frames) {
      state.SkipWithError(("decoded " + std::to_string(frames) + " of " +
                           std::to_string(g->frames) + " frames").c_str());
      return;
    }
  }
  state.SetBytesProcessed(state.iterations() * OutputPixels(*g));
}

const bool kRegistered = [] {
  try {
    for (const BenchGif& g : BenchGifs()) {
      const BenchGif* p = &g;
      benchmark::RegisterBenchmark(("Frames/velmora/" + g.name).c_str(), FramesOurs, p)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("Frames/stb/" + g.name).c_str(), [p](benchmark::State& s) {
        FramesPeer(s, p, [](const BenchGif& x) { return DecodeFramesWithStb(x.bytes); });
      })->Unit(benchmark::kMicrosecond);
      if (HasQt()) {
        benchmark::RegisterBenchmark(("Frames/qt/" + g.name).c_str(), [p](benchmark::State& s) {
          FramesPeer(s, p, [](const BenchGif& x) { return DecodeFramesWithQt(x.bytes); });
        })->Unit(benchmark::kMicrosecond);
      }
      if (HasGdkPixbuf()) {
        benchmark::RegisterBenchmark(
            ("Frames/gdk-pixbuf/" + g.name).c_str(), [p](benchmark::State& s) {
              FramesPeer(s, p, [](const BenchGif& x) {
                return DecodeFramesWithGdkPixbuf(x.bytes, x.frames);
              });
            })->Unit(benchmark::kMicrosecond);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmora_bench: frame benchmarks: %s\n", e.what());
    std::exit(1);
  }
  return true;
}();

}  // namespace
}  // namespace velmora::bench
