#pragma once
// The GIFs the side-by-side benchmarks share: the corpus files and animations generated at
// start-up (encoded with giflib, kept in memory), plus giflib helpers every file needs.
//
// A benchmark reports bytes processed as pixels (one per frame pixel, or per composited canvas
// pixel), so the MB/s figures of ours and a peer compare directly.

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef VELMORA_TESTDATA_DIR
#error "VELMORA_TESTDATA_DIR must name the shared test data folder"
#endif

namespace velmora::bench {

struct BenchGif {
  std::string name;
  std::vector<std::uint8_t> bytes;
  int canvasWidth = 0;   // giflib's screen size
  int canvasHeight = 0;
  int frames = 0;
  std::int64_t framePixels = 0;  // sum of every image's width x height
  bool generated = false;
};

struct GifMemoryReader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos;
};

inline int ReadGifMemory(GifFileType* gif, GifByteType* out, int n) {
  auto* reader = static_cast<GifMemoryReader*>(gif->UserData);
  const std::size_t take = std::min(static_cast<std::size_t>(n), reader->size - reader->pos);
  std::memcpy(out, reader->data + reader->pos, take);
  reader->pos += take;
  return static_cast<int>(take);
}

// giflib's whole-file decode from memory: every image's indices in SavedImages. Null on failure;
// the caller closes it with DGifCloseFile.
inline GifFileType* SlurpWithGiflib(const std::vector<std::uint8_t>& bytes,
                                    GifMemoryReader& reader) {
  reader = GifMemoryReader{bytes.data(), bytes.size(), 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&reader, ReadGifMemory, &error);
  if (gif == nullptr) return nullptr;
  if (DGifSlurp(gif) != GIF_OK) {
    DGifCloseFile(gif, &error);
    return nullptr;
  }
  return gif;
}

inline int AppendGifBytes(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
  out->insert(out->end(), data, data + length);
  return length;
}

// An animation of `frames` full-canvas frames: a diagonal gradient that moves from frame to
// frame, with a band of noise crossing it (the noise defeats LZW's long strings, the gradient
// feeds them), a 256-colour global table, 40 ms delays and the given disposal.
inline std::vector<std::uint8_t> GenerateAnimation(int width, int height, int frames,
                                                   int disposal) {
  std::vector<std::uint8_t> out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, AppendGifBytes, &error);
  if (gif == nullptr) throw std::runtime_error("giflib cannot open an encoder");
  std::vector<GifColorType> colors(256);
  for (int c = 0; c < 256; ++c) {
    colors[static_cast<std::size_t>(c)] = GifColorType{
        static_cast<GifByteType>(c), static_cast<GifByteType>(255 - c),
        static_cast<GifByteType>((c * 7) & 255)};
  }
  ColorMapObject* map = GifMakeMapObject(256, colors.data());
  bool ok = EGifPutScreenDesc(gif, width, height, 8, 0, map) == GIF_OK;
  GifFreeMapObject(map);
  EGifSetGifVersion(gif, true);

  std::uint32_t seed = 0x9E3779B9u;
  std::vector<GifByteType> row(static_cast<std::size_t>(width));
  for (int f = 0; ok && f < frames; ++f) {
    GraphicsControlBlock gcb{disposal, false, 4, NO_TRANSPARENT_COLOR};
    GifByteType ext[4];
    const size_t n = EGifGCBToExtension(&gcb, ext);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext) == GIF_OK &&
         EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
    const int bandTop = (f * 7) % std::max(1, height);
    const int bandHeight = height / 5;
    for (int y = 0; ok && y < height; ++y) {
      const bool noisy = y >= bandTop && y < bandTop + bandHeight;
      for (int x = 0; x < width; ++x) {
        int v = ((x + y) / 3 + f * 2) & 255;
        if (noisy) {
          seed ^= seed << 13;
          seed ^= seed >> 17;
          seed ^= seed << 5;
          v = (v + static_cast<int>(seed & 15)) & 255;
        }
        row[static_cast<std::size_t>(x)] = static_cast<GifByteType>(v);
      }
      ok = EGifPutLine(gif, row.data(), width) == GIF_OK;
    }
  }
  if (EGifCloseFile(gif, &error) != GIF_OK || !ok) {
    throw std::runtime_error("giflib cannot encode the generated animation");
  }
  return out;
}

inline std::vector<std::uint8_t> ReadBenchFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Fills in the figures giflib finds; throws when giflib cannot read the file.
inline void Measure(BenchGif& g) {
  GifMemoryReader reader{};
  GifFileType* gif = SlurpWithGiflib(g.bytes, reader);
  if (gif == nullptr) throw std::runtime_error("giflib cannot decode " + g.name);
  g.canvasWidth = gif->SWidth;
  g.canvasHeight = gif->SHeight;
  g.frames = gif->ImageCount;
  g.framePixels = 0;
  for (int i = 0; i < gif->ImageCount; ++i) {
    g.framePixels += static_cast<std::int64_t>(gif->SavedImages[i].ImageDesc.Width) *
                     gif->SavedImages[i].ImageDesc.Height;
  }
  int error = 0;
  DGifCloseFile(gif, &error);
}

inline const char* const kCorpusFiles[] = {
    "harvesters.gif",         "hibiscus.regular.gif",       "hibiscus.primitive.gif",
    "bricks-dither.gif",      "bricks-gray.gif",            "bricks-nodither.gif",
    "muybridge.gif",          "gifplayer-muybridge.gif",    "hat.gif",
    "hippopotamus.regular.gif", "hippopotamus.interlaced.gif",
};

// The name of the large generated animation (canvas mode: every frame kept, disposal 1).
inline constexpr const char* kGeneratedName = "generated-400x300x200";
// A smaller generated animation whose frames all restore to background (direct mode).
inline constexpr const char* kGeneratedDirectName = "generated-direct-400x300x20";

inline BenchGif MakeGenerated(const char* name, int width, int height, int frames, int disposal) {
  BenchGif g;
  g.name = name;
  g.bytes = GenerateAnimation(width, height, frames, disposal);
  g.generated = true;
  Measure(g);
  return g;
}

// The corpus files, then the large generated animation. Built once, on first use.
inline const std::vector<BenchGif>& BenchGifs() {
  static const std::vector<BenchGif> gifs = [] {
    std::vector<BenchGif> all;
    for (const char* name : kCorpusFiles) {
      BenchGif g;
      g.name = name;
      g.bytes = ReadBenchFile(std::string(VELMORA_TESTDATA_DIR) + "/gif-corpus/" + name);
      Measure(g);
      all.push_back(std::move(g));
    }
    all.push_back(MakeGenerated(kGeneratedName, 400, 300, 200, 1));
    return all;
  }();
  return gifs;
}

inline const BenchGif& GeneratedDirect() {
  static const BenchGif gif = MakeGenerated(kGeneratedDirectName, 400, 300, 20, 2);
  return gif;
}

inline const BenchGif& GifNamed(const std::string& name) {
  for (const BenchGif& g : BenchGifs()) {
    if (g.name == name) return g;
  }
  if (name == kGeneratedDirectName) return GeneratedDirect();
  throw std::runtime_error("no bench GIF named " + name);
}

}  // namespace velmora::bench
