#pragma once
// The number of the run-time error a call throws, for tests of calls that report errors that way.

#include <functional>

#include "platform/errors.h"

namespace velmora::testing {

// The Number() of the platform::RuntimeError `call` throws; 0 when it returns normally.
inline int ErrorNumber(const std::function<void()>& call) {
  try {
    call();
  } catch (const platform::RuntimeError& e) {
    return e.Number();
  }
  return 0;
}

}  // namespace velmora::testing
