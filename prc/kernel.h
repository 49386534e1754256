// The descrambling kernels: the chained XOR over little-endian 16-bit words, in place,
// and its inverse. Internal to the library; container.h states the rule.
#ifndef PRC_KERNEL_H_
#define PRC_KERNEL_H_

#include <cstddef>
#include <cstdint>

namespace prc {

// Descrambles the `count` words at `words`: each becomes itself XORed with the plain word
// before it, the first with `key`. Returns the last plain word (`key` when `count` is 0),
// so a later call can go on from there.
using WordKernel = std::uint16_t (*)(std::uint8_t* words, std::size_t count, std::uint16_t key);

// Plain C++, for any processor: four words at a time in a 64-bit register.
std::uint16_t DescrambleWordsPortable(std::uint8_t* words, std::size_t count, std::uint16_t key);

// Scrambles the `count` words at `words`: each becomes itself XORed with the plain word
// before it, the first with `key`. Returns the last plain word (`key` when `count` is 0).
// No word depends on another's result, so this needs no prefix pass: plain C++ that
// the compiler vectorises.
std::uint16_t ScrambleWordsPortable(std::uint8_t* words, std::size_t count, std::uint16_t key);

// The fastest kernel this processor runs, chosen once. The build picks the file that
// defines it, one per processor family.
WordKernel FastestKernel();

}  // namespace prc

#endif  // PRC_KERNEL_H_
