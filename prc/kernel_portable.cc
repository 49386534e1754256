// The portable kernels: plain C++, four words at a time in a 64-bit register.
#include <cstring>

#include "prc/kernel.h"

namespace prc {
namespace {

// Compilers fold this to a constant.
bool LittleEndianHost() {
  const std::uint16_t one = 1;
  std::uint8_t first = 0;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

// Compilers recognise this as their one byte-swap instruction.
std::uint64_t ByteSwap64(std::uint64_t v) {
  v = (v & 0x00FF00FF00FF00FF) << 8 | (v >> 8 & 0x00FF00FF00FF00FF);
  v = (v & 0x0000FFFF0000FFFF) << 16 | (v >> 16 & 0x0000FFFF0000FFFF);
  return v << 32 | v >> 32;
}

// One 8-byte move each way, which every compiler makes a single load or store; a load
// assembled byte by byte may stay eight loads and shifts.
std::uint64_t LoadLittle64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return LittleEndianHost() ? v : ByteSwap64(v);
}

void StoreLittle64(std::uint8_t* p, std::uint64_t v) {
  if (!LittleEndianHost()) v = ByteSwap64(v);
  std::memcpy(p, &v, sizeof v);
}

std::uint16_t LoadWord(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void StoreWord(std::uint8_t* p, std::uint16_t w) {
  p[0] = static_cast<std::uint8_t>(w);
  p[1] = static_cast<std::uint8_t>(w >> 8);
}

// One 16-bit word in each of a 64-bit value's four lanes.
constexpr std::uint64_t kEveryLane = 0x0001000100010001;

}  // namespace

std::uint16_t DescrambleWordsPortable(std::uint8_t* words, std::size_t count, std::uint16_t key) {
  // Within a 64-bit block two shifts make each lane the XOR of the lanes up to it; the
  // carry is the last plain word so far, in every lane, and takes the block's total at
  // the end of each step without waiting on the block's result.
  std::uint64_t carry = key * kEveryLane;
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    std::uint64_t x = LoadLittle64(words + 2 * i);
    x ^= x << 16;
    x ^= x << 32;
    StoreLittle64(words + 2 * i, x ^ carry);
    carry ^= (x >> 48) * kEveryLane;
  }
  auto last = static_cast<std::uint16_t>(carry);
  for (; i < count; ++i) {
    last ^= LoadWord(words + 2 * i);
    StoreWord(words + 2 * i, last);
  }
  return last;
}

std::uint16_t ScrambleWordsPortable(std::uint8_t* words, std::size_t count, std::uint16_t key) {
  // Each lane takes the lane below it, the lowest the last plain word of the block before.
  std::uint16_t previous = key;
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const std::uint64_t x = LoadLittle64(words + 2 * i);
    StoreLittle64(words + 2 * i, x ^ (x << 16) ^ previous);
    previous = static_cast<std::uint16_t>(x >> 48);
  }
  for (; i < count; ++i) {
    const std::uint16_t plain = LoadWord(words + 2 * i);
    StoreWord(words + 2 * i, static_cast<std::uint16_t>(plain ^ previous));
    previous = plain;
  }
  return previous;
}

}  // namespace prc
