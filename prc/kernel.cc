#include "prc/kernel.h"

#include <cstring>

namespace prc {
namespace {

std::uint64_t LoadLittle64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

void StoreLittle64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
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
    last ^= static_cast<std::uint16_t>(words[2 * i] | words[2 * i + 1] << 8);
    words[2 * i] = static_cast<std::uint8_t>(last);
    words[2 * i + 1] = static_cast<std::uint8_t>(last >> 8);
  }
  return last;
}

std::uint16_t ScrambleWordsPortable(std::uint8_t* words, std::size_t count, std::uint16_t key) {
  if (count == 0) return key;
  const auto last = static_cast<std::uint16_t>(words[2 * count - 2] | words[2 * count - 1] << 8);
  // From the end back, each word takes the word before it, still plain: eight bytes at a
  // time XORed with the eight that start one word earlier. No step waits on another, so
  // the compiler vectorises it. A byte-wise XOR, so the byte order does not matter.
  std::size_t i = count;
  while (i >= 5) {
    i -= 4;
    std::uint64_t x = 0;
    std::uint64_t before = 0;
    std::memcpy(&x, words + 2 * i, sizeof x);
    std::memcpy(&before, words + 2 * i - 2, sizeof before);
    x ^= before;
    std::memcpy(words + 2 * i, &x, sizeof x);
  }
  for (; i > 1; --i) {
    words[2 * i - 2] ^= words[2 * i - 4];
    words[2 * i - 1] ^= words[2 * i - 3];
  }
  words[0] ^= static_cast<std::uint8_t>(key);
  words[1] ^= static_cast<std::uint8_t>(key >> 8);
  return last;
}

}  // namespace prc
