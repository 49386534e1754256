// The Windows handle as the folder and its files hold it: owned and closed once, described,
// marked, and opened again for a moment while another process holds the file. Internal to
// the library's Windows files.
#ifndef PRC_HANDLE_WINDOWS_H_
#define PRC_HANDLE_WINDOWS_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <utility>

#include "prc/folder.h"

namespace prc {

// What a handle shares when it should stand in nobody's way.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The marks a restored file takes over from its input.
inline constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

// How long the input's open and a removal are tried again while another process (a virus
// scanner, an indexer, a backup) holds the file for a moment, and how long it waits
// between tries.
inline constexpr DWORD kRetryMilliseconds = 2000;
inline constexpr DWORD kRetryPauseMilliseconds = 50;

// Whether the error says another process holds the file for now, so a later try to remove
// it may work.
[[nodiscard]] bool HeldForNow(DWORD error);

// Whether the error says another process has the file open in a way that a later try to
// open it may not meet.
[[nodiscard]] bool SharedForNow(DWORD error);

// Calls `step` until it succeeds, or fails with an error `again` does not take for one of
// the moment, or the time for tries is up. The last call's result, with its error left for
// GetLastError.
template <typename Step>
bool Retried(Step step, bool (*again)(DWORD)) {
  const ULONGLONG until = GetTickCount64() + kRetryMilliseconds;
  for (;;) {
    if (step()) return true;
    const DWORD error = GetLastError();
    if (!again(error) || GetTickCount64() >= until) {
      SetLastError(error);
      return false;
    }
    Sleep(kRetryPauseMilliseconds);
  }
}

// Owns one handle; closes it once.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }

  [[nodiscard]] HANDLE get() const { return handle_; }
  [[nodiscard]] HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
  [[nodiscard]] bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    if (!valid()) return true;
    HANDLE h = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0;
  }

 private:
  HANDLE handle_;
};

// What the file open as `handle` is; a default FileInfo when it cannot be asked. A link or
// junction is no regular file; every file counts as the caller's, since access comes from
// the folder's inherited list, and its read-only and hidden marks are kept.
[[nodiscard]] FileInfo InfoOf(HANDLE handle);

// Locks one byte far past any end a file can have, to say "a live run holds this file":
// readers and writers of the data are not blocked, only other lockers of that byte. False
// when another handle holds it.
[[nodiscard]] bool LockMarkByte(HANDLE handle);

// Gives the file open as `handle` the attributes `bits` among those in `mask`; the others
// (the archive mark a new file gets) stay as they are.
[[nodiscard]] bool SetAttributes(HANDLE handle, DWORD mask, DWORD bits);

// Removes the file open as `handle`, which must have been opened with DELETE access; the
// read-only mark, which the system's removal refuses, is taken off first.
[[nodiscard]] bool RemoveOpened(HANDLE handle);

}  // namespace prc

#endif  // PRC_HANDLE_WINDOWS_H_
