#pragma once
// ucAniGIF: an animated-GIF control.
//
// Takes GIF87a / GIF89a data from a file, a byte array, a remote location or its saved
// properties; keeps every frame's colour indices in one 8-bit frame strip; composites frames by
// their disposal methods and transparency; draws them with five stretch modes, offsets,
// mirroring and an optional background; animates on its own timer. Lives in a Container (see
// platform/container.h), which delivers its notifications (the UserControl interface) and
// receives its events. Construction is Initialize, destruction is Terminate.
//
// A property is a getter with the property's name and a setter Set<Name>. Booleans are plain
// bool at this interface; failures come back as results and events, never as exceptions, except
// where noted.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/container.h"
#include "platform/picture.h"
#include "ucAniGIF/control/callback_binding.h"
#include "ucAniGIF/render/control_state.h"
#include "ucAniGIF/render/damage.h"
#include "ucAniGIF/render/gif_document.h"

namespace velmora {

// A byte array as a caller hands it over: its storage in memory order and the element count of
// each dimension. No storage (null data) or three or more dimensions fail a load.
struct ByteArrayArg {
  const std::uint8_t* data = nullptr;
  std::vector<std::int32_t> elementCounts;  // one entry per dimension
  std::int32_t elementSize = 1;

  static ByteArrayArg FromSpan(std::span<const std::uint8_t> bytes) {
    return {bytes.data(), {static_cast<std::int32_t>(bytes.size())}, 1};
  }
};

// An array of 32-bit values with a lower bound, as the palette methods exchange them.
struct LongArray {
  bool allocated = false;   // false: never sized, or erased
  bool fixedSize = false;   // a fixed-size array cannot be resized by GetPalette
  std::int32_t lowerBound = 0;
  std::vector<std::int32_t> values;

  std::int32_t UpperBound() const {
    return lowerBound + static_cast<std::int32_t>(values.size()) - 1;
  }
};

// Dispatch identifiers and help strings of the public interface, for hosts that bind by number.
struct MemberInfo {
  std::string_view name;
  std::int32_t dispatchId;
  std::string_view helpString;
};
std::span<const MemberInfo> PropertyTable();
std::span<const MemberInfo> MethodTable();
std::span<const MemberInfo> EventTable();

// True when the path, seen as UTF-16 code units, has no code unit above 255 (the empty path too):
// such a path could go through the code-page file interface. `utf8Path` is UTF-8; a byte
// sequence that is not valid UTF-8 counts as not ANSI.
bool IsAnsiPath(std::string_view utf8Path);

// Sizes of the timer modes (SetAnimationTimer): the deferred-decoding one-shot interval and the
// trial interval every start sets and removes first.
inline constexpr std::uint32_t kDeferredDecodeIntervalMs = 20;
inline constexpr std::uint32_t kTrialTimerIntervalMs = 60000;

// The asynchronous-read property name of remote loads.
inline constexpr std::string_view kRemoteGifProperty = "remoteGIF";

// Added to Mirrored while only frame 1 has been mirrored, during a deferred load.
inline constexpr std::int32_t kFrameOneMirroredFlag = 0x20;

class ucAniGIF final : public platform::UserControl, private TimerProcedures {
 public:
  explicit ucAniGIF(platform::Container& container);  // Initialize
  ~ucAniGIF() override;                               // Terminate
  ucAniGIF(const ucAniGIF&) = delete;
  ucAniGIF& operator=(const ucAniGIF&) = delete;

  // --- Properties, in interface order ---
  platform::PictureRef AnimatedGIF();             // the current frame as a one-frame GIF, or null
  void SetAnimatedGIF(platform::PictureRef aGif);  // design mode only
  std::int32_t CurrentFrame() const;
  bool Enabled() const;
  void SetEnabled(bool Enable);
  std::int32_t FrameCount() const;
  void SetFrameCount(std::int32_t nrFrames);  // ignored
  std::int32_t ActualWidth() const;           // container size units
  std::int32_t ActualHeight() const;
  std::int32_t Stretch() const;
  void SetStretch(std::int32_t newScale);
  std::int32_t MinFrameDelay() const;
  void SetMinFrameDelay(std::int32_t Delay);
  std::int32_t Loops() const;
  void SetLoops(std::int32_t Count);  // throws RuntimeError 6 for INT32_MIN
  std::int32_t LoopsRemaining() const;
  std::int32_t Mirrored() const;
  void SetMirrored(std::int32_t MirrorStyle);
  std::int32_t Action() const;
  void SetAction(std::int32_t Act);
  std::int32_t DelayAnimation() const;
  void SetDelayAnimation(std::int32_t Mode);
  platform::PictureRef MouseIcon() const;
  void SetMouseIcon(platform::PictureRef MousePic);
  std::int32_t MousePointer() const;
  void SetMousePointer(std::int32_t Pointer);
  std::int32_t OffsetX() const;
  void SetOffsetX(std::int32_t NewOffset);
  std::int32_t OffsetY() const;
  void SetOffsetY(std::int32_t NewOffset);
  std::uint32_t SolidBkgColor() const;
  void SetSolidBkgColor(std::uint32_t Color);
  bool SolidBkgColorUsed() const;
  void SetSolidBkgColorUsed(bool IgnoreTransparency);
  std::int32_t SteppedDelay() const;
  void SetSteppedDelay(std::int32_t newDelay);

  // --- Methods, in interface order ---
  bool LoadAnimatedGIF_File(std::string_view FileName);  // UTF-8 path
  void LoadAnimatedGIF_Remote(std::string_view RemotePath);
  bool LoadAnimatedGIF_Array(const ByteArrayArg& Bytes);
  bool GetPalette(std::int32_t FrameIndex, LongArray& paletteEntries);
  bool SetPalette(std::int32_t FrameIndex, const LongArray& paletteEntries);
  void Refresh();
  bool CacheColorTables();
  bool RestoreColorTables(bool bReleaseCache);

  // --- Container notifications (platform::UserControl) ---
  void ReadProperties(platform::PropertyBag& bag) override;
  void WriteProperties(platform::PropertyBag& bag) override;
  void Paint() override;
  void Resize() override;
  void Show() override;
  void Hide() override;
  int HitTest(float x, float y) override;
  void ClickNotify() override;
  void MouseDownNotify(std::int16_t button, std::int16_t shift, float x, float y) override;
  void MouseUpNotify(std::int16_t button, std::int16_t shift, float x, float y) override;
  void MouseMoveNotify(std::int16_t button, std::int16_t shift, float x, float y) override;
  void AsyncReadComplete(platform::AsyncProperty& property) override;
  void AsyncReadProgress(platform::AsyncProperty& property) override;

  // --- Read-only views for tools and tests ---
  const GifDocument& Document() const { return doc_; }
  const ControlState& State() const { return state_; }
  // True between a first build pass that left frames 2..n to the deferred-decoding timer and the
  // pass that decodes them.
  bool DeferredDecodePending() const { return deferredDecodePending_; }

 private:
  // Timer modes of SetAnimationTimer.
  enum TimerMode : std::int32_t { kTimerStop = 0, kTimerAnimate = 1, kTimerDeferredDecode = 2 };

  // --- Load pipeline (load.cpp) ---
  // Resets, parses and builds; the number of frames loaded, 0 on failure (GifBytes discarded).
  std::int32_t LoadGif();
  // Back to the empty document: timers stopped, frames, bitmaps, tables, cache and binding
  // released. GifBytes and the header stay. Never throws.
  void ResetGif();
  // Frame-building orchestration; see load.cpp. May clear firstPass (load complete).
  bool BuildFrames(bool& firstPass);
  // Runs the resize handling when Stretch is 1, 3 or 4 (after a successful load).
  void ResizeAfterLoad();
  // Fills GifBytes with GifBytes.size() bytes of `source` from `firstIndex` (0-based here).
  void CopyIntoGifBytes(std::span<const std::uint8_t> source, std::size_t firstIndex);

  // --- Animation (animation.cpp) ---
  // Mode 0 stops, 1 animates, 2 arms the deferred decoding; true when a timer was started.
  bool SetAnimationTimer(std::int32_t mode);
  std::uint32_t AnimationInterval() const;
  void OnDeferredDecodeTick(std::uintptr_t window, std::uint32_t message, std::uintptr_t timerId,
                            std::uint32_t time, std::int32_t& result) override;
  void OnAnimationTick(std::uintptr_t window, std::uint32_t message, std::uintptr_t timerId,
                       std::uint32_t time, std::int32_t& result) override;
  std::uintptr_t TimerNumber() const { return reinterpret_cast<std::uintptr_t>(this); }
  // LoopsRemaining = Loops, saturated to the 16-bit range.
  void ReloadLoopsRemaining();
  void RaiseFrameChanged(std::int32_t frameIndex, bool viaTimer);

  // --- Paint handling and partial repaints (paint.cpp) ---
  // Repaints after the tick or the step moved from frame `previous` to CurrentFrame: only the
  // damage (render/damage.h) when the last complete paint showed `previous` with the view
  // unchanged since and CurrentFrame is `previous` + 1; otherwise everything (Refresh).
  void RepaintAdvance(std::int32_t previous);
  PaintView CurrentView(std::int32_t frame) const;

  // --- Helpers shared by the accessors ---
  // Mouse coordinates from surface pixels to container positions, rounded down.
  std::pair<float, float> ToContainerPosition(float x, float y) const;
  bool RunMode() const { return container_.UserMode(); }
  bool Playing() const { return state_.Action == 1 && RunMode(); }
  platform::HostSurface& Surface() const { return container_.Surface(); }

  // --- Palette operations (palette.cpp) ---
  // The colour table FrameIndex names (0 global, k the local table of frame k), or -1 for none.
  std::int32_t PaletteTableFor(std::int32_t FrameIndex) const;

  // --- Picture exchange (picture_exchange.cpp) ---
  platform::PictureRef EncodeFrame(std::int32_t frameNumber) const;

  platform::Container& container_;
  GifDocument doc_;
  ControlState state_;

  // The colour-table cache: a second ColorTableSet whose ActiveColorTable serves as CacheValid
  // (1 while a copy is held) and whose ColorTables are the CachedTables.
  ColorTableSet colorTableCache_;

  // Timer state: the window the timers are set on, the binding whose thunk is the timer entry,
  // and the entry last bound (0 when none).
  std::uintptr_t timerWindow_ = 0;
  CallbackBinding binding_;
  std::uintptr_t callbackEntry_ = 0;
  // Bumped by every SetAnimationTimer call that changes the timer state; a tick compares it
  // around FrameChanged to see whether the handler sent a command of its own.
  std::uint64_t timerGeneration_ = 0;
  // True from a first pass that leaves frames 2..n to the deferred-decoding timer until that
  // pass has run (or the document is reset).
  bool deferredDecodePending_ = false;

  // The view of the last paint whose result equals a complete paint (a paint without a clip, or
  // one of our own partial repaints); none when unknown. Dropped by every paint that starts, by
  // the host's resize, and by every stop of the timer (a reset for a load, a pause, the deferred
  // decoding pass), so that anything those bring about gets a complete repaint first.
  std::optional<PaintView> shownView_;
  // True while RepaintAdvance has the host repaint the damage.
  bool partialRepaintRunning_ = false;
};

}  // namespace velmora
