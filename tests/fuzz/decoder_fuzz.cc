// Fuzzes the decoder with arbitrary bytes as the start of a file: the header, the length
// guard, descrambling and its inverse, each checked against a plain model.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "prc/container.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

// The rule pair by pair: each plain pair is the scrambled pair XORed with the plain pair
// before it, the first with the key's low and high bytes.
void ModelDescramble(std::uint8_t* b, std::size_t count, std::uint8_t r0, std::uint8_t r1) {
  for (std::size_t p = 4; p < count; p += 2) {
    b[p] = static_cast<std::uint8_t>(b[p] ^ r0);
    b[p + 1] = static_cast<std::uint8_t>(b[p + 1] ^ r1);
    r0 = b[p];
    r1 = b[p + 1];
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t count = std::min(size, prc::kWorkBufferSize);
  if (count < prc::kHeaderSize) return 0;

  const std::uint32_t length =
      data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  const unsigned low = data[0] | data[1] << 8;
  const unsigned high = data[2] | data[3] << 8;
  const prc::Header header = prc::ReadHeader(data);
  Require(header.payload_length == length);
  Require(header.key == (low + high) % 65536);
  Require(prc::PayloadFits(header) == (length <= (1U << 20) - 4));

  // Exactly the room the contract asks for, so that the sanitizer sees any byte beyond.
  const std::size_t room = count + count % 2;
  const auto buffer = std::make_unique<std::uint8_t[]>(room);
  const auto model = std::make_unique<std::uint8_t[]>(room);
  std::memcpy(buffer.get(), data, count);
  std::memcpy(model.get(), data, count);
  prc::Descramble(buffer.get(), count, header.key);
  ModelDescramble(model.get(), count, static_cast<std::uint8_t>(low + high),
                  static_cast<std::uint8_t>((low + high) >> 8));
  Require(std::memcmp(buffer.get(), model.get(), room) == 0);

  prc::Scramble(buffer.get(), count, header.key);
  Require(std::memcmp(buffer.get(), data, count) == 0);
  return 0;
}
