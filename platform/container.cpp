#include "platform/container.h"

#include <string>

#include "platform/errors.h"

namespace velmora::platform {

double TwipsPerUnit(int unit, bool vertical, double twipsPerPixel, std::string_view source) {
  constexpr int kErrInvalidArgument = 5;
  switch (unit) {
    case 0:
    case kUnitPixels:
      return twipsPerPixel;
    case kUnitTwips:
    case kUnitContainerPosition:
    case kUnitContainerSize:
      return 1.0;
    case 2:
      return 20.0;
    case 4:
      // A character cell is 120 twips wide and 240 high.
      return vertical ? 240.0 : 120.0;
    case 5:
      return 1440.0;
    case 6:
      return 1440.0 / 25.4;
    case 7:
      return 1440.0 / 2.54;
    default:
      throw RuntimeError(kErrInvalidArgument, std::string(source),
                         "Invalid procedure call or argument");
  }
}

}  // namespace velmora::platform
