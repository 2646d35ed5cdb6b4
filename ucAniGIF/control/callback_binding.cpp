#include "ucAniGIF/control/callback_binding.h"

#include <cstdio>
#include <new>
#include <utility>

namespace velmora {

namespace {

constexpr std::int32_t kOrdinalAnimationTick = 1;
constexpr std::int32_t kOrdinalDeferredDecodeTick = 2;
// The binding has room for exactly one thunk per instance.
constexpr std::int32_t kOnlyThunk = 0;

constexpr std::string_view kNoSuchThunk = "nThunkNo doesn't exist.";
constexpr std::string_view kProcedureNotFound = "Callback address not found.";

void WriteToStderr(std::string_view text, std::string_view title, int /*icon*/) {
  std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(title.size()), title.data(),
               static_cast<int>(text.size()), text.data());
}

MessageBoxHandler& InstalledHandler() {
  static MessageBoxHandler handler;
  return handler;
}

void ShowMessageBox(std::string_view text, std::string_view title) {
  const MessageBoxHandler& handler = InstalledHandler();
  if (handler) {
    handler(text, title, kMessageBoxIconCritical);
    return;
  }
  WriteToStderr(text, title, kMessageBoxIconCritical);
}

}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  return std::exchange(InstalledHandler(), std::move(handler));
}

class CallbackBinding::Thunk final : public platform::TimerEntry {
 public:
  std::uint32_t Call(std::uintptr_t window, std::uint32_t message, std::uintptr_t timerId,
                     std::uint32_t time) override {
    // The generated trampoline returned without calling when its procedure address was not
    // code; an unset owner or procedure is the same situation here.
    if (owner == nullptr || procedure == nullptr) {
      return 0;
    }
    std::int32_t result = 0;
    (owner->*procedure)(window, message, timerId, time, result);
    return static_cast<std::uint32_t>(result);
  }

  TimerProcedures* owner = nullptr;
  TimerProcedure procedure = nullptr;
  std::int32_t paramCount = 0;
};

CallbackBinding::CallbackBinding(TimerProcedures* instance, std::string typeName)
    : instance_(instance), typeName_(std::move(typeName)) {}

CallbackBinding::~CallbackBinding() = default;

std::uintptr_t CallbackBinding::cb_Callback(std::int32_t ordinal, std::int32_t paramCount,
                                            std::int32_t nThunkNo, TimerProcedures* owner,
                                            bool hostSafety) {
  const std::string title = "Error in " + typeName_ + ".cb_Callback";
  if (nThunkNo != kOnlyThunk) {
    ShowMessageBox(kNoSuchThunk, title);
    return 0;
  }
  if (owner == nullptr) {
    owner = instance_;
  }
  const TimerProcedure procedure = FindCallbackAddress(owner, ordinal);
  if (procedure == nullptr) {
    ShowMessageBox(kProcedureNotFound, title);
    return 0;
  }
  if (!thunk_) {
    if (failAllocation_) {
      return 0;
    }
    thunk_.reset(new (std::nothrow) Thunk);
    if (!thunk_) {
      return 0;
    }
  }
  thunk_->owner = owner;
  thunk_->procedure = procedure;
  thunk_->paramCount = paramCount;
  // hostSafety would store the development host's run-state probe, which is never present
  // outside that host; an empty probe means the check is skipped, so nothing is stored.
  static_cast<void>(hostSafety);
  return reinterpret_cast<std::uintptr_t>(static_cast<platform::TimerEntry*>(thunk_.get()));
}

TimerProcedure CallbackBinding::FindCallbackAddress(const TimerProcedures* owner,
                                                    std::int32_t ordinal) {
  if (owner == nullptr) {
    return nullptr;
  }
  switch (ordinal) {
    case kOrdinalAnimationTick:
      return &TimerProcedures::OnAnimationTick;
    case kOrdinalDeferredDecodeTick:
      return &TimerProcedures::OnDeferredDecodeTick;
    default:
      return nullptr;
  }
}

void CallbackBinding::ReleaseCallbacks() { thunk_.reset(); }

platform::TimerEntry* CallbackBinding::Entry() { return thunk_.get(); }

TimerProcedures* CallbackBinding::Owner() const { return thunk_ ? thunk_->owner : nullptr; }

TimerProcedure CallbackBinding::Procedure() const {
  return thunk_ ? thunk_->procedure : nullptr;
}

std::int32_t CallbackBinding::ParamCount() const { return thunk_ ? thunk_->paramCount : 0; }

}  // namespace velmora
