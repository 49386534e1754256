// The x86 vector kernels, 32-bit and 64-bit alike, each built for its instruction set
// alone; kernel_dispatch_x86.cc calls one only where the processor has that set.
#ifndef PRC_KERNEL_X86_H_
#define PRC_KERNEL_X86_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "prc/kernel.h"

// A vector kernel is compiled for `isa` whatever the build's baseline, and realigns the
// stack on entry: 32-bit Windows promises only 4 bytes, and a vector spilled to a slot
// the compiler believed aligned would fault.
#define PRC_VECTOR_KERNEL(isa) __attribute__((target(isa), force_align_arg_pointer))

namespace prc {

// 8 words (128 bits) per step.
std::uint16_t DescrambleWordsSse2(std::uint8_t* words, std::size_t count, std::uint16_t key);
std::uint16_t ScrambleWordsSse2(std::uint8_t* words, std::size_t count, std::uint16_t key);

// 16 words (256 bits) per step.
std::uint16_t DescrambleWordsAvx2(std::uint8_t* words, std::size_t count, std::uint16_t key);
std::uint16_t ScrambleWordsAvx2(std::uint8_t* words, std::size_t count, std::uint16_t key);

// 32 words (512 bits) per step; needs AVX-512 F and BW.
std::uint16_t DescrambleWordsAvx512(std::uint8_t* words, std::size_t count, std::uint16_t key);
std::uint16_t ScrambleWordsAvx512(std::uint8_t* words, std::size_t count, std::uint16_t key);

// What the processor reports having, of the instruction sets the kernels use.
struct X86Features {
  bool sse2;
  bool avx2;
  bool avx512f;
  bool avx512bw;
};

// The features of the processor this runs on, as far as the system lets a process use
// them.
X86Features X86FeaturesHere();

// Every x86 kernel set, in the order of KernelSets(), each marked as running where
// `features` holds all that its kernels use: the AVX-512 kernels need both F and BW, and
// a processor with F alone would fault on their first word instruction.
std::vector<KernelSet> X86KernelSets(const X86Features& features);

// How many words come before the first one at a multiple of `alignment` bytes from
// `words`, at most `count`: the vector kernels take those with the portable one, as
// loads and stores that straddle two cache lines cost about twice as much.
inline std::size_t WordsBeforeAlignment(const std::uint8_t* words, std::size_t count,
                                        std::size_t alignment) {
  const std::size_t head =
      (alignment - reinterpret_cast<std::uintptr_t>(words) % alignment) % alignment / 2;
  return head < count ? head : count;
}

}  // namespace prc

#endif  // PRC_KERNEL_X86_H_
