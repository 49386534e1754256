// The rule as first stated, pair by pair: the one model that the unit tests and the fuzz
// target hold every kernel to. Deliberately naive: bytes, not words; no blocks.
#ifndef TESTS_BYTE_PAIR_MODEL_H_
#define TESTS_BYTE_PAIR_MODEL_H_

#include <cstddef>
#include <cstdint>

namespace prc::model {

// For p = `begin`, `begin` + 2, ... while p < `end`: the pair at p becomes itself XORed
// with the running pair, first the key's low and high bytes, then the pair just made
// plain. The pair at the last p may reach one byte past `end`. Returns the last plain
// pair as a little-endian word (`key` when there is none).
inline std::uint16_t DescramblePairs(std::uint8_t* buffer, std::size_t begin, std::size_t end,
                                     std::uint16_t key) {
  auto r0 = static_cast<std::uint8_t>(key & 0xFF);
  auto r1 = static_cast<std::uint8_t>(key >> 8);
  for (std::size_t p = begin; p < end; p += 2) {
    buffer[p] ^= r0;
    buffer[p + 1] ^= r1;
    r0 = buffer[p];
    r1 = buffer[p + 1];
  }
  return static_cast<std::uint16_t>(r0 | r1 << 8);
}

// The inverse: each plain pair becomes itself XORed with the plain pair before it, the
// first with the key's bytes. Returns the last pair as it was before (`key` when none).
inline std::uint16_t ScramblePairs(std::uint8_t* buffer, std::size_t begin, std::size_t end,
                                   std::uint16_t key) {
  auto r0 = static_cast<std::uint8_t>(key & 0xFF);
  auto r1 = static_cast<std::uint8_t>(key >> 8);
  for (std::size_t p = begin; p < end; p += 2) {
    const std::uint8_t plain0 = buffer[p];
    const std::uint8_t plain1 = buffer[p + 1];
    buffer[p] ^= r0;
    buffer[p + 1] ^= r1;
    r0 = plain0;
    r1 = plain1;
  }
  return static_cast<std::uint16_t>(r0 | r1 << 8);
}

}  // namespace prc::model

#endif  // TESTS_BYTE_PAIR_MODEL_H_
