#include "gif/gif_format.h"

namespace velmora::gif {

bool HasGifSignature(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kSignatureBytes) return false;
  // Only ASCII letters fold; no other byte can turn into one of the letters compared.
  const auto lower = [](std::uint8_t c) {
    return static_cast<std::uint8_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  };
  if (lower(bytes[0]) != 'g' || lower(bytes[1]) != 'i' || lower(bytes[2]) != 'f' ||
      bytes[3] != '8' || lower(bytes[5]) != 'a') {
    return false;
  }
  return bytes[4] == '7' || bytes[4] == '9';
}

}  // namespace velmora::gif
