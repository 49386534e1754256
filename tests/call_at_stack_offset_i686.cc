// 32-bit x86: a trampoline that aligns the stack to 16 bytes, moves it down by the offset
// asked for, lays the kernel's arguments there (cdecl) and calls it.
#include "tests/call_at_stack_offset.h"

extern "C" std::uint32_t prc_test_call_at_stack_offset(std::uint32_t offset, prc::WordKernel kernel,
                                                       std::uint8_t* words, std::uint32_t count,
                                                       std::uint32_t key);

// On entry: offset at 4(%esp), kernel 8, words 12, count 16, key 20; after the frame
// pointer is pushed, each 4 bytes further.
asm(R"(
  .pushsection .text
  .globl prc_test_call_at_stack_offset
  .type prc_test_call_at_stack_offset, @function
prc_test_call_at_stack_offset:
  pushl %ebp
  movl %esp, %ebp
  movl 8(%ebp), %ecx
  movl 12(%ebp), %eax
  andl $-16, %esp
  subl $32, %esp
  addl %ecx, %esp
  movl 16(%ebp), %edx
  movl %edx, (%esp)
  movl 20(%ebp), %edx
  movl %edx, 4(%esp)
  movl 24(%ebp), %edx
  movl %edx, 8(%esp)
  calll *%eax
  movl %ebp, %esp
  popl %ebp
  retl
  .size prc_test_call_at_stack_offset, .-prc_test_call_at_stack_offset
  .popsection
)");

namespace prc::test {

const char* WhyNoStackOffsets() { return nullptr; }

std::uint16_t CallAtStackOffset(std::size_t offset, WordKernel kernel, std::uint8_t* words,
                                std::size_t count, std::uint16_t key) {
  return static_cast<std::uint16_t>(prc_test_call_at_stack_offset(
      static_cast<std::uint32_t>(offset), kernel, words, static_cast<std::uint32_t>(count), key));
}

}  // namespace prc::test
