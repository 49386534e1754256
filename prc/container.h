// The scrambled container.
//
// A container is a 4-byte little-endian payload length followed by the scrambled
// payload: 16-bit little-endian words, each XORed with the plain word before it, the
// first with a key derived from the length. Everything here is pure computation on
// memory: nothing reads or writes files. The first call that scrambles or descrambles
// picks the fastest kernel set this processor runs, once, and builds the small table of
// sets (see KernelSets in kernel.h), its one allocation; later calls allocate nothing.
// The work buffer it is decoded in, and whose size bounds it, is in work_buffer.h.
#ifndef PRC_CONTAINER_H_
#define PRC_CONTAINER_H_

#include <cstddef>
#include <cstdint>

#include "prc/work_buffer.h"

namespace prc {

inline constexpr std::size_t kHeaderSize = 4;
// The longest payload that lies wholly inside the work buffer.
inline constexpr std::uint32_t kMaxPayloadLength = kWorkBufferSize - kHeaderSize;

struct Header {
  std::uint32_t payload_length;
  std::uint16_t key;
};

// Parses the first kHeaderSize bytes of `buffer`. The key is the sum of the length's low
// and high 16-bit words, modulo 65536.
[[nodiscard]] Header ReadHeader(const std::uint8_t* buffer);

// Writes the header of a container whose payload is `payload_length` bytes to the first
// kHeaderSize bytes of `buffer`, and returns the key ReadHeader derives from it: the
// inverse of ReadHeader.
[[nodiscard]] std::uint16_t WriteHeader(std::uint32_t payload_length, std::uint8_t* buffer);

// Whether a payload of `header.payload_length` bytes, starting after the header, lies
// inside the work buffer. A header that fails this cannot be decoded.
[[nodiscard]] inline bool PayloadFits(const Header& header) {
  return header.payload_length <= kMaxPayloadLength;
}

// Descrambles in place the bytes of `buffer` from kHeaderSize up to `byte_count`, in
// pairs. When `byte_count` is odd the last pair takes in the byte at `byte_count`, so
// `buffer` must hold at least `byte_count` rounded up to an even number of bytes (the
// work buffer always does: its size is even). Does nothing when `byte_count` is at most
// kHeaderSize.
void Descramble(std::uint8_t* buffer, std::size_t byte_count, std::uint16_t key);

// Descrambles in place the `count` little-endian words at `words`, which continue a payload
// whose plain word just before them is `previous` (the key, before the payload's first
// word), and returns the last plain word (`previous` when `count` is 0). A payload
// descrambled piece by piece, each piece given what the one before returned, comes out as
// Descramble gives it whole; so it can be restored through a buffer smaller than itself.
[[nodiscard]] std::uint16_t DescrambleWords(std::uint8_t* words, std::size_t count,
                                            std::uint16_t previous);

// The exact inverse of Descramble, with the same contract: after Scramble then
// Descramble with the same key, the bytes are as they were.
void Scramble(std::uint8_t* buffer, std::size_t byte_count, std::uint16_t key);

}  // namespace prc

#endif  // PRC_CONTAINER_H_
