#pragma once
// A ucAniGIF attached to a headless TestHost, with the host's event log stamped with the manual
// clock's time ("120 FrameChanged 1 true"), for the control's tests.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/test_host.h"
#include "ucAniGIF/control/ucAniGIF.h"

namespace velmora::testing {

class ControlFixture {
 public:
  explicit ControlFixture(int widthPx = 4, int heightPx = 3, bool userMode = true,
                          platform::ManualClock* sharedClock = nullptr)
      : host_(widthPx, heightPx, userMode, sharedClock),
        control_(std::make_unique<ucAniGIF>(host_)) {
    host_.Attach(*control_);
    host_.Recorder().onLine = [this](std::string_view line) {
      timeline_.push_back(std::to_string(host_.Clock().Now()) + " " + std::string(line));
    };
  }
  ~ControlFixture() {
    host_.Detach();
    control_.reset();
  }
  ControlFixture(const ControlFixture&) = delete;
  ControlFixture& operator=(const ControlFixture&) = delete;

  platform::TestHost& host() { return host_; }
  ucAniGIF& control() { return *control_; }
  platform::ManualClock& clock() { return host_.Clock(); }
  platform::RecordingEvents& events() { return host_.Recorder(); }

  bool Load(std::span<const std::uint8_t> bytes) {
    return control_->LoadAnimatedGIF_Array(ByteArrayArg::FromSpan(bytes));
  }
  // Every event so far, "<ms> <event line>", then forgets them.
  std::vector<std::string> TakeTimeline() {
    std::vector<std::string> taken;
    taken.swap(timeline_);
    return taken;
  }
  const std::vector<std::string>& Timeline() const { return timeline_; }
  void DestroyControl() {
    host_.Detach();
    control_.reset();
  }

 private:
  platform::TestHost host_;
  std::unique_ptr<ucAniGIF> control_;
  std::vector<std::string> timeline_;
};

}  // namespace velmora::testing
