// The GIF LZW decoder: golden vectors, hand-built code streams for every tolerance, interlacing,
// row layout and truncation at every length.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "gif/gif_images.h"
#include "gif/gif_lzw.h"
#include "support/lzw_codes.h"
#include "support/test_files.h"

namespace velmora::gif {
namespace {

using testing::FrameSubBlocks;
using testing::PackCodes;
using testing::ReadTestFile;

constexpr std::uint8_t kSentinel = 0xEE;

std::vector<std::uint8_t> DecodeStream(const std::vector<std::uint8_t>& codes, int minCodeSize,
                                       std::size_t size, LzwResult* result) {
  std::vector<std::uint8_t> out(size, kSentinel);
  *result = DecodeLzwStream(codes, minCodeSize, out);
  return out;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

// ---- Golden vectors: a literal-width byte followed by the raw code stream. -------------------

class GoldenStreamTest : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenStreamTest, DecodesToTheRecordedBytes) {
  const std::vector<std::uint8_t> file = ReadTestFile("gif-corpus/" + GetParam() + ".giflzw");
  const std::vector<std::uint8_t> expected = ReadTestFile("gif-corpus/" + GetParam());
  ASSERT_GT(file.size(), 1u);
  ASSERT_FALSE(expected.empty());
  const std::vector<std::uint8_t> codes(file.begin() + 1, file.end());
  LzwResult r;
  const std::vector<std::uint8_t> out = DecodeStream(codes, file[0], expected.size(), &r);
  EXPECT_EQ(r.status, LzwStatus::kComplete);
  EXPECT_EQ(r.pixels, static_cast<std::int64_t>(expected.size()));
  EXPECT_EQ(out, expected);
}

INSTANTIATE_TEST_SUITE_P(Corpus, GoldenStreamTest,
                         ::testing::Values("bricks-dither.indexes", "bricks-gray.indexes",
                                           "bricks-nodither.indexes", "pi.txt"));

TEST(GoldenStreamTest, StreamEndsWithItsEndCode) {
  // One byte more than the recorded output: the stream's own end code comes first.
  const std::vector<std::uint8_t> file = ReadTestFile("gif-corpus/pi.txt.giflzw");
  const std::vector<std::uint8_t> expected = ReadTestFile("gif-corpus/pi.txt");
  ASSERT_GT(file.size(), 1u);
  const std::vector<std::uint8_t> codes(file.begin() + 1, file.end());
  LzwResult r;
  const std::vector<std::uint8_t> out = DecodeStream(codes, file[0], expected.size() + 1, &r);
  EXPECT_EQ(r.status, LzwStatus::kEndCodeEarly);
  EXPECT_EQ(r.pixels, static_cast<std::int64_t>(expected.size()));
  EXPECT_EQ(out.back(), kSentinel);
}

// ---- Hand-built streams (minimum code size 2: clear 4, end 5, first width 3). -----------------

struct StreamCase {
  const char* name;
  std::vector<std::pair<unsigned, int>> codes;
  std::size_t outSize;
  LzwStatus status;
  std::vector<std::uint8_t> expected;  // the whole output buffer, sentinels included
};

void PrintTo(const StreamCase& c, std::ostream* os) {
  *os << c.name;
}

class HandBuiltStreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(HandBuiltStreamTest, Decodes) {
  const StreamCase& c = GetParam();
  LzwResult r;
  const std::vector<std::uint8_t> out = DecodeStream(PackCodes(c.codes), 2, c.outSize, &r);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(out, c.expected);
  std::int64_t written = 0;
  while (written < static_cast<std::int64_t>(out.size()) && out[written] != kSentinel) ++written;
  EXPECT_EQ(r.pixels, written);
}

constexpr LzwStatus kComplete = LzwStatus::kComplete;
constexpr LzwStatus kEarly = LzwStatus::kEndCodeEarly;
constexpr LzwStatus kTruncated = LzwStatus::kTruncated;
constexpr LzwStatus kInvalid = LzwStatus::kInvalidCode;
constexpr int S = kSentinel;

INSTANTIATE_TEST_SUITE_P(
    Tolerances, HandBuiltStreamTest,
    ::testing::Values(
        StreamCase{"Literals", {{4, 3}, {1, 3}, {2, 3}, {5, 3}}, 2, kComplete, Bytes({1, 2})},
        // 6 is defined by the very code that uses it: "1" + its own first byte.
        StreamCase{"CodeBeingDefined",
                   {{4, 3}, {1, 3}, {6, 3}, {6, 3}, {5, 4}},
                   5,
                   kComplete,
                   Bytes({1, 1, 1, 1, 1})},
        StreamCase{"EndCodeEarly",
                   {{4, 3}, {1, 3}, {6, 3}, {6, 3}, {5, 4}},
                   7,
                   kEarly,
                   Bytes({1, 1, 1, 1, 1, S, S})},
        // After four codes entries 6 and 7 exist and the next one, 8, needs four bits.
        StreamCase{"WidthGrowsAtEight",
                   {{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {8, 4}, {5, 4}},
                   7,
                   kEarly,
                   Bytes({0, 1, 2, 3, 2, 3, S})},
        StreamCase{
            "NoLeadingClear", {{3, 3}, {0, 3}, {6, 3}, {5, 4}}, 5, kEarly, Bytes({3, 0, 3, 0, S})},
        // 6 meant "12" before the second clear; afterwards it is the code being defined, "33".
        StreamCase{"ClearResetsTheTable",
                   {{4, 3}, {1, 3}, {2, 3}, {4, 3}, {3, 3}, {6, 3}},
                   5,
                   kComplete,
                   Bytes({1, 2, 3, 3, 3})},
        StreamCase{"DoubleClear", {{4, 3}, {4, 3}, {2, 3}, {5, 3}}, 1, kComplete, Bytes({2})},
        StreamCase{"CodeBeyondTable", {{4, 3}, {1, 3}, {7, 3}}, 3, kInvalid, Bytes({1, S, S})},
        StreamCase{"TableCodeFirst", {{4, 3}, {6, 3}}, 2, kInvalid, Bytes({S, S})},
        // Exactly two bytes, so no padding bits can pose as a code.
        StreamCase{"DataEndsEarly",
                   {{4, 3}, {1, 3}, {2, 3}, {1, 3}, {3, 4}},
                   6,
                   kTruncated,
                   Bytes({1, 2, 1, 3, S, S})},
        StreamCase{"ExtraPixelsClipped",
                   {{4, 3}, {1, 3}, {6, 3}, {6, 3}},
                   4,
                   kComplete,
                   Bytes({1, 1, 1, 1})},
        StreamCase{"DataAfterTheEnd",
                   {{4, 3}, {2, 3}, {5, 3}, {7, 3}, {7, 3}, {7, 3}},
                   1,
                   kComplete,
                   Bytes({2})}),
    [](const ::testing::TestParamInfo<StreamCase>& param) {
      return std::string(param.param.name);
    });

TEST(LzwStreamTest, MinimumCodeSizeOutsideOneToElevenWritesNothing) {
  const std::vector<std::uint8_t> codes = PackCodes({{4, 3}, {1, 3}, {5, 3}});
  for (int size : {-1, 0, 12, 13}) {
    LzwResult r;
    const std::vector<std::uint8_t> out = DecodeStream(codes, size, 2, &r);
    EXPECT_EQ(r.status, LzwStatus::kInvalidCode) << size;
    EXPECT_EQ(r.pixels, 0) << size;
    EXPECT_EQ(out, Bytes({S, S})) << size;
  }
}

TEST(LzwStreamTest, LiteralWidthsOneAndElevenAreAccepted) {
  // Width 1: clear 2, end 3, codes of 2 bits. Width 11: clear 2048, literals keep their low byte.
  LzwResult r;
  EXPECT_EQ(DecodeStream(PackCodes({{2, 2}, {1, 2}, {0, 3}, {3, 3}}), 1, 3, &r), Bytes({1, 0, S}));
  EXPECT_EQ(r.status, LzwStatus::kEndCodeEarly);
  EXPECT_EQ(DecodeStream(PackCodes({{2048, 12}, {0x7FF, 12}, {0x141, 12}, {2049, 12}}), 11, 2, &r),
            Bytes({0xFF, 0x41}));
  EXPECT_EQ(r.status, LzwStatus::kComplete);
}

TEST(LzwStreamTest, EmptyOutputAndEmptyData) {
  LzwResult r;
  EXPECT_TRUE(DecodeStream(PackCodes({{4, 3}, {1, 3}}), 2, 0, &r).empty());
  EXPECT_EQ(r.status, LzwStatus::kComplete);
  EXPECT_EQ(DecodeStream({}, 2, 3, &r), Bytes({S, S, S}));
  EXPECT_EQ(r.status, LzwStatus::kTruncated);
  EXPECT_EQ(r.pixels, 0);
}

// ---- A full table: 4096 entries, then codes keep decoding without new entries. ---------------

// Literal width 2: a clear, then `ones` literal-1 codes (4091 fill entries 6..4095, each "11"),
// then `tail` as a 12-bit code.
std::vector<std::pair<unsigned, int>> FillTable(int ones, unsigned tail) {
  std::vector<std::pair<unsigned, int>> codes = {{4, 3}};
  unsigned next = 6;
  for (int i = 0; i < ones; ++i) {
    codes.push_back({1, std::min(12, static_cast<int>(std::bit_width(next)))});
    if (i > 0 && next < 4096) ++next;
  }
  codes.push_back({tail, 12});
  return codes;
}

TEST(LzwFullTableTest, FullTableKeepsDecodingTwelveBitCodesWithoutNewEntries) {
  // Two literals after the table is full, then its last entry: still "11", still 12 bits.
  const std::vector<std::uint8_t> data = PackCodes(FillTable(4093, 4095));
  LzwResult r;
  const std::vector<std::uint8_t> out = DecodeStream(data, 2, 4096, &r);
  EXPECT_EQ(r.status, LzwStatus::kTruncated);
  EXPECT_EQ(r.pixels, 4095);
  EXPECT_EQ(std::count(out.begin(), out.end(), 1), 4095);
  EXPECT_EQ(out.back(), kSentinel);
}

TEST(LzwFullTableTest, ClearAfterFullTableStartsOver) {
  std::vector<std::pair<unsigned, int>> codes = FillTable(4093, 4);
  codes.push_back({2, 3});
  codes.push_back({7, 3});  // beyond the fresh table: invalid
  LzwResult r;
  const std::vector<std::uint8_t> out = DecodeStream(PackCodes(codes), 2, 5000, &r);
  EXPECT_EQ(r.status, LzwStatus::kInvalidCode);
  EXPECT_EQ(r.pixels, 4094);
  EXPECT_EQ(out[4092], 1);
  EXPECT_EQ(out[4093], 2);
  EXPECT_EQ(out[4094], kSentinel);
}

// ---- Sub-blocks, rows, interlacing. -----------------------------------------------------------

TEST(LzwImageDataTest, SubBlockBoundariesAnywhereGiveTheSameRows) {
  const std::vector<std::uint8_t> file = ReadTestFile("gif-corpus/bricks-gray.indexes.giflzw");
  const std::vector<std::uint8_t> expected = ReadTestFile("gif-corpus/bricks-gray.indexes");
  ASSERT_GT(file.size(), 1u);
  const std::vector<std::uint8_t> codes(file.begin() + 1, file.end());
  for (std::size_t block : {1u, 2u, 7u, 8u, 9u, 100u, 255u}) {
    std::vector<std::uint8_t> pixels(expected.size(), kSentinel);
    const IndexRows rows{pixels.data(), 160, 160, 120};
    const LzwResult r = DecodeGifImageData(FrameSubBlocks(codes, block), file[0], false, rows);
    EXPECT_EQ(r.status, LzwStatus::kComplete) << block;
    EXPECT_EQ(pixels, expected) << block;
  }
}

TEST(LzwImageDataTest, SubBlockClaimingMoreThanRemainsUsesWhatRemains) {
  std::vector<std::uint8_t> data = PackCodes({{4, 3}, {1, 3}, {2, 3}, {5, 3}});
  data.insert(data.begin(), 200);  // no terminator, far too long a length
  std::vector<std::uint8_t> pixels(3, kSentinel);
  const LzwResult r = DecodeGifImageData(data, 2, false, IndexRows{pixels.data(), 3, 3, 1});
  EXPECT_EQ(r.status, LzwStatus::kEndCodeEarly);
  EXPECT_EQ(pixels, Bytes({1, 2, S}));
}

TEST(LzwImageDataTest, BottomUpRowsWithPaddingAreWrittenInPlaceOnly) {
  // A 3 x 2 image into a 4-byte-stride bottom-up buffer: row 0 is the last memory row.
  const std::vector<std::uint8_t> data =
      FrameSubBlocks(PackCodes({{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {0, 4}, {1, 4}}));
  std::vector<std::uint8_t> memory(8, kSentinel);
  const IndexRows rows{memory.data() + 4, -4, 3, 2};
  const LzwResult r = DecodeGifImageData(data, 2, false, rows);
  EXPECT_EQ(r.status, LzwStatus::kComplete);
  EXPECT_EQ(memory, Bytes({3, 0, 1, S, 0, 1, 2, S}));
}

TEST(LzwImageDataTest, InterlacedRowsArriveInFourPasses) {
  // A 1 x 10 image whose k-th delivered pixel is k lands on rows 0, 8, 4, 2, 6, 1, 3, 5, 7, 9.
  // Literal width 4: clear 16, first free entry 18.
  std::vector<std::pair<unsigned, int>> codes = {{16, 5}};
  unsigned next = 18;
  for (unsigned k = 0; k < 10; ++k) {
    codes.push_back({k, std::min(12, static_cast<int>(std::bit_width(next)))});
    if (k > 0) ++next;
  }
  std::vector<std::uint8_t> pixels(10, kSentinel);
  const LzwResult r = DecodeGifImageData(FrameSubBlocks(PackCodes(codes)), 4, true,
                                         IndexRows{pixels.data(), 1, 1, 10});
  EXPECT_EQ(r.status, LzwStatus::kComplete);
  EXPECT_EQ(pixels, Bytes({0, 5, 3, 6, 2, 7, 4, 8, 1, 9}));
}

TEST(LzwImageDataTest, InterlacedRowOrderForSmallHeights) {
  const std::vector<std::vector<int>> expected = {
      {0}, {0, 1}, {0, 2, 1}, {0, 2, 1, 3}, {0, 4, 2, 1, 3}, {0, 4, 2, 1, 3, 5}};
  for (std::size_t h = 1; h <= expected.size(); ++h) {
    std::vector<int> order;
    for (int k = 0; k < static_cast<int>(h); ++k)
      order.push_back(InterlacedRow(k, static_cast<int>(h)));
    EXPECT_EQ(order, expected[h - 1]) << h;
  }
}

// ---- Real images through the block walker. ------------------------------------------------------

// Decodes `image` into sentinel-filled rows, from `subBlocks` in place of its own data.
std::vector<std::uint8_t> DecodeImageFrom(const GifImageBlock& image,
                                          std::span<const std::uint8_t> subBlocks,
                                          LzwResult* result) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(image.width) * image.height, kSentinel);
  const IndexRows rows{pixels.data(), image.width, image.width, image.height};
  *result = DecodeGifImageData(subBlocks, image.minCodeSize, image.interlaced, rows);
  return pixels;
}

std::vector<std::uint8_t> DecodeImage(const GifImageBlock& image, LzwResult* result) {
  return DecodeImageFrom(image, image.subBlocks, result);
}

TEST(LzwRealImageTest, BricksFilesMatchTheirIndexFiles) {
  for (const char* name : {"bricks-dither", "bricks-gray", "bricks-nodither"}) {
    const std::vector<std::uint8_t> file = ReadTestFile(std::string("gif-corpus/") + name + ".gif");
    const std::vector<GifImageBlock> images = FindGifImages(file, 10);
    ASSERT_EQ(images.size(), 1u) << name;
    LzwResult r;
    EXPECT_EQ(DecodeImage(images[0], &r),
              ReadTestFile(std::string("gif-corpus/") + name + ".indexes"))
        << name;
    EXPECT_EQ(r.status, LzwStatus::kComplete) << name;
  }
}

TEST(LzwRealImageTest, MuybridgeFramesMatchTheirIndexFiles) {
  // Every frame covers the whole 30 x 20 canvas, so each golden is that frame's own indices.
  const std::vector<std::uint8_t> file = ReadTestFile("gif-corpus/muybridge.gif");
  const std::vector<GifImageBlock> images = FindGifImages(file, 100);
  ASSERT_EQ(images.size(), 15u);
  for (std::size_t i = 0; i < images.size(); ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "gif-corpus/muybridge-frame-%03zu.indexes", i);
    LzwResult r;
    EXPECT_EQ(DecodeImage(images[i], &r), ReadTestFile(name)) << name;
    EXPECT_EQ(r.status, LzwStatus::kComplete) << name;
  }
}

TEST(LzwRealImageTest, InterlacedAndRegularHippopotamusAgree) {
  const std::vector<std::uint8_t> a = ReadTestFile("gif-corpus/hippopotamus.interlaced.gif");
  const std::vector<std::uint8_t> b = ReadTestFile("gif-corpus/hippopotamus.regular.gif");
  const std::vector<GifImageBlock> interlaced = FindGifImages(a, 1);
  const std::vector<GifImageBlock> regular = FindGifImages(b, 1);
  ASSERT_EQ(interlaced.size(), 1u);
  ASSERT_EQ(regular.size(), 1u);
  ASSERT_TRUE(interlaced[0].interlaced);
  ASSERT_FALSE(regular[0].interlaced);
  LzwResult ra;
  LzwResult rb;
  const std::vector<std::uint8_t> pa = DecodeImage(interlaced[0], &ra);
  EXPECT_EQ(pa, DecodeImage(regular[0], &rb));
  EXPECT_EQ(ra.status, LzwStatus::kComplete);
  EXPECT_EQ(rb.status, LzwStatus::kComplete);
}

TEST(LzwRealImageTest, EveryTruncationKeepsTheDecodedPrefixAndTouchesNothingElse) {
  const std::vector<std::uint8_t> file = ReadTestFile("gif-corpus/hat.gif");
  const std::vector<GifImageBlock> images = FindGifImages(file, 1);
  ASSERT_EQ(images.size(), 1u);
  LzwResult full;
  const std::vector<std::uint8_t> expected = DecodeImage(images[0], &full);
  ASSERT_EQ(full.status, LzwStatus::kComplete);
  std::int64_t previous = 0;
  for (std::size_t n = 0; n < images[0].subBlocks.size(); ++n) {
    LzwResult r;
    const std::vector<std::uint8_t> pixels =
        DecodeImageFrom(images[0], images[0].subBlocks.first(n), &r);
    ASSERT_NE(r.status, LzwStatus::kInvalidCode) << n;
    ASSERT_GE(r.pixels, previous) << n;
    previous = r.pixels;
    const auto written = static_cast<std::size_t>(r.pixels);
    ASSERT_TRUE(std::equal(pixels.begin(), pixels.begin() + written, expected.begin())) << n;
    ASSERT_TRUE(std::all_of(pixels.begin() + written, pixels.end(), [](std::uint8_t v) {
      return v == kSentinel;
    })) << n;
    if (r.status != LzwStatus::kComplete) continue;
    ASSERT_EQ(r.pixels, static_cast<std::int64_t>(expected.size()));
  }
}

TEST(LzwRealImageTest, TruncatedInterlacedImageFillsOnlyDeliveredRows) {
  const std::vector<std::uint8_t> file = ReadTestFile("gif-corpus/hippopotamus.interlaced.gif");
  const std::vector<GifImageBlock> images = FindGifImages(file, 1);
  ASSERT_EQ(images.size(), 1u);
  LzwResult full;
  const std::vector<std::uint8_t> expected = DecodeImage(images[0], &full);
  LzwResult r;
  const std::vector<std::uint8_t> pixels =
      DecodeImageFrom(images[0], images[0].subBlocks.first(images[0].subBlocks.size() / 2), &r);
  ASSERT_EQ(r.status, LzwStatus::kTruncated);
  const int width = images[0].width;
  for (int k = 0; k < images[0].height; ++k) {
    const int y = InterlacedRow(k, images[0].height);
    for (int x = 0; x < width; ++x) {
      const std::size_t at = static_cast<std::size_t>(y * width + x);
      const bool delivered = std::int64_t{k} * width + x < r.pixels;
      EXPECT_EQ(pixels[at], delivered ? expected[at] : kSentinel) << k << "," << x;
    }
  }
}

// gif-suite's table-filling images all show the same 100 x 100 random image.
TEST(LzwRealImageTest, TableFillingImagesMatchTheirReference) {
  const std::vector<std::uint8_t> reference = ReadTestFile("gif-suite/random-image.rgba");
  ASSERT_EQ(reference.size(), 100u * 100u * 4u);
  for (const char* name : {"4095-codes.gif", "4095-codes-clear.gif", "255-codes.gif",
                           "max-codes.gif", "large-codes.gif"}) {
    const std::vector<std::uint8_t> file = ReadTestFile(std::string("gif-suite/") + name);
    const std::vector<GifImageBlock> images = FindGifImages(file, 1);
    ASSERT_EQ(images.size(), 1u) << name;
    LzwResult r;
    const std::vector<std::uint8_t> pixels = DecodeImage(images[0], &r);
    EXPECT_EQ(r.status, LzwStatus::kComplete) << name;
    const auto& table = images[0].colorTable;
    int mismatches = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      const std::size_t e = 3u * pixels[i];
      const bool same = e + 2 < table.size() && table[e] == reference[4 * i] &&
                        table[e + 1] == reference[4 * i + 1] &&
                        table[e + 2] == reference[4 * i + 2];
      mismatches += same ? 0 : 1;
    }
    EXPECT_EQ(mismatches, 0) << name;
  }
}

}  // namespace
}  // namespace velmora::gif
