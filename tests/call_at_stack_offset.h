// Calls a word kernel with the stack pointer where the caller chooses, as a caller that
// keeps the stack aligned to 4 bytes only (32-bit Windows) may leave it. The build picks
// the file that defines these, one per processor family.
#ifndef TESTS_CALL_AT_STACK_OFFSET_H_
#define TESTS_CALL_AT_STACK_OFFSET_H_

#include <cstddef>
#include <cstdint>

#include "prc/kernel.h"

namespace prc::test {

// Why kernels cannot be entered at a chosen stack offset in this build, or nullptr when
// they can.
const char* WhyNoStackOffsets();

// Runs `kernel` on its three arguments with the stack pointer, at the call (where the
// arguments lie), `offset` bytes past a multiple of 16; `offset` is 0, 4, 8 or 12, and 0
// is where the System V i386 convention puts it.
std::uint16_t CallAtStackOffset(std::size_t offset, WordKernel kernel, std::uint8_t* words,
                                std::size_t count, std::uint16_t key);

}  // namespace prc::test

#endif  // TESTS_CALL_AT_STACK_OFFSET_H_
