#include "prc/io_windows.h"

#include <algorithm>

namespace prc {
namespace {

// Each ReadFile or WriteFile call moves at most this much, well inside a DWORD.
constexpr std::size_t kChunk = std::size_t{1} << 30;

}  // namespace

bool ReadAll(HANDLE handle, std::uint8_t* data, std::size_t size, std::size_t* count) {
  std::size_t done = 0;
  bool read = true;
  while (done < size) {
    DWORD n = 0;
    const auto ask = static_cast<DWORD>(std::min(size - done, kChunk));
    read = ReadFile(handle, data + done, ask, &n, nullptr) != 0;
    if (!read || n == 0) break;
    done += n;
  }
  *count = done;
  return read;
}

bool WriteAll(HANDLE handle, const std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    DWORD n = 0;
    const auto ask = static_cast<DWORD>(std::min(size - done, kChunk));
    if (!WriteFile(handle, data + done, ask, &n, nullptr)) return false;
    if (n == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += n;
  }
  return true;
}

}  // namespace prc
