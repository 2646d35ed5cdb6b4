// The LZW decoder's per-thread workspace: the code table and the literal bytes are set up once
// and only redone where a decode needs them, so decodes with different literal widths and sizes,
// one after another on one thread, must each give what a fresh thread gives.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gif/gif_lzw.h"
#include "support/lzw_codes.h"

namespace velmora::gif {
namespace {

using testing::PackCodes;

constexpr std::uint8_t kSentinel = 0xEE;

struct Step {
  std::string what;
  int minCodeSize;
  std::vector<std::pair<unsigned, int>> codes;  // (code, width)
  std::size_t outSize;
  LzwStatus status;
  std::vector<std::uint8_t> expected;  // the whole output buffer, sentinels included
};

// Literal width 2: a clear, literal 1, then `count` codes each naming the entry it defines, so
// the strings grow by one 1 each until the table is full (entry 4095, 4091 ones); past that the
// codes repeat entry 4095. Fills the table from entry 6 on and, for large counts, makes the
// scratch large.
Step Ramp(const std::string& what, int count) {
  Step s{what, 2, {{4, 3}, {1, 3}}, 0, LzwStatus::kComplete, {}};
  std::size_t pixels = 1;
  std::size_t length = 1;
  unsigned next = 6;
  bool full = false;
  for (int i = 0; i < count; ++i) {
    if (full) {
      s.codes.push_back({4095, 12});
      length = 4091;
    } else {
      // The code's width must reach the entry it names.
      s.codes.push_back({next, static_cast<int>(std::bit_width(next))});
      length += 1;
      if (next == 4095) {
        full = true;
      } else {
        ++next;
      }
    }
    pixels += length;
  }
  s.outSize = pixels;
  s.expected.assign(pixels, 1);
  return s;
}

std::vector<Step> Sequence() {
  return {
      {"8-bit literals on a fresh table", 8, {{256, 9}, {65, 9}, {66, 9}, {257, 9}}, 3,
       LzwStatus::kEndCodeEarly, {65, 66, kSentinel}},
      Ramp("width 2, 300 entries, scratch grows", 300),
      // Entries 6..255 were strings of the ramp: here they must be literals again.
      {"8-bit literals over the ramp's entries", 8,
       {{256, 9}, {100, 9}, {200, 9}, {6, 9}, {7, 9}, {257, 9}}, 5, LzwStatus::kEndCodeEarly,
       {100, 200, 6, 7, kSentinel}},
      // Over 8 MiB of output: the scratch is given back after the call.
      Ramp("width 2, full table, scratch released", 4100),
      // Literals up to 2047 need literal bytes and entries from 256 on; 258 was a string entry
      // of the previous 8-bit decode. Literals above 255 keep their low byte.
      {"11-bit literals after the release", 11,
       {{2048, 12}, {300, 12}, {1000, 12}, {258, 12}, {2049, 12}}, 4, LzwStatus::kEndCodeEarly,
       {300 & 0xFF, 1000 & 0xFF, 2, kSentinel}},
      // 256 and 257 were literals of the 11-bit decode: here they are the clear and end codes.
      {"8-bit clear and end after wider literals", 8,
       {{256, 9}, {7, 9}, {256, 9}, {8, 9}, {257, 9}}, 3, LzwStatus::kEndCodeEarly,
       {7, 8, kSentinel}},
      {"8-bit string codes after a clear", 8,
       {{256, 9}, {1, 9}, {2, 9}, {258, 9}, {260, 9}, {257, 9}}, 8, LzwStatus::kEndCodeEarly,
       // 1, 2, "1 2", then 260 defines itself: "2 1" (entry 259) was added, so 260 = "1 2 1".
       {1, 2, 1, 2, 1, 2, 1, kSentinel}},
      {"width 1 after all the others", 1, {{2, 2}, {1, 2}, {0, 3}, {4, 3}, {3, 3}}, 5,
       LzwStatus::kEndCodeEarly, {1, 0, 1, 0, kSentinel}},
  };
}

// Runs the sequence and returns a description of every difference, empty when all steps match.
std::string RunSequence() {
  std::string failures;
  for (const Step& step : Sequence()) {
    std::vector<std::uint8_t> out(step.outSize, kSentinel);
    const LzwResult r = DecodeLzwStream(PackCodes(step.codes), step.minCodeSize, out);
    if (r.status != step.status) failures += step.what + ": status\n";
    const auto written = std::count_if(step.expected.begin(), step.expected.end(),
                                       [](std::uint8_t v) { return v != kSentinel; });
    if (step.status != LzwStatus::kComplete && r.pixels != written) {
      failures += step.what + ": pixels " + std::to_string(r.pixels) + "\n";
    }
    if (out != step.expected) failures += step.what + ": output\n";
  }
  return failures;
}

TEST(LzwWorkspaceTest, MixedWidthsAndSizesOnAFreshThread) {
  std::string failures;
  std::thread worker([&] { failures = RunSequence(); });
  worker.join();
  EXPECT_EQ(failures, "");
}

TEST(LzwWorkspaceTest, MixedWidthsAndSizesTwiceOnOneThread) {
  EXPECT_EQ(RunSequence(), "");
  EXPECT_EQ(RunSequence(), "");
}

}  // namespace
}  // namespace velmora::gif
