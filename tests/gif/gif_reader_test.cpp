// The byte-reading primitives: results, position moves and where the end of the data shows.

#include "gif/gif_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace velmora::gif {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(GifReader, ReadByteAdvancesAndGivesNothingPastTheEnd) {
  const Bytes data = {0x47, 0xFF};
  std::int32_t pos = 1;
  GifReader reader(data, pos);
  EXPECT_EQ(reader.ReadByte(), 0x47);
  EXPECT_EQ(reader.ReadByte(), 0xFF);  // unsigned
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(reader.ReadByte(), std::nullopt);
  EXPECT_EQ(pos, 3);  // unchanged by the failed read
  pos = 0;            // a position before the data reads as its end
  EXPECT_EQ(reader.ReadByte(), std::nullopt);
  EXPECT_EQ(pos, 0);
}

TEST(GifReader, ReadWordIsLittleEndianAndNeedsBothBytes) {
  struct Case {
    Bytes data;
    std::int32_t start;
    bool eof;
    std::uint16_t value;
  };
  const Case cases[] = {
      {{0x34, 0x12}, 1, false, 0x1234},
      {{0xFF, 0xFF}, 1, false, 65535},
      {{0x00, 0x01, 0x80}, 2, false, 0x8001},  // high bit set: still 32769 unsigned
      {{0x34}, 1, true, 0},                    // one byte missing
      {{0x34, 0x12}, 2, true, 0},
      {{}, 1, true, 0},
  };
  for (const Case& c : cases) {
    std::int32_t pos = c.start;
    GifReader reader(c.data, pos);
    if (c.eof) {
      EXPECT_EQ(reader.ReadWord(), std::nullopt);
      EXPECT_EQ(pos, c.start);
    } else {
      EXPECT_EQ(reader.ReadWord(), c.value);
      EXPECT_EQ(pos, c.start + 2);
    }
  }
}

TEST(GifReader, ReadBlockCopiesOrLeavesZerosWithoutMoving) {
  const Bytes data = {'a', 'b', 'c', 'd'};
  struct Case {
    std::int32_t start, n;
    Bytes block;
    std::int32_t endPos;
  };
  const Case cases[] = {
      {1, 4, {'a', 'b', 'c', 'd'}, 5},  // exactly what remains
      {2, 2, {'b', 'c'}, 4},
      {2, 4, {0, 0, 0, 0}, 2},  // one short: zeros, no move, no error
      {5, 1, {0}, 5},           // at the end
      {3, 0, {}, 3},            // empty block
  };
  for (const Case& c : cases) {
    std::int32_t pos = c.start;
    GifReader reader(data, pos);
    Bytes block = {9, 9, 9, 9, 9, 9};  // stale contents must not survive
    reader.ReadBlock(c.n, block);
    EXPECT_EQ(block, c.block) << "start " << c.start << " n " << c.n;
    EXPECT_EQ(pos, c.endPos);
  }
}

// One 255-byte sub-block (size byte 0xFF, 255 data bytes 0xFF) and the terminator.
Bytes MaxSubBlock() {
  Bytes data(257, 0xFF);
  data[256] = 0x00;
  return data;
}

TEST(GifReader, SkipSubBlocksStepsOverBlocksAndTerminator) {
  struct Case {
    const char* what;
    Bytes data;
    std::int32_t start, endPos;
  };
  const Case cases[] = {
      {"terminator only", {0x00}, 1, 2},
      {"two blocks", {0x02, 0xAA, 0xBB, 0x01, 0xCC, 0x00, 0x3B}, 1, 7},
      {"starts mid-data", {0x3B, 0x01, 0x00, 0x00}, 2, 5},
      // Data ends inside the second block: the loop stops, one more step, no error.
      {"cut inside a block", {0x01, 0xAA, 0x05, 0x01}, 1, 10},
      {"cut after a block", {0x01, 0xAA}, 1, 4},
      {"already past the end", {0x01}, 3, 4},
      {"size byte 255", MaxSubBlock(), 1, 258},
  };
  for (const Case& c : cases) {
    std::int32_t pos = c.start;
    GifReader reader(c.data, pos);
    reader.SkipSubBlocks();
    EXPECT_EQ(pos, c.endPos) << c.what;
  }
}

TEST(GifReader, ReadColorTableStoresRgbAndCount) {
  // Two entries (bits 1): red 0x112233, then 0xAABBCC, followed by an unrelated byte.
  const Bytes data = {0x11, 0x22, 0x33, 0xAA, 0xBB, 0xCC, 0x2C};
  std::int32_t pos = 1;
  GifReader reader(data, pos);
  std::vector<ColorTable> tables;
  EXPECT_TRUE(reader.ReadColorTable(tables, 0, 1));
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_EQ(tables[0][0], 0x112233u);
  EXPECT_EQ(tables[0][1], 0xAABBCCu);
  EXPECT_EQ(tables[0][2], 0u);  // beyond the count stays 0
  EXPECT_EQ(tables[0][256], 2u);
  EXPECT_EQ(pos, 7);
}

TEST(GifReader, ReadColorTableCreatesTheTableBeforeFailing) {
  // A local table (number 2) needs 4 entries = 12 bytes; only 11 remain.
  const Bytes data(11, 0x7F);
  std::int32_t pos = 1;
  GifReader reader(data, pos);
  std::vector<ColorTable> tables(1);
  tables[0][0] = 0x123456;
  tables[0][256] = 2;
  EXPECT_FALSE(reader.ReadColorTable(tables, 2, 2));
  ASSERT_EQ(tables.size(), 3u);        // tables 1 and 2 exist, all zero
  EXPECT_EQ(tables[0][0], 0x123456u);  // existing table kept
  EXPECT_EQ(tables[0][256], 2u);
  EXPECT_EQ(tables[2][0], 0u);  // nothing stored
  EXPECT_EQ(tables[2][256], 0u);
  EXPECT_EQ(pos, 1);
}

TEST(GifReader, ReadColorTableSizes) {
  for (std::int32_t bits = 1; bits <= 8; ++bits) {
    const std::size_t count = std::size_t{1} << bits;
    Bytes data(3 * count);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    std::int32_t pos = 1;
    GifReader reader(data, pos);
    std::vector<ColorTable> tables;
    EXPECT_TRUE(reader.ReadColorTable(tables, 0, bits));
    EXPECT_EQ(tables[0][256], count);
    EXPECT_EQ(pos, static_cast<std::int32_t>(3 * count + 1));
    const std::size_t last = count - 1;
    const auto r = static_cast<std::uint8_t>(3 * last), g = static_cast<std::uint8_t>(r + 1),
               b = static_cast<std::uint8_t>(r + 2);
    EXPECT_EQ(tables[0][last], (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b);
  }
}

TEST(GifReader, ReadColorTableReadsEveryEntryWhereverTheDataEnds) {
  // Eight entries (bits 3) at position 3, entry i = (0x10 + i, 0x80 + i, 0xF0 + i). The table is
  // followed by 0, 1 or 4 bytes: the last entry must come out the same when it ends the data.
  for (const std::size_t after : {0u, 1u, 4u}) {
    Bytes data = {0xEE, 0xEE};
    for (std::uint8_t i = 0; i < 8; ++i) {
      data.insert(data.end(), {static_cast<std::uint8_t>(0x10 + i), static_cast<std::uint8_t>(0x80 + i),
                               static_cast<std::uint8_t>(0xF0 + i)});
    }
    data.insert(data.end(), after, 0xFF);
    std::int32_t pos = 3;
    GifReader reader(data, pos);
    std::vector<ColorTable> tables(1);
    EXPECT_TRUE(reader.ReadColorTable(tables, 1, 3));
    ASSERT_EQ(tables.size(), 2u);
    for (std::uint32_t i = 0; i < 8; ++i) {
      EXPECT_EQ(tables[1][i], ((0x10u + i) << 16) | ((0x80u + i) << 8) | (0xF0u + i))
          << "entry " << i << ", " << after << " bytes after";
    }
    EXPECT_EQ(tables[1][8], 0u);  // the byte after the table is not an entry
    EXPECT_EQ(tables[1][256], 8u);
    EXPECT_EQ(pos, 27);
  }
}

TEST(GifReader, ReadColorTableRefusesBitsOutsideOneToEight) {
  const Bytes data(1000, 0);
  std::int32_t pos = 1;
  GifReader reader(data, pos);
  std::vector<ColorTable> tables;
  EXPECT_FALSE(reader.ReadColorTable(tables, 0, 9));
  EXPECT_FALSE(reader.ReadColorTable(tables, 0, 0));
  EXPECT_FALSE(reader.ReadColorTable(tables, -1, 1));
  EXPECT_TRUE(tables.empty());
  EXPECT_EQ(pos, 1);
}

TEST(GifReader, RemainingCountsFromReadPos) {
  const Bytes data(5, 0);
  std::int32_t pos = 1;
  GifReader reader(data, pos);
  EXPECT_EQ(reader.Remaining(), 5);
  pos = 6;
  EXPECT_EQ(reader.Remaining(), 0);
  pos = 40;
  EXPECT_EQ(reader.Remaining(), 0);
  EXPECT_EQ(reader.LastIndex(), 5);
}

}  // namespace
}  // namespace velmora::gif
