#pragma once
// Timer callback binding: connects the platform timer, which calls a plain entry with the four
// timer arguments (window, message, timer number, time) and knows nothing of control instances,
// to one procedure of one particular control instance.
//
// Each binding owns at most one small heap object, the thunk, which carries the owner, the chosen
// procedure and the argument count. The thunk IS the timer entry (a platform::TimerEntry), so its
// address is what the timer service is given; when the service calls it, the thunk calls the
// chosen procedure of its own owner with (window, message, timer number, time, out result) and
// hands the result back. No table of instances is consulted at call time.
//
// Why no machine code is generated: the classic platform timer accepts only a bare procedure
// address, so a trampoline had to be written into executable memory to smuggle the instance in.
// Our timer services (platform/timers.h) call a TimerEntry object, which already carries its
// context; a C++ object with a virtual Call is the trampoline. This keeps every contract that
// matters -- one entry per instance, the entry reaches only its owner, re-binding keeps the
// address, release frees it -- without writable executable pages or processor-specific code.
//
// Procedure ordinals count the control's procedures backwards from the last one declared:
// ordinal 1 is OnAnimationTick, ordinal 2 is OnDeferredDecodeTick (see TimerProcedures). Instead
// of scanning a procedure table, the two procedures are named directly.
//
// Single-threaded: built, called and released on the user-interface thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/timers.h"
#include "ucAniGIF/render/control_state.h"

namespace velmora {

// The timer procedures a control offers to its binding, declared in ordinal order: the LAST one
// declared is ordinal 1. Both set `result` (0 by convention) and may kill and set timers.
class TimerProcedures {
 public:
  // Ordinal 2: the one-shot deferred-decoding timer.
  virtual void OnDeferredDecodeTick(std::uintptr_t window, std::uint32_t message,
                                    std::uintptr_t timerId, std::uint32_t time,
                                    std::int32_t& result) = 0;
  // Ordinal 1: the animation timer.
  virtual void OnAnimationTick(std::uintptr_t window, std::uint32_t message,
                               std::uintptr_t timerId, std::uint32_t time,
                               std::int32_t& result) = 0;

 protected:
  ~TimerProcedures() = default;
};

// A procedure of TimerProcedures, the "code address" a binding calls.
using TimerProcedure = void (TimerProcedures::*)(std::uintptr_t, std::uint32_t, std::uintptr_t,
                                                 std::uint32_t, std::int32_t&);

// Icon of the binding's failure messages (the platform's critical-error icon).
inline constexpr int kMessageBoxIconCritical = 0x10;

// The message-box seam. The binding's two failures are the only messages the control shows;
// they go through this handler, which tests replace to observe them.
using MessageBoxHandler =
    std::function<void(std::string_view text, std::string_view title, int icon)>;

// Installs the process-wide handler and returns the one installed before. An empty handler
// restores the default, which writes "title: text" to stderr.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

class CallbackBinding {
 public:
  // `instance` is the owner used when cb_Callback is given none (normally the control itself;
  // may be null, in which case an ownerless call finds no procedure). `typeName` names the
  // instance's type in failure titles: "Error in <typeName>.cb_Callback".
  explicit CallbackBinding(TimerProcedures* instance = nullptr, std::string typeName = std::string(kControlName));
  ~CallbackBinding();
  CallbackBinding(const CallbackBinding&) = delete;
  CallbackBinding& operator=(const CallbackBinding&) = delete;

  // Binds the thunk to procedure `ordinal` (1 OnAnimationTick, 2 OnDeferredDecodeTick) of
  // `owner` (the instance when null) and returns the entry address: reinterpret_cast of the
  // thunk's platform::TimerEntry* to uintptr_t. The thunk is allocated on the first call after
  // construction or ReleaseCallbacks; later calls rewrite it and return the same address, so a
  // timer still armed with the old binding reaches the new procedure.
  //   nThunkNo other than 0      -> message "nThunkNo doesn't exist.", returns 0
  //   no procedure for `ordinal` -> message "Callback address not found.", returns 0
  //   the thunk cannot be allocated -> returns 0, no message
  // Messages carry the critical icon and the title "Error in ucAniGIF.cb_Callback".
  // `paramCount` is recorded (the platform passes 4); the forwarding shape is fixed by
  // TimerEntry. `hostSafety` would attach a development host's run-state probe; no such host
  // exists here, so the probe slot stays empty and the run-state check is skipped either way.
  std::uintptr_t cb_Callback(std::int32_t ordinal, std::int32_t paramCount, std::int32_t nThunkNo,
                             TimerProcedures* owner, bool hostSafety);

  // The procedure `ordinal` names on `owner`, or null for a null owner or any ordinal but 1, 2.
  static TimerProcedure FindCallbackAddress(const TimerProcedures* owner, std::int32_t ordinal);

  // Frees the thunk; a timer must not be armed with it any more. The next cb_Callback builds a
  // new one (its address may differ). Harmless when nothing is bound.
  void ReleaseCallbacks();

  // The current entry, or null when no thunk exists.
  platform::TimerEntry* Entry();
  bool Bound() const { return thunk_ != nullptr; }
  // What the thunk currently carries (null / 0 when unbound).
  TimerProcedures* Owner() const;
  TimerProcedure Procedure() const;
  std::int32_t ParamCount() const;

  // Makes the next thunk allocations fail, to exercise that path.
  void SimulateAllocationFailure(bool fail) { failAllocation_ = fail; }

 private:
  class Thunk;
  TimerProcedures* instance_;
  std::string typeName_;
  std::unique_ptr<Thunk> thunk_;
  bool failAllocation_ = false;
};

}  // namespace velmora
