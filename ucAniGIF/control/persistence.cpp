// Property persistence: the control's settings and GIF bytes in the container's property bag.
//
// Neither handler traps errors. A value of the wrong type in the bag makes its conversion throw
// RuntimeError 13 (type mismatch), which ends ReadProperties at that key and goes to the
// container; what was restored before it stays, and the GIF is not loaded.

#include "platform/errors.h"
#include "platform/property_bag.h"
#include "ucAniGIF/control/ucAniGIF.h"

namespace velmora {
namespace {

// The GIF is kept as a one-dimensional byte array whose lower bound is 1, file position 1 first.
constexpr std::int32_t kGifBytesLowerBound = 1;

// What DelayLoad may hold from an older form: -1 (True) meant "deferred", which is 1 now.
constexpr std::int32_t kLegacyDelayLoadTrue = -1;

constexpr std::int16_t kDefaultMinFrameDelay = 50;

platform::PropertyValue GifBytesValue(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return std::monostate{};
  return platform::ByteArray{kGifBytesLowerBound, bytes};
}

}  // namespace

// Values are stored as they come: none of the setters' validation or side effects applies (a
// stored Stretch of 7 stays 7), no notice is sent and nothing is repainted. The load runs after
// every setting is restored so that it sees Stretch, Mirrored and DelayAnimation.
void ucAniGIF::ReadProperties(platform::PropertyBag& bag) {
  using platform::PropertyValue;
  doc_.GifBytes =
      platform::ToByteArray(bag.ReadProperty("GIF", GifBytesValue(doc_.GifBytes))).bytes;
  state_.MinFrameDelay = platform::ToInt16(bag.ReadProperty("Delay", state_.MinFrameDelay));
  state_.Stretch = platform::ToInt32(bag.ReadProperty("Stretch", std::int32_t{1}));
  const std::int32_t delayLoad = platform::ToInt32(bag.ReadProperty("DelayLoad", std::int32_t{1}));
  state_.DelayAnimation = delayLoad == kLegacyDelayLoadTrue ? 1 : delayLoad;
  state_.Mirrored = platform::ToInt32(bag.ReadProperty("Mirror", std::int32_t{0}));
  Surface().SetEnabled(platform::ToBoolean(bag.ReadProperty("Enabled", true)));
  // Straight to the host: the pointer is not reset and no notice is sent.
  Surface().SetMouseIcon(platform::ToPicture(bag.ReadProperty("MouseIcon", std::monostate{})));
  Surface().SetMousePointer(platform::ToInt16(bag.ReadProperty("MousePointer", std::int32_t{0})));
  state_.SolidBkgColor = static_cast<std::uint32_t>(
      platform::ToInt32(bag.ReadProperty("BkgFill", std::int32_t{0})));
  state_.SolidBkgColorUsed =
      platform::ToBoolean(bag.ReadProperty("BkgUsed", false)) ? kTrue : kFalse;
  state_.SteppedDelay = platform::ToInt32(bag.ReadProperty("StepDelay", std::int32_t{0}));
  state_.OffsetX = platform::ToInt32(bag.ReadProperty("OffsetX", std::int32_t{0}));
  state_.OffsetY = platform::ToInt32(bag.ReadProperty("OffsetY", std::int32_t{0}));

  if (LoadGif() == 0) return;
  // A stored count overrides the file's own; none stored (0 was not written) keeps the file's.
  doc_.Header.LoopCount =
      platform::ToInt32(bag.ReadProperty("Loops", doc_.Header.LoopCount));
  ReloadLoopsRemaining();
}

// A run-mode save after a load finds GifBytes released (the frames are built and the bytes are
// gone); it writes "GIF" as an empty value, which reads back as no bytes and an empty control.
// Everything else is written from the live state, defaults left out.
void ucAniGIF::WriteProperties(platform::PropertyBag& bag) {
  using platform::PropertyValue;
  bag.WriteProperty("GIF", GifBytesValue(doc_.GifBytes));
  bag.WriteProperty("Delay", state_.MinFrameDelay, PropertyValue{kDefaultMinFrameDelay});
  bag.WriteProperty("Stretch", state_.Stretch, PropertyValue{std::int32_t{1}});
  bag.WriteProperty("Loops", doc_.Header.LoopCount, PropertyValue{std::int16_t{0}});
  bag.WriteProperty("DelayLoad", state_.DelayAnimation, PropertyValue{std::int32_t{1}});
  bag.WriteProperty("Mirror", state_.Mirrored, PropertyValue{std::int32_t{0}});
  PropertyValue icon = std::monostate{};
  if (platform::PictureRef picture = Surface().MouseIcon()) icon = picture;
  bag.WriteProperty("MouseIcon", icon, PropertyValue{std::monostate{}});
  bag.WriteProperty("MousePointer", Surface().MousePointer(), PropertyValue{std::int32_t{0}});
  bag.WriteProperty("Enabled", Surface().Enabled(), PropertyValue{true});
  bag.WriteProperty("OffsetX", state_.OffsetX, PropertyValue{std::int32_t{0}});
  bag.WriteProperty("OffsetY", state_.OffsetY, PropertyValue{std::int32_t{0}});
  bag.WriteProperty("BkgFill", static_cast<std::int32_t>(state_.SolidBkgColor),
                    PropertyValue{std::int32_t{0}});
  bag.WriteProperty("BkgUsed", state_.SolidBkgColorUsed != kFalse, PropertyValue{false});
  bag.WriteProperty("StepDelay", state_.SteppedDelay, PropertyValue{std::int32_t{0}});
}

}  // namespace velmora
