#include "prc/container.h"

#include "prc/kernel.h"

namespace prc {

Header ReadHeader(const std::uint8_t* buffer) {
  const auto low = static_cast<std::uint16_t>(buffer[0] | buffer[1] << 8);
  const auto high = static_cast<std::uint16_t>(buffer[2] | buffer[3] << 8);
  return Header{static_cast<std::uint32_t>(low) | static_cast<std::uint32_t>(high) << 16,
                static_cast<std::uint16_t>(low + high)};
}

std::uint16_t WriteHeader(std::uint32_t payload_length, std::uint8_t* buffer) {
  for (std::size_t i = 0; i < kHeaderSize; ++i) {
    buffer[i] = static_cast<std::uint8_t>(payload_length >> (8 * i));
  }
  return static_cast<std::uint16_t>(payload_length + (payload_length >> 16));
}

void Descramble(std::uint8_t* buffer, std::size_t byte_count, std::uint16_t key) {
  if (byte_count <= kHeaderSize) return;
  // Pairs: an odd count's last pair takes in the byte just past it.
  (void)FastestKernelSet().descramble(buffer + kHeaderSize, (byte_count - kHeaderSize + 1) / 2,
                                      key);
}

std::uint16_t DescrambleWords(std::uint8_t* words, std::size_t count, std::uint16_t previous) {
  return FastestKernelSet().descramble(words, count, previous);
}

void Scramble(std::uint8_t* buffer, std::size_t byte_count, std::uint16_t key) {
  if (byte_count <= kHeaderSize) return;
  (void)FastestKernelSet().scramble(buffer + kHeaderSize, (byte_count - kHeaderSize + 1) / 2, key);
}

}  // namespace prc
