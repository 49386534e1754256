// The one read and write loop of the Windows files and standard streams. Internal to the
// library's Windows files.
#ifndef PRC_IO_WINDOWS_H_
#define PRC_IO_WINDOWS_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace prc {

// Reads `handle` until `size` bytes have come or the input ends; `*count` says how many
// came, also on an error. False on an error, with GetLastError() saying which.
[[nodiscard]] bool ReadAll(HANDLE handle, std::uint8_t* data, std::size_t size, std::size_t* count);

// Writes all `size` bytes to `handle`. False on an error, with GetLastError() saying which
// (ERROR_WRITE_FAULT for a write that took nothing).
[[nodiscard]] bool WriteAll(HANDLE handle, const std::uint8_t* data, std::size_t size);

}  // namespace prc

#endif  // PRC_IO_WINDOWS_H_
