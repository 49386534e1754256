// What the POSIX work buffer (work_buffer_posix.cc) does beyond work_buffer.h, for its
// tests.
#ifndef PRC_WORK_BUFFER_POSIX_H_
#define PRC_WORK_BUFFER_POSIX_H_

#include <cstddef>
#include <cstdint>

namespace prc {

// The size and alignment of the block the buffer starts: that of a huge page on the
// processors that have one of 2 MiB, and a multiple of every smaller page size.
inline constexpr std::size_t kBlockSize = std::size_t{2} << 20;

// Of `mapping`, 2 * kBlockSize bytes mapped at any page boundary, unmaps all but the
// kBlockSize bytes at the first multiple of kBlockSize in it, and returns those. Nothing
// outside the mapping is touched.
std::uint8_t* CarveAlignedBlock(std::uint8_t* mapping);

}  // namespace prc

#endif  // PRC_WORK_BUFFER_POSIX_H_
