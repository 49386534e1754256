#include "prc/handle_windows.h"

#include <cstdint>

#include "prc/folder.h"

namespace prc {
namespace {

// Whether a reparse point of this kind makes its name lead somewhere else: a symbolic link
// or a junction. Other kinds (a cloud file's placeholder, a deduplicated or compressed
// file) are read as the files they are.
bool IsLinkTag(DWORD tag) {
  return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

}  // namespace

bool HeldForNow(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

bool SharedForNow(DWORD error) { return error == ERROR_SHARING_VIOLATION; }

FileInfo InfoOf(HANDLE handle) {
  FileInfo info;
  BY_HANDLE_FILE_INFORMATION data{};
  if (!GetFileInformationByHandle(handle, &data)) return info;
  info.device = data.dwVolumeSerialNumber;
  info.number = static_cast<std::uint64_t>(data.nFileIndexHigh) << 32 | data.nFileIndexLow;
  bool link = false;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    // A reparse point of unknown kind counts as a link.
    link = !GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
           IsLinkTag(tag.ReparseTag);
  }
  // A plain file on disk: not a directory, a device, a pipe, a link or a junction.
  info.regular = GetFileType(handle) == FILE_TYPE_DISK &&
                 (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && !link;
  info.links = data.nNumberOfLinks;
  // Access comes from the folder's inherited access list, not from an owner and bits the
  // file carries; a file the caller can open counts as the caller's.
  info.owned_by_caller = true;
  info.attributes = data.dwFileAttributes & kCarriedAttributes;
  return info;
}

bool LockMarkByte(HANDLE handle) {
  OVERLAPPED at{};
  at.Offset = 0xFFFFFFFE;
  at.OffsetHigh = 0x7FFFFFFF;
  return LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

bool SetAttributes(HANDLE handle, DWORD mask, DWORD bits) {
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) return false;
  const DWORD attributes = (basic.FileAttributes & ~mask) | (bits & mask);
  if (attributes == basic.FileAttributes) return true;
  basic = FILE_BASIC_INFO{};  // times of zero are left as they are
  basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
}

bool RemoveOpened(HANDLE handle) {
  if (!SetAttributes(handle, FILE_ATTRIBUTE_READONLY, 0)) return false;
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

}  // namespace prc
