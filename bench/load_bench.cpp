// Decoding every frame of a GIF to colour indices: our whole load (ucAniGIF's
// LoadAnimatedGIF_Array with DelayAnimation 0 in run mode, so every frame lands in the frame
// strip during the load) against giflib's DGifSlurp from memory. Bytes processed are frame
// pixels, one index each. Our load also parses the blocks, sizes the strip and, for animations
// that need one, creates the composite canvas; giflib's slurp likewise allocates every image.
//
// The counter bytes_per_px is what the control keeps per decoded frame pixel (strip, canvas and
// mask bytes over the frames' pixels); a decoder that keeps RGBA frames keeps 4.
//
//   velmora_bench --benchmark_filter=Load/

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_control.h"
#include "bench/bench_data.h"

namespace velmora::bench {
namespace {

// Our strip must hold giflib's indices for every frame before any timing means anything.
void CheckSameIndices(const BenchGif& g) {
  BenchControl ours(1, 1);
  ours.Control().SetDelayAnimation(0);
  ours.Control().SetStretch(0);
  if (!ours.Load(g.bytes)) throw std::runtime_error(g.name + ": the control cannot load it");
  GifMemoryReader reader{};
  GifFileType* gif = SlurpWithGiflib(g.bytes, reader);
  const GifDocument& doc = ours.Control().Document();
  bool same = gif != nullptr && gif->ImageCount == doc.FrameCount() && doc.FrameStrip.Bitmap;
  for (int i = 0; same && i < gif->ImageCount; ++i) {
    const GifFrame& f = doc.Frames[static_cast<std::size_t>(i)];
    const GifImageDesc& d = gif->SavedImages[i].ImageDesc;
    same = f.Width == d.Width && f.Height == d.Height;
    for (int y = 0; same && y < f.Height; ++y) {
      same = std::memcmp(doc.FrameStrip.Bitmap->Row(y) + f.StripX,
                         gif->SavedImages[i].RasterBits + static_cast<std::size_t>(y) * d.Width,
                         static_cast<std::size_t>(f.Width)) == 0;
    }
  }
  int error = 0;
  if (gif != nullptr) DGifCloseFile(gif, &error);
  if (!same) throw std::runtime_error(g.name + ": strip indices differ from giflib's");
}

void LoadOurs(benchmark::State& state, std::vector<const BenchGif*> gifs) {
  BenchControl ours(1, 1);
  // As anigif decode: everything decoded during the load, and no resize of the host.
  ours.Control().SetDelayAnimation(0);
  ours.Control().SetStretch(0);
  std::int64_t pixels = 0;
  std::size_t held = 0;
  for (const BenchGif* g : gifs) pixels += g->framePixels;
  for (auto _ : state) {
    held = 0;
    for (const BenchGif* g : gifs) {
      if (!ours.Load(g->bytes)) {
        state.SkipWithError(("cannot load " + g->name).c_str());
        return;
      }
      held += ours.DecodedBytes();
      benchmark::DoNotOptimize(ours.Control().Document().FrameStrip.Bits);
    }
    ours.Host().Recorder().Clear();
  }
  state.SetBytesProcessed(state.iterations() * pixels);
  state.counters["bytes_per_px"] = static_cast<double>(held) / static_cast<double>(pixels);
}

void LoadGiflib(benchmark::State& state, std::vector<const BenchGif*> gifs) {
  std::int64_t pixels = 0;
  for (const BenchGif* g : gifs) pixels += g->framePixels;
  for (auto _ : state) {
    for (const BenchGif* g : gifs) {
      GifMemoryReader reader{};
      GifFileType* gif = SlurpWithGiflib(g->bytes, reader);
      if (gif == nullptr) {
        state.SkipWithError(("giflib cannot decode " + g->name).c_str());
        return;
      }
      benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
      int error = 0;
      DGifCloseFile(gif, &error);
    }
  }
  state.SetBytesProcessed(state.iterations() * pixels);
  state.counters["bytes_per_px"] = 1.0;
}

void Register(const std::string& label, const std::vector<const BenchGif*>& gifs) {
  benchmark::RegisterBenchmark(("Load/velmora/" + label).c_str(), LoadOurs, gifs)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(("Load/giflib/" + label).c_str(), LoadGiflib, gifs)
      ->Unit(benchmark::kMicrosecond);
}

const bool kRegistered = [] {
  try {
    std::vector<const BenchGif*> corpus;
    for (const BenchGif& g : BenchGifs()) {
      CheckSameIndices(g);
      Register(g.name, {&g});
      if (!g.generated) corpus.push_back(&g);
    }
    Register("corpus", corpus);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmora_bench: load benchmarks: %s\n", e.what());
    std::exit(1);
  }
  return true;
}();

}  // namespace
}  // namespace velmora::bench
