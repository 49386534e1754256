#include "prc/container.h"

#include "prc/kernel.h"

namespace prc {

Header ReadHeader(const std::uint8_t* buffer) {
  const auto low = static_cast<std::uint16_t>(buffer[0] | buffer[1] << 8);
  const auto high = static_cast<std::uint16_t>(buffer[2] | buffer[3] << 8);
  return Header{static_cast<std::uint32_t>(low) | static_cast<std::uint32_t>(high) << 16,
                static_cast<std::uint16_t>(low + high)};
}

void Descramble(std::uint8_t* buffer, std::size_t byte_count, std::uint16_t key) {
  if (byte_count <= kHeaderSize) return;
  // Pairs: an odd count's last pair takes in the byte just past it.
  FastestKernel()(buffer + kHeaderSize, (byte_count - kHeaderSize + 1) / 2, key);
}

void Scramble(std::uint8_t* buffer, std::size_t byte_count, std::uint16_t key) {
  auto r0 = static_cast<std::uint8_t>(key & 0xFF);
  auto r1 = static_cast<std::uint8_t>(key >> 8);
  for (std::size_t p = kHeaderSize; p < byte_count; p += 2) {
    const std::uint8_t plain0 = buffer[p];
    const std::uint8_t plain1 = buffer[p + 1];
    buffer[p] ^= r0;
    buffer[p + 1] ^= r1;
    r0 = plain0;
    r1 = plain1;
  }
}

}  // namespace prc
