#pragma once
// Hand-built LZW streams for the decoder, picture and builder tests: codes packed the way GIF
// stores them, and the sub-blocks that carry them.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace velmora::testing {

// (code, width in bits) pairs packed LSB first, the way GIF stores them.
inline std::vector<std::uint8_t> PackCodes(const std::vector<std::pair<unsigned, int>>& codes) {
  std::vector<std::uint8_t> bytes;
  std::uint32_t acc = 0;
  int bits = 0;
  for (const auto& [code, width] : codes) {
    acc |= code << bits;
    bits += width;
    while (bits >= 8) {
      bytes.push_back(static_cast<std::uint8_t>(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) bytes.push_back(static_cast<std::uint8_t>(acc));
  return bytes;
}

// Wraps a raw code stream in data sub-blocks of at most `blockSize` bytes plus the terminator.
inline std::vector<std::uint8_t> FrameSubBlocks(const std::vector<std::uint8_t>& codes,
                                                std::size_t blockSize = 255) {
  std::vector<std::uint8_t> out;
  for (std::size_t pos = 0; pos < codes.size(); pos += blockSize) {
    const std::size_t n = std::min(blockSize, codes.size() - pos);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), codes.begin() + static_cast<std::ptrdiff_t>(pos),
               codes.begin() + static_cast<std::ptrdiff_t>(pos + n));
  }
  out.push_back(0);
  return out;
}

}  // namespace velmora::testing
