// Pictures from bytes: the GIF and BMP codecs, the decoder registry, and Render into bitmaps.

#include "platform/picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "gif/gif_images.h"
#include "platform/bmp_image.h"
#include "platform/gif_picture.h"
#include "support/gif_builder.h"
#include "support/lzw_codes.h"
#include "support/test_files.h"

namespace velmora::platform {
namespace {

using testing::Cat;
using testing::FrameSubBlocks;
using testing::PackCodes;
using testing::ReadTestFile;
using testing::Text;

// A 3 x 2 screen with a 4-colour global table, a graphic control extension making index 2
// transparent, and a 2 x 1 image at (1, 1) holding indices 1, 2.
std::vector<std::uint8_t> TinyGif(bool withTransparency = true, int left = 1, int top = 1) {
  return Cat({
      Text("GIF89a"),
      {3, 0, 2, 0, 0x81, 0, 0},                                // screen 3 x 2, table of 4
      {0x10, 0x20, 0x30, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF},  // 1 red, 2 green, 3 blue
      {0x21, 0xF9, 4, static_cast<std::uint8_t>(withTransparency), 0, 0, 2, 0},  // transparent 2
      {0x2C, static_cast<std::uint8_t>(left), 0, static_cast<std::uint8_t>(top), 0, 2, 0, 1, 0, 0},
      {2},                                                          // minimum code size
      FrameSubBlocks(PackCodes({{4, 3}, {1, 3}, {2, 3}, {5, 3}})),  // indices 1, 2
      {0x3B},
  });
}

// The same GIF file with its 256-entry global table replaced by the index palette (0, 0, i).
std::vector<std::uint8_t> WithIndexPalette(std::vector<std::uint8_t> gif) {
  EXPECT_EQ(gif[10] & 0x87, 0x87);
  for (int i = 0; i < 256; ++i) {
    gif[13 + 3 * i] = 0;
    gif[14 + 3 * i] = 0;
    gif[15 + 3 * i] = static_cast<std::uint8_t>(i);
  }
  return gif;
}

std::vector<RgbQuad> IndexPaletteTable() {
  std::vector<RgbQuad> table(256);
  for (int i = 0; i < 256; ++i) table[i] = static_cast<RgbQuad>(i);
  return table;
}

// An 8-bit bitmap with the index palette, every pixel `fill`, selected into its own context.
struct IndexTarget {
  explicit IndexTarget(int w, int h, std::uint8_t fill = 0)
      : bitmap(Bitmap::Create(w, h, 8, IndexPaletteTable())), dc(CreateCompatibleDC(nullptr)) {
    for (int y = 0; y < h; ++y) std::memset(bitmap->Row(y), fill, static_cast<std::size_t>(w));
    dc->SelectObject(bitmap.get());
  }
  std::vector<std::uint8_t> Rows() const {
    std::vector<std::uint8_t> out;
    for (int y = 0; y < bitmap->Height(); ++y) {
      const std::uint8_t* row = bitmap->Row(y);
      out.insert(out.end(), row, row + bitmap->Width());
    }
    return out;
  }
  std::unique_ptr<Bitmap> bitmap;
  std::unique_ptr<DeviceContext> dc;
};

// ---- GIF pictures.
// -------------------------------------------------------------------------------

TEST(GifPictureTest, ImageSitsOnItsScreenWithTransparencyAround) {
  const PictureRef p = PictureFromBytes(TinyGif());
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Width(), 3);
  EXPECT_EQ(p->Height(), 2);
  EXPECT_EQ(p->Image().opaque, (std::vector<std::uint8_t>{0, 0, 0, 0, 1, 0}));
  EXPECT_EQ(p->Image().pixels[4], 0xFF0000u);
}

TEST(GifPictureTest, WithoutTransparencyAnImageCoveringTheScreenIsAllOpaque) {
  std::vector<std::uint8_t> gif = TinyGif(false, 0, 0);
  gif[6] = 2;  // screen 2 x 1, exactly the image
  gif[8] = 1;
  const PictureRef p = PictureFromBytes(gif);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(p->Image().opaque.empty());
  EXPECT_EQ(p->Image().pixels, (std::vector<RgbQuad>{0xFF0000, 0x00FF00}));
}

TEST(GifPictureTest, ImageOutsideTheScreenMakesAnImageSizedPicture) {
  for (const char* name : {"image-outside-bg.gif", "image-overlap-bg.gif"}) {
    const PictureRef p = PictureFromBytes(ReadTestFile(std::string("gif-suite/") + name));
    ASSERT_NE(p, nullptr) << name;
    EXPECT_EQ(p->Width(), 2) << name;
    EXPECT_EQ(p->Height(), 2) << name;
    EXPECT_TRUE(p->Image().opaque.empty()) << name;
  }
}

TEST(GifPictureTest, LocalTableWinsAndIndicesBeyondTheTableAreBlack) {
  // no-global-color-table: one white pixel from a local table. invalid-colors: index 3 of a
  // 2-entry table.
  const PictureRef local = PictureFromBytes(ReadTestFile("gif-suite/no-global-color-table.gif"));
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(local->Image().pixels, std::vector<RgbQuad>{0xFFFFFF});
  const PictureRef beyond = PictureFromBytes(ReadTestFile("gif-suite/invalid-colors.gif"));
  ASSERT_NE(beyond, nullptr);
  EXPECT_EQ(beyond->Image().pixels, std::vector<RgbQuad>{0});
}

TEST(GifPictureTest, InterlacedAndRegularFilesGiveTheSamePicture) {
  const PictureRef a = PictureFromBytes(ReadTestFile("gif-corpus/hippopotamus.interlaced.gif"));
  const PictureRef b = PictureFromBytes(ReadTestFile("gif-corpus/hippopotamus.regular.gif"));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->Width(), 36);
  EXPECT_EQ(a->Height(), 28);
  EXPECT_EQ(a->Image().pixels, b->Image().pixels);
}

TEST(GifPictureTest, CutImageDataKeepsTheDecodedRowsAndLeavesTheRestTransparent) {
  const std::vector<std::uint8_t> whole = ReadTestFile("gif-corpus/bricks-gray.gif");
  const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + 8000);
  const PictureRef full = PictureFromBytes(whole);
  const PictureRef part = PictureFromBytes(cut);
  ASSERT_NE(full, nullptr);
  ASSERT_NE(part, nullptr);
  const auto& opaque = part->Image().opaque;
  ASSERT_EQ(opaque.size(), 160u * 120u);
  const auto decoded =
      static_cast<std::size_t>(std::find(opaque.begin(), opaque.end(), 0) - opaque.begin());
  EXPECT_GT(decoded, 1000u);
  EXPECT_LT(decoded, 160u * 120u);
  EXPECT_TRUE(std::all_of(opaque.begin() + static_cast<std::ptrdiff_t>(decoded), opaque.end(),
                          [](std::uint8_t v) { return v == 0; }));
  EXPECT_TRUE(std::equal(part->Image().pixels.begin(),
                         part->Image().pixels.begin() + static_cast<std::ptrdiff_t>(decoded),
                         full->Image().pixels.begin()));
}

TEST(GifPictureTest, EveryPrefixOfAFileGivesAPictureOrNoneWithoutThrowing) {
  const std::vector<std::uint8_t> gif = TinyGif();
  int pictures = 0;
  for (std::size_t n = 0; n <= gif.size(); ++n) {
    const std::vector<std::uint8_t> prefix(gif.begin(),
                                           gif.begin() + static_cast<std::ptrdiff_t>(n));
    const PictureRef p = PictureFromBytes(prefix);
    pictures += p ? 1 : 0;
    // Until the minimum code size byte (the 44th) arrives there is no image to show.
    if (n < 44) {
      EXPECT_EQ(p, nullptr) << n;
    }
  }
  EXPECT_EQ(pictures, static_cast<int>(gif.size()) - 43);
}

TEST(GifPictureTest, OnlyTheFirstImageCounts) {
  const PictureRef p = PictureFromBytes(ReadTestFile("gif-corpus/muybridge.gif"));
  ASSERT_NE(p, nullptr);
  const std::vector<std::uint8_t> first = ReadTestFile("gif-corpus/muybridge-frame-000.indexes");
  const std::vector<std::uint8_t> file = ReadTestFile("gif-corpus/muybridge.gif");
  const std::vector<gif::GifImageBlock> images = gif::FindGifImages(file, 1);
  ASSERT_EQ(images.size(), 1u);
  ASSERT_EQ(first.size(), p->Image().pixels.size());
  for (std::size_t i = 0; i < first.size(); ++i) {
    const std::size_t e = 3u * first[i];
    const RgbQuad expected = (RgbQuad{images[0].colorTable[e]} << 16) |
                             (RgbQuad{images[0].colorTable[e + 1]} << 8) |
                             images[0].colorTable[e + 2];
    ASSERT_EQ(p->Image().pixels[i], expected) << i;
  }
}

// The probe that sizes a picture made from bytes, and the pixels it decodes when first drawn,
// against decoding at once: the same pictures refused, the same sizes and pixels. Every prefix
// of a small file runs the probe into every cut.
TEST(GifPictureTest, PicturesDecodedWhenFirstDrawnEqualPicturesDecodedAtOnce) {
  std::vector<std::vector<std::uint8_t>> inputs;
  const std::vector<std::uint8_t> tiny = TinyGif();
  for (std::size_t n = 0; n <= tiny.size(); ++n) inputs.emplace_back(tiny.begin(), tiny.begin() + n);
  for (const char* folder : {"gif-suite", "gif-corpus"}) {
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(VELMORA_TESTDATA_DIR) + "/" + folder)) {
      if (entry.path().extension() == ".gif") {
        inputs.push_back(ReadTestFile(std::string(folder) + "/" + entry.path().filename().string()));
      }
    }
  }
  ASSERT_GT(inputs.size(), 140u);
  for (const std::vector<std::uint8_t>& bytes : inputs) {
    const std::optional<DecodedImage> atOnce = DecodeGifPicture(bytes);
    const std::optional<PictureSize> probed = ProbeGifPicture(bytes);
    ASSERT_EQ(probed.has_value(), atOnce.has_value()) << bytes.size();
    if (!atOnce) continue;
    EXPECT_EQ(probed->width, atOnce->width);
    EXPECT_EQ(probed->height, atOnce->height);
    const PictureRef p = PictureFromBytes(bytes);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Width(), atOnce->width);
    EXPECT_EQ(p->Height(), atOnce->height);
    EXPECT_EQ(p->Image().pixels, atOnce->pixels);
    EXPECT_EQ(p->Image().opaque, atOnce->opaque);
  }
}

TEST(GifPictureTest, ThreadsDrawingOnePictureAtOnceShareOneDecoding) {
  const std::vector<std::uint8_t> bytes = ReadTestFile("gif-corpus/hibiscus.primitive.gif");
  const PictureRef p = PictureFromBytes(bytes);
  ASSERT_NE(p, nullptr);
  std::vector<const DecodedImage*> seen(4, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&, i] { seen[i] = &p->Image(); });
  }
  for (std::thread& t : threads) t.join();
  for (const DecodedImage* image : seen) EXPECT_EQ(image, seen.front());
  EXPECT_EQ(seen.front()->pixels, DecodeGifPicture(bytes)->pixels);
}

// ---- BMP pictures.
// -------------------------------------------------------------------------------

// A BMP file: file header, a `headerSize`-byte info header (12: core header), optional extra
// bytes (masks, palette), then the stored rows as given (already padded).
std::vector<std::uint8_t> Bmp(std::uint32_t headerSize, std::int32_t width, std::int32_t height,
                              int bpp, std::uint32_t compression,
                              const std::vector<std::uint8_t>& extra,
                              const std::vector<std::uint8_t>& rows) {
  std::vector<std::uint8_t> h(headerSize, 0);
  auto put = [&h](std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) h[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put(0, headerSize, 4);
  if (headerSize == 12) {
    put(4, static_cast<std::uint32_t>(width), 2);
    put(6, static_cast<std::uint32_t>(height), 2);
    put(8, 1, 2);
    put(10, static_cast<std::uint32_t>(bpp), 2);
  } else {
    put(4, static_cast<std::uint32_t>(width), 4);
    put(8, static_cast<std::uint32_t>(height), 4);
    put(12, 1, 2);
    put(14, static_cast<std::uint32_t>(bpp), 2);
    put(16, compression, 4);
  }
  const std::uint32_t offset = 14 + headerSize + static_cast<std::uint32_t>(extra.size());
  std::vector<std::uint8_t> file = {'B',
                                    'M',
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    static_cast<std::uint8_t>(offset),
                                    static_cast<std::uint8_t>(offset >> 8),
                                    0,
                                    0};
  return Cat({file, h, extra, rows});
}

struct BmpCase {
  const char* name;
  std::vector<std::uint8_t> file;
  int width;
  int height;
  std::vector<RgbQuad> pixels;  // top row first
};

void PrintTo(const BmpCase& c, std::ostream* os) {
  *os << c.name;
}

class BmpPictureTest : public ::testing::TestWithParam<BmpCase> {};

TEST_P(BmpPictureTest, Decodes) {
  const BmpCase& c = GetParam();
  const PictureRef p = PictureFromBytes(c.file);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Width(), c.width);
  EXPECT_EQ(p->Height(), c.height);
  EXPECT_EQ(p->Image().pixels, c.pixels);
  EXPECT_TRUE(p->Image().opaque.empty());
}

// Palette entries are blue, green, red, 0.
const std::vector<std::uint8_t> kTwoColours = {0x00, 0x00, 0xFF, 0, 0xFF, 0x00, 0x00, 0};

INSTANTIATE_TEST_SUITE_P(
    Formats, BmpPictureTest,
    ::testing::Values(
        // 2 x 2, 24 bits, bottom-up: the stored first row is the picture's bottom row.
        BmpCase{"Rgb24BottomUp",
                Bmp(40, 2, 2, 24, 0, {}, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}),
                2,
                2,
                {0x090807, 0x0C0B0A, 0x030201, 0x060504}},
        BmpCase{"Rgb32TopDownIgnoresAlpha",
                Bmp(40, 1, -2, 32, 0, {}, {1, 2, 3, 0x80, 4, 5, 6, 0}),
                1,
                2,
                {0x030201, 0x060504}},
        BmpCase{"Palette8",
                Bmp(40, 3, 1, 8, 0, kTwoColours, {1, 0, 7, 0}),
                3,
                1,
                {0x0000FF, 0xFF0000, 0x000000}},
        BmpCase{"Palette4",
                Bmp(40, 3, 1, 4, 0, kTwoColours, {0x10, 0x10, 0, 0}),
                3,
                1,
                {0x0000FF, 0xFF0000, 0x0000FF}},
        BmpCase{"Palette1",
                Bmp(40, 10, 1, 1, 0, kTwoColours, {0xA0, 0x40, 0, 0}),
                10,
                1,
                {0x0000FF, 0xFF0000, 0x0000FF, 0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000,
                 0xFF0000, 0x0000FF}},
        BmpCase{"CoreHeaderThreeBytePalette",
                Bmp(12, 2, 1, 8, 0, {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00}, {1, 0, 0, 0}),
                2,
                1,
                {0x00FF00, 0xFF0000}},
        BmpCase{
            "V5HeaderRgb24", Bmp(124, 1, 1, 24, 0, {}, {0x33, 0x22, 0x11, 0}), 1, 1, {0x112233}},
        BmpCase{"Bitfields16Rgb565",
                Bmp(40, 2, 1, 16, 3, {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0},
                    {0x00, 0xF8, 0x1F, 0x00}),
                2,
                1,
                {0xFF0000, 0x0000FF}},
        BmpCase{"Rgb16Is555", Bmp(40, 1, 1, 16, 0, {}, {0xE0, 0x03, 0, 0}), 1, 1, {0x00FF00}}),
    [](const ::testing::TestParamInfo<BmpCase>& param) { return std::string(param.param.name); });

TEST(BmpRefusalTest, BadOrShortFilesGiveNoPicture) {
  const std::vector<std::uint8_t> good = Bmp(40, 2, 2, 24, 0, {}, std::vector<std::uint8_t>(16, 0));
  ASSERT_NE(PictureFromBytes(good), nullptr);
  const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> bad = {
      {"pixels cut short", std::vector<std::uint8_t>(good.begin(), good.end() - 1)},
      {"header cut short", std::vector<std::uint8_t>(good.begin(), good.begin() + 30)},
      {"zero width", Bmp(40, 0, 2, 24, 0, {}, std::vector<std::uint8_t>(16, 0))},
      {"zero height", Bmp(40, 2, 0, 24, 0, {}, {})},
      {"run-length compressed", Bmp(40, 2, 2, 8, 1, kTwoColours, std::vector<std::uint8_t>(8, 0))},
      {"2 bits per pixel", Bmp(40, 2, 2, 2, 0, kTwoColours, std::vector<std::uint8_t>(8, 0))},
      {"odd header size", Bmp(20, 2, 2, 24, 0, {}, std::vector<std::uint8_t>(16, 0))},
      {"huge", Bmp(40, 1 << 20, 1 << 20, 24, 0, {}, std::vector<std::uint8_t>(16, 0))},
      {"INT_MIN height", Bmp(40, 1, INT32_MIN, 24, 0, {}, std::vector<std::uint8_t>(16, 0))},
  };
  for (const auto& [name, bytes] : bad) EXPECT_EQ(PictureFromBytes(bytes), nullptr) << name;
}

// ---- Bytes that are no image, the kept source bytes, the registry. ------------------------------

TEST(PictureFromBytesTest, NonImagesGiveNoPicture) {
  const std::vector<std::vector<std::uint8_t>> inputs = {
      {},
      Text("hello"),
      Text("GIF89a"),
      Cat({Text("GIF89a"), {1, 0, 1, 0, 0, 0, 0, 0x3B}}),  // no image before the trailer
      Cat({Text("GIF90a"), {1, 0, 1, 0, 0, 0, 0, 0x2C}}),  // unknown version
      Text("BM"),
      ReadTestFile("gif-corpus/pi.txt")};
  for (const auto& bytes : inputs) EXPECT_EQ(PictureFromBytes(bytes), nullptr) << bytes.size();
}

TEST(PictureFromBytesTest, KeepsTheSourceBytesExactly) {
  const std::vector<std::uint8_t> gif = ReadTestFile("gif-corpus/hat.gif");
  const PictureRef p = PictureFromBytes(gif);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->SourceBytes(), gif);
  const std::vector<std::uint8_t> bmp = Bmp(40, 1, 1, 24, 0, {}, {1, 2, 3, 0});
  const PictureRef q = PictureFromBytes(bmp);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->SourceBytes(), bmp);
}

DecodedImage SolidImage(int w, int h, RgbQuad colour) {
  DecodedImage image;
  image.width = w;
  image.height = h;
  image.pixels.assign(static_cast<std::size_t>(w) * h, colour);
  return image;
}

bool StartsWith(std::span<const std::uint8_t> b, const char* prefix) {
  return b.size() >= std::strlen(prefix) && std::memcmp(b.data(), prefix, std::strlen(prefix)) == 0;
}

TEST(PictureRegistryTest, RegisteredDecodersComeAfterTheBuiltInsInOrder) {
  const std::vector<std::uint8_t> hippo = ReadTestFile("gif-corpus/hippopotamus.regular.gif");
  // Claims a real GIF: the built-in GIF codec must answer first.
  RegisterPictureDecoder("claims-hippo", [hippo](std::span<const std::uint8_t> b) {
    return std::equal(b.begin(), b.end(), hippo.begin(), hippo.end())
               ? std::optional<DecodedImage>(SolidImage(1, 1, 0))
               : std::nullopt;
  });
  RegisterPictureDecoder("vtst-first", [](std::span<const std::uint8_t> b) {
    return StartsWith(b, "VTST") ? std::optional<DecodedImage>(SolidImage(7, 7, 1)) : std::nullopt;
  });
  RegisterPictureDecoder("vtst-second", [](std::span<const std::uint8_t> b) {
    return StartsWith(b, "VTST") || StartsWith(b, "VTHR") || StartsWith(b, "VBAD")
               ? std::optional<DecodedImage>(SolidImage(5, 5, 2))
               : std::nullopt;
  });
  RegisterPictureDecoder("throws",
                         [](std::span<const std::uint8_t> b) -> std::optional<DecodedImage> {
                           if (StartsWith(b, "VTHR")) throw std::runtime_error("boom");
                           return std::nullopt;
                         });
  RegisterPictureDecoder("inconsistent", [](std::span<const std::uint8_t> b) {
    DecodedImage broken = SolidImage(3, 3, 0);
    broken.pixels.pop_back();
    return StartsWith(b, "VBAD") ? std::optional<DecodedImage>(broken) : std::nullopt;
  });

  const PictureRef gif = PictureFromBytes(hippo);
  ASSERT_NE(gif, nullptr);
  EXPECT_EQ(gif->Width(), 36);
  const PictureRef first = PictureFromBytes(Text("VTST"));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Width(), 7);
  EXPECT_EQ(first->SourceBytes(), Text("VTST"));
  // "vtst-second" comes before the throwing and the inconsistent decoders, so they never answer.
  const PictureRef thrown = PictureFromBytes(Text("VTHR"));
  ASSERT_NE(thrown, nullptr);
  EXPECT_EQ(thrown->Width(), 5);
  EXPECT_EQ(PictureFromBytes(Text("VXXX")), nullptr);
}

TEST(PictureRegistryTest, ThrowingAndInconsistentDecodersAreSkipped) {
  RegisterPictureDecoder("throws-always",
                         [](std::span<const std::uint8_t> b) -> std::optional<DecodedImage> {
                           if (StartsWith(b, "VQ")) throw std::runtime_error("boom");
                           return std::nullopt;
                         });
  RegisterPictureDecoder("inconsistent-always", [](std::span<const std::uint8_t> b) {
    DecodedImage broken = SolidImage(3, 3, 0);
    broken.opaque.assign(2, 1);
    return StartsWith(b, "VQ") ? std::optional<DecodedImage>(broken) : std::nullopt;
  });
  RegisterPictureDecoder("after-them", [](std::span<const std::uint8_t> b) {
    return StartsWith(b, "VQOK") ? std::optional<DecodedImage>(SolidImage(2, 2, 0)) : std::nullopt;
  });
  EXPECT_EQ(PictureFromBytes(Text("VQ")), nullptr);
  const PictureRef p = PictureFromBytes(Text("VQOK"));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Width(), 2);
}

// ---- Render.
// -------------------------------------------------------------------------------------

TEST(PictureRenderTest, OneToOneIntoAnIndexPaletteBitmapGivesTheIndices) {
  const PictureRef p =
      PictureFromBytes(WithIndexPalette(ReadTestFile("gif-corpus/bricks-gray.gif")));
  ASSERT_NE(p, nullptr);
  IndexTarget target(160, 120);
  p->Render(*target.dc, 0, 0, 160, 120, 0, 120, 160, -120);
  EXPECT_EQ(target.Rows(), ReadTestFile("gif-corpus/bricks-gray.indexes"));
}

TEST(PictureRenderTest, SourceReadUpwardsDrawsUpsideDown) {
  const PictureRef p =
      PictureFromBytes(WithIndexPalette(ReadTestFile("gif-corpus/bricks-gray.gif")));
  ASSERT_NE(p, nullptr);
  IndexTarget target(160, 120);
  p->Render(*target.dc, 0, 0, 160, 120, 0, 0, 160, 120);
  const std::vector<std::uint8_t> expected = ReadTestFile("gif-corpus/bricks-gray.indexes");
  const std::vector<std::uint8_t> rows = target.Rows();
  ASSERT_EQ(rows.size(), expected.size());
  for (int y = 0; y < 120; ++y) {
    ASSERT_TRUE(std::equal(rows.begin() + y * 160, rows.begin() + (y + 1) * 160,
                           expected.begin() + (119 - y) * 160))
        << y;
  }
}

TEST(PictureRenderTest, TransparentPixelsLeaveTheTargetAlone) {
  std::vector<std::uint8_t> gif = TinyGif();
  // Its 4-entry table as index colours 0..3.
  for (int i = 0; i < 4; ++i) {
    gif[13 + 3 * i] = 0;
    gif[14 + 3 * i] = 0;
    gif[15 + 3 * i] = static_cast<std::uint8_t>(i);
  }
  const PictureRef p = PictureFromBytes(gif);
  ASSERT_NE(p, nullptr);
  IndexTarget target(5, 3, 0x77);
  p->Render(*target.dc, 1, 1, 3, 2, 0, 2, 3, -2);
  EXPECT_EQ(target.Rows(), (std::vector<std::uint8_t>{0x77, 0x77, 0x77, 0x77, 0x77,  //
                                                      0x77, 0x77, 0x77, 0x77, 0x77,  //
                                                      0x77, 0x77, 1, 0x77, 0x77}));
}

TEST(PictureRenderTest, IntoA32BitTargetGivesTheColours) {
  const PictureRef p = PictureFromBytes(Bmp(40, 2, 1, 24, 0, {}, {1, 2, 3, 4, 5, 6, 0, 0}));
  ASSERT_NE(p, nullptr);
  std::unique_ptr<Bitmap> bitmap = Bitmap::Create(3, 1, 32);
  ASSERT_NE(bitmap, nullptr);
  std::unique_ptr<DeviceContext> dc = CreateCompatibleDC(nullptr);
  dc->SelectObject(bitmap.get());
  p->Render(*dc, 1, 0, 2, 1, 0, 1, 2, -1);
  const auto* row = reinterpret_cast<const RgbQuad*>(bitmap->Row(0));
  EXPECT_EQ(row[0], 0u);
  EXPECT_EQ(row[1], 0x030201u);
  EXPECT_EQ(row[2], 0x060504u);
}

}  // namespace
}  // namespace velmora::platform
