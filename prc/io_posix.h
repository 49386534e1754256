// The one read and write loop of the POSIX files and standard streams. Internal to the
// library's POSIX files.
#ifndef PRC_IO_POSIX_H_
#define PRC_IO_POSIX_H_

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace prc {

// Calls `call` until it is not interrupted by a signal.
template <typename Call>
auto Retry(Call call) {
  auto result = call();
  while (result < 0 && errno == EINTR) result = call();
  return result;
}

// Reads `fd` until `size` bytes have come or the input ends; `*count` says how many came.
// False on an error, with errno saying which.
[[nodiscard]] bool ReadAll(int fd, std::uint8_t* data, std::size_t size, std::size_t* count);

// Writes all `size` bytes to `fd`. False on an error, with errno saying which (EIO for a
// write that took nothing).
[[nodiscard]] bool WriteAll(int fd, const std::uint8_t* data, std::size_t size);

}  // namespace prc

#endif  // PRC_IO_POSIX_H_
