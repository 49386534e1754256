// Builds whose kernels are never entered with less than 16-byte stack alignment: 64-bit
// x86 (both the System V and the Windows x64 conventions keep 16) and every other family.
#include "tests/call_at_stack_offset.h"

namespace prc::test {

const char* WhyNoStackOffsets() {
  return "this build's calling convention always keeps the stack aligned to 16 bytes; only "
         "32-bit x86 code may be entered with it aligned to 4";
}

std::uint16_t CallAtStackOffset(std::size_t /*offset*/, WordKernel kernel, std::uint8_t* words,
                                std::size_t count, std::uint16_t key) {
  return kernel(words, count, key);
}

}  // namespace prc::test
