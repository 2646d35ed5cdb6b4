// The frame strip builder on documents parsed from hand-built GIFs: band positions and contents,
// interlacing, local tables, transparency, the canvas decision, truncated and hostile input, row
// lengths.

#include "ucAniGIF/render/frame_strip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "gif/gif_parser.h"
#include "platform/errors.h"
#include "support/gif_builder.h"
#include "support/run_time_errors.h"
#include "support/test_files.h"

namespace velmora {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::TestFrame;

// A document as a load leaves it before the strip is built: the GIF bytes and what the block
// parser found in them.
GifDocument Parsed(Bytes bytes) {
  GifDocument doc;
  doc.GifBytes = std::move(bytes);
  EXPECT_GT(gif::ParseGif(doc.GifBytes, doc), 0);
  return doc;
}

// The frames' image data is literal codes at the smallest code size that holds their indices,
// with a clear code before every second pixel.
GifDocument MakeDocument(const std::vector<TestFrame>& frames) {
  testing::TestGif gif;
  gif.frames = frames;
  gif.minCodeSize = 0;
  gif.pixelsPerClear = 2;
  return Parsed(testing::BuildGif(gif));
}

// Strip index at frame `number`'s pixel (x, y), y from the top.
int BandPixel(const GifDocument& doc, int number, int x, int y) {
  return doc.FrameStrip.Bitmap->Row(y)[doc.Frame(number).StripX + x];
}

Bytes Pattern(int width, int height, int colors, int seed) {
  Bytes out;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) out.push_back(static_cast<std::uint8_t>((x + 2 * y + seed) % colors));
  }
  return out;
}

void BuildAll(GifDocument& doc) {
  ASSERT_TRUE(PrepareFrameStrip(doc, true));
  DecodeFramesIntoStrip(doc, 1, 1);
  DecodeFramesIntoStrip(doc, 2, doc.FrameCount());
}

TEST(ScanlineBytes, RowLengthsArePaddedToFourBytes) {
  struct Case {
    std::uint8_t bits;
    std::int32_t width;
    std::int32_t bytes;
  };
  for (const Case& c : {Case{8, 1, 4}, Case{8, 4, 4}, Case{8, 5, 8}, Case{24, 3, 12},
                        Case{1, 33, 8}, Case{1, 32, 4}, Case{1, 0, 0}, Case{32, 3, 12},
                        Case{8, 268435452, 268435452}}) {
    EXPECT_EQ(ScanlineBytes(c.bits, c.width), c.bytes) << int{c.bits} << " x " << c.width;
  }
}

TEST(ScanlineBytes, ProductBeyond32BitsIsOverflowError) {
  for (auto [bits, width] : {std::pair<std::uint8_t, std::int32_t>{8, 268435453},
                             {24, 89478486}, {32, std::numeric_limits<std::int32_t>::max()}}) {
    EXPECT_EQ(testing::ErrorNumber([&] { ScanlineBytes(bits, width); }), platform::kErrOverflow)
        << int{bits} << " x " << width;
  }
}

TEST(IndexPalette, EntryIIsBlueI) {
  const auto& palette = IndexPalette();
  for (std::uint32_t i = 0; i < 256; ++i) ASSERT_EQ(palette[i], i);
}

TEST(FrameStrip, BandsSitSideBySideAndHoldEachFramesIndices) {
  GifDocument doc = MakeDocument({
      {.width = 10, .height = 3, .pixels = Pattern(10, 3, 4, 1)},
      {.width = 20, .height = 5, .pixels = Pattern(20, 5, 4, 2)},
      {.width = 30, .height = 4, .pixels = Pattern(30, 4, 4, 3)},
  });
  BuildAll(doc);
  ASSERT_NE(doc.FrameStrip.Bitmap, nullptr);
  EXPECT_EQ(doc.FrameStrip.Bitmap->Width(), 60);
  EXPECT_EQ(doc.FrameStrip.Bitmap->Height(), 5);
  EXPECT_EQ(doc.FrameStrip.Bitmap->BitsPerPixel(), 8);
  EXPECT_FALSE(doc.FrameStrip.Bitmap->TopDown());
  EXPECT_EQ(doc.FrameStrip.Bits, doc.FrameStrip.Bitmap->Bits());
  EXPECT_EQ(&doc.FrameStrip.DC->Selected(), doc.FrameStrip.Bitmap.get());
  EXPECT_EQ(doc.Frame(1).StripX, 0);
  EXPECT_EQ(doc.Frame(2).StripX, 10);
  EXPECT_EQ(doc.Frame(3).StripX, 30);
  EXPECT_EQ(doc.Tables.ActiveColorTable, -1);

  const int heights[] = {3, 5, 4};
  const int widths[] = {10, 20, 30};
  for (int n = 1; n <= 3; ++n) {
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < widths[n - 1]; ++x) {
        // Rows below a frame's height keep the zero the bitmap was created with.
        const int expected = y < heights[n - 1] ? (x + 2 * y + n) % 4 : 0;
        ASSERT_EQ(BandPixel(doc, n, x, y), expected) << "frame " << n << " (" << x << ", " << y << ")";
      }
    }
  }
  // Top row first: image row 0 is the last row in memory of the bottom-up strip.
  EXPECT_EQ(doc.FrameStrip.Bits[4 * doc.FrameStrip.Bitmap->Stride() + 1], (1 + 0 + 1) % 4);
}

TEST(FrameStrip, InterlacedFrameIsStoredInNormalRowOrder) {
  Bytes rows;
  for (int y = 0; y < 11; ++y) rows.insert(rows.end(), 3, static_cast<std::uint8_t>(y));
  GifDocument doc = MakeDocument({{.width = 3, .height = 11, .pixels = rows, .interlaced = true}});
  BuildAll(doc);
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(BandPixel(doc, 1, x, y), y) << x << ", " << y;
  }
}

TEST(FrameStrip, LocalTableIsSkippedAndIndicesKept) {
  GifDocument doc = MakeDocument({
      {.width = 4,
       .height = 2,
       .pixels = {0, 1, 2, 3, 3, 2, 1, 0},
       .localTable = std::vector<std::uint32_t>(4, 0xEEEEEE)},
      {.width = 2, .height = 1, .pixels = {7, 5}, .localTable = std::vector<std::uint32_t>(8)},
  });
  BuildAll(doc);
  EXPECT_EQ(doc.Frame(1).ColorTable, 1);
  const Bytes expected = {0, 1, 2, 3, 3, 2, 1, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(BandPixel(doc, 1, i % 4, i / 4), expected[i]) << i;
  EXPECT_EQ(BandPixel(doc, 2, 0, 0), 7);
  EXPECT_EQ(BandPixel(doc, 2, 1, 0), 5);
}

TEST(FrameStrip, TransparentPixelsHoldTheTransparentIndex) {
  GifDocument doc = MakeDocument({
      {.width = 3, .height = 1, .pixels = {2, 0, 2}, .transparentIndex = 2},
      {.width = 3, .height = 1, .pixels = {1, 2, 3}, .disposal = 1, .transparentIndex = 3},
  });
  BuildAll(doc);
  EXPECT_EQ(BandPixel(doc, 1, 0, 0), 2);
  EXPECT_EQ(BandPixel(doc, 1, 1, 0), 0);
  EXPECT_EQ(BandPixel(doc, 1, 2, 0), 2);
  EXPECT_EQ(BandPixel(doc, 2, 2, 0), 3);
}

TEST(FrameStrip, CanvasDecision) {
  struct Case {
    const char* name;
    std::vector<TestFrame> frames;
    bool userMode;
    int stripWidth;
    int stripHeight;
    bool canvas;
    bool mask;
    bool maskPalette;
  };
  const TestFrame full{.width = 8, .height = 4};
  const TestFrame small{.left = 2, .top = 1, .width = 3, .height = 2, .disposal = 1};
  const TestFrame smallTransparent{
      .left = 2, .top = 1, .width = 3, .height = 2, .disposal = 1, .transparentIndex = 0};
  const TestFrame restoreBackground{.width = 8, .height = 4, .disposal = 2};
  const TestFrame restorePrevious{.width = 3, .height = 2, .disposal = 3};
  const TestFrame transparentFull{.width = 8, .height = 4, .transparentIndex = 0};
  const TestFrame opaqueSmallFirst{.width = 5, .height = 2};
  const TestFrame transparentLater{
      .left = 3, .top = 2, .width = 5, .height = 2, .transparentIndex = 0};
  const std::vector<Case> cases = {
      {"one frame", {transparentFull}, true, 8, 4, false, false, true},
      {"design mode", {full, small, small}, false, 8, 4, false, false, false},
      {"all restore to background", {restoreBackground, restoreBackground}, true, 16, 4, false,
       false, true},
      {"restore to previous", {full, restorePrevious}, true, 11, 4, true, true, true},
      {"opaque, no disposal 2 or 3", {full, small}, true, 11, 4, true, false, false},
      {"transparent frame 1", {transparentFull, small}, true, 11, 4, true, true, true},
      {"transparent later, frame 1 covers", {full, smallTransparent}, true, 11, 4, true, false,
       true},
      {"transparent later, frame 1 smaller", {opaqueSmallFirst, transparentLater}, true, 10, 2,
       true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GifDocument doc = MakeDocument(c.frames);
    ASSERT_TRUE(PrepareFrameStrip(doc, c.userMode));
    EXPECT_EQ(doc.FrameStrip.Bitmap->Width(), c.stripWidth);
    EXPECT_EQ(doc.FrameStrip.Bitmap->Height(), c.stripHeight);
    EXPECT_EQ(doc.CompositeCanvas.Bitmap != nullptr, c.canvas);
    EXPECT_EQ(doc.CompositeCanvas.MaskBitmap != nullptr, c.mask);
    EXPECT_EQ(doc.MaskPalette.size(), c.maskPalette ? 256u : 0u);
  }
}

TEST(FrameStrip, CompositeCanvasIs24BitsWithAnUnselectedBlackWhiteMask) {
  GifDocument doc = MakeDocument({{.width = 5, .height = 3}, {.left = 4, .top = 6, .width = 2}});
  ASSERT_TRUE(CreateCompositeCanvas(doc, true));
  const CanvasBitmaps& canvas = doc.CompositeCanvas;
  EXPECT_EQ(canvas.Bitmap->Width(), 6);
  EXPECT_EQ(canvas.Bitmap->Height(), 7);
  EXPECT_EQ(canvas.Bitmap->BitsPerPixel(), 24);
  EXPECT_FALSE(canvas.Bitmap->TopDown());
  EXPECT_EQ(&canvas.DC->Selected(), canvas.Bitmap.get());
  EXPECT_NE(canvas.PreviousBitmap, nullptr);
  EXPECT_EQ(canvas.MaskBitmap->BitsPerPixel(), 1);
  ASSERT_EQ(canvas.MaskBitmap->ColorTable().size(), 2u);
  EXPECT_EQ(canvas.MaskBitmap->ColorTable()[0], 0x000000u);
  EXPECT_EQ(canvas.MaskBitmap->ColorTable()[1], 0xFFFFFFu);
  EXPECT_EQ(canvas.MaskBits, canvas.MaskBitmap->Bits());
}

TEST(FrameStrip, DesignModeBuildsFrameOneOnly) {
  GifDocument doc = MakeDocument(
      {{.width = 4, .height = 2, .pixels = Pattern(4, 2, 4, 0)}, {.width = 6, .height = 3}});
  const std::int32_t fileStripX = doc.Frame(2).StripX;
  ASSERT_TRUE(PrepareFrameStrip(doc, false));
  DecodeFramesIntoStrip(doc, 1, 1);
  EXPECT_EQ(doc.FrameStrip.Bitmap->Width(), 4);
  EXPECT_EQ(doc.FrameStrip.Bitmap->Height(), 2);
  EXPECT_EQ(BandPixel(doc, 1, 3, 1), (3 + 2) % 4);
  EXPECT_EQ(doc.Frame(2).StripX, fileStripX);
}

TEST(FrameStrip, DeferredPassReloadsTheIndexPalette) {
  GifDocument doc = MakeDocument({{.width = 2}, {.width = 2}});
  ASSERT_TRUE(PrepareFrameStrip(doc, true));
  DecodeFramesIntoStrip(doc, 1, 1);
  // As if the renderer had drawn frame 1 in the meantime.
  const std::uint32_t colours[] = {0x123456, 0x654321};
  platform::SetDIBColorTable(*doc.FrameStrip.DC, 0, colours);
  doc.Tables.ActiveColorTable = 0;
  DecodeFramesIntoStrip(doc, 2, 2);
  EXPECT_EQ(doc.Tables.ActiveColorTable, -1);
  EXPECT_EQ(doc.FrameStrip.Bitmap->ColorTable()[0], 0u);
  EXPECT_EQ(doc.FrameStrip.Bitmap->ColorTable()[1], 1u);
}

TEST(FrameStrip, TruncatedLastImageDecodesThePartThatExists) {
  GifDocument doc = MakeDocument({{.width = 16, .height = 4, .pixels = Pattern(16, 4, 8, 5)},
                                  {.width = 16, .height = 4, .pixels = Pattern(16, 4, 8, 6)}});
  const FrameSpan& last = doc.FrameSpans[1];
  // Keep the descriptor, the code size byte and about 40% of the image data.
  doc.GifBytes.resize(static_cast<std::size_t>(last.Start - 1 + 11 + last.Length * 2 / 5));
  BuildAll(doc);
  for (int x = 0; x < 16; ++x) {
    EXPECT_EQ(BandPixel(doc, 1, x, 3), (x + 6 + 5) % 8) << x;
    EXPECT_EQ(BandPixel(doc, 2, x, 0), (x + 6) % 8) << x;
    EXPECT_EQ(BandPixel(doc, 2, x, 3), 0) << x;
  }
}

TEST(FrameStrip, UndecodableFrameKeepsItsBandAndTheOthersDecode) {
  GifDocument doc = MakeDocument({{.width = 2, .pixels = {1, 2}},
                                  {.width = 2, .pixels = {3, 3}},
                                  {.width = 2, .pixels = {2, 1}}});
  doc.FrameSpans[1].Start += 1;               // no image separator there
  doc.FrameSpans[2].Start = 1 << 30;          // far beyond the data
  BuildAll(doc);
  EXPECT_EQ(BandPixel(doc, 1, 1, 0), 2);
  EXPECT_EQ(BandPixel(doc, 2, 0, 0), 0);
  EXPECT_EQ(BandPixel(doc, 3, 0, 0), 0);
  EXPECT_EQ(doc.Frame(3).StripX, 4);
}

TEST(FrameStrip, HostileSizesFailCleanly) {
  {
    GifDocument doc = MakeDocument({{.width = 1}, {.width = 1}});
    for (GifFrame& f : doc.Frames) f.Width = f.Height = 65535;
    EXPECT_FALSE(PrepareFrameStrip(doc, true));
  }
  {
    // 40000 frames of 65535 columns: wider than 32 bits can count.
    GifDocument doc = MakeDocument({{.width = 1}});
    GifFrame wide = doc.Frames[0];
    wide.Width = 65535;
    doc.Frames.assign(40000, wide);
    doc.Frames[1].Disposal = 1;
    EXPECT_FALSE(PrepareFrameStrip(doc, true));
  }
  {
    // Two frames of 65535 x 1 are large but bounded: they load.
    GifDocument doc = MakeDocument({{.width = 1}, {.width = 1}});
    for (GifFrame& f : doc.Frames) f.Width = 65535;
    doc.Header.CanvasWidth = 65535;
    EXPECT_TRUE(PrepareFrameStrip(doc, true));
    EXPECT_EQ(doc.FrameStrip.Bitmap->Width(), 131070);
  }
  {
    GifDocument doc;
    EXPECT_FALSE(PrepareFrameStrip(doc, true));
  }
}

TEST(FrameStrip, DiscardLoadTablesDropsTheWorkTables) {
  GifDocument doc = MakeDocument({{.width = 2}});
  DiscardLoadTables(doc);
  EXPECT_TRUE(doc.FrameSpans.empty());
  EXPECT_FALSE(doc.GifBytes.empty());
}

TEST(FrameStrip, DiscardedLoadBuffersKeepOnlySmallStorage) {
  // Every discarded buffer is empty; up to 64 KiB of storage stays for the next load, a larger
  // buffer (a big GIF's bytes) gives its memory back.
  struct Case {
    std::size_t bytes;
    bool keepsStorage;
  };
  for (const Case c : {Case{0, true}, Case{1800, true}, Case{65536, true}, Case{65537, false},
                       Case{1 << 20, false}}) {
    std::vector<std::uint8_t> buffer(c.bytes, 7);
    buffer.shrink_to_fit();
    const std::size_t capacity = buffer.capacity();
    DiscardLoadBuffer(buffer);
    EXPECT_TRUE(buffer.empty()) << c.bytes;
    EXPECT_EQ(buffer.capacity(), c.keepsStorage ? capacity : 0u) << c.bytes;
  }
  // Elements count by their size: 8192 spans are 64 KiB, one more is not kept.
  std::vector<FrameSpan> spans(8193);
  DiscardLoadBuffer(spans);
  EXPECT_EQ(spans.capacity(), 0u);
  spans.resize(8192);
  DiscardLoadBuffer(spans);
  EXPECT_GE(spans.capacity(), 8192u);
}

Bytes ReadCorpusFile(const std::string& name) {
  return testing::ReadTestFile("gif-corpus/" + name);
}

// Parsed by the block parser and built by the strip builder, as a load does.
GifDocument LoadCorpusFile(const std::string& name) {
  SCOPED_TRACE(name);
  GifDocument doc = Parsed(ReadCorpusFile(name));
  if (doc.Frames.empty()) return doc;
  EXPECT_TRUE(PrepareFrameStrip(doc, true));
  DecodeFramesIntoStrip(doc, 1, 1);
  DecodeFramesIntoStrip(doc, 2, doc.FrameCount());
  return doc;
}

Bytes BandOf(const GifDocument& doc, int number) {
  Bytes band;
  const GifFrame& f = doc.Frame(number);
  for (int y = 0; y < f.Height; ++y) {
    const std::uint8_t* row = doc.FrameStrip.Bitmap->Row(y) + f.StripX;
    band.insert(band.end(), row, row + f.Width);
  }
  return band;
}

// Golden index dumps made by another decoder from the same files.
TEST(FrameStripGolden, BandsMatchTheCorpusIndexDumps) {
  const GifDocument horse = LoadCorpusFile("muybridge.gif");
  ASSERT_EQ(horse.FrameCount(), 15);
  for (int n = 1; n <= 15; ++n) {
    char name[64];
    std::snprintf(name, sizeof name, "muybridge-frame-%03d.indexes", n - 1);
    EXPECT_EQ(BandOf(horse, n), ReadCorpusFile(name)) << name;
  }
  for (const char* still : {"bricks-dither", "bricks-gray", "bricks-nodither"}) {
    const GifDocument doc = LoadCorpusFile(std::string(still) + ".gif");
    ASSERT_EQ(doc.FrameCount(), 1) << still;
    EXPECT_EQ(BandOf(doc, 1), ReadCorpusFile(std::string(still) + ".indexes")) << still;
  }
}

TEST(FrameStripGolden, InterlacedAndRegularEncodingsGiveTheSameStrip) {
  const GifDocument interlaced = LoadCorpusFile("hippopotamus.interlaced.gif");
  const GifDocument regular = LoadCorpusFile("hippopotamus.regular.gif");
  ASSERT_EQ(interlaced.FrameCount(), 1);
  ASSERT_EQ(regular.FrameCount(), 1);
  const Bytes band = BandOf(regular, 1);
  EXPECT_EQ(BandOf(interlaced, 1), band);
  EXPECT_GT(std::count_if(band.begin(), band.end(), [&](std::uint8_t v) { return v != band[0]; }),
            100);
}

}  // namespace
}  // namespace velmora
