// libFuzzer target: The GIF LZW decoder alone, into rows fenced by guard bytes.
// The input layout is described at RunLzwInput in fuzz/fuzz_entries.h.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!velmora::fuzzing::RunLzwInput({data, size})) __builtin_trap();
  return 0;
}
