#include "platform/property_bag.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "platform/errors.h"

namespace velmora::platform {

namespace {

constexpr std::string_view kSource = "PropertyBag";
constexpr std::array<std::uint8_t, 4> kMagic = {'V', 'P', 'B', '1'};
constexpr int kErrInvalidArgument = 5;
constexpr std::int16_t kTrue = -1;

// Type tags of the serialised form.
enum class Tag : std::uint8_t {
  kEmpty = 0,
  kBoolean = 1,
  kInt16 = 2,
  kInt32 = 3,
  kColor = 4,
  kString = 5,
  kByteArray = 6,
  kPicture = 7,
};

std::string LowerKey(std::string_view key) {
  std::string lower(key);
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

// A null picture reference is the "Nothing" object, the same as an empty value.
bool IsEmpty(const PropertyValue& v) {
  if (std::holds_alternative<std::monostate>(v)) {
    return true;
  }
  const auto* picture = std::get_if<PictureRef>(&v);
  return picture != nullptr && *picture == nullptr;
}

// The numeric value of a Boolean, integer or colour. A colour is a 32-bit signed number to the
// container (its colour type is a long), so 0x80000005 equals -2147483643.
std::optional<std::int64_t> NumericValue(const PropertyValue& v) {
  if (const auto* b = std::get_if<bool>(&v)) {
    return *b ? kTrue : 0;
  }
  if (const auto* i16 = std::get_if<std::int16_t>(&v)) {
    return *i16;
  }
  if (const auto* i32 = std::get_if<std::int32_t>(&v)) {
    return *i32;
  }
  if (const auto* color = std::get_if<Color>(&v)) {
    return static_cast<std::int32_t>(color->value);
  }
  return std::nullopt;
}

// A string read as a number the way the container's variant conversion reads it: surrounding
// blanks allowed, decimal with optional fraction and exponent. Nothing else is a number.
std::optional<double> ParseNumber(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && isBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isBlank(text.back())) {
    text.remove_suffix(1);
  }
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return std::nullopt;
  }
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value,
                                         std::chars_format::general);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// Number of an integer target type from any value, rounding a fractional string half to even as
// the variant conversion does.
template <typename Int>
Int ToInteger(const PropertyValue& v) {
  double number = 0;
  if (IsEmpty(v)) {
    return 0;
  }
  if (const auto numeric = NumericValue(v)) {
    number = static_cast<double>(*numeric);
  } else if (const auto* text = std::get_if<std::string>(&v)) {
    const auto parsed = ParseNumber(*text);
    if (!parsed) {
      throw TypeMismatchError(std::string(kSource));
    }
    number = std::nearbyint(*parsed);
  } else {
    throw TypeMismatchError(std::string(kSource));
  }
  if (number < static_cast<double>(std::numeric_limits<Int>::min()) ||
      number > static_cast<double>(std::numeric_limits<Int>::max())) {
    throw OverflowError(std::string(kSource));
  }
  return static_cast<Int>(number);
}

// --- Serialised form ---

class Writer {
 public:
  void Bytes(std::span<const std::uint8_t> bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }
  void U8(std::uint8_t v) { out_.push_back(v); }
  void U16(std::uint16_t v) { Le(v, 2); }
  void U32(std::uint32_t v) { Le(v, 4); }
  void Length(std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) {
      throw RuntimeError(kErrInvalidArgument, std::string(kSource),
                         "Invalid procedure call or argument");
    }
    U32(static_cast<std::uint32_t>(n));
  }
  std::vector<std::uint8_t> Take() { return std::move(out_); }

 private:
  void Le(std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) {
      out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
  }
  std::vector<std::uint8_t> out_;
};

// Every read checks the bytes left first, so a hostile length never allocates or reads beyond
// the input.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool AtEnd() const { return pos_ == bytes_.size(); }
  std::size_t Left() const { return bytes_.size() - pos_; }

  std::optional<std::uint32_t> Le(int n) {
    if (Left() < static_cast<std::size_t>(n)) {
      return std::nullopt;
    }
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      v |= static_cast<std::uint32_t>(bytes_[pos_ + i]) << (8 * i);
    }
    pos_ += n;
    return v;
  }
  std::optional<std::span<const std::uint8_t>> Take(std::size_t n) {
    if (Left() < n) {
      return std::nullopt;
    }
    const auto part = bytes_.subspan(pos_, n);
    pos_ += n;
    return part;
  }
  std::optional<std::span<const std::uint8_t>> LengthPrefixed() {
    const auto length = Le(4);
    if (!length) {
      return std::nullopt;
    }
    return Take(*length);
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

std::span<const std::uint8_t> AsBytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

void WriteValue(Writer& w, const PropertyValue& v) {
  if (IsEmpty(v)) {
    w.U8(static_cast<std::uint8_t>(Tag::kEmpty));
    return;
  }
  if (const auto* b = std::get_if<bool>(&v)) {
    w.U8(static_cast<std::uint8_t>(Tag::kBoolean));
    w.U16(static_cast<std::uint16_t>(*b ? kTrue : 0));
  } else if (const auto* i16 = std::get_if<std::int16_t>(&v)) {
    w.U8(static_cast<std::uint8_t>(Tag::kInt16));
    w.U16(static_cast<std::uint16_t>(*i16));
  } else if (const auto* i32 = std::get_if<std::int32_t>(&v)) {
    w.U8(static_cast<std::uint8_t>(Tag::kInt32));
    w.U32(static_cast<std::uint32_t>(*i32));
  } else if (const auto* color = std::get_if<Color>(&v)) {
    w.U8(static_cast<std::uint8_t>(Tag::kColor));
    w.U32(color->value);
  } else if (const auto* text = std::get_if<std::string>(&v)) {
    w.U8(static_cast<std::uint8_t>(Tag::kString));
    w.Length(text->size());
    w.Bytes(AsBytes(*text));
  } else if (const auto* array = std::get_if<ByteArray>(&v)) {
    w.U8(static_cast<std::uint8_t>(Tag::kByteArray));
    w.U32(static_cast<std::uint32_t>(array->lowerBound));
    w.Length(array->bytes.size());
    w.Bytes(array->bytes);
  } else if (const auto* picture = std::get_if<PictureRef>(&v)) {
    w.U8(static_cast<std::uint8_t>(Tag::kPicture));
    w.Length((*picture)->SourceBytes().size());
    w.Bytes((*picture)->SourceBytes());
  }
}

std::optional<PropertyValue> ReadValue(Reader& r) {
  const auto tag = r.Le(1);
  if (!tag) {
    return std::nullopt;
  }
  switch (static_cast<Tag>(*tag)) {
    case Tag::kEmpty:
      return PropertyValue{};
    case Tag::kBoolean: {
      const auto v = r.Le(2);
      if (!v) {
        return std::nullopt;
      }
      return PropertyValue{*v != 0};
    }
    case Tag::kInt16: {
      const auto v = r.Le(2);
      if (!v) {
        return std::nullopt;
      }
      return PropertyValue{static_cast<std::int16_t>(*v)};
    }
    case Tag::kInt32: {
      const auto v = r.Le(4);
      if (!v) {
        return std::nullopt;
      }
      return PropertyValue{static_cast<std::int32_t>(*v)};
    }
    case Tag::kColor: {
      const auto v = r.Le(4);
      if (!v) {
        return std::nullopt;
      }
      return PropertyValue{Color{*v}};
    }
    case Tag::kString: {
      const auto bytes = r.LengthPrefixed();
      if (!bytes) {
        return std::nullopt;
      }
      return PropertyValue{std::string(bytes->begin(), bytes->end())};
    }
    case Tag::kByteArray: {
      const auto lowerBound = r.Le(4);
      if (!lowerBound) {
        return std::nullopt;
      }
      const auto bytes = r.LengthPrefixed();
      if (!bytes) {
        return std::nullopt;
      }
      ByteArray array;
      array.lowerBound = static_cast<std::int32_t>(*lowerBound);
      // The upper bound (lower + length - 1) must be a 32-bit index too.
      if (std::int64_t{array.lowerBound} + static_cast<std::int64_t>(bytes->size()) - 1 >
          std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
      }
      array.bytes.assign(bytes->begin(), bytes->end());
      return PropertyValue{std::move(array)};
    }
    case Tag::kPicture: {
      const auto bytes = r.LengthPrefixed();
      if (!bytes) {
        return std::nullopt;
      }
      // Bytes no decoder reads give the empty value, as documented.
      PictureRef picture = PictureFromBytes(*bytes);
      if (!picture) {
        return PropertyValue{};
      }
      return PropertyValue{std::move(picture)};
    }
  }
  return std::nullopt;  // an unknown tag
}

}  // namespace

bool PropertyValuesEqual(const PropertyValue& a, const PropertyValue& b) {
  const bool aEmpty = IsEmpty(a);
  const bool bEmpty = IsEmpty(b);
  if (aEmpty || bEmpty) {
    return aEmpty && bEmpty;
  }
  const auto aNumber = NumericValue(a);
  const auto bNumber = NumericValue(b);
  if (aNumber || bNumber) {
    return aNumber && bNumber && *aNumber == *bNumber;
  }
  if (a.index() != b.index()) {
    return false;
  }
  // Same kind: strings and byte arrays by content, pictures by identity (shared_ptr ==).
  return a == b;
}

bool ToBoolean(const PropertyValue& v) {
  if (IsEmpty(v)) {
    return false;
  }
  if (const auto numeric = NumericValue(v)) {
    return *numeric != 0;
  }
  if (const auto* text = std::get_if<std::string>(&v)) {
    const std::string lower = LowerKey(*text);
    if (lower == "true") {
      return true;
    }
    if (lower == "false") {
      return false;
    }
    if (const auto parsed = ParseNumber(*text)) {
      return *parsed != 0;
    }
  }
  throw TypeMismatchError(std::string(kSource));
}

std::int16_t ToInt16(const PropertyValue& v) { return ToInteger<std::int16_t>(v); }

std::int32_t ToInt32(const PropertyValue& v) { return ToInteger<std::int32_t>(v); }

ByteArray ToByteArray(const PropertyValue& v) {
  if (IsEmpty(v)) {
    return {};
  }
  if (const auto* array = std::get_if<ByteArray>(&v)) {
    return *array;
  }
  throw TypeMismatchError(std::string(kSource));
}

PictureRef ToPicture(const PropertyValue& v) {
  if (IsEmpty(v)) {
    return nullptr;
  }
  if (const auto* picture = std::get_if<PictureRef>(&v)) {
    return *picture;
  }
  throw TypeMismatchError(std::string(kSource));
}

PropertyValue PropertyBag::ReadProperty(std::string_view key,
                                        const PropertyValue& defaultValue) const {
  const std::string lower = LowerKey(key);
  for (const auto& [k, value] : entries_) {
    if (k == lower) {
      return value;
    }
  }
  return defaultValue;
}

void PropertyBag::WriteProperty(std::string_view key, PropertyValue value,
                                std::optional<PropertyValue> defaultValue) {
  if (key.size() > std::numeric_limits<std::uint16_t>::max()) {
    throw RuntimeError(kErrInvalidArgument, std::string(kSource),
                       "Invalid procedure call or argument");
  }
  const std::string lower = LowerKey(key);
  const auto existing = std::find_if(entries_.begin(), entries_.end(),
                                     [&](const auto& entry) { return entry.first == lower; });
  if (defaultValue && PropertyValuesEqual(value, *defaultValue)) {
    // Not stored. A value stored under the key before is dropped as well, so that reading the
    // bag back gives the default this write meant rather than a stale value.
    if (existing != entries_.end()) {
      entries_.erase(existing);
    }
    return;
  }
  if (existing != entries_.end()) {
    existing->second = std::move(value);
    return;
  }
  entries_.emplace_back(lower, std::move(value));
}

bool PropertyBag::Contains(std::string_view key) const {
  const std::string lower = LowerKey(key);
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const auto& entry) { return entry.first == lower; });
}

std::vector<std::string> PropertyBag::Keys() const {
  std::vector<std::string> keys;
  keys.reserve(entries_.size());
  for (const auto& entry : entries_) {
    keys.push_back(entry.first);
  }
  return keys;
}

std::vector<std::uint8_t> PropertyBag::Contents() const {
  Writer w;
  w.Bytes(kMagic);
  w.Length(entries_.size());
  for (const auto& [key, value] : entries_) {
    w.U16(static_cast<std::uint16_t>(key.size()));
    w.Bytes(AsBytes(key));
    WriteValue(w, value);
  }
  return w.Take();
}

std::optional<PropertyBag> PropertyBag::FromContents(std::span<const std::uint8_t> bytes) {
  Reader r(bytes);
  const auto magic = r.Take(kMagic.size());
  if (!magic || !std::equal(magic->begin(), magic->end(), kMagic.begin())) {
    return std::nullopt;
  }
  const auto count = r.Le(4);
  // An entry takes at least 3 bytes (key length and tag), so a larger count is refused before
  // anything is reserved.
  constexpr std::size_t kMinEntryBytes = 3;
  if (!count || *count > r.Left() / kMinEntryBytes) {
    return std::nullopt;
  }
  PropertyBag bag;
  bag.entries_.reserve(*count);
  std::unordered_set<std::string> seen;
  for (std::uint32_t i = 0; i < *count; ++i) {
    const auto keyLength = r.Le(2);
    if (!keyLength) {
      return std::nullopt;
    }
    const auto keyBytes = r.Take(*keyLength);
    if (!keyBytes) {
      return std::nullopt;
    }
    // Keys are folded as WriteProperty folds them; one key twice is not a bag Contents writes.
    std::string key = LowerKey(std::string_view(reinterpret_cast<const char*>(keyBytes->data()),
                                                keyBytes->size()));
    if (!seen.insert(key).second) {
      return std::nullopt;
    }
    auto value = ReadValue(r);
    if (!value) {
      return std::nullopt;
    }
    bag.entries_.emplace_back(std::move(key), std::move(*value));
  }
  if (!r.AtEnd()) {
    return std::nullopt;
  }
  return bag;
}

}  // namespace velmora::platform
