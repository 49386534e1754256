#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>

#include "prc/file.h"

namespace prc {
namespace {

// The handle is kept as an integer so that the class looks the same on every platform.
HANDLE Handle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);  // NOLINT(performance-no-int-to-ptr)
}

// Whether `handle` is a plain file on disk: not a directory, a device, a pipe or a link.
bool IsRegularFile(HANDLE handle, bool want_single_link) {
  if (GetFileType(handle) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return false;
  constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  return (info.dwFileAttributes & kNotPlain) == 0 &&
         (!want_single_link || info.nNumberOfLinks == 1);
}

// Each ReadFile or WriteFile call moves at most this much, well inside a DWORD.
constexpr std::size_t kChunk = std::size_t{1} << 30;

}  // namespace

File::~File() { Close(); }

bool File::OpenForReading(const std::string& path) {
  // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open at all.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(h);
  if (!IsRegularFile(h, false)) {
    Close();
    return false;
  }
  return true;
}

bool File::CreateForWriting(const std::string& path) {
  // FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link or junction itself, which the
  // check below then refuses, instead of the file it leads to.
  constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, kFlags, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kFlags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(h);
  if (!IsRegularFile(h, true) || !SetEndOfFile(h)) {  // at offset 0: truncates
    Close();
    return false;
  }
  return true;
}

bool File::ReadFull(std::uint8_t* data, std::size_t size, std::size_t* count) {
  std::size_t done = 0;
  while (done < size) {
    DWORD n = 0;
    const auto ask = static_cast<DWORD>(std::min(size - done, kChunk));
    if (!ReadFile(Handle(handle_), data + done, ask, &n, nullptr)) return false;
    if (n == 0) break;
    done += n;
  }
  *count = done;
  return true;
}

bool File::WriteFull(const std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    DWORD n = 0;
    const auto ask = static_cast<DWORD>(std::min(size - done, kChunk));
    if (!WriteFile(Handle(handle_), data + done, ask, &n, nullptr) || n == 0) return false;
    done += n;
  }
  return true;
}

// Access on Windows comes from the folder's inherited access list, not from bits the
// file carries, so there is nothing to copy.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static): per-platform interface
bool File::SetPermissions(std::uint32_t /*permissions*/) { return true; }

bool File::Sync() { return FlushFileBuffers(Handle(handle_)) != 0; }

bool File::Close() {
  if (handle_ == -1) return true;
  HANDLE h = Handle(handle_);
  handle_ = -1;
  return CloseHandle(h) != 0;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

}  // namespace prc
