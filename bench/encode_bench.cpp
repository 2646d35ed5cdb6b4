// Encoding one frame to a GIF: our single-frame encoder against giflib's encoder on the frames of
// testdata/gif-corpus. Both start from the frame's colour indices in memory (ours from a bottom-up
// strip, giflib from top-down rows, each as it reads them) and produce a complete file in memory.
// Throughput is counted in index bytes (pixels) per second.

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ucAniGIF/encode/gif_encoder.h"

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

std::vector<BenchFrame> LoadFrames(const std::string& path) {
  int error = 0;
  GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
  std::vector<BenchFrame> frames;
  if (gif == nullptr) return frames;
  if (DGifSlurp(gif) == GIF_OK) {
    for (int i = 0; i < gif->ImageCount; ++i) {
      const SavedImage& image = gif->SavedImages[i];
      BenchFrame f;
      f.width = image.ImageDesc.Width;
      f.height = image.ImageDesc.Height;
      if (f.width <= 0 || f.height <= 0) continue;
      f.rows.assign(image.RasterBits, image.RasterBits + f.width * f.height);
      const auto stride = static_cast<std::size_t>(velmora::StripRowBytes(f.width));
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
      if (DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK)
        f.transparentIndex = gcb.TransparentColor;
      frames.push_back(std::move(f));
    }
  }
  DGifCloseFile(gif, &error);
  return frames;
}

const std::vector<BenchFrame>& FramesOf(const std::string& path) {
  static std::map<std::string, std::vector<BenchFrame>> cache;
  auto it = cache.find(path);
  if (it == cache.end()) it = cache.emplace(path, LoadFrames(path)).first;
  return it->second;
}

std::size_t EncodeOurs(const BenchFrame& f) {
  velmora::EncoderInput in;
  in.width = f.width;
  in.height = f.height;
  in.colors = f.colors;
  in.colorCount = static_cast<std::int32_t>(f.colors.size());
  in.transparent = f.transparentIndex >= 0;
  in.transparentIndex = static_cast<std::uint8_t>(std::max(f.transparentIndex, 0));
  in.strip = {f.strip, f.width, f.height};
  in.stripX = 0;
  const auto file = velmora::EncodeFrameBytes(in);
  return file ? file->size() : 0;
}

int AppendToVector(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
  out->insert(out->end(), data, data + length);
  return length;
}

// giflib's usual in-memory encoding: screen with a 256-entry global map, the graphic control
// block when transparent, one image written line by line.
std::size_t EncodeGiflib(BenchFrame& f) {
  std::vector<std::uint8_t> out;
  out.reserve(4096);
  int error = 0;
  GifFileType* gif = EGifOpen(&out, AppendToVector, &error);
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

template <bool kOurs>
void BM_EncodeFrames(benchmark::State& state, const std::string& path) {
  auto& frames = const_cast<std::vector<BenchFrame>&>(FramesOf(path));
  if (frames.empty()) {
    state.SkipWithError("no frames");
    return;
  }
  std::int64_t pixels = 0, fileBytes = 0;
  for (auto _ : state) {
    for (BenchFrame& f : frames) {
      const std::size_t size = kOurs ? EncodeOurs(f) : EncodeGiflib(f);
      benchmark::DoNotOptimize(size);
      pixels += static_cast<std::int64_t>(f.width) * f.height;
      fileBytes += static_cast<std::int64_t>(size);
    }
  }
  state.SetBytesProcessed(pixels);
  state.counters["out_per_px"] =
      pixels ? static_cast<double>(fileBytes) / static_cast<double>(pixels) : 0.0;
}

// Registered while the program starts, one pair per corpus file, whichever file holds main().
const bool kRegistered = [] {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(VELMORA_TESTDATA_DIR "/gif-corpus", ec))
    if (e.path().extension() == ".gif") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    const std::string name = file.stem().string();
    benchmark::RegisterBenchmark(("Encode/velmora/" + name).c_str(), BM_EncodeFrames<true>,
                                 file.string());
    benchmark::RegisterBenchmark(("Encode/giflib/" + name).c_str(), BM_EncodeFrames<false>,
                                 file.string());
  }
  return true;
}();

}  // namespace

// The benchmark program is shared by every area; this main steps aside for another file's.
__attribute__((weak)) int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
