// The word kernels: the chained XOR over little-endian 16-bit words, in place, in both
// directions, one set per instruction set, and the choice among them. Internal to the
// library; container.h states the rule.
#ifndef PRC_KERNEL_H_
#define PRC_KERNEL_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace prc {

// A kernel works on the `count` words at `words`, which need no alignment, and returns
// the plain word it ends with (`key` when `count` is 0), so that a later call can go on
// from there as if both were one.
//  - Descrambling: each word becomes itself XORed with the plain word before it, the
//    first with `key`; the last word descrambled is returned.
//  - Scrambling, its inverse: each plain word becomes itself XORed with the plain word
//    before it, the first with `key`; the last word as it was on entry is returned.
using WordKernel = std::uint16_t (*)(std::uint8_t* words, std::size_t count, std::uint16_t key);

// The kernels written for one instruction set.
struct KernelSet {
  const char* name;  // the instruction set: "portable", "sse2", "avx2", "avx512"
  bool runs_here;    // whether this processor has that instruction set
  WordKernel descramble;
  WordKernel scramble;
};

// Plain C++, for any processor: four words at a time in a 64-bit register. The vector
// kernels use them for the words before their first aligned block and after their last.
std::uint16_t DescrambleWordsPortable(std::uint8_t* words, std::size_t count, std::uint16_t key);
std::uint16_t ScrambleWordsPortable(std::uint8_t* words, std::size_t count, std::uint16_t key);

// Every kernel set this build holds, the portable one first, each one after it faster
// than the one before where the processor runs it. Which run here is decided once, at the
// first call; the build picks the file that defines this, one per processor family.
const std::vector<KernelSet>& KernelSets();

// The fastest set that runs on this processor: the last in KernelSets() that does.
const KernelSet& FastestKernelSet();

}  // namespace prc

#endif  // PRC_KERNEL_H_
