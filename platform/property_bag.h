#pragma once
// Property bag: named, typed values that a container keeps for a control between sessions.
//
// Keys match without regard to case and are kept in lower case. WriteProperty skips a value equal
// to its default (numbers compare by value across Boolean and integer types, as the container's
// variants do). Conversions used by readers raise RuntimeError 13 (type mismatch) or 6 (overflow).
//
// The serialised form (Contents / FromContents) keeps every key, type and value exactly,
// including a byte array's lower bound:
//   "VPB1"  magic
//   u32     entry count
//   per entry: u16 key length, key bytes (lower case), u8 type tag, payload:
//     0 empty                 -
//     1 Boolean               i16 (True = -1)
//     2 16-bit integer        i16
//     3 32-bit integer        i32
//     4 colour                u32
//     5 string                u32 length, bytes (UTF-8)
//     6 byte array            i32 lower bound, u32 length, bytes
//     7 picture               u32 length, the picture's source bytes
//   All numbers little-endian. FromContents refuses (nullopt) anything that does not parse
//   exactly to the end; a picture whose bytes no decoder reads is kept as an empty value.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/picture.h"

namespace velmora::platform {

struct ByteArray {
  std::int32_t lowerBound = 0;
  std::vector<std::uint8_t> bytes;
  bool operator==(const ByteArray&) const = default;
};

struct Color {
  std::uint32_t value = 0;
  bool operator==(const Color&) const = default;
};

// Empty (std::monostate) doubles as the "Nothing" object.
using PropertyValue = std::variant<std::monostate, bool, std::int16_t, std::int32_t, Color,
                                   std::string, ByteArray, PictureRef>;

// Value equality as the bag's default rule sees it.
bool PropertyValuesEqual(const PropertyValue& a, const PropertyValue& b);

// Conversions a reader applies to a value read from a bag.
bool ToBoolean(const PropertyValue& v);
std::int16_t ToInt16(const PropertyValue& v);
std::int32_t ToInt32(const PropertyValue& v);
ByteArray ToByteArray(const PropertyValue& v);  // empty value gives an array with no storage
PictureRef ToPicture(const PropertyValue& v);   // empty value gives null

class PropertyBag {
 public:
  PropertyValue ReadProperty(std::string_view key, const PropertyValue& defaultValue) const;
  // Without a default the value is always stored.
  void WriteProperty(std::string_view key, PropertyValue value,
                     std::optional<PropertyValue> defaultValue = std::nullopt);

  bool Contains(std::string_view key) const;
  std::vector<std::string> Keys() const;  // lower case, in the order first written
  std::size_t Size() const { return entries_.size(); }

  std::vector<std::uint8_t> Contents() const;
  static std::optional<PropertyBag> FromContents(std::span<const std::uint8_t> bytes);

 private:
  std::vector<std::pair<std::string, PropertyValue>> entries_;
};

}  // namespace velmora::platform
