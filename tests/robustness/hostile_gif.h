#pragma once
// Builds hostile GIFs in memory: files of a few bytes per frame that declare huge dimensions or
// huge frame counts. Every image carries the same tiny LZW stream (minimum code size 2: clear,
// pixel 0, end), so a frame of any size costs 12 bytes of file and its band keeps index 0 past
// the first pixel.

#include <cstdint>
#include <vector>

namespace velmora::testing {

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

namespace hostile_detail {

inline void PutWord(std::vector<std::uint8_t>& out, int value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

}  // namespace hostile_detail

inline std::vector<std::uint8_t> BuildHostileGif(const HostileGif& g) {
  using hostile_detail::PutWord;
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

}  // namespace velmora::testing
