// Re-runs every file of the fuzz corpus (fuzz/corpus/<target>/: seeds, minimised crashers and
// slow inputs) through the same entry points as the libFuzzer targets, with the normal compiler,
// so a crash once found stays fixed in every build, sanitized or not. Unlike the fuzzers, these
// runs load GIFs of any size in full.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "support/gif_builder.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

using Entry = bool (*)(std::span<const std::uint8_t>);

struct Target {
  const char* name;
  Entry entry;
};

const Target kTargets[] = {
    {"load", [](std::span<const std::uint8_t> d) { return fuzzing::RunLoadInput(d); }},
    {"lzw", fuzzing::RunLzwInput},
    {"bag", [](std::span<const std::uint8_t> d) { return fuzzing::RunBagInput(d); }},
    {"huge", [](std::span<const std::uint8_t> d) { return fuzzing::RunLoadInput(d); }},
};

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CorpusRegression : public ::testing::TestWithParam<Target> {};

TEST_P(CorpusRegression, EveryCorpusFileRunsCleanly) {
  const Target& target = GetParam();
  const fs::path dir = fs::path(VELMORA_SOURCE_DIR) / "fuzz" / "corpus" / target.name;
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  // A corpus that went missing must not pass as "nothing failed".
  ASSERT_GE(files.size(), 5u) << dir;
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.filename().string());
    EXPECT_TRUE(target.entry(ReadFile(path)));
  }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, CorpusRegression, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& param) {
                           return std::string(param.param.name);
                         });

// The entry points themselves: a valid input passes their checks and does what the header says.
TEST(FuzzEntries, LzwEntryAcceptsAValidImage) {
  // 2 x 2, minimum code size 2: clear, 1, 2, 3, 0, end, in 3-bit codes.
  const std::vector<std::uint8_t> input = {0x02, 0x00, 0x01, 0x00, 0x01, 0x00,
                                           0x03, 0x8C, 0x06, 0x05, 0x00};
  EXPECT_TRUE(fuzzing::RunLzwInput(input));
  std::vector<std::uint8_t> rows(2 * 2);
  const gif::LzwResult r = gif::DecodeGifImageData(
      std::span<const std::uint8_t>(input).subspan(fuzzing::kLzwHeaderBytes), 2, false,
      {rows.data(), 2, 2, 2});
  EXPECT_EQ(r.pixels, 4);
  EXPECT_EQ(rows, (std::vector<std::uint8_t>{1, 2, 3, 0}));
}

TEST(FuzzEntries, LoadOptionsComeFromTheFirstFourBytes) {
  const std::uint8_t head[4] = {3 + 5 * 2 + 20 * 1, 0x01 | 0x02 | (3 << 3) | (3 << 5), 0xFE, 0x80};
  const fuzzing::LoadOptions o = fuzzing::DecodeLoadOptions(head);
  EXPECT_EQ(o.stretch, 3);
  EXPECT_EQ(o.mirroredBefore, 2);
  EXPECT_EQ(o.delayAnimation, 1);
  EXPECT_TRUE(o.designMode);
  EXPECT_TRUE(o.backgroundUsed);
  EXPECT_EQ(o.mirroredAfter, 3);
  EXPECT_EQ(o.surfaceWidth, 64);
  EXPECT_EQ(o.surfaceHeight, 48);
  EXPECT_EQ(o.offsetX, -2);
  EXPECT_EQ(o.offsetY, 0x7FFFFFF0);
}

// fuzz_load runs a GIF in full up to its cost limit and fuzz_huge from there up to its own; past
// both a GIF is only parsed. The load seeds (not the crashers found by earlier, bigger limits)
// must all go through fuzz_load's checks.
TEST(FuzzEntries, LoadAndHugeTargetsSplitGifsByCost) {
  struct Case {
    testing::HostileGif gif;
    bool byLoad;
    bool byHuge;
  };
  const Case cases[] = {
      {{.screenWidth = 16, .screenHeight = 16, .width = 16, .height = 16}, true, false},
      {{.screenWidth = 100, .screenHeight = 100, .width = 100, .height = 100}, true, false},
      {{.screenWidth = 160, .screenHeight = 160, .width = 160, .height = 160}, false, true},
      {{.screenWidth = 2, .frameCount = 2, .left = 3000, .top = 500}, false, true},
      {{.screenWidth = 1000, .screenHeight = 1000, .width = 1000, .height = 1000}, false, true},
      {{.screenWidth = 4096, .screenHeight = 4096, .width = 4096, .height = 4096}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.gif.width) + " x " + std::to_string(c.gif.height) + " at " +
                 std::to_string(c.gif.left));
    const fuzzing::ParsedCost cost = fuzzing::ParsedCostOf(testing::BuildHostileGif(c.gif));
    EXPECT_EQ(!fuzzing::OnlyParsed(cost, fuzzing::kFuzzLimits), c.byLoad);
    EXPECT_EQ(!fuzzing::OnlyParsed(cost, fuzzing::kHugeLimits), c.byHuge);
  }
  for (const auto& entry :
       fs::directory_iterator(fs::path(VELMORA_SOURCE_DIR) / "fuzz/corpus/load")) {
    if (entry.path().filename().string().starts_with("crash-")) continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<std::uint8_t> bytes = ReadFile(entry.path());
    const auto gif = std::span<const std::uint8_t>(bytes).subspan(
        std::min(bytes.size(), fuzzing::kLoadOptionBytes));
    EXPECT_FALSE(fuzzing::OnlyParsed(fuzzing::ParsedCostOf(gif), fuzzing::kFuzzLimits));
  }
}

TEST(FuzzEntries, BagEntryAcceptsAValidBag) {
  // "VPB1", one entry "stretch" = 32-bit 0.
  const std::vector<std::uint8_t> bag = {'V', 'P', 'B', '1', 1,   0,   0, 0, 7, 0, 's',
                                         't', 'r', 'e', 't', 'c', 'h', 3, 0, 0, 0, 0};
  ASSERT_TRUE(platform::PropertyBag::FromContents(bag).has_value());
  EXPECT_TRUE(fuzzing::RunBagInput(bag));
}

}  // namespace
}  // namespace velmora
