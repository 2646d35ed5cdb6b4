#pragma once
// The GIF files the tests build in memory, in three shapes:
//
//  - BuildGif: small, well-formed files from index strings. A global colour table, an optional
//    "NETSCAPE2.0" loop count, and frames with their graphic control values, local tables and
//    interlacing. The image data uses only literal codes: a clear code before every pixel (or
//    every second pixel), so the code width stays at minimum code size + 1. Any conforming
//    decoder reads it, and the expected indices are exactly the pixels given.
//  - BuildHostileGif: files of a few bytes per frame that declare huge dimensions or huge frame
//    counts. Every image carries the same tiny LZW stream (minimum code size 2: clear, pixel 0,
//    end), so a frame of any size costs 15 bytes of file and its band keeps index 0 past the
//    first pixel.
//  - Cat and Text: pieces for files a test writes out byte by byte.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/lzw_codes.h"

namespace velmora::testing {

struct TestFrame {
  int left = 0;
  int top = 0;
  int width = 1;
  int height = 1;
  std::vector<std::uint8_t> pixels{};       // width * height indices, top row first; empty: all 0
  bool interlaced = false;                  // rows stored in the interlaced order
  std::vector<std::uint32_t> localTable{};  // 0x00RRGGBB; empty: coloured by the global table
  bool graphicControl = true;
  int delayCs = 0;  // hundredths of a second
  int disposal = 0;
  std::optional<std::uint8_t> transparentIndex{};
};

struct TestGif {
  std::string signature = "GIF89a";
  int screenWidth = 0;  // 0: the frames' extent
  int screenHeight = 0;
  std::vector<std::uint32_t> globalTable{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  std::optional<int> loopCount{};
  std::vector<TestFrame> frames{};
  int minCodeSize = 8;     // 0: per frame, the smallest (at least 2) that holds its indices
  int pixelsPerClear = 1;  // 1 or 2 literal codes after each clear code
};

namespace detail {

inline void PutWord(std::vector<std::uint8_t>& out, int value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

// Table size field n: 2^(n+1) entries hold `count` colours.
inline int TableSizeField(std::size_t count) {
  int n = 0;
  while ((std::size_t{2} << n) < count) ++n;
  return n;
}

inline void PutTable(std::vector<std::uint8_t>& out, const std::vector<std::uint32_t>& colors) {
  const std::size_t entries = std::size_t{2} << TableSizeField(colors.size());
  for (std::size_t i = 0; i < entries; ++i) {
    const std::uint32_t c = i < colors.size() ? colors[i] : 0;
    out.push_back(static_cast<std::uint8_t>(c >> 16));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
    out.push_back(static_cast<std::uint8_t>(c));
  }
}

// The frame's indices in the order the file stores them.
inline std::vector<std::uint8_t> StoredPixels(const TestFrame& f) {
  std::vector<std::uint8_t> pixels = f.pixels;
  if (pixels.empty()) pixels.assign(static_cast<std::size_t>(f.width * f.height), 0);
  if (!f.interlaced) return pixels;
  std::vector<std::uint8_t> stored;
  for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
    for (int y = start; y < f.height; y += step) {
      stored.insert(stored.end(), pixels.begin() + y * f.width, pixels.begin() + (y + 1) * f.width);
    }
  }
  return stored;
}

// Minimum code size byte, literal codes with a clear code before every `pixelsPerClear` pixels,
// the end code, in sub-blocks.
inline void PutImageData(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& pixels,
                         int minCodeSize, int pixelsPerClear) {
  if (minCodeSize == 0) {
    const int largest = pixels.empty() ? 0 : *std::max_element(pixels.begin(), pixels.end());
    minCodeSize = 2;
    while ((1 << minCodeSize) <= largest) ++minCodeSize;
  }
  const unsigned clear = 1u << minCodeSize;
  const int width = minCodeSize + 1;
  std::vector<std::pair<unsigned, int>> codes;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    if (i % static_cast<std::size_t>(pixelsPerClear) == 0) codes.emplace_back(clear, width);
    codes.emplace_back(pixels[i], width);
  }
  codes.emplace_back(clear + 1, width);
  out.push_back(static_cast<std::uint8_t>(minCodeSize));
  const std::vector<std::uint8_t> data = FrameSubBlocks(PackCodes(codes));
  out.insert(out.end(), data.begin(), data.end());
}

}  // namespace detail

inline std::vector<std::uint8_t> BuildGif(const TestGif& gif) {
  using namespace detail;
  std::vector<std::uint8_t> out(gif.signature.begin(), gif.signature.end());
  int w = gif.screenWidth;
  int h = gif.screenHeight;
  for (const TestFrame& f : gif.frames) {
    if (gif.screenWidth == 0) w = std::max(w, f.left + f.width);
    if (gif.screenHeight == 0) h = std::max(h, f.top + f.height);
  }
  PutWord(out, w);
  PutWord(out, h);
  if (gif.globalTable.empty()) {
    out.push_back(0x00);
  } else {
    out.push_back(static_cast<std::uint8_t>(0x80 | 0x70 | TableSizeField(gif.globalTable.size())));
  }
  out.push_back(0);  // background index
  out.push_back(0);  // aspect ratio
  if (!gif.globalTable.empty()) PutTable(out, gif.globalTable);
  if (gif.loopCount) {
    const std::string app = "NETSCAPE2.0";
    out.insert(out.end(), {0x21, 0xFF, 0x0B});
    out.insert(out.end(), app.begin(), app.end());
    out.insert(out.end(), {0x03, 0x01});
    PutWord(out, *gif.loopCount);
    out.push_back(0);
  }
  for (const TestFrame& f : gif.frames) {
    if (f.graphicControl) {
      out.insert(out.end(), {0x21, 0xF9, 0x04});
      out.push_back(static_cast<std::uint8_t>((f.disposal << 2) | (f.transparentIndex ? 1 : 0)));
      PutWord(out, f.delayCs);
      out.push_back(f.transparentIndex.value_or(0));
      out.push_back(0);
    }
    out.push_back(0x2C);
    PutWord(out, f.left);
    PutWord(out, f.top);
    PutWord(out, f.width);
    PutWord(out, f.height);
    std::uint8_t packed = f.interlaced ? 0x40 : 0x00;
    if (!f.localTable.empty()) {
      packed = static_cast<std::uint8_t>(packed | 0x80 | TableSizeField(f.localTable.size()));
    }
    out.push_back(packed);
    if (!f.localTable.empty()) PutTable(out, f.localTable);
    PutImageData(out, StoredPixels(f), gif.minCodeSize, gif.pixelsPerClear);
  }
  out.push_back(0x3B);
  return out;
}

// A solid frame of one index.
inline TestFrame SolidFrame(int width, int height, std::uint8_t index, int delayCs = 10) {
  TestFrame f;
  f.width = width;
  f.height = height;
  f.pixels.assign(static_cast<std::size_t>(width * height), index);
  f.delayCs = delayCs;
  return f;
}

// n frames of width x height, frame k (1-based) filled with index (k - 1) % 4, each with the
// given delay in hundredths.
inline std::vector<std::uint8_t> AnimationGif(int n, int delayCs, std::optional<int> loops = 0,
                                              int width = 4, int height = 3) {
  TestGif gif;
  gif.loopCount = loops;
  for (int k = 1; k <= n; ++k) {
    gif.frames.push_back(SolidFrame(width, height, static_cast<std::uint8_t>((k - 1) % 4), delayCs));
  }
  return BuildGif(gif);
}

struct HostileGif {
  int screenWidth = 1;
  int screenHeight = 1;
  int frameCount = 1;
  int left = 0;
  int top = 0;
  int width = 1;
  int height = 1;
  int disposal = 0;  // written in a graphic control extension before each image when > 0
  bool trailer = true;
};

inline std::vector<std::uint8_t> BuildHostileGif(const HostileGif& g) {
  using detail::PutWord;
  std::vector<std::uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
  PutWord(out, g.screenWidth);
  PutWord(out, g.screenHeight);
  // A 2-entry global table: black and white.
  out.insert(out.end(), {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF});
  out.reserve(out.size() + static_cast<std::size_t>(g.frameCount) * 26 + 1);
  for (int i = 0; i < g.frameCount; ++i) {
    if (g.disposal > 0) {
      out.insert(out.end(), {0x21, 0xF9, 0x04, static_cast<std::uint8_t>(g.disposal << 2), 0x01,
                             0x00, 0x00, 0x00});
    }
    out.push_back(0x2C);
    PutWord(out, g.left);
    PutWord(out, g.top);
    PutWord(out, g.width);
    PutWord(out, g.height);
    out.push_back(0x00);
    // Codes of 3 bits, least significant first: clear (4), 0, end (5).
    out.insert(out.end(), {0x02, 0x02, 0x44, 0x01, 0x00});
  }
  if (g.trailer) out.push_back(0x3B);
  return out;
}

inline std::vector<std::uint8_t> Cat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const std::vector<std::uint8_t>& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline std::vector<std::uint8_t> Text(std::string_view text) {
  return {text.begin(), text.end()};
}

}  // namespace velmora::testing
