// libFuzzer target: options bytes, then a GIF: load, paint every frame, re-mirror, encode the
// current frame. The input layout is described at RunLoadInput in fuzz/fuzz_entries.h.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!velmora::fuzzing::RunLoadInput({data, size}, velmora::fuzzing::kFuzzLimits))
    __builtin_trap();
  return 0;
}
