// Re-runs every file of the fuzz corpus (fuzz/corpus/<target>/: seeds, minimised crashers and
// slow inputs) through the same entry points as the libFuzzer targets, with the normal compiler,
// so a crash once found stays fixed in every build, sanitized or not. Unlike the fuzzers, these
// runs load GIFs of any size in full.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"

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
};

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
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    EXPECT_TRUE(target.entry(bytes));
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

TEST(FuzzEntries, BagEntryAcceptsAValidBag) {
  // "VPB1", one entry "stretch" = 32-bit 0.
  const std::vector<std::uint8_t> bag = {'V', 'P', 'B', '1', 1,   0,   0, 0, 7, 0, 's',
                                         't', 'r', 'e', 't', 'c', 'h', 3, 0, 0, 0, 0};
  ASSERT_TRUE(platform::PropertyBag::FromContents(bag).has_value());
  EXPECT_TRUE(fuzzing::RunBagInput(bag));
}

}  // namespace
}  // namespace velmora
