// libFuzzer target: the load target's input (options bytes, then a GIF) for the big GIFs that
// fuzz_load only parses, loaded, painted, re-mirrored and encoded in full. Slow by design (a few
// inputs a second); the input layout is described at RunLoadInput in fuzz/fuzz_entries.h.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!velmora::fuzzing::RunLoadInput({data, size}, velmora::fuzzing::kHugeLimits)) {
    __builtin_trap();
  }
  return 0;
}
