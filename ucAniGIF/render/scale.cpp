#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "platform/errors.h"
#include "ucAniGIF/render/renderer.h"

namespace velmora {

namespace {

enum StretchMode : std::int32_t {
  kActualSize = 0,
  kFitKeepAspect = 1,
  kFill = 2,
  kShrinkToFit = 3,
  kCanvasSize = 4,
};

// The quotients are taken in double precision and kept as 32-bit floats, as the factors are.
float Quotient(std::int32_t available, std::int32_t canvas) {
  if (canvas == 0) {
    throw platform::RuntimeError(platform::kErrDivisionByZero, std::string(kControlName),
                                 "Division by zero");
  }
  return static_cast<float>(static_cast<double>(available) / canvas);
}

std::int32_t RoundedSize(float scale, std::int32_t canvas) {
  const double rounded = std::nearbyint(double{scale} * canvas);  // halves to even
  if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
        rounded <= std::numeric_limits<std::int32_t>::max())) {
    throw platform::OverflowError(std::string(kControlName));
  }
  return static_cast<std::int32_t>(rounded);
}

// One factor for both axes: sx is kept when sx <= sy, otherwise sy serves for both.
float SmallerFactor(float qx, float qy) { return qx <= qy ? qx : qy; }

}  // namespace

void ComputeScale(const GifHeader& header, std::int32_t stretch, std::int32_t currentFrame,
                  std::int32_t& w, std::int32_t& h, float& sx, float& sy) {
  if (currentFrame == 0) return;
  const std::int32_t cw = header.CanvasWidth;
  const std::int32_t ch = header.CanvasHeight;

  switch (stretch) {
    case kActualSize:
      sx = sy = 1.0f;
      w = std::min(w, cw);
      h = std::min(h, ch);
      return;
    case kFitKeepAspect:
    case kShrinkToFit: {
      const float qx = Quotient(w, cw);
      const float qy = Quotient(h, ch);
      // Shrink-to-fit never enlarges: room to spare on both axes draws at actual size.
      const float s = stretch == kShrinkToFit && qx > 1.0f && qy > 1.0f ? 1.0f
                                                                       : SmallerFactor(qx, qy);
      const std::int32_t newW = RoundedSize(s, cw);
      const std::int32_t newH = RoundedSize(s, ch);
      sx = sy = s;
      w = newW;
      h = newH;
      return;
    }
    case kFill: {
      const float qx = Quotient(w, cw);
      const float qy = Quotient(h, ch);
      sx = qx;
      sy = qy;
      return;
    }
    case kCanvasSize:
      sx = sy = 1.0f;
      w = cw;
      h = ch;
      return;
    default:
      // The Stretch setter keeps the mode in 0..4; anything else changes nothing.
      return;
  }
}

}  // namespace velmora
