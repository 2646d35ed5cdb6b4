#include "platform/property_bag.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "support/run_time_errors.h"

namespace velmora::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ErrorNumber;

TEST(PropertyValuesEqualTest, DefaultRuleTable) {
  struct Case {
    const char* name;
    PropertyValue a;
    PropertyValue b;
    bool equal;
  };
  const Case cases[] = {
      {"int16 50 vs int32 50", std::int16_t{50}, std::int32_t{50}, true},
      {"int16 50 vs int32 51", std::int16_t{50}, std::int32_t{51}, false},
      {"True vs -1", true, std::int32_t{-1}, true},
      {"True vs 1", true, std::int16_t{1}, false},
      {"False vs 0", false, std::int32_t{0}, true},
      {"colour 0 vs int32 0", Color{0}, std::int32_t{0}, true},
      {"colour 0x80000005 vs its signed twin", Color{0x80000005u},
       std::int32_t{static_cast<std::int32_t>(0x80000005u)}, true},
      {"colour 255 vs int16 255", Color{255}, std::int16_t{255}, true},
      {"equal strings", std::string("ab"), std::string("ab"), true},
      {"strings differ in case", std::string("ab"), std::string("AB"), false},
      {"string vs number", std::string("50"), std::int32_t{50}, false},
      {"arrays equal", ByteArray{1, {1, 2}}, ByteArray{1, {1, 2}}, true},
      {"arrays differ in bound", ByteArray{0, {1, 2}}, ByteArray{1, {1, 2}}, false},
      {"arrays differ in bytes", ByteArray{1, {1, 2}}, ByteArray{1, {1, 3}}, false},
      {"empty vs empty", PropertyValue{}, PropertyValue{}, true},
      {"empty vs null picture", PropertyValue{}, PictureRef{}, true},
      {"empty vs 0", PropertyValue{}, std::int32_t{0}, false},
      {"empty vs empty string", PropertyValue{}, std::string(), false},
      {"empty array vs empty", ByteArray{}, PropertyValue{}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PropertyValuesEqual(c.a, c.b), c.equal);
    EXPECT_EQ(PropertyValuesEqual(c.b, c.a), c.equal);
  }
}

TEST(PropertyValuesEqualTest, PicturesCompareByIdentity) {
  const auto bytes = Bytes{1, 2, 3};
  const auto one = std::make_shared<const Picture>(bytes, DecodedImage{1, 1, {0}, {}});
  const auto twin = std::make_shared<const Picture>(bytes, DecodedImage{1, 1, {0}, {}});
  EXPECT_TRUE(PropertyValuesEqual(PictureRef(one), PictureRef(one)));
  EXPECT_FALSE(PropertyValuesEqual(PictureRef(one), PictureRef(twin)));
  EXPECT_FALSE(PropertyValuesEqual(PictureRef(one), PropertyValue{}));
}

TEST(PropertyBagTest, WriteSkipsValuesEqualToTheirDefault) {
  PropertyBag bag;
  bag.WriteProperty("Delay", std::int16_t{50}, std::int32_t{50});
  bag.WriteProperty("Stretch", std::int32_t{1}, std::int32_t{1});
  bag.WriteProperty("Enabled", true, true);
  bag.WriteProperty("MouseIcon", PictureRef{}, PropertyValue{});
  bag.WriteProperty("Loops", std::int32_t{0}, std::int16_t{0});
  EXPECT_EQ(bag.Size(), 0u);

  bag.WriteProperty("Loops", std::int32_t{3}, std::int16_t{0});
  bag.WriteProperty("GIF", ByteArray{1, {7}});  // no default: always stored
  bag.WriteProperty("Mirror", std::int32_t{0});
  EXPECT_EQ(bag.Keys(), (std::vector<std::string>{"loops", "gif", "mirror"}));
}

TEST(PropertyBagTest, KeysFoldToLowerCaseAndWritingAgainReplaces) {
  PropertyBag bag;
  bag.WriteProperty("gif", ByteArray{1, {1}});
  bag.WriteProperty("BkgFill", std::int32_t{5}, std::int32_t{0});
  bag.WriteProperty("GIF", ByteArray{1, {2}});
  EXPECT_EQ(bag.Keys(), (std::vector<std::string>{"gif", "bkgfill"}));
  EXPECT_TRUE(bag.Contains("Gif"));
  EXPECT_EQ(ToByteArray(bag.ReadProperty("GIF", PropertyValue{})), (ByteArray{1, {2}}));
  EXPECT_EQ(ToInt32(bag.ReadProperty("bkgFILL", std::int32_t{0})), 5);
  EXPECT_EQ(ToInt32(bag.ReadProperty("StepDelay", std::int32_t{9})), 9);

  // Writing the default over a stored value leaves the key absent, so the read gives the default.
  bag.WriteProperty("BKGFILL", std::int32_t{0}, std::int32_t{0});
  EXPECT_FALSE(bag.Contains("bkgfill"));
}

TEST(PropertyConversionTest, ToInt16) {
  struct Case {
    const char* name;
    PropertyValue v;
    std::int16_t expected;
    int error;
  };
  const Case cases[] = {
      {"int32 in range", std::int32_t{-32768}, -32768, 0},
      {"int32 too big", std::int32_t{32768}, 0, kErrOverflow},
      {"int32 too small", std::int32_t{-32769}, 0, kErrOverflow},
      {"True", true, -1, 0},
      {"empty", PropertyValue{}, 0, 0},
      {"numeric string", std::string(" 42 "), 42, 0},
      {"negative string", std::string("-17"), -17, 0},
      {"half rounds to even", std::string("2.5"), 2, 0},
      {"half rounds to even up", std::string("3.5"), 4, 0},
      {"string too big", std::string("40000"), 0, kErrOverflow},
      {"word", std::string("abc"), 0, kErrTypeMismatch},
      {"empty string", std::string(), 0, kErrTypeMismatch},
      {"byte array", ByteArray{1, {1}}, 0, kErrTypeMismatch},
      {"colour fits", Color{0x7FFF}, 0x7FFF, 0},
      {"colour too big", Color{0x10000}, 0, kErrOverflow},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::int16_t got = 0;
    EXPECT_EQ(ErrorNumber([&] { got = ToInt16(c.v); }), c.error);
    EXPECT_EQ(got, c.expected);
  }
}

TEST(PropertyConversionTest, OtherConversions) {
  EXPECT_EQ(ToInt32(std::int16_t{-5}), -5);
  EXPECT_EQ(ToInt32(Color{0xFFFFFFFFu}), -1);
  EXPECT_EQ(ToInt32(std::string("2147483647")), 2147483647);
  EXPECT_EQ(ErrorNumber([] { ToInt32(std::string("2147483648")); }), kErrOverflow);

  EXPECT_TRUE(ToBoolean(std::int32_t{2}));
  EXPECT_TRUE(ToBoolean(std::int16_t{-1}));
  EXPECT_FALSE(ToBoolean(std::int32_t{0}));
  EXPECT_FALSE(ToBoolean(PropertyValue{}));
  EXPECT_TRUE(ToBoolean(std::string("True")));
  EXPECT_EQ(ErrorNumber([] { ToBoolean(std::string("maybe")); }), kErrTypeMismatch);

  EXPECT_EQ(ToByteArray(PropertyValue{}), ByteArray{});
  EXPECT_EQ(ErrorNumber([] { ToByteArray(std::int32_t{1}); }), kErrTypeMismatch);
  EXPECT_EQ(ErrorNumber([] { ToByteArray(std::string("GIF")); }), kErrTypeMismatch);

  EXPECT_EQ(ToPicture(PropertyValue{}), nullptr);
  EXPECT_EQ(ErrorNumber([] { ToPicture(std::int32_t{0}); }), kErrTypeMismatch);
  EXPECT_EQ(ErrorNumber([] { ToPicture(ByteArray{}); }), kErrTypeMismatch);
  EXPECT_EQ(ErrorNumber([] { ToInt16(PictureRef(std::make_shared<const Picture>(
                                 Bytes{}, DecodedImage{1, 1, {0}, {}}))); }),
            kErrTypeMismatch);
}

// A bag with one value of every kind that serialises without a decoder.
PropertyBag EveryKindBag() {
  PropertyBag bag;
  bag.WriteProperty("Empty", PropertyValue{});
  bag.WriteProperty("Enabled", false);
  bag.WriteProperty("BkgUsed", true);
  bag.WriteProperty("Delay", std::int16_t{-300});
  bag.WriteProperty("OffsetX", std::int32_t{-70000});
  bag.WriteProperty("BkgFill", Color{0x80000005u});
  bag.WriteProperty("Name", std::string("Ünïcode"));
  bag.WriteProperty("GIF", ByteArray{1, {'G', 'I', 'F', 0, 0xFF}});
  bag.WriteProperty("Negative", ByteArray{-3, {9}});
  return bag;
}

TEST(PropertyBagContentsTest, SerialisedLayout) {
  PropertyBag bag;
  bag.WriteProperty("A", std::int16_t{-2});
  bag.WriteProperty("gif", ByteArray{1, {0x47}});
  const Bytes expected = {
      'V', 'P', 'B', '1', 2, 0, 0, 0,     // magic, two entries
      1, 0, 'a', 2, 0xFE, 0xFF,           // "a": 16-bit integer -2
      3, 0, 'g', 'i', 'f', 6,             // "gif": byte array
      1, 0, 0, 0, 1, 0, 0, 0, 0x47,       //   lower bound 1, one byte
  };
  EXPECT_EQ(bag.Contents(), expected);
}

TEST(PropertyBagContentsTest, RoundTripKeepsEveryKindAndBound) {
  const PropertyBag bag = EveryKindBag();
  const auto restored = PropertyBag::FromContents(bag.Contents());
  ASSERT_TRUE(restored.has_value());
  EXPECT_EQ(restored->Keys(), bag.Keys());
  for (const std::string& key : bag.Keys()) {
    SCOPED_TRACE(key);
    const PropertyValue original = bag.ReadProperty(key, std::string("absent"));
    const PropertyValue copy = restored->ReadProperty(key, std::string("absent"));
    EXPECT_EQ(original.index(), copy.index());
    EXPECT_TRUE(original == copy);
  }
  EXPECT_EQ(std::get<ByteArray>(restored->ReadProperty("gif", {})).lowerBound, 1);
  EXPECT_EQ(std::get<ByteArray>(restored->ReadProperty("negative", {})).lowerBound, -3);
  EXPECT_EQ(std::get<std::int32_t>(restored->ReadProperty("offsetx", {})), -70000);
  EXPECT_EQ(restored->Contents(), bag.Contents());
}

TEST(PropertyBagContentsTest, PictureWithUnreadableBytesComesBackEmpty) {
  PropertyBag bag;
  bag.WriteProperty("MouseIcon", PictureRef(std::make_shared<const Picture>(
                                     Bytes{'n', 'o', 'p', 'e'}, DecodedImage{1, 1, {0}, {}})));
  const Bytes contents = bag.Contents();
  // Tag 7, length 4, the source bytes.
  const Bytes tail(contents.end() - 9, contents.end());
  EXPECT_EQ(tail, (Bytes{7, 4, 0, 0, 0, 'n', 'o', 'p', 'e'}));
  const auto restored = PropertyBag::FromContents(contents);
  ASSERT_TRUE(restored.has_value());
  ASSERT_TRUE(restored->Contains("mouseicon"));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(restored->ReadProperty("mouseicon", 1)));
}

TEST(PropertyBagContentsTest, PictureRoundTripKeepsItsSourceBytes) {
  // The smallest GIF: 1 x 1, a two-colour global table, one image of index 0.
  const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0,  // header, screen
                     0xFF, 0xFF, 0xFF, 0, 0, 0,                            // colour table
                     0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0,                      // image descriptor
                     2, 2, 0x44, 0x01, 0,                                  // LZW data
                     0x3B};
  const PictureRef picture = PictureFromBytes(gif);
  ASSERT_NE(picture, nullptr);
  PropertyBag bag;
  bag.WriteProperty("MouseIcon", picture, PropertyValue{});
  const auto restored = PropertyBag::FromContents(bag.Contents());
  ASSERT_TRUE(restored.has_value());
  const PictureRef copy = ToPicture(restored->ReadProperty("MOUSEICON", PropertyValue{}));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->SourceBytes(), gif);
  EXPECT_EQ(copy->Width(), 1);
  EXPECT_FALSE(PropertyValuesEqual(copy, picture));  // a new object: identity differs
}

TEST(PropertyBagContentsTest, RefusesMalformedInput) {
  const Bytes head = {'V', 'P', 'B', '1'};
  const auto with = [&](Bytes rest) {
    Bytes b = head;
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
  };
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {
      {"wrong magic", {'V', 'P', 'B', '2', 0, 0, 0, 0}},
      {"trailing byte", with({0, 0, 0, 0, 0})},
      {"unknown tag", with({1, 0, 0, 0, 1, 0, 'k', 8})},
      {"count beyond the data", with({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0})},
      {"string longer than the data", with({1, 0, 0, 0, 1, 0, 'k', 5, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"array upper bound past 32 bits",
       with({1, 0, 0, 0, 1, 0, 'k', 6, 0xFF, 0xFF, 0xFF, 0x7F, 2, 0, 0, 0, 1, 2})},
      {"one key twice", with({2, 0, 0, 0, 1, 0, 'k', 0, 1, 0, 'K', 0})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(PropertyBag::FromContents(c.bytes).has_value());
  }
  const auto empty = PropertyBag::FromContents(with({0, 0, 0, 0}));
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->Size(), 0u);
}

TEST(PropertyBagContentsTest, EveryPrefixIsRefused) {
  const Bytes contents = EveryKindBag().Contents();
  for (std::size_t n = 0; n < contents.size(); ++n) {
    EXPECT_FALSE(PropertyBag::FromContents(std::span(contents).first(n)).has_value()) << n;
  }
}

TEST(PropertyBagContentsTest, RandomBytesNeverCrash) {
  std::mt19937 random(1234);
  const Bytes valid = EveryKindBag().Contents();
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes bytes = valid;
    // Flip a few bytes of a valid serialisation, or start from noise behind the magic.
    if (round % 2 == 0) {
      for (int flips = 1 + round % 4; flips > 0; --flips) {
        bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
      }
    } else {
      bytes.resize(4 + random() % 64);
      for (std::size_t i = 4; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(random());
      }
    }
    const auto bag = PropertyBag::FromContents(bytes);
    if (bag) {
      ++accepted;
      // Whatever is accepted is a valid bag: its own serialisation reads back the same.
      const auto again = PropertyBag::FromContents(bag->Contents());
      ASSERT_TRUE(again.has_value());
      EXPECT_EQ(again->Keys(), bag->Keys());
    }
  }
  EXPECT_GT(accepted, 0);  // some single flips land in payload bytes and stay valid
}

}  // namespace
}  // namespace velmora::platform
