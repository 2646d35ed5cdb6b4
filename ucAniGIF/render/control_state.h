#pragma once
// The control's settings and animation state, in declared order, with their initial values. The
// renderer reads the drawing settings from it (offsets, background, stretch, mirroring); the
// control class owns it.

#include <cstdint>
#include <string_view>

namespace velmora {

// The source every run-time error of the control's own carries.
inline constexpr std::string_view kControlName = "ucAniGIF";

inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

struct ControlState {
  std::int32_t OffsetX = 0;
  std::int32_t OffsetY = 0;
  std::uint32_t SolidBkgColor = 0;      // 0x00BBGGRR, high bit: system colour
  std::int16_t SolidBkgColorUsed = 0;   // Boolean, True = -1
  std::int16_t MinFrameDelay = 50;
  std::int16_t LoopsRemaining = 0;
  std::int32_t Action = 0;              // 0 stopped, 1 playing, 2 paused
  std::int32_t Stretch = 1;
  std::int32_t CurrentFrame = 0;        // 0 = nothing loaded
  std::int32_t DelayAnimation = 1;
  std::int32_t Mirrored = 0;            // 0..3, plus 0x20 while only frame 1 is mirrored
  std::int32_t SteppedDelay = 0;
};

}  // namespace velmora
