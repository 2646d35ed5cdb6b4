// GIF decoding throughput: our LZW decoder against giflib and stb_image on the GIF corpus.
//
// Every benchmark decodes every image of a file to colour indices and reports bytes processed
// as the number of image pixels (one index byte each), so the MB/s columns compare directly.
// giflib's DGifSlurp yields indices as well; stb_image composites to RGBA, which is more work
// per pixel, but it is the decoder many programs embed, so it is shown for reference.
//
//   velmora_bench --benchmark_filter=Gif
//
// This file also holds the program's main() and stb_image's implementation.

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "gif/gif_images.h"
#include "gif/gif_lzw.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_GIF
// Through the system include path, so that stb's own warnings stay quiet.
#include <stb/stb_image.h>

namespace {

using velmora::gif::DecodeGifImageData;
using velmora::gif::FindGifImages;
using velmora::gif::GifImageBlock;
using velmora::gif::IndexRows;

const char* const kCorpus[] = {
    "harvesters.gif",
    "hibiscus.regular.gif",
    "hibiscus.primitive.gif",
    "bricks-dither.gif",
    "bricks-gray.gif",
    "bricks-nodither.gif",
    "hat.gif",
    "muybridge.gif",
    "gifplayer-muybridge.gif",
    "hippopotamus.regular.gif",
    "hippopotamus.interlaced.gif",
};

struct CorpusFile {
  std::string name;
  std::vector<std::uint8_t> bytes;
  std::vector<GifImageBlock> images;  // point into `bytes`
  std::int64_t pixels = 0;
  std::size_t largestImage = 0;
};

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<CorpusFile>& Corpus() {
  static std::vector<CorpusFile> files = [] {
    std::vector<CorpusFile> loaded;
    for (const char* name : kCorpus) {
      CorpusFile f;
      f.name = name;
      f.bytes = ReadFile(std::string(VELMORA_TESTDATA_DIR) + "/gif-corpus/" + name);
      loaded.push_back(std::move(f));
    }
    for (CorpusFile& f : loaded) {  // after the moves, so the spans stay valid
      f.images = FindGifImages(f.bytes, std::numeric_limits<std::size_t>::max());
      for (const GifImageBlock& image : f.images) {
        const auto n = static_cast<std::size_t>(image.width) * image.height;
        f.pixels += static_cast<std::int64_t>(n);
        f.largestImage = std::max(f.largestImage, n);
      }
    }
    return loaded;
  }();
  return files;
}

// ---- The three decoders, each over one whole file. ---------------------------------------------

bool DecodeWithVelmora(const CorpusFile& f, std::vector<std::uint8_t>& buffer) {
  for (const GifImageBlock& image : f.images) {
    const IndexRows rows{buffer.data(), image.width, image.width, image.height};
    const auto r = DecodeGifImageData(image.subBlocks, image.minCodeSize, image.interlaced, rows);
    benchmark::DoNotOptimize(r);
  }
  benchmark::ClobberMemory();
  return true;
}

struct MemoryReader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int n) {
  auto* reader = static_cast<MemoryReader*>(gif->UserData);
  const std::size_t take = std::min(static_cast<std::size_t>(n), reader->size - reader->pos);
  std::memcpy(out, reader->data + reader->pos, take);
  reader->pos += take;
  return static_cast<int>(take);
}

bool DecodeWithGiflib(const CorpusFile& f) {
  MemoryReader reader{f.bytes.data(), f.bytes.size(), 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
  if (gif == nullptr) return false;
  const bool ok = DGifSlurp(gif) == GIF_OK;
  if (ok) benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
  DGifCloseFile(gif, &error);
  return ok;
}

bool DecodeWithStb(const CorpusFile& f) {
  int* delays = nullptr;
  int x = 0;
  int y = 0;
  int frames = 0;
  int channels = 0;
  stbi_uc* pixels = stbi_load_gif_from_memory(f.bytes.data(), static_cast<int>(f.bytes.size()),
                                              &delays, &x, &y, &frames, &channels, 4);
  if (pixels == nullptr) return false;
  benchmark::DoNotOptimize(pixels);
  stbi_image_free(pixels);
  STBI_FREE(delays);
  return true;
}

// ---- Registration: one benchmark per decoder and file, and one per decoder over the corpus. ---

template <typename Decode>
void Run(benchmark::State& state, const std::vector<const CorpusFile*>& files, Decode decode) {
  std::int64_t pixels = 0;
  for (const CorpusFile* f : files) pixels += f->pixels;
  for (auto _ : state) {
    for (const CorpusFile* f : files) {
      if (!decode(*f)) {
        state.SkipWithError(("cannot decode " + f->name).c_str());
        return;
      }
    }
  }
  state.SetBytesProcessed(state.iterations() * pixels);
}

// Our indices must equal giflib's for every image before any timing means anything.
bool SameIndicesAsGiflib(const CorpusFile& f) {
  MemoryReader reader{f.bytes.data(), f.bytes.size(), 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
  if (gif == nullptr) return false;
  bool same = DGifSlurp(gif) == GIF_OK && gif->ImageCount == static_cast<int>(f.images.size());
  std::vector<std::uint8_t> ours(f.largestImage);
  for (std::size_t i = 0; same && i < f.images.size(); ++i) {
    const GifImageBlock& image = f.images[i];
    const IndexRows rows{ours.data(), image.width, image.width, image.height};
    const auto r = DecodeGifImageData(image.subBlocks, image.minCodeSize, image.interlaced, rows);
    const auto n = static_cast<std::size_t>(image.width) * image.height;
    same = r.status == velmora::gif::LzwStatus::kComplete &&
           std::memcmp(ours.data(), gif->SavedImages[i].RasterBits, n) == 0;
  }
  DGifCloseFile(gif, &error);
  return same;
}

void RegisterFor(const std::string& label, const std::vector<const CorpusFile*>& files,
                 const std::vector<const CorpusFile*>& stbFiles) {
  std::size_t largest = 0;
  for (const CorpusFile* f : files) largest = std::max(largest, f->largestImage);
  benchmark::RegisterBenchmark(("GifVelmora/" + label).c_str(), [files,
                                                                 largest](benchmark::State& s) {
    std::vector<std::uint8_t> buffer(largest);
    Run(s, files, [&](const CorpusFile& f) { return DecodeWithVelmora(f, buffer); });
  })->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(("GifGiflib/" + label).c_str(), [files](benchmark::State& s) {
    Run(s, files, DecodeWithGiflib);
  })->Unit(benchmark::kMicrosecond);
  if (stbFiles.empty()) return;
  benchmark::RegisterBenchmark(("GifStb/" + label).c_str(), [stbFiles](benchmark::State& s) {
    Run(s, stbFiles, DecodeWithStb);
  })->Unit(benchmark::kMicrosecond);
}

// stb_image refuses some corpus files (muybridge.gif); its corpus run leaves them out and says so.
void RegisterAll() {
  std::vector<const CorpusFile*> all;
  std::vector<const CorpusFile*> allForStb;
  for (const CorpusFile& f : Corpus()) {
    if (!SameIndicesAsGiflib(f))
      throw std::runtime_error(f.name + ": indices differ from giflib's");
    const bool stbDecodes = DecodeWithStb(f);
    if (!stbDecodes) std::fprintf(stderr, "stb_image cannot decode %s: left out\n", f.name.c_str());
    RegisterFor(f.name, {&f},
                stbDecodes ? std::vector<const CorpusFile*>{&f} : std::vector<const CorpusFile*>{});
    all.push_back(&f);
    if (stbDecodes) allForStb.push_back(&f);
  }
  RegisterFor("corpus", all, allForStb);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    RegisterAll();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmora_bench: %s\n", e.what());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
