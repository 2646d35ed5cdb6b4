// Encoding one frame to a GIF: our single-frame encoder against giflib's encoder on every frame of
// the shared bench GIFs (bench_data.h). Both start from the frame's colour indices in memory (ours
// from a bottom-up strip, giflib from top-down rows, each as it reads them) and produce a complete
// file in memory. Throughput is counted in frame pixels (one index byte each) per second.

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_data.h"
#include "gif/gif_writer.h"
#include "platform/raster.h"

namespace {

struct BenchFrame {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rows;   // top-down, width bytes per row (giflib's input)
  std::vector<std::uint8_t> strip;  // bottom-up, padded rows (our input)
  std::vector<std::uint32_t> colors;
  std::vector<GifColorType> giflibColors;  // always 256 entries, like our file
  int transparentIndex = -1;
};

// Every image of the GIF with its colours and transparency, as giflib decodes it.
std::vector<BenchFrame> LoadFrames(const std::vector<std::uint8_t>& bytes) {
  velmora::bench::GifMemoryReader reader{};
  GifFileType* gif = velmora::bench::SlurpWithGiflib(bytes, reader);
  std::vector<BenchFrame> frames;
  if (gif == nullptr) return frames;
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& image = gif->SavedImages[i];
    BenchFrame f;
    f.width = image.ImageDesc.Width;
    f.height = image.ImageDesc.Height;
    if (f.width <= 0 || f.height <= 0) continue;
    f.rows.assign(image.RasterBits, image.RasterBits + f.width * f.height);
    const auto stride = static_cast<std::size_t>(velmora::platform::RowBytes(f.width, 8));
    f.strip.assign(stride * static_cast<std::size_t>(f.height), 0);
    for (int r = 0; r < f.height; ++r)
      std::memcpy(&f.strip[static_cast<std::size_t>(f.height - 1 - r) * stride],
                  &f.rows[static_cast<std::size_t>(r * f.width)],
                  static_cast<std::size_t>(f.width));
    const ColorMapObject* map =
        image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    f.giflibColors.assign(256, GifColorType{0, 0, 0});
    for (int c = 0; map != nullptr && c < map->ColorCount; ++c) {
      f.colors.push_back((std::uint32_t{map->Colors[c].Red} << 16) |
                         (std::uint32_t{map->Colors[c].Green} << 8) | map->Colors[c].Blue);
      f.giflibColors[static_cast<std::size_t>(c)] = map->Colors[c];
    }
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK) f.transparentIndex = gcb.TransparentColor;
    frames.push_back(std::move(f));
  }
  int error = 0;
  DGifCloseFile(gif, &error);
  return frames;
}

std::optional<std::vector<std::uint8_t>> EncodeWithVelmora(const BenchFrame& f) {
  velmora::gif::EncoderInput in;
  in.width = f.width;
  in.height = f.height;
  in.colors = f.colors;
  in.colorCount = static_cast<std::int32_t>(f.colors.size());
  in.transparent = f.transparentIndex >= 0;
  in.transparentIndex = static_cast<std::uint8_t>(std::max(f.transparentIndex, 0));
  in.strip = {f.strip, f.width, f.height, velmora::platform::RowBytes(f.width, 8)};
  in.stripX = 0;
  return velmora::gif::EncodeFrameBytes(in);
}

// Our file must decode with giflib to the frame's own indices, or the figures mean nothing.
void CheckRoundTrip(const std::string& name, const std::vector<BenchFrame>& frames) {
  for (const BenchFrame& f : frames) {
    const auto file = EncodeWithVelmora(f);
    velmora::bench::GifMemoryReader reader{};
    GifFileType* gif = file ? velmora::bench::SlurpWithGiflib(*file, reader) : nullptr;
    const bool same = gif != nullptr && gif->ImageCount == 1 &&
                      std::equal(f.rows.begin(), f.rows.end(), gif->SavedImages[0].RasterBits);
    int error = 0;
    if (gif != nullptr) DGifCloseFile(gif, &error);
    if (!same)
      throw std::runtime_error("our encoding of " + name + " does not decode to its indices");
  }
}

std::size_t EncodeOurs(const BenchFrame& f) {
  const auto file = EncodeWithVelmora(f);
  return file ? file->size() : 0;
}

// giflib's usual in-memory encoding: screen with a 256-entry global map, the graphic control
// block when transparent, one image written line by line.
std::size_t EncodeGiflib(BenchFrame& f) {
  std::vector<std::uint8_t> out;
  out.reserve(4096);
  int error = 0;
  GifFileType* gif = EGifOpen(&out, velmora::bench::AppendGifBytes, &error);
  if (gif == nullptr) return 0;
  ColorMapObject* map = GifMakeMapObject(256, f.giflibColors.data());
  bool ok = EGifPutScreenDesc(gif, f.width, f.height, 8, 0, map) == GIF_OK;
  GifFreeMapObject(map);
  if (ok && f.transparentIndex >= 0) {
    GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, f.transparentIndex};
    GifByteType ext[4];
    const size_t n = EGifGCBToExtension(&gcb, ext);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext) == GIF_OK;
  }
  ok = ok && EGifPutImageDesc(gif, 0, 0, f.width, f.height, false, nullptr) == GIF_OK;
  for (int r = 0; ok && r < f.height; ++r)
    ok = EGifPutLine(gif, &f.rows[static_cast<std::size_t>(r * f.width)], f.width) == GIF_OK;
  EGifCloseFile(gif, &error);
  return ok ? out.size() : 0;
}

using FrameSet = std::vector<std::vector<BenchFrame>*>;

template <bool kOurs>
void BM_EncodeFrames(benchmark::State& state, FrameSet sets) {
  std::int64_t pixels = 0, fileBytes = 0;
  for (auto _ : state) {
    for (std::vector<BenchFrame>* frames : sets) {
      for (BenchFrame& f : *frames) {
        const std::size_t size = kOurs ? EncodeOurs(f) : EncodeGiflib(f);
        benchmark::DoNotOptimize(size);
        pixels += static_cast<std::int64_t>(f.width) * f.height;
        fileBytes += static_cast<std::int64_t>(size);
      }
    }
  }
  state.SetBytesProcessed(pixels);
  state.counters["out_per_px"] =
      pixels ? static_cast<double>(fileBytes) / static_cast<double>(pixels) : 0.0;
}

void Register(const std::string& label, const FrameSet& sets) {
  benchmark::RegisterBenchmark(("Encode/velmora/" + label).c_str(), BM_EncodeFrames<true>, sets)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(("Encode/giflib/" + label).c_str(), BM_EncodeFrames<false>, sets)
      ->Unit(benchmark::kMicrosecond);
}

// One pair per shared bench GIF (every frame encoded in turn) and one over the whole corpus.
const bool kRegistered = [] {
  try {
    static std::map<std::string, std::vector<BenchFrame>> framesByGif;
    FrameSet corpus;
    for (const velmora::bench::BenchGif& g : velmora::bench::BenchGifs()) {
      std::vector<BenchFrame>& frames = framesByGif[g.name] = LoadFrames(g.bytes);
      CheckRoundTrip(g.name, frames);
      Register(g.name, {&frames});
      if (!g.generated) corpus.push_back(&frames);
    }
    Register("corpus", corpus);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmora_bench: encode benchmarks: %s\n", e.what());
    std::exit(1);
  }
  return true;
}();

}  // namespace
