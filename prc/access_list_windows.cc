#include "prc/access_list_windows.h"

#include <string>

#include "prc/folder.h"
#include "prc/handle_windows.h"

namespace prc {
namespace {

// The stream in which Windows keeps where a downloaded file came from (its zone), and the
// most of it that is carried.
constexpr wchar_t kOriginStream[] = L":Zone.Identifier";
constexpr DWORD kMaxOriginMark = DWORD{1} << 16;

// Whether the file system that holds the file open as `handle` is known to lack `feature`:
// FILE_PERSISTENT_ACLS (FAT and exFAT keep no access lists) or FILE_NAMED_STREAMS.
bool Lacks(HANDLE handle, DWORD feature) {
  DWORD flags = 0;
  return GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
         (flags & feature) == 0;
}

// Reads into `*list` the access list of the file open as `handle`, as ReadCarried says.
bool ReadAccessList(HANDLE handle, std::string* list) {
  list->clear();
  if (Lacks(handle, FILE_PERSISTENT_ACLS)) return true;
  DWORD size = 0;
  (void)GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  while (size > 0) {
    list->resize(size);
    if (GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, list->data(), size, &size)) {
      list->resize(GetSecurityDescriptorLength(list->data()));
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;  // else it grew meanwhile
  }
  list->clear();
  return false;
}

// Reads into `*mark` the origin mark of the file open as `handle` at `path`, as
// ReadCarried says: its stream is opened by the path.
bool ReadOriginMark(HANDLE handle, const std::wstring& path, std::string* mark) {
  mark->clear();
  if (Lacks(handle, FILE_NAMED_STREAMS)) return true;
  const Handle stream(CreateFileW((path + kOriginStream).c_str(), GENERIC_READ, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!stream.valid()) return GetLastError() == ERROR_FILE_NOT_FOUND;
  DWORD size = 0;
  mark->resize(kMaxOriginMark + 1);
  if (!InfoOf(stream.get()).SameFileAs(InfoOf(handle)) ||
      !ReadFile(stream.get(), mark->data(), kMaxOriginMark + 1, &size, nullptr) ||
      size > kMaxOriginMark) {
    mark->clear();
    return false;
  }
  mark->resize(size);
  return true;
}

}  // namespace

bool ReadCarried(HANDLE handle, const std::wstring& path, FileInfo* info) {
  return ReadAccessList(handle, &info->access_list) &&
         ReadOriginMark(handle, path, &info->origin_mark);
}

bool GiveCarried(HANDLE handle, const std::wstring& path, const FileInfo& like) {
  const bool marked = !like.origin_mark.empty() && !Lacks(handle, FILE_NAMED_STREAMS);
  const Handle mark(marked ? CreateFileW((path + kOriginStream).c_str(), GENERIC_WRITE, kShareAll,
                                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)
                           : INVALID_HANDLE_VALUE);
  if (marked && !mark.valid()) return false;
  std::string list = like.access_list;
  if (!list.empty() && !Lacks(handle, FILE_PERSISTENT_ACLS) &&
      !SetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, list.data())) {
    return false;
  }
  const auto size = static_cast<DWORD>(like.origin_mark.size());
  DWORD written = 0;
  if (marked && (!WriteFile(mark.get(), like.origin_mark.data(), size, &written, nullptr) ||
                 written != size)) {
    return false;
  }
  return SetAttributes(handle, kCarriedAttributes, like.attributes);
}

}  // namespace prc
