#include "gif/gif_writer.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace velmora::gif {
namespace {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------------------------
// Building inputs: a bottom-up 8-bit strip, pixels addressed by (column, row from the top).

struct TestStrip {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::ptrdiff_t rowBytes = 0;  // rows padded to 4 bytes, as bitmaps are, unless told otherwise
  Bytes bits;

  TestStrip(std::int32_t w, std::int32_t h, std::uint8_t fill, std::ptrdiff_t stride = 0)
      : width(w),
        height(h),
        rowBytes(stride > 0 ? stride : (w + 3) & ~3),
        bits(static_cast<std::size_t>(h * rowBytes), fill) {}
  std::uint8_t& At(std::int32_t x, std::int32_t rowFromTop) {
    return bits[static_cast<std::size_t>((height - 1 - rowFromTop) * rowBytes + x)];
  }
  StripPixels View() const { return {bits, width, height, rowBytes}; }
};

struct Frame {
  std::int32_t width = 0;
  std::int32_t height = 0;
  Bytes indices;  // top row first
  std::vector<std::uint32_t> colors;
  bool transparent = false;
  std::uint8_t transparentIndex = 0;
};

// Places the frame at column stripX of a strip `extraW` wider and `extraH` taller than the frame,
// with `filler` everywhere else, so that reading outside the frame's band shows in the output.
TestStrip PlaceInStrip(const Frame& f, std::int32_t stripX, std::int32_t extraW,
                       std::int32_t extraH, std::uint8_t filler) {
  TestStrip strip(stripX + f.width + extraW, f.height + extraH, filler);
  for (std::int32_t r = 0; r < f.height; ++r)
    for (std::int32_t x = 0; x < f.width; ++x)
      strip.At(stripX + x, r) = f.indices[static_cast<std::size_t>(r * f.width + x)];
  return strip;
}

EncoderInput InputFor(const Frame& f, const TestStrip& strip, std::int32_t stripX) {
  EncoderInput in;
  in.width = f.width;
  in.height = f.height;
  in.colors = f.colors;
  in.colorCount = static_cast<std::int32_t>(f.colors.size());
  in.transparent = f.transparent;
  in.transparentIndex = f.transparentIndex;
  in.strip = strip.View();
  in.stripX = stripX;
  return in;
}

Bytes Encode(const Frame& f) {
  const TestStrip strip = PlaceInStrip(f, 0, 0, 0, 0);
  auto out = EncodeFrameBytes(InputFor(f, strip, 0));
  return out ? *out : Bytes{};
}

Frame FrameOf(std::int32_t w, std::int32_t h, Bytes indices,
              std::vector<std::uint32_t> colors = {0xFF0000, 0x00FF00}) {
  return Frame{w, h, std::move(indices), std::move(colors), false, 0};
}

// Adjacent pairs all distinct (the step between neighbours is 2p + 1 in the p-th run of 256), so
// every pixel after the first starts a new string and the compressor writes one code per pixel.
Bytes DistinctPairs(std::size_t n) {
  Bytes v(n);
  std::uint32_t x = 0;
  for (std::size_t i = 0; i < n; ++i) {
    v[i] = static_cast<std::uint8_t>(x);
    x += 2 * static_cast<std::uint32_t>(i / 256) + 1;
  }
  return v;
}

// ---------------------------------------------------------------------------------------------
// Reading the output back: the block structure, then the codes with the widths a decoder uses.

struct ParsedFile {
  std::size_t imageDataAt = 0;      // offset of the first sub-block's length byte
  std::vector<std::size_t> blocks;  // data bytes per sub-block
  Bytes data;                       // the LZW data, sub-blocks joined
  bool wellFormed = false;          // terminator and trailer are the file's last two bytes
};

ParsedFile ParseOurFile(const Bytes& file) {
  ParsedFile p;
  if (file.size() < 795) return p;
  std::size_t pos = 781;
  if (file[pos] == 0x21) pos += 8;
  if (file[pos] != 0x2C || file[pos + 10] != 0x08) return p;
  pos += 11;
  p.imageDataAt = pos;
  while (pos < file.size() && file[pos] != 0) {
    const std::size_t m = file[pos];
    if (pos + 1 + m > file.size()) return p;
    p.blocks.push_back(m);
    p.data.insert(p.data.end(), file.begin() + static_cast<std::ptrdiff_t>(pos + 1),
                  file.begin() + static_cast<std::ptrdiff_t>(pos + 1 + m));
    pos += 1 + m;
  }
  p.wellFormed = pos + 2 == file.size() && file[pos] == 0x00 && file[pos + 1] == 0x3B;
  return p;
}

struct Code {
  int value;
  int width;
  bool operator==(const Code&) const = default;
};

struct CodeStream {
  std::vector<Code> codes;  // up to and including the end code
  std::size_t bits = 0;     // bits used by those codes
};

// A decoder's view of the code widths: after a clear, 9 bits and no entry for the first code;
// every later code adds one entry, and the width grows once the next entry would need it.
CodeStream ReadCodes(const Bytes& data) {
  CodeStream s;
  int width = 9;
  int nextEntry = 258;
  bool firstAfterClear = true;
  while (s.bits + static_cast<std::size_t>(width) <= data.size() * 8) {
    int code = 0;
    for (int i = 0; i < width; ++i, ++s.bits) code |= ((data[s.bits / 8] >> (s.bits % 8)) & 1) << i;
    s.codes.push_back({code, width});
    if (code == 257) break;
    if (code == 256) {
      width = 9;
      nextEntry = 258;
      firstAfterClear = true;
      continue;
    }
    if (firstAfterClear) {
      firstAfterClear = false;
      continue;
    }
    if (nextEntry < 4096 && ++nextEntry == (1 << width) && width < 12) ++width;
  }
  return s;
}

std::vector<int> Values(const std::vector<Code>& codes) {
  std::vector<int> v;
  for (const Code& c : codes) v.push_back(c.value);
  return v;
}

// ---------------------------------------------------------------------------------------------
// The reference: the documented algorithm step by step, in the original's shape (separate key
// and code arrays, the 255-byte sub-block buffer, the output array grown while writing). Slow
// and plain on purpose. `keyZeroEndsProbe` false gives the textbook probe, to show that a test
// input really depends on the quirk.

class ReferenceEncoder {
 public:
  explicit ReferenceEncoder(bool keyZeroEndsProbe) : quirk_(keyZeroEndsProbe) {}

  Bytes Encode(const Frame& f) {
    const std::int32_t w = f.width, h = f.height;
    hashKeys_.assign(5003, 0);
    hashCodes_.assign(5003, 0);
    gifOut_.assign(static_cast<std::size_t>(w * h + 800) + 1, 0);
    std::memcpy(gifOut_.data(), "GIF89a", 6);
    gifOut_[6] = static_cast<std::uint8_t>(w & 255);
    gifOut_[7] = static_cast<std::uint8_t>((w >> 8) & 255);
    gifOut_[8] = static_cast<std::uint8_t>(h & 255);
    gifOut_[9] = static_cast<std::uint8_t>((h >> 8) & 255);
    gifOut_[10] = 0x87;
    for (std::size_t i = 0; i < f.colors.size(); ++i) {
      gifOut_[13 + 3 * i] = static_cast<std::uint8_t>(f.colors[i] >> 16);
      gifOut_[14 + 3 * i] = static_cast<std::uint8_t>(f.colors[i] >> 8);
      gifOut_[15 + 3 * i] = static_cast<std::uint8_t>(f.colors[i]);
    }
    std::int32_t pos = 781;
    if (f.transparent) {
      const std::uint8_t gce[8] = {0x21, 0xF9, 0x04, 0x01, 0, 0, f.transparentIndex, 0};
      std::memcpy(&gifOut_[static_cast<std::size_t>(pos)], gce, 8);
      pos += 8;
    }
    gifOut_[static_cast<std::size_t>(pos)] = 0x2C;
    for (int i = 0; i < 4; ++i)
      gifOut_[static_cast<std::size_t>(pos + 5 + i)] = gifOut_[6 + static_cast<std::size_t>(i)];
    gifOut_[static_cast<std::size_t>(pos + 10)] = 0x08;
    outPos_ = pos + 11;

    bitMasks_[0] = 0;
    for (int i = 1; i <= 16; ++i) bitMasks_[i] = (bitMasks_[i - 1] + 1) * 2 - 1;
    codeSize_ = 9;
    maxCode_ = bitMasks_[9];
    nextCode_ = 258;
    bitBuffer_ = 0;
    bitCount_ = 0;
    int doublings = 0;
    for (std::int32_t size = 5003; size < 65536; size *= 2) ++doublings;
    const std::int32_t hashMultiplier = bitMasks_[8 - doublings] + 1;
    std::fill(hashKeys_.begin(), hashKeys_.end(), -1);
    blockFill_ = 1;
    WriteCode(256);

    std::int32_t prefix = f.indices[0];
    for (std::size_t i = 1; i < f.indices.size(); ++i) {
      const std::int32_t c = f.indices[i];
      const std::int32_t key = c * 4096 + prefix;
      std::int32_t slot = (c * hashMultiplier) ^ prefix;
      if (hashKeys_[static_cast<std::size_t>(slot)] == key) {
        prefix = hashCodes_[static_cast<std::size_t>(slot)];
        continue;
      }
      if (hashKeys_[static_cast<std::size_t>(slot)] >= 0) {
        const std::int32_t step = slot == 0 ? 1 : 5003 - slot;
        bool found = false;
        for (;;) {
          slot -= step;
          if (slot < 0) slot += 5003;
          const std::int32_t k = hashKeys_[static_cast<std::size_t>(slot)];
          if (k == key) {
            prefix = hashCodes_[static_cast<std::size_t>(slot)];
            found = true;
            break;
          }
          if (k > 0 || (!quirk_ && k == 0)) continue;
          break;
        }
        if (found) continue;
      }
      WriteCode(prefix);
      prefix = c;
      hashCodes_[static_cast<std::size_t>(slot)] = nextCode_;
      hashKeys_[static_cast<std::size_t>(slot)] = key;
      if (nextCode_ > maxCode_) {
        if (nextCode_ == 4096) {
          WriteCode(256);
          std::fill(hashKeys_.begin(), hashKeys_.end(), -1);
          codeSize_ = 9;
          nextCode_ = 257;
        } else {
          ++codeSize_;
        }
        maxCode_ = bitMasks_[codeSize_];
      }
      ++nextCode_;
    }
    WriteCode(prefix);
    WriteCode(257);
    WriteCode(-1);
    gifOut_[static_cast<std::size_t>(outPos_ + 1)] = 0x3B;
    return Bytes(gifOut_.begin(), gifOut_.begin() + outPos_ + 2);
  }

  std::size_t Growths() const { return growths_; }

 private:
  void Grow(std::int32_t lastIndex) {
    gifOut_.resize(static_cast<std::size_t>(lastIndex) + 1, 0);
    ++growths_;
  }

  void WriteCode(std::int32_t code) {
    if (code >= 0) {
      bitBuffer_ |= code * (bitMasks_[bitCount_] + 1);
      bitCount_ += codeSize_;
      while (bitCount_ >= 8) {
        subBlock_[static_cast<std::size_t>(blockFill_)] =
            static_cast<std::uint8_t>(bitBuffer_ & 255);
        bitBuffer_ /= 256;
        bitCount_ -= 8;
        if (blockFill_ == 254) {
          subBlock_[0] = 254;
          if (static_cast<std::int32_t>(gifOut_.size()) - 1 < outPos_ + 260) Grow(outPos_ + 512);
          std::memcpy(&gifOut_[static_cast<std::size_t>(outPos_)], subBlock_.data(), 255);
          outPos_ += 255;
          blockFill_ = 0;
        }
        ++blockFill_;
      }
      return;
    }
    if (bitCount_ != 0) {
      subBlock_[static_cast<std::size_t>(blockFill_)] = static_cast<std::uint8_t>(bitBuffer_);
      ++blockFill_;
    }
    if (blockFill_ == 1) return;
    const std::int32_t m = blockFill_ - 1;
    subBlock_[0] = static_cast<std::uint8_t>(m);
    if (static_cast<std::int32_t>(gifOut_.size()) - 1 < outPos_ + m + 7) Grow(outPos_ + m + 7);
    std::memcpy(&gifOut_[static_cast<std::size_t>(outPos_)], subBlock_.data(),
                static_cast<std::size_t>(m + 1));
    outPos_ += m + 1;
  }

  bool quirk_;
  std::vector<std::int32_t> hashKeys_, hashCodes_;
  Bytes gifOut_;
  std::array<std::int32_t, 17> bitMasks_{};
  std::array<std::uint8_t, 255> subBlock_{};
  std::int32_t outPos_ = 0, blockFill_ = 1, bitBuffer_ = 0, bitCount_ = 0;
  std::int32_t codeSize_ = 9, maxCode_ = 511, nextCode_ = 258;
  std::size_t growths_ = 0;
};

// ---------------------------------------------------------------------------------------------
// giflib as the independent reader and as the source of real frames.

struct MemoryReader {
  const Bytes* data;
  std::size_t pos = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buf, int len) {
  auto* r = static_cast<MemoryReader*>(gif->UserData);
  const std::size_t n =
      std::min<std::size_t>(static_cast<std::size_t>(len), r->data->size() - r->pos);
  std::memcpy(buf, r->data->data() + r->pos, n);
  r->pos += n;
  return static_cast<int>(n);
}

// Every image of a GIF as giflib decodes it (rows de-interlaced), with its colours and
// transparency. Empty when giflib cannot read the bytes.
std::vector<Frame> DecodeWithGiflib(const Bytes& bytes) {
  MemoryReader reader{&bytes};
  int error = 0;
  GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
  if (gif == nullptr) return {};
  std::vector<Frame> frames;
  if (DGifSlurp(gif) == GIF_OK) {
    for (int i = 0; i < gif->ImageCount; ++i) {
      const SavedImage& image = gif->SavedImages[i];
      Frame f;
      f.width = image.ImageDesc.Width;
      f.height = image.ImageDesc.Height;
      f.indices.assign(image.RasterBits, image.RasterBits + f.width * f.height);
      const ColorMapObject* map =
          image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
      for (int c = 0; map != nullptr && c < map->ColorCount; ++c)
        f.colors.push_back((std::uint32_t{map->Colors[c].Red} << 16) |
                           (std::uint32_t{map->Colors[c].Green} << 8) | map->Colors[c].Blue);
      GraphicsControlBlock gcb;
      if (DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK && gcb.TransparentColor >= 0) {
        f.transparent = true;
        f.transparentIndex = static_cast<std::uint8_t>(gcb.TransparentColor);
      }
      frames.push_back(std::move(f));
    }
  }
  DGifCloseFile(gif, &error);
  return frames;
}

// Random indices below `colours`, `zeroPercent` of them 0. With `pairPercent`, pairs "16c c"
// for c in 0..15 are mixed in: their strings all hash to slot 0 (the pair "0 0" being one of
// them), which is what it takes for a key-0 entry to sit in a probe chain.
Frame RandomFrame(std::mt19937& rng, std::int32_t maxSide, int colours, int zeroPercent,
                  int pairPercent = 0) {
  Frame f;
  f.width = std::uniform_int_distribution<std::int32_t>(1, maxSide)(rng);
  f.height = std::uniform_int_distribution<std::int32_t>(1, maxSide)(rng);
  f.indices.resize(static_cast<std::size_t>(f.width * f.height));
  std::uniform_int_distribution<int> index(0, colours - 1), percent(0, 99), low(0, 15);
  for (std::size_t i = 0; i < f.indices.size(); ++i) {
    if (i + 1 < f.indices.size() && percent(rng) < pairPercent) {
      const int c = low(rng);
      f.indices[i] = static_cast<std::uint8_t>(16 * c);
      f.indices[++i] = static_cast<std::uint8_t>(c);
      continue;
    }
    f.indices[i] = static_cast<std::uint8_t>(percent(rng) < zeroPercent ? 0 : index(rng));
  }
  f.colors = {0x102030, 0x405060};
  f.transparent = percent(rng) < 30;
  f.transparentIndex = static_cast<std::uint8_t>(index(rng));
  return f;
}

// =============================================================================================
// Tiny frames with the whole expected output inline.

TEST(GifEncoder, OnePixelRedGreenTableIsThe799ByteFile) {
  const Bytes file = Encode(FrameOf(1, 1, {0}, {0xFF0000, 0x00FF00}));
  Bytes expected = {'G',  'I',  'F',  '8',  '9',  'a',  0x01, 0x00, 0x01, 0x00,
                    0x87, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00};
  expected.resize(13 + 768, 0x00);  // entries 2..255 black
  const Bytes tail = {0x2C, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,  // descriptor
                      0x08,                                                        // min code size
                      0x04, 0x00, 0x01, 0x04, 0x04,  // codes 256, 0, 257 at 9 bits
                      0x00, 0x3B};
  expected.insert(expected.end(), tail.begin(), tail.end());
  ASSERT_EQ(expected.size(), 799u);
  EXPECT_EQ(file, expected);
}

TEST(GifEncoder, TransparentOnePixelWritesTheGraphicControlExtension) {
  Frame f = FrameOf(1, 1, {5}, {0x111111, 0x222222, 0x333333, 0x444444, 0x555555, 0x666666});
  f.transparent = true;
  f.transparentIndex = 5;
  const Bytes file = Encode(f);
  ASSERT_EQ(file.size(), 807u);
  const Bytes tail = {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x05, 0x00,  // extension
                      0x2C, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01,
                      0x00, 0x00, 0x08,  // descriptor
                      0x04, 0x00, 0x0B, 0x04, 0x04, 0x00, 0x3B};
  EXPECT_EQ(Bytes(file.begin() + 781, file.end()), tail);
  EXPECT_EQ(file[13 + 15], 0x66);  // entry 5 red
}

TEST(GifEncoder, TwoByTwoOfOneIndexReusesTheFirstString) {
  const Bytes file = Encode(FrameOf(2, 2, {1, 1, 1, 1}));
  const ParsedFile parsed = ParseOurFile(file);
  ASSERT_TRUE(parsed.wellFormed);
  EXPECT_EQ(Bytes(file.begin() + static_cast<std::ptrdiff_t>(parsed.imageDataAt), file.end() - 2),
            (Bytes{0x06, 0x00, 0x03, 0x08, 0x0C, 0x10, 0x10}));
  EXPECT_EQ(Values(ReadCodes(parsed.data).codes), (std::vector<int>{256, 1, 258, 1, 257}));
}

TEST(GifEncoder, ColourTableAlwaysHas256EntriesAndOnlyTheFrameTableIsCopied) {
  struct Case {
    std::vector<std::uint32_t> colors;
    std::array<std::uint8_t, 9> firstThreeEntries;
  };
  const Case cases[] = {
      {{0x123456, 0xABCDEF}, {0x12, 0x34, 0x56, 0xAB, 0xCD, 0xEF, 0, 0, 0}},
      {{0xFF000000u | 0x010203, 0x040506, 0x070809},
       {0x01, 0x02, 0x03, 4, 5, 6, 7, 8, 9}},  // byte 3 ignored
      {{}, {0, 0, 0, 0, 0, 0, 0, 0, 0}},       // no table at all: all black
  };
  for (const Case& c : cases) {
    const Bytes file = Encode(FrameOf(3, 1, {0, 1, 0}, c.colors));
    ASSERT_EQ(file.size(), 781u + 11 + 1 + 6 + 2) << c.colors.size();  // 5 codes: 45 bits
    EXPECT_EQ(file[10], 0x87);
    EXPECT_TRUE(
        std::equal(c.firstThreeEntries.begin(), c.firstThreeEntries.end(), file.begin() + 13));
    EXPECT_TRUE(
        std::all_of(file.begin() + 22, file.begin() + 781, [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(file[781], 0x2C);  // no extension, no local table
    EXPECT_EQ(file[790], 0x00);
  }
}

TEST(GifEncoder, InconsistentInputGivesNone) {
  const Frame f = FrameOf(4, 3, Bytes(12, 1));
  const TestStrip strip = PlaceInStrip(f, 2, 1, 1, 0);  // strip 7 x 4, frame at column 2
  const std::uint32_t colors[257] = {};
  struct Case {
    const char* what;
    void (*change)(EncoderInput&);
  };
  const Case cases[] = {
      {"zero width", [](EncoderInput& in) { in.width = 0; }},
      {"zero height", [](EncoderInput& in) { in.height = 0; }},
      {"negative width", [](EncoderInput& in) { in.width = -4; }},
      {"band past the strip's right edge", [](EncoderInput& in) { in.stripX = 4; }},
      {"negative strip column", [](EncoderInput& in) { in.stripX = -1; }},
      {"taller than the strip", [](EncoderInput& in) { in.height = 5; }},
      {"pixels shorter than the strip",
       [](EncoderInput& in) { in.strip.bits = in.strip.bits.first(31); }},
      {"strip of no rows", [](EncoderInput& in) { in.strip.height = 0; }},
      {"rows shorter than the strip's width", [](EncoderInput& in) { in.strip.rowBytes = 6; }},
      {"more than 256 colours", [](EncoderInput& in) { in.colorCount = 257; }},
      {"negative colour count", [](EncoderInput& in) { in.colorCount = -1; }},
      {"count beyond the colours given", [](EncoderInput& in) { in.colors = in.colors.first(1); }},
  };
  for (const Case& c : cases) {
    EncoderInput in = InputFor(f, strip, 2);
    in.colors = colors;
    in.colorCount = 2;
    ASSERT_TRUE(EncodeFrameBytes(in).has_value()) << c.what;
    c.change(in);
    EXPECT_FALSE(EncodeFrameBytes(in).has_value()) << c.what;
  }
}

// =============================================================================================
// Reading the frame from the strip.

TEST(GifEncoder, ReadsTopRowsOfABottomUpStripFromItsOwnColumns) {
  // Strip 3 x 2 with rows of 5 bytes. Memory holds the bottom row first: 7 7 7 | pad, then the
  // top row 9 1 1 | pad. The 2 x 1 frame at column 1 is the top row's "1 1".
  TestStrip strip(3, 2, 0xEE, 5);
  strip.bits = {7, 7, 7, 0xEE, 0xEE, 9, 1, 1, 0xEE, 0xEE};
  EncoderInput in;
  in.width = 2;
  in.height = 1;
  in.strip = strip.View();
  in.stripX = 1;
  const auto file = EncodeFrameBytes(in);
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(Values(ReadCodes(ParseOurFile(*file).data).codes), (std::vector<int>{256, 1, 1, 257}));
}

TEST(GifEncoder, FrameShorterAndNarrowerThanTheStripGivesTheSameFileAsAlone) {
  std::mt19937 rng(7);
  for (int i = 0; i < 20; ++i) {
    const Frame f = RandomFrame(rng, 40, 1 + i * 12, 10);
    const std::int32_t stripX = i * 3;
    const TestStrip strip =
        PlaceInStrip(f, stripX, i % 5, 1 + i % 7, static_cast<std::uint8_t>(0xA5 + i));
    const auto inStrip = EncodeFrameBytes(InputFor(f, strip, stripX));
    ASSERT_TRUE(inStrip.has_value());
    EXPECT_EQ(*inStrip, Encode(f)) << i;
    const std::vector<Frame> back = DecodeWithGiflib(*inStrip);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].indices, f.indices) << i;  // first pixel included
  }
}

TEST(GifEncoder, SizesUpTo65535AreWrittenAsTheirLow16Bits) {
  for (const auto& [w, h] : {std::pair{65535, 1}, std::pair{1, 65535}, std::pair{300, 257}}) {
    Bytes indices(static_cast<std::size_t>(w * h));
    for (std::size_t i = 0; i < indices.size(); ++i)
      indices[i] = static_cast<std::uint8_t>((i * 31) >> 6);
    const Bytes file = Encode(FrameOf(w, h, indices));
    ASSERT_GT(file.size(), 800u);
    EXPECT_EQ(file[6] | file[7] << 8, w);
    EXPECT_EQ(file[8] | file[9] << 8, h);
    EXPECT_EQ(file[786] | file[787] << 8, w);
    EXPECT_EQ(file[788] | file[789] << 8, h);
    const std::vector<Frame> back = DecodeWithGiflib(file);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].indices, indices);
  }
}

// =============================================================================================
// Sub-blocks and code widths.

TEST(GifEncoder, DataEndingExactlyOnASubBlockLeavesNoEmptyBlock) {
  // With one code per pixel, n pixels give clear + (n - 1) + last prefix + end codes. Search the
  // sizes whose data ends exactly on a 254-byte boundary, and those one byte past it.
  int exact = 0, onePast = 0;
  const Bytes pixels = DistinctPairs(1200);
  for (std::int32_t n = 1; n <= 1200; ++n) {
    const Bytes file = Encode(FrameOf(n, 1, Bytes(pixels.begin(), pixels.begin() + n)));
    const ParsedFile parsed = ParseOurFile(file);
    ASSERT_TRUE(parsed.wellFormed) << n;
    const CodeStream codes = ReadCodes(parsed.data);
    ASSERT_EQ(codes.codes.size(), static_cast<std::size_t>(n) + 2) << n;
    ASSERT_EQ(parsed.data.size(), (codes.bits + 7) / 8) << n;
    const std::size_t full = codes.bits / (254 * 8);
    const std::size_t rest = codes.bits % (254 * 8);
    if (rest == 0) {
      ++exact;
      EXPECT_EQ(parsed.blocks, std::vector<std::size_t>(full, 254)) << n;
    } else if (rest <= 8) {
      ++onePast;
      std::vector<std::size_t> expected(full, 254);
      expected.push_back(1);
      EXPECT_EQ(parsed.blocks, expected) << n;
    } else {
      EXPECT_EQ(parsed.blocks.back(), (rest + 7) / 8) << n;
      EXPECT_EQ(parsed.blocks.size(), full + 1) << n;
    }
  }
  // 430 pixels: 256 codes of 9 bits and 176 of 10 = 4064 bits = two full blocks. 634 pixels:
  // 2304 + 380 * 10 = 6104 bits = 3 * 2032 + 8, a fourth block of one byte.
  EXPECT_GE(exact, 1);
  EXPECT_GE(onePast, 1);
  EXPECT_EQ(
      ParseOurFile(Encode(FrameOf(430, 1, Bytes(pixels.begin(), pixels.begin() + 430)))).blocks,
      (std::vector<std::size_t>{254, 254}));
  EXPECT_EQ(
      ParseOurFile(Encode(FrameOf(634, 1, Bytes(pixels.begin(), pixels.begin() + 634)))).blocks,
      (std::vector<std::size_t>{254, 254, 254, 1}));
}

TEST(GifEncoder, CodeWidthGrowsAfter512_1024_2048AndClearsAfter4095At12Bits) {
  const std::int32_t n = 64 * 70;
  const Bytes pixels = DistinctPairs(n);
  const ParsedFile parsed = ParseOurFile(Encode(FrameOf(64, 70, pixels)));
  ASSERT_TRUE(parsed.wellFormed);
  const std::vector<Code> codes = ReadCodes(parsed.data).codes;
  // clear, 3839 codes (strings 258..4095 and the one that finds the table full), clear, the rest,
  // last prefix, end.
  ASSERT_EQ(codes.size(), static_cast<std::size_t>(n) + 3);
  EXPECT_EQ(codes[0], (Code{256, 9}));
  EXPECT_EQ(codes[255].width, 9);
  EXPECT_EQ(codes[256].width, 10);  // after code 512 was given
  EXPECT_EQ(codes[767].width, 10);
  EXPECT_EQ(codes[768].width, 11);  // after 1024
  EXPECT_EQ(codes[1791].width, 11);
  EXPECT_EQ(codes[1792].width, 12);  // after 2048
  EXPECT_EQ(codes[3839].width, 12);
  EXPECT_EQ(codes[3840], (Code{256, 12}));  // the clear, still 12 bits wide
  EXPECT_EQ(codes[3841].width, 9);
  EXPECT_EQ(codes[3841 + 254].width, 9);
  EXPECT_EQ(codes[3841 + 255].width, 10);
  EXPECT_EQ(codes.back(), (Code{257, 10}));
  for (std::size_t j = 1; j < 3840; ++j) ASSERT_EQ(codes[j].value, pixels[j - 1]) << j;
  for (std::size_t j = 3841; j <= static_cast<std::size_t>(n) + 1; ++j)
    ASSERT_EQ(codes[j].value, pixels[j - 2]) << j;
}

// =============================================================================================
// The key-0 quirk and the reference.

TEST(GifEncoder, KeyZeroSlotEndsAProbeChain) {
  // (16,1) takes slot 0; "0 0" (key 0) then probes to slot 5002. (32,2) also hashes to slot 0,
  // probes 5002, stops at the key-0 entry and overwrites it, so the next "0 0" is a new string.
  // A textbook probe would step past key 0 and find "0 0" again, writing 260 instead.
  const Bytes pixels = {16, 1, 0, 0, 32, 2, 0, 0, 0};
  const Frame f = FrameOf(9, 1, pixels);
  const std::vector<int> expected = {256, 16, 1, 0, 0, 32, 2, 0, 264, 257};
  EXPECT_EQ(Values(ReadCodes(ParseOurFile(Encode(f)).data).codes), expected);
  EXPECT_EQ(Values(ReadCodes(ParseOurFile(ReferenceEncoder(true).Encode(f)).data).codes), expected);
  EXPECT_EQ(Values(ReadCodes(ParseOurFile(ReferenceEncoder(false).Encode(f)).data).codes),
            (std::vector<int>{256, 16, 1, 0, 0, 32, 2, 260, 0, 257}));
  // Decoders see no difference: both are valid LZW for the same pixels.
  EXPECT_EQ(DecodeWithGiflib(Encode(f)).at(0).indices, pixels);
}

TEST(GifEncoder, MatchesTheReferenceOnRandomFrames) {
  std::mt19937 rng(2024);
  int quirkMattered = 0;
  std::size_t referenceGrowths = 0;
  for (int i = 0; i < 120; ++i) {
    const int colours = std::array{2, 4, 16, 256}[static_cast<std::size_t>(i % 4)];
    const int zeroPercent = std::array{0, 4, 50}[static_cast<std::size_t>(i % 3)];
    const int pairPercent = std::array{0, 0, 5, 30}[static_cast<std::size_t>(i / 4 % 4)];
    const Frame f = RandomFrame(rng, i < 100 ? 130 : 400, colours, zeroPercent, pairPercent);
    ReferenceEncoder reference(true);
    const Bytes expected = reference.Encode(f);
    referenceGrowths += reference.Growths();
    ASSERT_EQ(Encode(f), expected) << "frame " << i << " " << f.width << "x" << f.height;
    if (ReferenceEncoder(false).Encode(f) != expected) ++quirkMattered;
  }
  EXPECT_GT(quirkMattered, 10);     // the inputs do exercise the key-0 rule
  EXPECT_GT(referenceGrowths, 0u);  // and data that LZW expands past the first output size
}

// =============================================================================================
// Frames above 3838 pixels run on the plain map until key 0 is stored while slot 0 already holds
// another home-0 string; from then until the next clear the 5003-slot table decides. Each case
// is checked byte for byte against the reference, and the cases that must go through a key-0
// overwrite also differ from the textbook probe, which is what the plain map would give.

// The head of the quirk test above: (16,1) takes slot 0, "0 0" is displaced to slot 5002, (32,2)
// probes to 5002 and overwrites it, and the next "0 0" is a new string.
const Bytes kDisplaceThenOverwrite = {16, 1, 0, 0, 32, 2, 0, 0, 0};

// `n` indices in lo..hi, none of the literal pairs "16c c" among them when lo > 15.
Bytes Noise(std::mt19937& rng, std::size_t n, int lo, int hi) {
  std::uniform_int_distribution<int> index(lo, hi);
  Bytes v(n);
  for (auto& x : v) x = static_cast<std::uint8_t>(index(rng));
  return v;
}

Frame WideFrame(const Bytes& pixels) {
  constexpr std::int32_t kWidth = 97;  // rows not aligned with anything in the data
  const auto height = static_cast<std::int32_t>((pixels.size() + kWidth - 1) / kWidth);
  Bytes padded = pixels;
  padded.resize(static_cast<std::size_t>(kWidth * height), 7);
  return FrameOf(kWidth, height, std::move(padded));
}

bool KeyZeroOverwriteMatters(const Frame& f) {
  return ReferenceEncoder(false).Encode(f) != ReferenceEncoder(true).Encode(f);
}

TEST(GifEncoderKeyZero, DisplacedKeyZeroIsOverwrittenInALargeFrame) {
  // The quirk test's nine pixels, then runs of index 7 up to 4074 pixels.
  Bytes pixels = kDisplaceThenOverwrite;
  pixels.resize(42 * 97, 7);
  const Frame f = WideFrame(pixels);
  ASSERT_GT(f.width * f.height, 3838);
  const Bytes file = Encode(f);
  const std::vector<int> codes = Values(ReadCodes(ParseOurFile(file).data).codes);
  ASSERT_GE(codes.size(), 10u);
  EXPECT_EQ(std::vector<int>(codes.begin(), codes.begin() + 9),
            (std::vector<int>{256, 16, 1, 0, 0, 32, 2, 0, 264}));
  EXPECT_EQ(file, ReferenceEncoder(true).Encode(f));
  EXPECT_TRUE(KeyZeroOverwriteMatters(f));
}

TEST(GifEncoderKeyZero, KeyZeroInSlotZeroStaysWhileLaterHomeZeroStringsProbe) {
  // "0 0" first: key 0 takes slot 0 and is never overwritten; (16,1) and (32,2) probe past it.
  // Nothing takes over, and the textbook probe gives the same file.
  Bytes pixels = {0, 0, 16, 1, 32, 2, 0, 0, 16, 1, 32, 2, 0, 0, 0};
  std::mt19937 rng(7);
  const Bytes noise = Noise(rng, 5000, 40, 255);
  pixels.insert(pixels.end(), noise.begin(), noise.end());
  const Frame f = WideFrame(pixels);
  EXPECT_EQ(Encode(f), ReferenceEncoder(true).Encode(f));
  EXPECT_FALSE(KeyZeroOverwriteMatters(f));
}

TEST(GifEncoderKeyZero, TakeoverInTheMiddleOfASegmentReplaysItsStrings) {
  // About 1500 strings of noise first, so that rebuilding the table replays them all; then the
  // head, then noise through two more clears with the head once more in the next segment.
  std::mt19937 rng(11);
  for (const std::size_t before : {std::size_t{1}, std::size_t{1500}, std::size_t{3700}}) {
    Bytes pixels = Noise(rng, before, 40, 255);
    pixels.insert(pixels.end(), kDisplaceThenOverwrite.begin(), kDisplaceThenOverwrite.end());
    Bytes more = Noise(rng, 4000, 40, 255);
    pixels.insert(pixels.end(), more.begin(), more.end());
    pixels.insert(pixels.end(), kDisplaceThenOverwrite.begin(), kDisplaceThenOverwrite.end());
    more = Noise(rng, 6000, 40, 255);
    pixels.insert(pixels.end(), more.begin(), more.end());
    const Frame f = WideFrame(pixels);
    const Bytes file = Encode(f);
    EXPECT_EQ(file, ReferenceEncoder(true).Encode(f)) << "head after " << before;
    EXPECT_TRUE(KeyZeroOverwriteMatters(f)) << "head after " << before;
    const std::vector<int> codes = Values(ReadCodes(ParseOurFile(file).data).codes);
    EXPECT_GE(std::count(codes.begin(), codes.end(), 256), 3) << "head after " << before;
  }
}

TEST(GifEncoderKeyZero, DisplacedKeyZeroWithoutAnOverwriteAndHomeZeroStringsAfterIt) {
  // (16,1) then "0 0": displaced, so the table takes over, but no later home-0 string reaches
  // its slot before the clear; after the clear "0 0" comes first and sits in slot 0.
  std::mt19937 rng(5);
  Bytes pixels = {16, 1, 0, 0};
  Bytes noise = Noise(rng, 4500, 40, 255);
  pixels.insert(pixels.end(), noise.begin(), noise.end());
  const Bytes second = {0, 0, 16, 1, 48, 3, 0, 0};
  pixels.insert(pixels.end(), second.begin(), second.end());
  noise = Noise(rng, 3000, 40, 255);
  pixels.insert(pixels.end(), noise.begin(), noise.end());
  const Frame f = WideFrame(pixels);
  EXPECT_EQ(Encode(f), ReferenceEncoder(true).Encode(f));
}

TEST(GifEncoderKeyZero, ManySegmentsOfHomeZeroPairsMatchTheReference) {
  // Pairs "16c c" (all home 0) among noise over several segments: key 0 is displaced and
  // overwritten again and again, in some segments before any other home-0 string and in some
  // after.
  std::mt19937 rng(99);
  int overwriteMattered = 0;
  for (int i = 0; i < 12; ++i) {
    const int pairPercent = std::array{3, 8, 20}[static_cast<std::size_t>(i % 3)];
    const int zeroPercent = std::array{2, 10, 30}[static_cast<std::size_t>(i / 3 % 3)];
    const std::int32_t w = 113 + 17 * i;
    const std::int32_t h = 90 + 13 * (i % 4);
    Bytes pixels;
    std::uniform_int_distribution<int> percent(0, 99), low(0, 15), index(0, 255);
    while (pixels.size() < static_cast<std::size_t>(w * h)) {
      if (percent(rng) < pairPercent) {
        const int c = low(rng);
        pixels.push_back(static_cast<std::uint8_t>(16 * c));
        pixels.push_back(static_cast<std::uint8_t>(c));
        continue;
      }
      pixels.push_back(static_cast<std::uint8_t>(percent(rng) < zeroPercent ? 0 : index(rng)));
    }
    pixels.resize(static_cast<std::size_t>(w * h));
    const Frame f = FrameOf(w, h, std::move(pixels));
    ASSERT_EQ(Encode(f), ReferenceEncoder(true).Encode(f)) << "frame " << i;
    if (KeyZeroOverwriteMatters(f)) ++overwriteMattered;
  }
  EXPECT_GT(overwriteMattered, 6);
}

TEST(GifEncoderKeyZero, AFrameEndingOnTheTableLeavesNothingForTheNext) {
  // The first frame ends while the 5003-slot table decides; the strings it left in the map
  // must be gone for the next frame, which shares them all.
  // Forty colours: strings grow quickly, so the whole frame stays within one segment.
  std::mt19937 rng(3);
  Bytes pixels = Noise(rng, 1000, 40, 79);
  pixels.insert(pixels.end(), kDisplaceThenOverwrite.begin(), kDisplaceThenOverwrite.end());
  const Bytes tail = Noise(rng, 2900, 40, 79);
  pixels.insert(pixels.end(), tail.begin(), tail.end());
  const Frame first = WideFrame(pixels);
  const Frame second = WideFrame(Bytes(pixels.begin() + 1, pixels.end()));  // one pixel later
  const Frame plain = WideFrame(Noise(rng, 5000, 40, 79));

  const Bytes firstFile = Encode(first);
  EXPECT_EQ(firstFile, ReferenceEncoder(true).Encode(first));
  EXPECT_TRUE(KeyZeroOverwriteMatters(first));
  const std::vector<int> codes = Values(ReadCodes(ParseOurFile(firstFile).data).codes);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 256), 1);  // no clear after the takeover
  EXPECT_EQ(Encode(second), ReferenceEncoder(true).Encode(second));
  EXPECT_EQ(Encode(plain), ReferenceEncoder(true).Encode(plain));
  EXPECT_EQ(Encode(first), firstFile);  // and encoding again gives the same bytes
}

// =============================================================================================
// Real frames: giflib decodes our output to the same indices, and a second encoding of the
// decoded file is byte for byte the same.

TEST(GifEncoder, CorpusFramesRoundTripThroughGiflib) {
  std::size_t framesChecked = 0;
  for (const auto& path : testing::TestDataGifs("gif-corpus")) {
    const std::vector<Frame> frames = DecodeWithGiflib(testing::ReadBytes(path));
    ASSERT_FALSE(frames.empty()) << path;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const Frame& f = frames[i];
      const TestStrip strip = PlaceInStrip(f, 5, 3, 2, 0x5A);
      const auto file = EncodeFrameBytes(InputFor(f, strip, 5));
      ASSERT_TRUE(file.has_value()) << path << " frame " << i;
      if (i < 3) {
        EXPECT_EQ(*file, ReferenceEncoder(true).Encode(f)) << path << " frame " << i;
      }

      const std::vector<Frame> back = DecodeWithGiflib(*file);
      ASSERT_EQ(back.size(), 1u) << path << " frame " << i;
      EXPECT_EQ(back[0].width, f.width);
      EXPECT_EQ(back[0].height, f.height);
      EXPECT_EQ(back[0].indices, f.indices) << path << " frame " << i;
      EXPECT_EQ(back[0].transparent, f.transparent);
      EXPECT_EQ(back[0].transparentIndex, f.transparent ? f.transparentIndex : 0);
      ASSERT_EQ(back[0].colors.size(), 256u);
      std::vector<std::uint32_t> expectedColors = f.colors;
      expectedColors.resize(256, 0);
      EXPECT_EQ(back[0].colors, expectedColors);

      EXPECT_EQ(Encode(back[0]), *file) << path << " frame " << i;
      ++framesChecked;
    }
  }
  EXPECT_GT(framesChecked, 20u);
}

}  // namespace
}  // namespace velmora::gif
