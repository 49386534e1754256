#include "prc/io_posix.h"

#include <unistd.h>

namespace prc {

bool ReadAll(int fd, std::uint8_t* data, std::size_t size, std::size_t* count) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = Retry([&] { return read(fd, data + done, size - done); });
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  *count = done;
  return true;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = Retry([&] { return write(fd, data + done, size - done); });
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace prc
