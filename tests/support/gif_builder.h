#pragma once
// Builds tiny GIF files in memory for the control's tests: a global colour table, an optional
// "NETSCAPE2.0" loop count, and frames given as index strings with their graphic control values.
//
// The image data uses the simplest valid LZW stream: a clear code before every pixel, so no code
// table entry is ever added and the code width stays at minimum code size + 1. Any conforming
// decoder reads it, and the expected indices are exactly the pixels given.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::testing {

struct TestFrame {
  int left = 0;
  int top = 0;
  int width = 1;
  int height = 1;
  std::vector<std::uint8_t> pixels;  // width * height indices, top row first
  bool graphicControl = true;
  int delayCs = 0;                    // hundredths of a second
  int disposal = 0;
  std::optional<std::uint8_t> transparentIndex;
  std::vector<std::uint32_t> localTable;  // 0x00RRGGBB; empty = coloured by the global table
};

struct TestGif {
  std::string signature = "GIF89a";
  int screenWidth = 0;  // 0: the frames' extent
  int screenHeight = 0;
  std::vector<std::uint32_t> globalTable{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  std::optional<int> loopCount;
  std::vector<TestFrame> frames;
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

inline void PutImageData(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& pixels) {
  const int minCodeSize = 8;  // every index 0..255 is a literal; width 9 bits throughout
  const int clear = 1 << minCodeSize;
  const int width = minCodeSize + 1;
  std::vector<std::uint8_t> packed;
  std::uint32_t accumulator = 0;
  int bits = 0;
  auto emit = [&](int code) {
    accumulator |= static_cast<std::uint32_t>(code) << bits;
    bits += width;
    while (bits >= 8) {
      packed.push_back(static_cast<std::uint8_t>(accumulator & 0xFF));
      accumulator >>= 8;
      bits -= 8;
    }
  };
  for (const std::uint8_t p : pixels) {
    emit(clear);
    emit(p);
  }
  emit(clear + 1);
  if (bits > 0) packed.push_back(static_cast<std::uint8_t>(accumulator & 0xFF));
  out.push_back(static_cast<std::uint8_t>(minCodeSize));
  for (std::size_t i = 0; i < packed.size(); i += 255) {
    const std::size_t n = std::min<std::size_t>(255, packed.size() - i);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(i),
               packed.begin() + static_cast<std::ptrdiff_t>(i + n));
  }
  out.push_back(0);
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
    out.push_back(f.localTable.empty()
                      ? 0x00
                      : static_cast<std::uint8_t>(0x80 | TableSizeField(f.localTable.size())));
    if (!f.localTable.empty()) PutTable(out, f.localTable);
    PutImageData(out, f.pixels);
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

}  // namespace velmora::testing
