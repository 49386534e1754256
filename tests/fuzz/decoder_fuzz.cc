// Fuzzes the decoder with arbitrary bytes as the start of a file: the header, the length
// guard, and descrambling and its inverse, through the tool's entry points and through
// every kernel this processor runs, each checked against the byte-pair model.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "prc/container.h"
#include "prc/kernel.h"
#include "tests/byte_pair_model.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
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

  // Exactly the room the contract asks for, so that the sanitizer sees any byte beyond,
  // placed at an offset from the allocation that the input's first byte picks, so that
  // the kernels meet every alignment.
  const std::size_t room = count + count % 2;
  const std::size_t shift = data[0] % 64;
  const auto storage = std::make_unique<std::uint8_t[]>(shift + room);
  std::uint8_t* const buffer = storage.get() + shift;
  const auto model = std::make_unique<std::uint8_t[]>(room);
  std::memcpy(model.get(), data, count);
  const std::uint16_t plain_last =
      prc::model::DescramblePairs(model.get(), prc::kHeaderSize, count, header.key);
  // The input taken as plain words, scrambled.
  const auto scrambled = std::make_unique<std::uint8_t[]>(room);
  std::memcpy(scrambled.get(), data, count);
  const std::uint16_t input_last =
      prc::model::ScramblePairs(scrambled.get(), prc::kHeaderSize, count, header.key);

  std::memcpy(buffer, data, count);
  prc::Descramble(buffer, count, header.key);
  Require(std::memcmp(buffer, model.get(), room) == 0);
  prc::Scramble(buffer, count, header.key);
  Require(std::memcmp(buffer, data, count) == 0);

  const std::size_t words = (count - prc::kHeaderSize + 1) / 2;
  for (const prc::KernelSet& set : prc::KernelSets()) {
    if (!set.runs_here) continue;
    std::memcpy(buffer, data, count);
    if (count % 2) buffer[count] = 0;
    Require(set.descramble(buffer + prc::kHeaderSize, words, header.key) == plain_last);
    Require(std::memcmp(buffer, model.get(), room) == 0);
    std::memcpy(buffer, data, count);
    if (count % 2) buffer[count] = 0;
    Require(set.scramble(buffer + prc::kHeaderSize, words, header.key) == input_last);
    Require(std::memcmp(buffer, scrambled.get(), room) == 0);
  }
  return 0;
}
