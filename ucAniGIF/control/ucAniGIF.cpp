// The control's lifecycle (Initialize, Terminate), its property accessors, mouse forwarding and
// the dispatch tables. Loading, painting, the scheduler, persistence and the palette methods live
// in their own files; an accessor here only validates, stores and then repaints, pauses and
// resumes through the Action setter, or sends a change notice.

#include "ucAniGIF/control/ucAniGIF.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/errors.h"
#include "ucAniGIF/render/renderer.h"

namespace velmora {
namespace {

// The pen of the design-time outline: dotted, in the system colour of window frames.
constexpr int kDesignOutlineStyle = platform::kPenDot;
constexpr platform::ColorRef kWindowFrameSystemColor = 0x80000006;

constexpr std::int32_t kMinFrameDelayLow = 10;
constexpr std::int32_t kMinFrameDelayHigh = 32700;
constexpr std::int32_t kDispatchEnabled = -514;

constexpr std::array<MemberInfo, 20> kProperties{{
    {"AnimatedGIF", 0x68030012, "Returns/sets a graphic to be displayed in a control"},
    {"CurrentFrame", 0x68030011, "Returns the current frame"},
    {"Enabled", kDispatchEnabled,
     "Returns/sets a value that determines whether an object can respond to user-generated "
     "events"},
    {"FrameCount", 0x68030010, "Returns the number of frames within the GIF"},
    {"ActualWidth", 0x6803000F, "Original width of the overall GIF image"},
    {"ActualHeight", 0x6803000E, "Original height of the overall GIF image"},
    {"Stretch", 0x6803000D,
     "Returns/sets a value that determines whether a graphic resizes to fit the size of an Image "
     "control"},
    {"MinFrameDelay", 0x6803000C,
     "The minimum number of milliseconds a frame will remain before it is replaced."},
    {"Loops", 0x6803000B,
     "The number of loops that will occur before animation stops. Zero will loop infintely"},
    {"LoopsRemaining", 0x6803000A, "Returns remaining number of loops before animation terminates"},
    {"Mirrored", 0x68030009, "Mirrors images either horizontally or vertically"},
    {"Action", 0x68030008, "Start, Stop and Pause animation"},
    {"DelayAnimation", 0x68030007,
     "During runtime, animation is paused until the first frame is loaded and displayed"},
    {"MouseIcon", 0x68030006, "Sets a custom mouse icon"},
    {"MousePointer", 0x68030005,
     "Returns/sets the type of mouse pointer displayed when over part of an object"},
    {"OffsetX", 0x68030004, "Adjusts left edge of rendered frame by n pixels"},
    {"OffsetY", 0x68030003, "Adjusts top edge of rendered frame by n pixels"},
    {"SolidBkgColor", 0x68030002, "Transparent GIFs will be rendered over this background color"},
    {"SolidBkgColorUsed", 0x68030001, "Use the SolidBkgColor property otherwise ignore it"},
    {"SteppedDelay", 0x68030000,
     "Forces all frames to be rendered by the value provided. Zero erases SteppedDelay"},
}};

constexpr std::array<MemberInfo, 8> kMethods{{
    {"LoadAnimatedGIF_File", 0x60030013, "Optional method to assign a GIF"},
    {"LoadAnimatedGIF_Remote", 0x60030014, "Optional method to assign a GIF"},
    {"LoadAnimatedGIF_Array", 0x60030015, "Optional method to assign a GIF"},
    {"GetPalette", 0x60030016, "Returns palette entries for a selected frame"},
    {"SetPalette", 0x60030017, "Sets palette entries for a selected frame"},
    {"Refresh", 0x60030018, "Forces a complete repaint of a object"},
    {"CacheColorTables", 0x60030019,
     "Have control save GIF color tables in preparation of callig SetPalette and later restoring "
     "original palette"},
    {"RestoreColorTables", 0x6003001A,
     "Restores GIF color tables to those cached from CacheColorTables"},
}};

constexpr std::array<MemberInfo, 8> kEvents{{
    {"Click", 1, "Occurs when the user presses and then releases a mouse button over an object"},
    {"MouseDown", 2, "Occurs when the user presses the mouse button while an object has the focus"},
    {"MouseUp", 3, "Occurs when the user releases the mouse button while an object has the focus"},
    {"MouseMove", 4, "Occurs when the user moves the mouse"},
    {"LoopsEnded", 5, "Event that occurs when all loops for the GIF have terminated"},
    {"FrameChanged", 6, "Event that occurs when any frame is rendered manually or via a timer"},
    {"RemoteLoadComplete", 7, "Event that occurs when a remotely loaded GIF has been validated"},
    {"RemoteLoadFailure", 8, "Event that occurs when a remotely loaded GIF failed to be read"},
}};

}  // namespace

std::span<const MemberInfo> PropertyTable() { return kProperties; }
std::span<const MemberInfo> MethodTable() { return kMethods; }
std::span<const MemberInfo> EventTable() { return kEvents; }

// Initialize. ControlState and GifDocument start at their declared values (MinFrameDelay 50,
// Stretch 1, DelayAnimation 1, everything else zero); only the host's pen is set up here.
ucAniGIF::ucAniGIF(platform::Container& container)
    : container_(container), binding_(this, std::string(kControlName)) {
  Surface().SetDrawStyle(kDesignOutlineStyle);
  Surface().SetForeColor(kWindowFrameSystemColor);
}

// Terminate: the reset stops the timers before it releases the binding, so no armed timer can
// reach a destroyed instance; the second release is a no-op unless the reset's own failed.
ucAniGIF::~ucAniGIF() {
  ResetGif();
  binding_.ReleaseCallbacks();
}

std::int32_t ucAniGIF::CurrentFrame() const { return state_.CurrentFrame; }

bool ucAniGIF::Enabled() const { return Surface().Enabled(); }

void ucAniGIF::SetEnabled(bool Enable) {
  Surface().SetEnabled(Enable);
  container_.PropertyChanged("Enabled");
}

std::int32_t ucAniGIF::FrameCount() const {
  return state_.CurrentFrame == 0 ? 0 : doc_.FrameCount();
}

void ucAniGIF::SetFrameCount(std::int32_t /*nrFrames*/) {}

// The canvas size is the frames' extent, not the logical screen stored in the file. While a resize
// of the control's own making runs, CanvasHeight carries its mark as a negative sign.
std::int32_t ucAniGIF::ActualWidth() const {
  return static_cast<std::int32_t>(std::floor(Surface().ScaleX(
      doc_.Header.CanvasWidth, platform::kUnitPixels, platform::kUnitContainerSize)));
}

std::int32_t ucAniGIF::ActualHeight() const {
  return static_cast<std::int32_t>(std::floor(Surface().ScaleY(
      std::abs(doc_.Header.CanvasHeight), platform::kUnitPixels, platform::kUnitContainerSize)));
}

std::int32_t ucAniGIF::Stretch() const { return state_.Stretch; }

// Restoring the remembered Action goes through every rule of the setter: a remembered 0 runs the
// stop command, which rewinds to frame 1 and raises FrameChanged.
void ucAniGIF::SetStretch(std::int32_t newScale) {
  if (newScale < 0 || newScale > 4 || newScale == state_.Stretch) return;
  const std::int32_t remembered = state_.Action;
  state_.Stretch = newScale;
  SetAction(2);
  Resize();
  SetAction(remembered);
  if (remembered != 1) Refresh();
  container_.PropertyChanged("Stretch");
}

std::int32_t ucAniGIF::MinFrameDelay() const { return state_.MinFrameDelay; }

// The new bound applies from the scheduler's next re-arm; a timer already set keeps its interval.
void ucAniGIF::SetMinFrameDelay(std::int32_t Delay) {
  if (Delay < kMinFrameDelayLow) Delay = kMinFrameDelayLow;
  if (Delay > kMinFrameDelayHigh) Delay = kMinFrameDelayHigh;
  if (Delay == state_.MinFrameDelay) return;
  state_.MinFrameDelay = static_cast<std::int16_t>(Delay);
  container_.PropertyChanged("Delay");
}

std::int32_t ucAniGIF::Loops() const { return doc_.Header.LoopCount; }

// LoopsRemaining is left alone: the stop and restart commands, a load that starts the animation
// and the property read reload it.
void ucAniGIF::SetLoops(std::int32_t Count) {
  if (Count == doc_.Header.LoopCount) return;
  if (Count == std::numeric_limits<std::int32_t>::min()) throw platform::OverflowError(std::string(kControlName));
  doc_.Header.LoopCount = Count < 0 ? -Count : Count;
  container_.PropertyChanged("Loops");
}

std::int32_t ucAniGIF::LoopsRemaining() const {
  if (state_.CurrentFrame == 0) return 0;
  if (doc_.Header.LoopCount == 0) return std::numeric_limits<std::int32_t>::max();
  return state_.LoopsRemaining;
}

std::int32_t ucAniGIF::Mirrored() const { return state_.Mirrored; }

// With nothing loaded the style is only stored (and announced, even unchanged). With frames, they
// move from the stored orientation to the new one.
//
// Quirk mended: while the deferred decoding is pending only frame 1 exists and the stored style
// carries 0x20. Handing that to MirrorFrames would skip frame 1 and flip the empty bands of
// frames 2..n, and the deferred pass would then flip frame 1 a second time. Instead frame 1 alone
// moves to the new style and 0x20 stays set, so the deferred pass mirrors frames 2..n from
// "as decoded" to the new style, like any other deferred load.
void ucAniGIF::SetMirrored(std::int32_t MirrorStyle) {
  if (MirrorStyle < 0 || MirrorStyle > 3) return;
  if (state_.CurrentFrame == 0) {
    state_.Mirrored = MirrorStyle;
    container_.PropertyChanged("Mirrored");
    return;
  }
  if (MirrorStyle == state_.Mirrored) return;
  const std::int32_t remembered = state_.Action;
  SetAction(2);
  const bool runMode = RunMode();
  if (deferredDecodePending_) {
    std::int32_t frameOneStyle = state_.Mirrored & 3;
    MirrorFrames(doc_, frameOneStyle, MirrorStyle, /*firstFrameOnly=*/true, runMode);
    state_.Mirrored = MirrorStyle | kFrameOneMirroredFlag;
  } else {
    MirrorFrames(doc_, state_.Mirrored, MirrorStyle, !runMode, runMode);
    state_.Mirrored = MirrorStyle;
  }
  if (remembered == 1) {
    SetAction(1);
  } else {
    Refresh();
  }
  container_.PropertyChanged("Mirrored");
}

std::int32_t ucAniGIF::DelayAnimation() const { return state_.DelayAnimation; }

void ucAniGIF::SetDelayAnimation(std::int32_t Mode) {
  if (Mode < 0 || Mode > 3 || Mode == state_.DelayAnimation) return;
  state_.DelayAnimation = Mode;
  container_.PropertyChanged("DelayAnimation");
}

platform::PictureRef ucAniGIF::MouseIcon() const { return Surface().MouseIcon(); }

// The host's complaints are swallowed so that the pointer reset and the notice still happen.
void ucAniGIF::SetMouseIcon(platform::PictureRef MousePic) {
  const bool none = MousePic == nullptr;
  try {
    Surface().SetMouseIcon(std::move(MousePic));
  } catch (const platform::RuntimeError&) {
    // Swallowed: see above.
  }
  if (none) {
    try {
      Surface().SetMousePointer(0);
    } catch (const platform::RuntimeError&) {
      // Swallowed: see above.
    }
  }
  container_.PropertyChanged("MouseIcon");
}

std::int32_t ucAniGIF::MousePointer() const { return Surface().MousePointer(); }

// A value outside 16 bits would overflow the conversion; like a value the host rejects, it is
// ignored.
void ucAniGIF::SetMousePointer(std::int32_t Pointer) {
  if (Pointer < std::numeric_limits<std::int16_t>::min() ||
      Pointer > std::numeric_limits<std::int16_t>::max()) {
    return;
  }
  try {
    Surface().SetMousePointer(static_cast<std::int16_t>(Pointer));
  } catch (const platform::RuntimeError&) {
    // A pointer the host rejects is ignored, as the setter's contract says.
  }
}

std::int32_t ucAniGIF::OffsetX() const { return state_.OffsetX; }

// A playing animation shows the new offset with its next frame.
void ucAniGIF::SetOffsetX(std::int32_t NewOffset) {
  state_.OffsetX = NewOffset;
  if (!Playing()) Refresh();
}

std::int32_t ucAniGIF::OffsetY() const { return state_.OffsetY; }

void ucAniGIF::SetOffsetY(std::int32_t NewOffset) {
  state_.OffsetY = NewOffset;
  if (!Playing()) Refresh();
}

std::uint32_t ucAniGIF::SolidBkgColor() const { return state_.SolidBkgColor; }

// In run mode the colour shows at the next repaint; only the designer sees it at once.
void ucAniGIF::SetSolidBkgColor(std::uint32_t Color) {
  state_.SolidBkgColor = Color;
  if (state_.SolidBkgColorUsed != kFalse && !RunMode()) Refresh();
}

bool ucAniGIF::SolidBkgColorUsed() const { return state_.SolidBkgColorUsed != kFalse; }

void ucAniGIF::SetSolidBkgColorUsed(bool IgnoreTransparency) {
  state_.SolidBkgColorUsed = IgnoreTransparency ? kTrue : kFalse;
  if (!RunMode()) Refresh();
}

std::int32_t ucAniGIF::SteppedDelay() const { return state_.SteppedDelay; }

void ucAniGIF::SetSteppedDelay(std::int32_t newDelay) {
  state_.SteppedDelay = newDelay < 1 ? 0 : newDelay;
}

void ucAniGIF::Refresh() { Surface().Refresh(); }

// --- Mouse forwarding ---

void ucAniGIF::ClickNotify() { container_.Events().Click(); }

std::pair<float, float> ucAniGIF::ToContainerPosition(float x, float y) const {
  const double cx =
      Surface().ScaleX(x, platform::kUnitPixels, platform::kUnitContainerPosition);
  const double cy =
      Surface().ScaleY(y, platform::kUnitPixels, platform::kUnitContainerPosition);
  return {static_cast<float>(std::floor(cx)), static_cast<float>(std::floor(cy))};
}

void ucAniGIF::MouseDownNotify(std::int16_t button, std::int16_t shift, float x, float y) {
  const auto [cx, cy] = ToContainerPosition(x, y);
  container_.Events().MouseDown(button, shift, cx, cy);
}

void ucAniGIF::MouseUpNotify(std::int16_t button, std::int16_t shift, float x, float y) {
  const auto [cx, cy] = ToContainerPosition(x, y);
  container_.Events().MouseUp(button, shift, cx, cy);
}

void ucAniGIF::MouseMoveNotify(std::int16_t button, std::int16_t shift, float x, float y) {
  const auto [cx, cy] = ToContainerPosition(x, y);
  container_.Events().MouseMove(button, shift, cx, cy);
}

}  // namespace velmora
