// A check of a fresh work buffer, shared by the portable and the POSIX tests.
#ifndef TESTS_FRESH_BUFFER_H_
#define TESTS_FRESH_BUFFER_H_

#include <algorithm>
#include <cstdint>

#include "prc/work_buffer.h"

namespace prc::test {

// Whether a fresh buffer is zero to its last byte and takes a write there.
// Allocates nothing beside the buffer, so that it can run under an address-space limit.
inline bool FreshBufferIsWholeAndZero() {
  const WorkBuffer buffer = NewWorkBuffer();
  if (buffer == nullptr) return false;
  const bool zero = std::all_of(buffer.get(), buffer.get() + kWorkBufferSize,
                                [](std::uint8_t b) { return b == 0; });
  buffer[kWorkBufferSize - 1] = 1;
  return zero;
}

}  // namespace prc::test

#endif  // TESTS_FRESH_BUFFER_H_
