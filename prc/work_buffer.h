// The work buffer: the one block of memory a file is read into, decoded in and written
// from. It is taken straight from the system, which hands out memory already zeroed, so
// the zero fill costs no pass over it. One implementation per platform.
#ifndef PRC_WORK_BUFFER_H_
#define PRC_WORK_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>

namespace prc {

// The tool reads at most this many bytes of a file, header included.
inline constexpr std::size_t kWorkBufferSize = std::size_t{1} << 20;

// Gives the buffer back to the system. `mapped` is the size of the block it starts,
// where the platform needs it.
struct WorkBufferDeleter {
  std::size_t mapped = 0;
  void operator()(std::uint8_t* buffer) const;
};
using WorkBuffer = std::unique_ptr<std::uint8_t[], WorkBufferDeleter>;

// Returns a zero-filled buffer of kWorkBufferSize bytes, or null when memory is short.
[[nodiscard]] WorkBuffer NewWorkBuffer();

}  // namespace prc

#endif  // PRC_WORK_BUFFER_H_
