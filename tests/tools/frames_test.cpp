// anigif frames, indexes, timeline and decode, run as a program.
//
// The frames of the GIF test suite (testdata/gif-suite) are compared with the suite's expected
// RGBA frames. Where our rules differ from the suite's, the comparison follows ours, on purpose:
//   - The suite shows an image without a delay together with the images after it (one frame
//     until an image with a delay, or the last image); the control shows every image as a frame
//     of its own. Suite frame j is compared with our frame at the j-th image that has a delay
//     (or the last image); in the files the suite marks force-animation, every image.
//   - Our canvas is the frames' extent from (0, 0), not the logical screen: pixels outside it are
//     not compared, and the suite's pixels outside our canvas must be transparent anyway where
//     ours is smaller than theirs only because no image reaches there.
//   - Pixels the suite leaves transparent show the host's background (black by default).
// Files left out, each for a documented reason: the suite expects no frame where our decoder keeps
// the pixels decoded before an error (invalid-code, invalid-colors, overflow-codes*, plain-text);
// images of zero size or without image data are not loaded by the control (image-zero-*,
// zero-*, no-data, max-size).

#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gif/gif_parser.h"
#include "support/anigif_runner.h"
#include "support/gif_builder.h"
#include "support/test_files.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::RunAnigif;
using testing::RunResult;
using testing::TempDir;

const fs::path kSuite = testing::TestDataPath("gif-suite");
const fs::path kCorpus = testing::TestDataPath("gif-corpus");

struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // 3 bytes per pixel, top row first
};

bool ReadPpm(const fs::path& path, Image& image) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  in >> magic >> image.width >> image.height >> maxValue;
  in.get();
  if (magic != "P6" || maxValue != 255) return false;
  image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  in.read(reinterpret_cast<char*>(image.rgb.data()), static_cast<std::streamsize>(image.rgb.size()));
  return static_cast<bool>(in);
}

// The 1-based images that end a frame as the suite counts them; a file marked force-animation
// has every image shown as a frame, as the control always does.
std::vector<int> SuiteFrameImages(const fs::path& gif, bool forceAnimation) {
  gif::ParsedGif doc;
  const int count = gif::ParseGif(ReadBytes(gif), doc);
  std::vector<int> images;
  for (int i = 1; i <= count; ++i) {
    if (forceAnimation || doc.Frame(i).Delay > 0 || i == count) images.push_back(i);
  }
  return images;
}

fs::path ExpectedPixels(const std::map<std::string, std::string>& frame) {
  if (frame.count("pixels")) return kSuite / frame.at("pixels");
  std::string image = frame.count("image") ? frame.at("image") : std::string();
  if (image.size() > 4) image.replace(image.size() - 4, 4, ".rgba");
  return kSuite / image;
}

const std::set<std::string> kLeftOut = {
    "invalid-code", "invalid-colors", "overflow-codes", "overflow-codes-max", "plain-text",
    "image-zero-height", "image-zero-size", "image-zero-width", "zero-height", "zero-size",
    "zero-width", "no-data", "max-size"};

// Compares our frames of one suite file with the expected RGBA frames; returns the number of
// frames compared, and reports every mismatch.
int CompareSuiteFile(const std::string& name, const std::string& backgroundHex,
                     std::array<std::uint8_t, 3> background) {
  const testing::SuiteConf conf = testing::ReadSuiteConf(kSuite / (name + ".conf"));
  const auto& config = conf.at("config");
  const fs::path gif = kSuite / config.at("input");
  const int width = std::stoi(config.at("width"));
  const std::vector<std::string> frames = testing::SplitList(config.at("frames"));
  TempDir out(name);
  const RunResult run = RunAnigif({"frames", gif.string(), out.path().string(), "--format", "ppm",
                                   "--background", backgroundHex});
  EXPECT_EQ(run.status, 0) << name;
  if (run.status != 0) return 0;
  const bool force = config.count("force-animation") && config.at("force-animation") == "yes";
  const std::vector<int> images = SuiteFrameImages(gif, force);
  EXPECT_EQ(images.size(), frames.size()) << name;
  int compared = 0;
  for (std::size_t j = 0; j < frames.size() && j < images.size(); ++j) {
    char file[32];
    std::snprintf(file, sizeof file, "frame-%04d.ppm", images[j]);
    Image ours;
    EXPECT_TRUE(ReadPpm(out.path() / file, ours)) << name << " " << file;
    const std::vector<std::uint8_t> expected = ReadBytes(ExpectedPixels(conf.at(frames[j])));
    const int height = static_cast<int>(expected.size() / 4 / static_cast<std::size_t>(width));
    int mismatches = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* e = &expected[(static_cast<std::size_t>(y) * width + x) * 4];
        if (x >= ours.width || y >= ours.height) {
          mismatches += e[3] != 0;  // past our canvas only transparent pixels may lie
          continue;
        }
        const std::uint8_t* o = &ours.rgb[(static_cast<std::size_t>(y) * ours.width + x) * 3];
        const bool match = e[3] == 0 ? (o[0] == background[0] && o[1] == background[1] &&
                                        o[2] == background[2])
                                     : (o[0] == e[0] && o[1] == e[1] && o[2] == e[2]);
        if (!match) ++mismatches;
      }
    }
    EXPECT_EQ(mismatches, 0) << name << " frame " << j << " (our image " << images[j] << ")";
    ++compared;
  }
  return compared;
}

TEST(AnigifFrames, MatchesTheGifSuite) {
  std::ifstream list(kSuite / "TESTS");
  ASSERT_TRUE(list) << "gif-suite missing";
  std::string name;
  int files = 0;
  int frames = 0;
  while (std::getline(list, name)) {
    if (name.empty() || kLeftOut.count(name)) continue;
    frames += CompareSuiteFile(name, "000000", {0, 0, 0});
    ++files;
  }
  EXPECT_GE(files, 60);
  EXPECT_GE(frames, 90);
}

TEST(AnigifFrames, UnpaintedPixelsShowTheBackground) {
  // transparent.gif leaves pixels unpainted; dispose-restore-background clears them again.
  for (const char* name : {"transparent", "dispose-restore-background", "image-inside-bg"}) {
    EXPECT_GT(CompareSuiteFile(name, "FF00FF", {0xFF, 0x00, 0xFF}), 0) << name;
  }
}

TEST(AnigifFrames, PngOutputAndFailures) {
  TempDir out("png");
  const RunResult ok =
      RunAnigif({"frames", (kSuite / "animation.gif").string(), out.path().string()});
  EXPECT_EQ(ok.status, 0);
  for (int k = 1; k <= 4; ++k) {
    char file[32];
    std::snprintf(file, sizeof file, "frame-%04d.png", k);
    const std::vector<std::uint8_t> png = ReadBytes(out.path() / file);
    ASSERT_GE(png.size(), 8u) << file;
    EXPECT_EQ(png[1], 'P');
    EXPECT_EQ(png[2], 'N');
  }
  EXPECT_FALSE(fs::exists(out.path() / "frame-0005.png"));
  EXPECT_EQ(RunAnigif({"frames", (out.path() / "missing.gif").string(), out.path().string()}).status,
            1);
  EXPECT_EQ(RunAnigif({"frames", (kSuite / "zero-size.gif").string(), out.path().string()}).status,
            1);
  EXPECT_EQ(RunAnigif({"frames", (kSuite / "animation.gif").string(), out.path().string(),
                       "--background", "red"})
                .status,
            2);
  // Frames whose surface would pass the raster bound (65535 x 1100 x 4 bytes) are refused
  // rather than written cropped.
  const testing::HostileGif tooLarge{
      .screenWidth = 65535, .screenHeight = 1100, .width = 65535, .height = 1100};
  const fs::path huge = out.Write("huge.gif", testing::BuildHostileGif(tooLarge));
  TempDir hugeOut("huge");
  EXPECT_EQ(RunAnigif({"frames", huge.string(), hugeOut.path().string()}).status, 1);
  EXPECT_TRUE(fs::is_empty(hugeOut.path()));
}

// The pixels of a PNG file as 8-bit RGB, top row first; empty when libpng cannot read it.
std::vector<std::uint8_t> PngPixels(const fs::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.string().c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  return pixels;
}

TEST(AnigifFrames, PngFilesHoldThePpmPixels) {
  // Frame 1 covers the 32 x 16 canvas with all 256 global colours (a palette file, the palette
  // full); frame 2 puts 256 other colours on the right half (384 colours: an RGB file).
  testing::TestGif gif;
  gif.globalTable.clear();
  testing::TestFrame one;
  testing::TestFrame two;
  for (std::uint32_t i = 0; i < 256; ++i) {
    gif.globalTable.push_back(i << 16 | 0x40);
    two.localTable.push_back(i << 8 | 0x80);
  }
  one.width = 32;
  one.height = 16;
  two.left = 16;
  two.width = 16;
  two.height = 16;
  for (int i = 0; i < 512; ++i) one.pixels.push_back(static_cast<std::uint8_t>(i));
  for (int i = 0; i < 256; ++i) two.pixels.push_back(static_cast<std::uint8_t>(255 - i));
  gif.frames = {one, two};
  TempDir out("png-pixels");
  const fs::path file = out.Write("colours.gif", testing::BuildGif(gif));
  for (const char* format : {"ppm", "png"}) {
    const fs::path dir = out.path() / format;
    ASSERT_EQ(RunAnigif({"frames", file.string(), dir.string(), "--format", format}).status, 0);
  }
  for (const auto& [name, colorType] : {std::pair{"frame-0001", 3}, std::pair{"frame-0002", 2}}) {
    Image expected;
    ASSERT_TRUE(ReadPpm(out.path() / "ppm" / (std::string(name) + ".ppm"), expected)) << name;
    const fs::path png = out.path() / "png" / (std::string(name) + ".png");
    const std::vector<std::uint8_t> bytes = ReadBytes(png);
    ASSERT_GT(bytes.size(), 25u) << name;
    EXPECT_EQ(bytes[25], colorType) << name << ": the IHDR colour type";
    EXPECT_EQ(PngPixels(png), expected.rgb) << name;
  }
}

TEST(AnigifIndexes, MatchTheCorpusBands) {
  TempDir out("indexes");
  ASSERT_EQ(RunAnigif({"indexes", (kCorpus / "muybridge.gif").string(), out.path().string()}).status,
            0);
  for (int k = 0; k < 15; ++k) {
    char ours[32];
    char theirs[40];
    std::snprintf(ours, sizeof ours, "frame-%04d.indexes", k + 1);
    std::snprintf(theirs, sizeof theirs, "muybridge-frame-%03d.indexes", k);
    EXPECT_EQ(ReadBytes(out.path() / ours), ReadBytes(kCorpus / theirs)) << theirs;
  }
}

TEST(AnigifIndexes, HandBuiltFrameBands) {
  testing::TestGif gif;
  testing::TestFrame one = testing::SolidFrame(3, 2, 0);
  one.pixels = {0, 1, 2, 3, 2, 1};
  testing::TestFrame two = testing::SolidFrame(2, 1, 3);
  two.left = 1;
  gif.frames = {one, two};
  TempDir out("hand");
  const fs::path file = out.Write("hand.gif", testing::BuildGif(gif));
  ASSERT_EQ(RunAnigif({"indexes", file.string(), out.path().string()}).status, 0);
  EXPECT_EQ(ReadBytes(out.path() / "frame-0001.indexes"),
            (std::vector<std::uint8_t>{0, 1, 2, 3, 2, 1}));
  EXPECT_EQ(ReadBytes(out.path() / "frame-0002.indexes"), (std::vector<std::uint8_t>{3, 3}));
}

TEST(AnigifTimeline, EventsAsTheyHappen) {
  TempDir dir("timeline");
  const fs::path three = dir.Write("three.gif", testing::AnimationGif(3, 10, 2));
  struct Case {
    std::vector<std::string> options;
    std::string expected;
  };
  const Case cases[] = {
      {{"--until", "700"},
       "120 FrameChanged 1 true\n220 FrameChanged 2 true\n320 FrameChanged 3 true\n"
       "420 FrameChanged 1 true\n520 FrameChanged 2 true\n620 FrameChanged 3 true\n"
       "620 LoopsEnded\n"},
      {{"--until", "400", "--loops", "1"},
       "120 FrameChanged 1 true\n220 FrameChanged 2 true\n320 FrameChanged 3 true\n"
       "320 LoopsEnded\n"},
      {{"--until", "100", "--stepped-delay", "30"},
       "50 FrameChanged 1 true\n80 FrameChanged 2 true\n"},
      {{"--until", "500", "--min-delay", "200"},
       "220 FrameChanged 1 true\n420 FrameChanged 2 true\n"},
      {{"--until", "19"}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"timeline", three.string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const RunResult run = RunAnigif(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, c.expected) << c.options[1];
  }
  const fs::path one = dir.Write("one.gif", testing::AnimationGif(1, 10));
  EXPECT_EQ(RunAnigif({"timeline", one.string()}).out, "0 FrameChanged 1 false\n");
  EXPECT_EQ(RunAnigif({"timeline", (dir.path() / "none.gif").string()}).status, 1);
  EXPECT_EQ(RunAnigif({"timeline", three.string(), "--until"}).status, 2);
}

TEST(AnigifDecode, CountsFramesAndPixels) {
  TempDir dir("decode");
  const fs::path a = dir.Write("a.gif", testing::AnimationGif(3, 10, 0, 4, 3));
  const fs::path b = dir.Write("b.gif", testing::AnimationGif(2, 10, 0, 5, 5));
  const RunResult run = RunAnigif({"decode", a.string(), b.string()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, a.string() + ": 3 frames, 36 pixels\n" + b.string() +
                         ": 2 frames, 50 pixels\ntotal: 5 frames, 86 pixels\n");
  const fs::path bad = dir.Write("bad.gif", {'G', 'I', 'F'});
  const RunResult mixed = RunAnigif({"decode", bad.string(), a.string()});
  EXPECT_EQ(mixed.status, 1);
  EXPECT_EQ(mixed.out, a.string() + ": 3 frames, 36 pixels\ntotal: 3 frames, 36 pixels\n");
}

}  // namespace
}  // namespace velmora
