#pragma once
// The fixed parts of the GIF format: block markers, packed-field flags and the signature, in the
// one place every reader and writer of the project takes them from.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace velmora::gif {

inline constexpr std::size_t kSignatureBytes = 6;        // "GIF87a" / "GIF89a"
inline constexpr std::size_t kScreenDescriptorBytes = 7;  // after the signature
inline constexpr std::size_t kImageDescriptorBytes = 9;   // after the image separator

// Block introducers.
inline constexpr std::uint8_t kExtensionIntroducer = 0x21;
inline constexpr std::uint8_t kImageSeparator = 0x2C;
inline constexpr std::uint8_t kTrailer = 0x3B;
inline constexpr std::uint8_t kBlockTerminator = 0x00;

// Extension labels, after the 0x21 introducer.
inline constexpr std::uint8_t kGraphicControlLabel = 0xF9;
inline constexpr std::uint8_t kApplicationLabel = 0xFF;

// Packed fields: a colour table follows (screen and image descriptors), its size field is
// bits 0-2 (2^(n+1) entries); an image is interlaced (image descriptor).
inline constexpr std::uint8_t kColorTableFlag = 0x80;
inline constexpr std::uint8_t kInterlaceFlag = 0x40;
inline constexpr std::uint8_t kTableSizeMask = 0x07;

// Entries of a colour table whose packed size field is `packed & 7`: 2, 4, ..., 256.
constexpr std::size_t ColorTableEntries(std::uint8_t packed) {
  return std::size_t{2} << (packed & kTableSizeMask);
}

// 2^0 .. 2^8: the colour counts a table size field can give, by its value plus one.
inline constexpr std::array<std::uint32_t, 9> kPowersOfTwo = {1, 2, 4, 8, 16, 32, 64, 128, 256};

// True when `bytes` start with "GIF87a" or "GIF89a", letters in either case (files written with
// a lower-case signature exist and every decoder we know reads them).
bool HasGifSignature(std::span<const std::uint8_t> bytes);

}  // namespace velmora::gif
