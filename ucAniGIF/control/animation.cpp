// The animation scheduler: one platform timer per control instance, set on the container form's
// window with the instance's address as the timer number. In animation mode each tick advances
// CurrentFrame, counts loops, repaints and re-arms with the delay of the frame now shown; in
// deferred-decoding mode it fires once and has the remaining frames decoded. The Action commands
// and the host's show and hide notifications drive the Action state (0 stopped, 1 playing,
// 2 paused).

#include <algorithm>
#include <cstdint>
#include <exception>
#include <limits>

#include "ucAniGIF/control/ucAniGIF.h"

namespace velmora {
namespace {

constexpr std::int32_t kAnimationParamCount = 4;
constexpr std::int32_t kThunkNumber = 0;

// LoopsRemaining is a 16-bit counter while Loops takes any non-negative 32-bit value (65535 from
// a file). A larger count is carried in as 32767, so such an animation ends after 32767 loops
// instead of never ending or wrapping to a negative count.
std::int16_t SaturateToInt16(std::int64_t value) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

}  // namespace

void ucAniGIF::ReloadLoopsRemaining() {
  state_.LoopsRemaining = SaturateToInt16(doc_.Header.LoopCount);
}

void ucAniGIF::RaiseFrameChanged(std::int32_t frameIndex, bool viaTimer) {
  container_.Events().FrameChanged(frameIndex, viaTimer);
}

std::uint32_t ucAniGIF::AnimationInterval() const {
  if (state_.SteppedDelay != 0) return static_cast<std::uint32_t>(state_.SteppedDelay);
  const std::int32_t delay = doc_.Frame(state_.CurrentFrame).Delay;
  return static_cast<std::uint32_t>(std::max<std::int32_t>(delay, state_.MinFrameDelay));
}

// Every call that gets past "already playing" bumps timerGeneration_, so a tick can tell whether
// its FrameChanged handler sent a command of its own.
//
// Deferred decoding left pending: a pause, stop or hide while the deferred-decoding timer is
// armed removes that timer before frames 2..n exist. The next start (play, show, resume, restart)
// therefore re-arms the deferred-decoding timer instead of the animation timer; its pass decodes
// the remaining frames and then completes the load as it would have (DelayAnimation 1 starts the
// animation, 2 and 3 raise FrameChanged(1) and stay stopped).
bool ucAniGIF::SetAnimationTimer(std::int32_t mode) {
  platform::TimerService& timers = container_.Timers();
  if (mode == kTimerStop) {
    ++timerGeneration_;
    // Every stop forgets the view of the last paint: a reset for a load (a new document the
    // view cannot tell from the old one), a pause around a setter or a palette change, the
    // deferred-decoding pass. The next step after any of them repaints completely.
    shownView_.reset();
    // A design-time instance never set a timer, so it makes no platform call. Killing also when
    // the host has switched to design mode since the timer was set keeps a timer from outliving
    // the binding the reset is about to release.
    if (RunMode() || timerWindow_ != 0) timers.KillTimer(timerWindow_, TimerNumber());
    state_.Action = 0;
    return false;
  }
  if (state_.Action == 1) return false;
  ++timerGeneration_;
  state_.Action = 0;
  if (mode == kTimerAnimate && deferredDecodePending_) mode = kTimerDeferredDecode;
  if (state_.CurrentFrame == 0 || !RunMode()) return false;
  if (doc_.FrameCount() == 1 && mode == kTimerAnimate) return false;

  // From here on a failing step is skipped and the next one runs.
  try {
    callbackEntry_ =
        binding_.cb_Callback(mode, kAnimationParamCount, kThunkNumber, nullptr, /*hostSafety=*/true);
  } catch (const std::exception&) {
    // No thunk (out of memory): no timer, which the check below reports as false.
  }
  if (callbackEntry_ == 0) return false;
  try {
    timerWindow_ = container_.ParentWindow();
  } catch (const std::exception&) {
    // A host without a window to offer: no timer, reported below as false.
  }
  if (timerWindow_ == 0) {
    callbackEntry_ = 0;
    return false;
  }
  auto* entry = reinterpret_cast<platform::TimerEntry*>(callbackEntry_);
  // A trial timer proves that the window takes timers before the real one is set.
  if (timers.SetTimer(timerWindow_, TimerNumber(), kTrialTimerIntervalMs, entry) == 0) {
    callbackEntry_ = 0;
    return false;
  }
  timers.KillTimer(timerWindow_, TimerNumber());
  const std::uint32_t interval =
      mode == kTimerDeferredDecode ? kDeferredDecodeIntervalMs : AnimationInterval();
  timers.SetTimer(timerWindow_, TimerNumber(), interval, entry);
  state_.Action = 1;
  return true;
}

// A command sent by the FrameChanged handler prevails over this tick: when the handler changed
// the timer state (stop, pause, step, restart, a new load, a pause and resume around a setter),
// the tick does not re-arm. LoopsEnded is still raised when this tick ended the last loop, unless
// the handler started the animation again.
void ucAniGIF::OnAnimationTick(std::uintptr_t window, std::uint32_t /*message*/,
                               std::uintptr_t timerId, std::uint32_t /*time*/,
                               std::int32_t& result) {
  result = 0;
  platform::TimerService& timers = container_.Timers();
  timers.KillTimer(timerWindow_, timerId);
  const std::int32_t frameCount = doc_.FrameCount();
  if (frameCount == 0 || state_.CurrentFrame == 0) return;  // a stale tick after a reset
  const std::uint64_t generation = timerGeneration_;

  const std::int32_t previous = state_.CurrentFrame;
  bool wrapped = false;
  if (++state_.CurrentFrame > frameCount) {
    state_.CurrentFrame = 1;
    wrapped = true;
  }
  bool continuing = true;
  if (frameCount == 1) {
    state_.LoopsRemaining = 0;
    state_.Action = 0;
    continuing = false;
  } else if (wrapped && doc_.Header.LoopCount != 0) {
    // Counting stops at -32768 (reachable only after a play past LoopsEnded) instead of wrapping.
    if (state_.LoopsRemaining > std::numeric_limits<std::int16_t>::min()) --state_.LoopsRemaining;
    if (state_.LoopsRemaining == 0) {
      state_.Action = 0;
      continuing = false;
    }
  }

  RepaintAdvance(previous);
  RaiseFrameChanged(previous, true);

  if (timerGeneration_ != generation) {
    if (!continuing && state_.Action != 1) container_.Events().LoopsEnded();
    return;
  }
  if (continuing) {
    timers.SetTimer(window, timerId, AnimationInterval(),
                    reinterpret_cast<platform::TimerEntry*>(callbackEntry_));
    return;
  }
  container_.Events().LoopsEnded();
}

void ucAniGIF::OnDeferredDecodeTick(std::uintptr_t /*window*/, std::uint32_t /*message*/,
                                    std::uintptr_t /*timerId*/, std::uint32_t /*time*/,
                                    std::int32_t& result) {
  result = 0;
  SetAnimationTimer(kTimerStop);
  bool firstPass = false;
  BuildFrames(firstPass);
}

void ucAniGIF::Show() {
  if (state_.Action == 2) SetAnimationTimer(kTimerAnimate);
}

void ucAniGIF::Hide() { SetAction(2); }

std::int32_t ucAniGIF::Action() const { return state_.Action; }

// The commands act only on a loaded GIF in run mode; anything else is ignored.
void ucAniGIF::SetAction(std::int32_t Act) {
  if (state_.CurrentFrame == 0 || !RunMode()) return;
  switch (Act) {
    case 0:  // stop: rewind
      SetAnimationTimer(kTimerStop);
      ReloadLoopsRemaining();
      state_.CurrentFrame = 1;
      Refresh();
      RaiseFrameChanged(1, false);
      return;
    case 1:  // play
      SetAnimationTimer(kTimerAnimate);
      return;
    case 2:  // pause; a stopped animation stays stopped
      if (state_.Action == 0) return;
      SetAnimationTimer(kTimerStop);
      state_.Action = 2;
      return;
    case 3: {  // step, without loop counting
      // A step while the deferred decoding is still armed would show frame 2 before it has any
      // pixels (its band not even placed in the strip yet). The pending pass runs first, exactly
      // as its timer would have run it, load completion included; the step then stops whatever
      // that started. A FrameChanged handler of that completion may have loaded anew, or failed
      // to; with nothing loaded there is nothing to step to.
      if (deferredDecodePending_) {
        std::int32_t ignored = 0;
        OnDeferredDecodeTick(timerWindow_, 0, TimerNumber(), 0, ignored);
        if (state_.CurrentFrame == 0) return;
      }
      // Stopping the timer changes nothing on the surface, so the step may repaint partially.
      const std::optional<PaintView> shown = shownView_;
      const std::int32_t previous = state_.CurrentFrame;
      SetAnimationTimer(kTimerStop);
      shownView_ = shown;
      state_.CurrentFrame = previous >= doc_.FrameCount() ? 1 : previous + 1;
      state_.Action = 2;
      RepaintAdvance(previous);
      RaiseFrameChanged(state_.CurrentFrame, false);
      return;
    }
    case 4:  // restart
      SetAnimationTimer(kTimerStop);
      ReloadLoopsRemaining();
      state_.CurrentFrame = 1;
      Refresh();
      RaiseFrameChanged(1, false);
      SetAnimationTimer(kTimerAnimate);
      return;
    default:
      return;
  }
}

}  // namespace velmora
