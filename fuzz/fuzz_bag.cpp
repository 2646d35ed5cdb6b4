// libFuzzer target: A serialised property bag: parse, round trip, restore a control from it, save
// it again. The input layout is described at RunBagInput in fuzz/fuzz_entries.h.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!velmora::fuzzing::RunBagInput({data, size}, velmora::fuzzing::kFuzzLimits)) __builtin_trap();
  return 0;
}
