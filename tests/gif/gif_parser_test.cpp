// The block parser on hand-built GIFs (every rule and tolerance), on every prefix of real files,
// and against the descriptions that come with the GIF test suite.

#include "gif/gif_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "support/gif_builder.h"
#include "support/test_files.h"

namespace velmora::gif {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Cat;
using testing::Text;

// Header, positions 1..13: signature, screen 1 x 1, packed, background 0, aspect 0.
Bytes Header(std::uint8_t packed, const std::string& signature = "GIF89a") {
  return Cat({Text(signature), {0x01, 0x00, 0x01, 0x00, packed, 0x00, 0x00}});
}

// Header with a 2-colour global table (black, white): blocks start at position 20.
Bytes HeaderGlobal2() {
  return Cat({Header(0x80), {0, 0, 0, 0xFF, 0xFF, 0xFF}});
}

// Image descriptor and data, 15 bytes without a local table:
//   2C | left | top | width | height (u16 LE) | packed | [local table] | 02 (min code size)
//   | 02 4C 01 (one sub-block) | 00 (terminator)
Bytes Image(std::uint16_t left, std::uint16_t top, std::uint16_t width, std::uint16_t height,
            std::uint8_t packed = 0x00, const Bytes& localTable = {}) {
  Bytes out = {0x2C,
               static_cast<std::uint8_t>(left),
               static_cast<std::uint8_t>(left >> 8),
               static_cast<std::uint8_t>(top),
               static_cast<std::uint8_t>(top >> 8),
               static_cast<std::uint8_t>(width),
               static_cast<std::uint8_t>(width >> 8),
               static_cast<std::uint8_t>(height),
               static_cast<std::uint8_t>(height >> 8),
               packed};
  out.insert(out.end(), localTable.begin(), localTable.end());
  out.insert(out.end(), {0x02, 0x02, 0x4C, 0x01, 0x00});
  return out;
}
Bytes Image1x1() {
  return Image(0, 0, 1, 1);
}

// Graphic control extension, 8 bytes: 21 F9 | 04 | packed | delay (u16 LE) | index | 00
Bytes Gce(std::uint8_t packed, std::uint16_t delay, std::uint8_t index) {
  return {0x21,
          0xF9,
          0x04,
          packed,
          static_cast<std::uint8_t>(delay),
          static_cast<std::uint8_t>(delay >> 8),
          index,
          0x00};
}

// Application extension, 19 bytes for an 11-byte identifier:
//   21 FF | 0B | identifier (11) | 03 | 01 | loop count (u16 LE) | 00
Bytes AppExt(const std::string& identifier, std::uint16_t loops) {
  return Cat({{0x21, 0xFF, static_cast<std::uint8_t>(identifier.size())},
              Text(identifier),
              {0x03, 0x01, static_cast<std::uint8_t>(loops), static_cast<std::uint8_t>(loops >> 8),
               0x00}});
}

const Bytes kTrailer = {0x3B};

struct Parsed {
  std::int32_t count = 0;
  ParsedGif doc;
};

Parsed Parse(const Bytes& bytes) {
  Parsed p;
  p.count = ParseGif(bytes, p.doc);
  return p;
}

// "left,top widthxheight delay=.. disp=.. t=.. ti=.. ct=.. x=.." for compact inline expectations.
std::string Describe(const GifFrame& f) {
  std::ostringstream out;
  out << f.Left << "," << f.Top << " " << f.Width << "x" << f.Height << " delay=" << f.Delay
      << " disp=" << int{f.Disposal} << " t=" << int{f.Transparent}
      << " ti=" << int{f.TransparentIndex} << " ct=" << f.ColorTable << " x=" << f.StripX;
  return out.str();
}

std::vector<std::string> DescribeAll(const ParsedGif& doc) {
  std::vector<std::string> out;
  for (const GifFrame& f : doc.Frames) out.push_back(Describe(f));
  return out;
}

std::vector<std::uint32_t> TableCounts(const ParsedGif& doc) {
  std::vector<std::uint32_t> out;
  for (const ColorTable& t : doc.Tables.ColorTables) out.push_back(t[kColorCountEntry]);
  return out;
}

// ---- Signature and header ----------------------------------------------------------------

TEST(GifParser, SignatureIgnoresCaseAndAcceptsBothVersions) {
  struct Case {
    std::string signature;
    std::int32_t frames;
  };
  const Case cases[] = {
      {"GIF89a", 1}, {"GIF87a", 1}, {"gif89a", 1}, {"gif87a", 1},
      {"gIf89A", 1}, {"GiF87A", 1}, {"GIF88a", 0}, {"GIF89b", 0},
      {"JIF89a", 0}, {"GIF89 ", 0}, {"GIF8_a", 0}, {"\x47\x49\x46\x38\x39\x00", 0},
  };
  for (const Case& c : cases) {
    const Parsed p =
        Parse(Cat({Header(0x80, c.signature), {0, 0, 0, 1, 1, 1}, Image1x1(), kTrailer}));
    EXPECT_EQ(p.count, c.frames) << c.signature;
  }
}

TEST(GifParser, ShortDataGivesNoFrames) {
  const Bytes full = Cat({HeaderGlobal2(), Image1x1(), kTrailer});
  // Fewer than 6 bytes: a zero signature block. 6..10: the packed byte at 11 is missing.
  // 11..19: the global table is cut off. Up to 30 (the min code size at 30): the image is cut
  // inside its descriptor.
  for (std::size_t n = 0; n < 30; ++n) {
    const Parsed p = Parse(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
    EXPECT_EQ(p.count, 0) << n << " bytes";
    EXPECT_TRUE(p.doc.Frames.empty());
  }
  EXPECT_EQ(Parse(Bytes(full.begin(), full.begin() + 30)).count, 1);
}

TEST(GifParser, ScreenDescriptorOnlyPacked) {
  // The logical screen fields (7..10, 12, 13) are never read; the packed byte is taken from
  // position 11 and the blocks start at 14 (no global table here).
  const Bytes gif =
      Cat({Text("GIF89a"),
           {0x2C, 0x2C},  // 7-8   width: bytes that look like separators, ignored
           {0x21, 0xF9},  // 9-10  height: ignored
           {0x00},        // 11    packed: no global table
           {0x3B, 0x21},  // 12-13 background, aspect: ignored
           Image(0, 0, 1, 1, 0x80, {1, 2, 3, 4, 5, 6}),  // 14: image with a 2-colour local table
           kTrailer});
  const Parsed p = Parse(gif);
  ASSERT_EQ(p.count, 1);
  EXPECT_EQ(DescribeAll(p.doc),
            std::vector<std::string>{"0,0 1x1 delay=0 disp=0 t=0 ti=0 ct=1 x=14"});
  EXPECT_EQ(p.doc.FrameSpans[0].Start, 14);
}

TEST(GifParser, GlobalTableIsTableZero) {
  const Bytes gif = Cat({Header(0x81),  // global table, 4 colours
                         {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0, 0, 0, 0xFF, 0xFF, 0xFF},  // 14..25
                         Image1x1(),                                                       // 26
                         kTrailer});
  const Parsed p = Parse(gif);
  ASSERT_EQ(p.count, 1);
  ASSERT_EQ(TableCounts(p.doc), (std::vector<std::uint32_t>{4}));
  EXPECT_EQ(p.doc.Tables.ColorTables[0][0], 0x102030u);
  EXPECT_EQ(p.doc.Tables.ColorTables[0][1], 0x405060u);
  EXPECT_EQ(p.doc.Tables.ColorTables[0][3], 0xFFFFFFu);
  EXPECT_EQ(p.doc.Tables.ActiveColorTable, 0);
  EXPECT_EQ(p.doc.Frames[0].ColorTable, 0);
  EXPECT_EQ(p.doc.FrameSpans[0].Start, 26);
}

TEST(GifParser, GlobalTableCutOffLeavesAnEmptyTableZero) {
  // Global table of 4 colours needs 12 bytes; 5 are there.
  const Parsed p = Parse(Cat({Header(0x81), {1, 2, 3, 4, 5}}));
  EXPECT_EQ(p.count, 0);
  EXPECT_EQ(TableCounts(p.doc), (std::vector<std::uint32_t>{0}));
}

// ---- Colour tables -----------------------------------------------------------------------

TEST(GifParser, LocalTablesAreNumberedInFileOrder) {
  const Bytes local2 = {0xAA, 0, 0, 0, 0xBB, 0};
  const Bytes gif = Cat({HeaderGlobal2(), Image(0, 0, 1, 1, 0x80, local2),  // table 1
                         Image1x1(),                                        // global
                         Image(0, 0, 1, 1, 0x81, Bytes(12, 0x11)),          // table 2, 4 colours
                         Image(0, 0, 1, 1, 0x80, local2),  // table 3 (same colours, new table)
                         kTrailer});
  const Parsed p = Parse(gif);
  ASSERT_EQ(p.count, 4);
  EXPECT_EQ(TableCounts(p.doc), (std::vector<std::uint32_t>{2, 2, 4, 2}));
  std::vector<std::int32_t> tables;
  for (const GifFrame& f : p.doc.Frames) tables.push_back(f.ColorTable);
  EXPECT_EQ(tables, (std::vector<std::int32_t>{1, 0, 2, 3}));
  EXPECT_EQ(p.doc.Tables.ColorTables[1][0], 0xAA0000u);
  EXPECT_EQ(p.doc.Tables.ColorTables[1][1], 0x00BB00u);
  EXPECT_EQ(p.doc.Tables.ActiveColorTable, 3);
}

TEST(GifParser, OnlyLocalTablesLeaveTableZeroEmpty) {
  const Bytes gif = Cat({Header(0x00),                                    // no global table
                         Image(0, 0, 1, 1, 0x80, {1, 2, 3, 4, 5, 6}),     // table 1
                         Image(0, 0, 1, 1, 0x80, {7, 8, 9, 10, 11, 12}),  // table 2
                         kTrailer});
  const Parsed p = Parse(gif);
  ASSERT_EQ(p.count, 2);
  EXPECT_EQ(TableCounts(p.doc), (std::vector<std::uint32_t>{0, 2, 2}));
  for (std::size_t i = 0; i <= 256; ++i) EXPECT_EQ(p.doc.Tables.ColorTables[0][i], 0u);
}

TEST(GifParser, ImageWithoutAnyTableDiscardsEverything) {
  const Bytes gif =
      Cat({Header(0x00), Image(0, 0, 1, 1, 0x80, {1, 2, 3, 4, 5, 6}),  // fine: local table
           Image1x1(),                                                 // no table at all
           Image(0, 0, 1, 1, 0x80, {1, 2, 3, 4, 5, 6}), kTrailer});
  const Parsed p = Parse(gif);
  EXPECT_EQ(p.count, 0);
  EXPECT_TRUE(p.doc.Frames.empty());
}

TEST(GifParser, LocalTableCutOffKeepsEarlierFramesAndAnEmptyTable) {
  const Bytes gif = Cat({HeaderGlobal2(),
                         Image1x1(),
                         {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x81},  // local table of 4 colours...
                         {1, 2, 3, 4, 5, 6, 7}});               // ...cut after 7 of 12 bytes
  const Parsed p = Parse(gif);
  EXPECT_EQ(p.count, 1);
  EXPECT_EQ(TableCounts(p.doc), (std::vector<std::uint32_t>{2, 0}));
  EXPECT_EQ(p.doc.Tables.ActiveColorTable, 0);  // the failed table never became active
}

// ---- Block loop ----------------------------------------------------------------------------

TEST(GifParser, StrayZeroBytesBetweenBlocksAreSkipped) {
  const Bytes gif = Cat({HeaderGlobal2(),
                         {0x00, 0x00},     // 20-21 stray zeros
                         Gce(0x00, 7, 0),  // 22
                         {0x00},           // 30
                         Image1x1(),       // 31
                         {0x00, 0x00, 0x00},
                         Image1x1(),
                         kTrailer});
  const Parsed p = Parse(gif);
  ASSERT_EQ(p.count, 2);
  EXPECT_EQ(DescribeAll(p.doc),
            (std::vector<std::string>{"0,0 1x1 delay=70 disp=0 t=0 ti=0 ct=0 x=22",
                                      "0,0 1x1 delay=0 disp=0 t=0 ti=0 ct=0 x=49"}));
}

TEST(GifParser, AnyOtherIntroducerEndsTheParse) {
  for (const std::uint8_t stop : {0x3B, 0x01, 0x2B, 0xFF, 0x80}) {
    const Parsed p = Parse(Cat({HeaderGlobal2(), Image1x1(), {stop}, Image1x1(), kTrailer}));
    EXPECT_EQ(p.count, 1) << int{stop};
  }
  // No trailer at all: the same result as with one.
  EXPECT_EQ(Parse(Cat({HeaderGlobal2(), Image1x1(), Image1x1()})).count, 2);
}

TEST(GifParser, OtherExtensionsAreSkippedFromTheByteAfterTheLabel) {
  const Bytes comment = {0x21, 0xFE, 0x03, 'a', 'b', 'c', 0x02, 0x2C, 0x2C, 0x00};
  const Bytes plainText = Cat({{0x21, 0x01, 0x0C}, Bytes(12, 0x2C), {0x01, 'x', 0x00}});
  const Bytes unknown = {0x21, 0x99, 0x00};  // empty: terminator straight after the label
  const Bytes gif =
      Cat({HeaderGlobal2(), comment, plainText, unknown, Image(1, 2, 3, 4), kTrailer});
  const Parsed p = Parse(gif);
  ASSERT_EQ(p.count, 1);
  EXPECT_EQ(Describe(p.doc.Frames[0]), "1,2 3x4 delay=0 disp=0 t=0 ti=0 ct=0 x=51");
}

TEST(GifParser, ExtensionCutOffEndsWithFramesSoFar) {
  const Bytes base = Cat({HeaderGlobal2(), Image1x1()});
  const Bytes cuts[] = {
      {0x21},                                          // label missing
      {0x21, 0xF9, 0x04, 0x00},                        // GCE: delay missing
      {0x21, 0xF9, 0x04, 0x01, 0x05, 0x00},            // GCE: transparent index missing
      {0x21, 0xFF},                                    // application: block size missing
      Cat({{0x21, 0xFF, 0x0B}, Text("NETSCAPE2.0")}),  // loop sub-block size missing
      Cat({{0x21, 0xFF, 0x0B}, Text("NETSCAPE2.0"), {0x03, 0x01, 0x05}}),  // loop word cut
      {0x21, 0xFE, 0x05, 'a'},  // comment cut inside a sub-block
  };
  for (const Bytes& cut : cuts) {
    const Parsed p = Parse(Cat({base, cut}));
    EXPECT_EQ(p.count, 1);
    EXPECT_EQ(p.doc.Frames.size(), 1u);
  }
}

// ---- Application extension -----------------------------------------------------------------

TEST(GifParser, LoopCountFromNetscapeExtension) {
  struct Case {
    const char* what;
    Bytes extension;
    std::int32_t loops;
  };
  const Case cases[] = {
      {"loop 1", AppExt("NETSCAPE2.0", 1), 1},
      {"loop 65535", AppExt("NETSCAPE2.0", 65535), 65535},
      {"loop 0", AppExt("NETSCAPE2.0", 0), 0},
      {"lower case", AppExt("netscape2.0", 7), 7},
      {"mixed case", AppExt("NetScape2.0", 9), 9},
      {"other identifier", AppExt("ANIMEXTS1.0", 5), 0},
      {"other version", AppExt("NETSCAPE2.1", 5), 0},
      {"identifier with a trailing zero", AppExt(std::string("NETSCAPE2.0\0", 12), 5), 0},
      // Sub-block index byte is not checked.
      {"index 9", Cat({{0x21, 0xFF, 0x0B}, Text("NETSCAPE2.0"), {0x03, 0x09, 0x04, 0x00, 0x00}}),
       4},
      // First sub-block not 3 bytes long: no loop count, skipped cleanly from its size byte.
      {"sub-block of 5",
       Cat({{0x21, 0xFF, 0x0B}, Text("NETSCAPE2.0"), {0x05, 0x01, 0x04, 0x00, 0x2C, 0x3B, 0x00}}),
       0},
      {"empty sub-blocks", Cat({{0x21, 0xFF, 0x0B}, Text("NETSCAPE2.0"), {0x00}}), 0},
      // A second sub-block after the loop one is skipped too.
      {"extra sub-block",
       Cat({{0x21, 0xFF, 0x0B},
            Text("NETSCAPE2.0"),
            {0x03, 0x01, 0x02, 0x00, 0x02, 0x3B, 0x3B, 0x00}}),
       2},
      // The last extension wins.
      {"two extensions", Cat({AppExt("NETSCAPE2.0", 3), AppExt("NETSCAPE2.0", 4)}), 4},
      {"zero-length identifier", {0x21, 0xFF, 0x00, 0x00}, 0},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(Cat({HeaderGlobal2(), c.extension, Image1x1(), kTrailer}));
    EXPECT_EQ(p.count, 1) << c.what;
    EXPECT_EQ(p.doc.Header.LoopCount, c.loops) << c.what;
  }
}

TEST(GifParser, IdentifierLongerThanTheDataIsSkippedFromWhereItStarts) {
  // Block size 0x20 but only 16 bytes follow: ReadBlock leaves zeros and does not move, so the
  // sub-block skip starts at the byte after the size: a terminator (0x00), and the image after it
  // is found.
  const Bytes gif = Cat({HeaderGlobal2(),
                         {0x21, 0xFF, 0x20},  // 20-22 application extension, identifier size 32
                         {0x00},              // 23    read as a terminator
                         Image1x1()});        // 24..38, no trailer
  const Parsed p = Parse(gif);
  ASSERT_EQ(p.count, 1);
  EXPECT_EQ(p.doc.FrameSpans[0].Start, 24);
  EXPECT_EQ(p.doc.Header.LoopCount, 0);
}

// ---- Graphic control extension -------------------------------------------------------------

TEST(GifParser, GraphicControlFields) {
  struct Case {
    const char* what;
    Bytes before;  // blocks before the frame under test (after the header)
    Bytes gce;
    std::string frame;  // the last frame; its GCE starts right after `before`
  };
  const Bytes first = Image1x1();  // 20..34, so the GCE under test starts at 35
  const Case cases[] = {
      {"delay", first, Gce(0x00, 25, 0), "0,0 1x1 delay=250 disp=0 t=0 ti=0 ct=0 x=35"},
      {"delay 65535", first, Gce(0x00, 65535, 0), "0,0 1x1 delay=655350 disp=0 t=0 ti=0 ct=0 x=35"},
      {"transparent", first, Gce(0x01, 0, 7), "0,0 1x1 delay=0 disp=0 t=1 ti=7 ct=0 x=35"},
      {"flag clear ignores the index", first, Gce(0x00, 0, 7),
       "0,0 1x1 delay=0 disp=0 t=0 ti=0 ct=0 x=35"},
      {"disposal 1", first, Gce(0x04, 0, 0), "0,0 1x1 delay=0 disp=1 t=0 ti=0 ct=0 x=35"},
      {"disposal 2", first, Gce(0x08, 0, 0), "0,0 1x1 delay=0 disp=2 t=0 ti=0 ct=0 x=35"},
      {"disposal 3 after a frame", first, Gce(0x0C, 0, 0),
       "0,0 1x1 delay=0 disp=3 t=0 ti=0 ct=0 x=35"},
      {"disposal 4", first, Gce(0x10, 0, 0), "0,0 1x1 delay=0 disp=0 t=0 ti=0 ct=0 x=35"},
      {"disposal 7", first, Gce(0x1C, 0, 0), "0,0 1x1 delay=0 disp=0 t=0 ti=0 ct=0 x=35"},
      {"reserved and user-input bits ignored", first, Gce(0xE3 | 0x08, 1, 9),
       "0,0 1x1 delay=10 disp=2 t=1 ti=9 ct=0 x=35"},
      // Block size byte is not checked: the fixed layout is assumed.
      {"block size 7",
       first,
       {0x21, 0xF9, 0x07, 0x05, 0x02, 0x00, 0x03, 0x00},
       "0,0 1x1 delay=20 disp=1 t=1 ti=3 ct=0 x=35"},
      // Extra sub-blocks after the fixed fields are skipped.
      {"trailing sub-block",
       first,
       {0x21, 0xF9, 0x04, 0x01, 0x02, 0x00, 0x03, 0x02, 0xAA, 0xBB, 0x00},
       "0,0 1x1 delay=20 disp=0 t=1 ti=3 ct=0 x=35"},
      // Flag clear: the skip starts at StripX + 7 whatever sits at the index position.
      {"flag clear, index 0x2C",
       first,
       {0x21, 0xF9, 0x04, 0x00, 0x01, 0x00, 0x2C, 0x00},
       "0,0 1x1 delay=10 disp=0 t=0 ti=0 ct=0 x=35"},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(Cat({HeaderGlobal2(), c.before, c.gce, Image1x1(), kTrailer}));
    ASSERT_EQ(p.count, 2) << c.what;
    EXPECT_EQ(Describe(p.doc.Frames[1]), c.frame) << c.what;
  }
}

TEST(GifParser, RestorePreviousOnTheFirstFrameIsUnspecified) {
  const Bytes gif = Cat({HeaderGlobal2(), Gce(0x0C, 0, 0), Image1x1(),  // frame 1: 3 -> 0
                         Gce(0x0C, 0, 0), Image1x1(), kTrailer});       // frame 2: 3 stays
  const Parsed p = Parse(gif);
  ASSERT_EQ(p.count, 2);
  EXPECT_EQ(p.doc.Frames[0].Disposal, 0);
  EXPECT_EQ(p.doc.Frames[1].Disposal, 3);
}

TEST(GifParser, SecondGraphicControlReplacesTheFirst) {
  const Bytes gif = Cat({HeaderGlobal2(),
                         Gce(0x09, 50, 4),               // 20: transparent, disposal 2, 0.5 s
                         {0x21, 0xFE, 0x01, 'c', 0x00},  // 28: a comment in between
                         Gce(0x04, 3, 0),                // 33: disposal 1 only
                         Image1x1(),                     // 41
                         kTrailer});
  const Parsed p = Parse(gif);
  ASSERT_EQ(p.count, 1);
  EXPECT_EQ(Describe(p.doc.Frames[0]), "0,0 1x1 delay=30 disp=1 t=0 ti=0 ct=0 x=33");
}

TEST(GifParser, FrameWithoutGraphicControlStartsFromZero) {
  const Bytes gif = Cat({HeaderGlobal2(), Gce(0x09, 50, 4),  // 20
                         Image1x1(),                         // 28
                         Image(2, 3, 1, 1),                  // 43: no extension of its own
                         kTrailer});
  const Parsed p = Parse(gif);
  ASSERT_EQ(p.count, 2);
  EXPECT_EQ(DescribeAll(p.doc),
            (std::vector<std::string>{"0,0 1x1 delay=500 disp=2 t=1 ti=4 ct=0 x=20",
                                      "2,3 1x1 delay=0 disp=0 t=0 ti=0 ct=0 x=43"}));
}

TEST(GifParser, Gif87aSignatureStillReadsExtensions) {
  const Parsed p = Parse(Cat({Header(0x80, "GIF87a"),
                              {0, 0, 0, 1, 1, 1},
                              AppExt("NETSCAPE2.0", 2),
                              Gce(0x05, 10, 1),
                              Image1x1(),
                              kTrailer}));
  ASSERT_EQ(p.count, 1);
  EXPECT_EQ(p.doc.Header.LoopCount, 2);
  EXPECT_EQ(Describe(p.doc.Frames[0]), "0,0 1x1 delay=100 disp=1 t=1 ti=1 ct=0 x=39");
}

// ---- Images --------------------------------------------------------------------------------

TEST(GifParser, SpansAndCanvas) {
  const Bytes gif = Cat({HeaderGlobal2(), Image(10, 10, 20, 20),  // 20..34
                         Image(0, 5, 4, 40, 0x81, Bytes(12, 0)),  // 35..61 with a 4-colour table
                         kTrailer});                              // 62
  const Parsed p = Parse(gif);
  ASSERT_EQ(p.count, 2);
  EXPECT_EQ(p.doc.FrameSpans[0].Start, 20);
  EXPECT_EQ(p.doc.FrameSpans[0].Length, 15);
  EXPECT_EQ(p.doc.FrameSpans[1].Start, 35);
  EXPECT_EQ(p.doc.FrameSpans[1].Length, 27);
  EXPECT_EQ(p.doc.Header.CanvasWidth, 30);   // 10 + 20
  EXPECT_EQ(p.doc.Header.CanvasHeight, 45);  // 5 + 40
  EXPECT_EQ(p.doc.Frames[1].StripX, 35);
}

TEST(GifParser, CanvasComesFromTheImagesNotTheScreen) {
  struct Case {
    Bytes screen;  // width, height
    Bytes images;
    std::int32_t width, height;
  };
  const Case cases[] = {
      {{100, 0, 100, 0}, Image(1, 1, 2, 2), 3, 3},  // screen larger than the images
      {{1, 0, 1, 0}, Image(10, 20, 5, 6), 15, 26},  // images past the screen
      {{0, 0, 0, 0}, Cat({Image(3, 0, 1, 1), Image(0, 7, 1, 1)}), 4, 8},
      {{0, 0, 0, 0}, Image(0, 0, 0, 0), 0, 0},  // zero-size image
  };
  for (const Case& c : cases) {
    const Parsed p =
        Parse(Cat({Text("GIF89a"), c.screen, {0x80, 0, 0, 0, 0, 0, 1, 1, 1}, c.images, kTrailer}));
    ASSERT_GE(p.count, 1);
    EXPECT_EQ(p.doc.Header.CanvasWidth, c.width);
    EXPECT_EQ(p.doc.Header.CanvasHeight, c.height);
  }
}

TEST(GifParser, LargeFieldsAreUnsigned) {
  const Parsed p = Parse(Cat({HeaderGlobal2(), Image(0x8000, 0xFFFF, 0xFFFF, 0x8001), kTrailer}));
  ASSERT_EQ(p.count, 1);
  EXPECT_EQ(Describe(p.doc.Frames[0]), "32768,65535 65535x32769 delay=0 disp=0 t=0 ti=0 ct=0 x=20");
  EXPECT_EQ(p.doc.Header.CanvasWidth, 32768 + 65535);
  EXPECT_EQ(p.doc.Header.CanvasHeight, 65535 + 32769);
}

TEST(GifParser, MinCodeSizeIsNotValidated) {
  Bytes image = Image1x1();
  image[10] = 0xFF;  // LZW minimum code size
  EXPECT_EQ(Parse(Cat({HeaderGlobal2(), image, kTrailer})).count, 1);
}

TEST(GifParser, TruncatedFinalImageIsKept) {
  // Three images; the third is cut inside its data: 3 frames, the last span past the data.
  const Bytes third = {0x2C, 0,   0, 0, 0, 1, 0, 1, 0, 0x00,  // 50..59 descriptor
                       0x02,                                  // 60 min code size
                       0x05, 0x01};                           // 61.. a sub-block of 5, cut
  const Bytes gif = Cat({HeaderGlobal2(), Image1x1(), Image1x1(), third});
  const Parsed p = Parse(gif);
  ASSERT_EQ(p.count, 3);
  EXPECT_EQ(p.doc.FrameSpans[2].Start, 50);
  // Skip: 61 + 6 = 67 is past the data (62), then one more: 68.
  EXPECT_EQ(p.doc.FrameSpans[2].Length, 68 - 50);
  EXPECT_GT(p.doc.FrameSpans[2].Start + p.doc.FrameSpans[2].Length - 1,
            static_cast<std::int32_t>(gif.size()));

  // Cut inside the third descriptor (or right before its min code size): two frames.
  for (std::size_t cut = 50; cut <= 59; ++cut) {
    EXPECT_EQ(Parse(Bytes(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(cut))).count, 2)
        << cut;
  }
  EXPECT_EQ(Parse(Bytes(gif.begin(), gif.begin() + 60)).count, 3);  // min code size present
}

TEST(GifParser, FrameSpansGrowByFive) {
  struct Case {
    int images;
    std::size_t spans;
  };
  const Case cases[] = {{1, 10}, {9, 10}, {10, 15}, {14, 15}, {15, 20}, {21, 25}};
  for (const Case& c : cases) {
    Bytes gif = HeaderGlobal2();
    for (int i = 0; i < c.images; ++i) gif = Cat({gif, Image1x1()});
    const Parsed p = Parse(Cat({gif, kTrailer}));
    ASSERT_EQ(p.count, c.images);
    EXPECT_EQ(p.doc.FrameSpans.size(), c.spans) << c.images;
    EXPECT_EQ(p.doc.FrameSpans[static_cast<std::size_t>(c.images) - 1].Start,
              20 + 15 * (c.images - 1));
  }
}

TEST(GifParser, StopsBeforeTheFrameCountOverflows) {
  // 32770 images of 1 x 1. Frame 32765 would overflow the 16-bit growth of the span table, so
  // the parse keeps the 32764 frames stored before it.
  const Bytes image = Image1x1();
  Bytes gif = HeaderGlobal2();
  gif.reserve(gif.size() + 32770 * image.size() + 1);
  for (int i = 0; i < 32770; ++i) gif.insert(gif.end(), image.begin(), image.end());
  gif.push_back(0x3B);
  const Parsed p = Parse(gif);
  EXPECT_EQ(p.count, 32764);
  ASSERT_EQ(p.doc.Frames.size(), 32764u);
  EXPECT_EQ(p.doc.FrameSpans[32763].Start, 20 + 15 * 32763);
  EXPECT_EQ(p.doc.Frames.back().Width, 1);

  // Exactly 32764 images parse completely.
  gif.resize(19 + 32764 * image.size());
  gif.push_back(0x3B);
  EXPECT_EQ(Parse(gif).count, 32764);
}

TEST(GifParser, ParseStartsFromAnEmptyResult) {
  Parsed p;
  p.doc.Frames.resize(5);
  p.doc.Tables.ColorTables.resize(4);
  p.doc.Tables.ActiveColorTable = 3;
  p.doc.Header.LoopCount = 7;
  EXPECT_EQ(ParseGif(Cat({Header(0x00), Image(0, 0, 1, 1, 0x80, {1, 2, 3, 4, 5, 6}), kTrailer}),
                     p.doc),
            1);
  EXPECT_EQ(p.doc.Frames.size(), 1u);
  EXPECT_EQ(p.doc.Frames[0].ColorTable, 1);
  EXPECT_EQ(p.doc.Header.LoopCount, 0);
  EXPECT_EQ(TableCounts(p.doc), (std::vector<std::uint32_t>{0, 2}));
}

// ---- Hostile input ---------------------------------------------------------------------------

TEST(GifParser, HostileInputNeverCrashes) {
  std::uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(state >> 24);
  };
  for (int round = 0; round < 2000; ++round) {
    Bytes data(static_cast<std::size_t>(round % 200));
    for (auto& b : data) b = next();
    // Half the rounds get a valid header so the block loop sees random blocks.
    if (round % 2 == 0 && data.size() >= 13) {
      const Bytes h = Header(static_cast<std::uint8_t>(data[10] | 0x80));
      std::copy(h.begin(), h.end(), data.begin());
    }
    const Parsed p = Parse(data);
    ASSERT_GE(p.count, 0);
    ASSERT_EQ(p.doc.Frames.size(), static_cast<std::size_t>(p.count));
    for (const GifFrame& f : p.doc.Frames) {
      ASSERT_LT(static_cast<std::size_t>(f.ColorTable), p.doc.Tables.ColorTables.size());
      ASSERT_LE(f.Disposal, 3);
    }
  }
}

TEST(GifParser, HugeDeclaredSizes) {
  // A 256-colour global table declared in a 20-byte file; a 65535 x 65535 image with a
  // 256-colour local table that is not there; sub-blocks declaring 255 bytes at the very end.
  EXPECT_EQ(Parse(Cat({Header(0x87), Bytes(7, 1)})).count, 0);
  EXPECT_EQ(Parse(Cat({HeaderGlobal2(),
                       Image1x1(),
                       {0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x87, 1, 2, 3}}))
                .count,
            1);
  EXPECT_EQ(Parse(Cat({HeaderGlobal2(),
                       {0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x08, 0xFF, 0xFF}}))
                .count,
            1);
  EXPECT_EQ(Parse(Cat({HeaderGlobal2(), {0x21, 0xFE, 0xFF, 0xFF}})).count, 0);
}

// ---- Real files ------------------------------------------------------------------------------

// A frame is kept by a prefix exactly when its descriptor, local table and LZW minimum code size
// byte lie inside the prefix: the data skip after that byte never fails. Every kept frame is the
// same as in the full parse.
TEST(GifParser, EveryPrefixOfRealFiles) {
  const char* files[] = {
      "gif-suite/animation-speed.gif",
      "gif-suite/dispose-restore-previous.gif",
      "gif-suite/animation-multi-image.gif",
      "gif-suite/loop-max.gif",
      "gif-suite/no-global-color-table.gif",
      "gif-suite/local-color-table.gif",
      "gif-suite/plain-text.gif",
      "gif-corpus/muybridge.gif",
      "gif-corpus/hat.gif",
      "gif-corpus/hippopotamus.interlaced.gif",
  };
  for (const char* name : files) {
    const Bytes bytes = testing::ReadTestFile(name);
    ASSERT_FALSE(bytes.empty()) << name;
    const Parsed full = Parse(bytes);
    ASSERT_GT(full.count, 0) << name;

    std::vector<std::size_t> keptFrom;  // smallest prefix length that keeps frame i
    for (std::int32_t i = 0; i < full.count; ++i) {
      const FrameSpan& span = full.doc.FrameSpans[static_cast<std::size_t>(i)];
      const std::size_t packed = static_cast<std::size_t>(span.Start) + 9;  // 1-based
      const std::uint8_t q = bytes[packed - 1];
      const std::size_t table = (q & 0x80) != 0 ? 3u << ((q & 7) + 1) : 0;
      keptFrom.push_back(packed + table + 1);  // through the min code size byte
    }
    for (std::size_t n = 0; n <= bytes.size(); ++n) {
      const Parsed p = Parse(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)));
      std::int32_t expected = 0;
      while (expected < full.count && keptFrom[static_cast<std::size_t>(expected)] <= n) ++expected;
      ASSERT_EQ(p.count, expected) << name << " prefix " << n;
      for (std::int32_t i = 0; i < p.count; ++i) {
        const auto at = static_cast<std::size_t>(i);
        ASSERT_EQ(Describe(p.doc.Frames[at]), Describe(full.doc.Frames[at])) << name << " " << n;
        ASSERT_EQ(p.doc.FrameSpans[at].Start, full.doc.FrameSpans[at].Start);
      }
    }
  }
}

TEST(GifParser, SuiteFilesMatchTheirDescriptions) {
  // Files whose images are the animation's frames one to one. (dispose-restore-previous is not:
  // its first image is a background the suite does not count as a frame; plain-text lists no
  // frame at all.)
  const char* names[] = {"animation",
                         "animation-speed",
                         "animation-no-delays",
                         "animation-zero-delays",
                         "dispose-none",
                         "dispose-keep",
                         "dispose-restore-background",
                         "loop-once",
                         "loop-max",
                         "loop-infinite",
                         "loop-buffer",
                         "loop-animexts",
                         "gif87a",
                         "comment",
                         "unknown-extension",
                         "unknown-application-extension",
                         "nul-application-extension",
                         "transparent",
                         "local-color-table",
                         "no-global-color-table"};
  for (const char* name : names) {
    const std::string base = testing::TestDataPath("gif-suite").string() + "/" + name;
    testing::SuiteConf conf = testing::ReadSuiteConf(base + ".conf");
    const std::vector<std::string> frames = testing::SplitList(conf["config"]["frames"]);
    ASSERT_FALSE(frames.empty()) << name;
    const Parsed p = Parse(testing::ReadBytes(base + ".gif"));
    ASSERT_EQ(p.count, static_cast<std::int32_t>(frames.size())) << name;
    // "infinite" is a NETSCAPE loop count of 0; no extension is "0" and also stores 0.
    const std::string& loopCount = conf["config"]["loop-count"];
    EXPECT_EQ(p.doc.Header.LoopCount, loopCount == "infinite" ? 0 : std::stoi(loopCount)) << name;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const std::string& delay = conf[frames[i]]["delay"];
      const int hundredths = delay.empty() ? 0 : std::stoi(delay);
      EXPECT_EQ(p.doc.Frames[i].Delay, hundredths * 10) << name << " frame " << i;
    }
  }
}

}  // namespace
}  // namespace velmora::gif
