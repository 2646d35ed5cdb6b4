// Truncation and corruption of real files: every prefix of every small file of the GIF suite
// and the corpus (a stride through the big ones), and a few thousand random byte flips, each
// loaded, painted (direct or canvas mode as the file decides; stretched, offset, mirrored, over a
// background) and its current frame encoded. The sanitizer build turns any stray access into a
// failure; the checks here are the ones visible from outside.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "support/test_files.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

struct GifFile {
  std::string name;
  std::vector<std::uint8_t> bytes;
};

std::vector<GifFile> ReadGifs(const char* folder) {
  std::vector<GifFile> files;
  for (const fs::path& path : testing::TestDataGifs(folder)) {
    files.push_back({path.filename().string(), testing::ReadBytes(path)});
  }
  return files;
}

// Which cuts of a file are tried. Files up to kEveryPrefixUpTo bytes: every prefix is loaded
// (run mode, every frame decoded) and every kPaintStride-th one, plus the last kEdgeCuts, also
// painted and encoded. Bigger files: about kSampledPrefixes evenly spaced cuts plus kEdgeCuts at
// each end (where the header and the trailer live), all painted. Files above kLargeFile (corpus
// animations of hundreds of kilobytes, whose every load decodes and paints hundreds of frames):
// the half and the whole less one byte.
constexpr std::size_t kEveryPrefixUpTo = 2048;
constexpr std::size_t kPaintStride = 4;
constexpr std::size_t kSampledPrefixes = 48;
constexpr std::size_t kEdgeCuts = 8;
constexpr std::size_t kLargeFile = 64 * 1024;

struct Cut {
  std::size_t length;
  bool paint;
};

std::vector<Cut> CutsOf(std::size_t size) {
  std::vector<Cut> cuts;
  if (size <= kEveryPrefixUpTo) {
    for (std::size_t n = 0; n < size; ++n) {
      cuts.push_back({n, n % kPaintStride == 0 || n + kEdgeCuts >= size});
    }
    return cuts;
  }
  if (size > kLargeFile) return {{size / 2, true}, {size - 1, true}};
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n < size; n += size / kSampledPrefixes) lengths.push_back(n);
  for (std::size_t n = 0; n < kEdgeCuts; ++n) {
    lengths.push_back(n);
    lengths.push_back(size - 1 - n);
  }
  std::sort(lengths.begin(), lengths.end());
  lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
  for (const std::size_t n : lengths) cuts.push_back({n, true});
  return cuts;
}

// Cycles the option byte patterns so that consecutive prefixes see different stretch modes,
// mirror styles, offsets, backgrounds, host sizes and design/run mode.
fuzzing::LoadOptions OptionsFor(std::size_t n) {
  const std::uint8_t head[4] = {static_cast<std::uint8_t>(n * 7), static_cast<std::uint8_t>(n * 13),
                                static_cast<std::uint8_t>(n % 5), static_cast<std::uint8_t>(n % 3)};
  return fuzzing::DecodeLoadOptions(head);
}

// Loads with every frame decoded, on a 1 x 1 host with Stretch 0, so that the repaint a
// one-frame load makes is a 1 x 1 copy.
std::int32_t FrameCountOf(std::span<const std::uint8_t> gif) {
  platform::TestHost host(1, 1, true);
  ucAniGIF control(host);
  host.Attach(control);
  control.SetDelayAnimation(0);
  control.SetStretch(0);
  const bool loaded = control.LoadAnimatedGIF_Array(ByteArrayArg::FromSpan(gif));
  const std::int32_t frames = control.FrameCount();
  host.Detach();
  EXPECT_EQ(loaded, frames > 0);
  return frames;
}

void CheckPrefixes(const std::vector<GifFile>& files) {
  ASSERT_FALSE(files.empty());
  for (const GifFile& file : files) {
    SCOPED_TRACE(file.name);
    const std::int32_t fullFrames = FrameCountOf(file.bytes);
    for (const Cut& cut : CutsOf(file.bytes.size())) {
      SCOPED_TRACE(cut.length);
      const std::span<const std::uint8_t> prefix(file.bytes.data(), cut.length);
      // A cut never invents frames: it keeps at most the frames of the whole file (the image
      // being cut included).
      EXPECT_LE(FrameCountOf(prefix), fullFrames);
      if (cut.paint) {
        ASSERT_TRUE(fuzzing::LoadPaintEncode(prefix, OptionsFor(cut.length)));
      }
    }
  }
}

TEST(Truncation, EveryPrefixOfTheSuiteLoadsPaintsAndEncodes) {
  CheckPrefixes(ReadGifs("gif-suite"));
}

TEST(Truncation, PrefixesOfTheCorpusLoadPaintAndEncode) {
  CheckPrefixes(ReadGifs("gif-corpus"));
}

// Byte flips: 1 to 4 bytes of a file (below 16 KiB) replaced by random values, loaded, painted
// and encoded. A fixed seed keeps the run the same every time.
TEST(Corruption, RandomByteFlipsLoadPaintAndEncode) {
  std::vector<GifFile> files = ReadGifs("gif-suite");
  for (GifFile& f : ReadGifs("gif-corpus")) files.push_back(std::move(f));
  std::erase_if(files, [](const GifFile& f) { return f.bytes.empty() || f.bytes.size() > 16384; });
  ASSERT_FALSE(files.empty());
  std::mt19937 rng(20261207);
  constexpr int kFlips = 2000;
  for (int i = 0; i < kFlips; ++i) {
    const GifFile& file = files[rng() % files.size()];
    std::vector<std::uint8_t> bytes = file.bytes;
    const int count = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < count; ++k) {
      bytes[rng() % bytes.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    }
    SCOPED_TRACE(file.name + " flip " + std::to_string(i));
    ASSERT_TRUE(fuzzing::LoadPaintEncode(bytes, OptionsFor(static_cast<std::size_t>(i))));
  }
}

}  // namespace
}  // namespace velmora
