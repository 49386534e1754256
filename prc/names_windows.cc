#include "prc/names_windows.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "prc/handle_windows.h"
#include "prc/utf16.h"

namespace prc {
namespace {

// What a system call writes into a buffer of characters it is given the size of, when it
// returns the length written, or the size it needs (its terminating zero included) when the
// buffer is too small, or 0 on failure. Empty on failure.
template <typename Call>
std::wstring Written(Call call) {
  std::wstring text(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = call(text.data(), static_cast<DWORD>(text.size()));
    if (size == 0) return {};
    const bool fits = size < text.size();
    text.resize(size);
    if (fits) return text;
  }
}

// The system's full path for `path`, read as the system reads a path. Empty on failure.
std::wstring FullPath(const std::wstring& path) {
  return Written([&path](wchar_t* buffer, DWORD size) {
    return GetFullPathNameW(path.c_str(), size, buffer, nullptr);
  });
}

// The same path with the "\\?\" prefix, which lifts the length limit and every other
// reading of the path. A device's path is left as it is.
std::wstring Prefixed(const std::wstring& full) {
  if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  return L"\\\\?\\" + full;
}

}  // namespace

bool Wide(const std::string& name, std::wstring* wide) {
  std::u16string units;
  if (!Utf16FromName(name, &units)) return false;
  wide->assign(units.begin(), units.end());
  return true;
}

std::string Narrow(const std::wstring& wide) {
  return NameFromUtf16(std::u16string(wide.begin(), wide.end()));
}

bool ReadPath(const std::string& path, std::wstring* prefixed, std::wstring::size_type* name_at) {
  std::wstring wide;
  if (!Wide(path, &wide) || wide.empty()) return false;
  const std::wstring full = FullPath(wide);
  if (full.empty()) return false;
  *prefixed = Prefixed(full);
  const std::wstring::size_type end = prefixed->find_last_of(L'\\');
  if (end == std::wstring::npos) return false;
  *name_at = end + 1;
  return prefixed->find_first_of(L"*?<>\"|:", *name_at) == std::wstring::npos;
}

bool PathIn(const std::wstring& prefix, const std::string& name, std::wstring* path) {
  std::wstring wide;
  if (!Wide(name, &wide) || wide.find_first_of(L"\\/:") != std::wstring::npos) return false;
  *path = prefix + wide;
  return true;
}

std::wstring StoredName(const std::wstring& path) {
  const Handle h(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.valid()) return {};
  const std::wstring final = Written([&h](wchar_t* buffer, DWORD size) {
    return GetFinalPathNameByHandleW(h.get(), buffer, size,
                                     FILE_NAME_NORMALIZED | VOLUME_NAME_NONE);
  });
  const std::wstring::size_type slash = final.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : final.substr(slash + 1);
}

}  // namespace prc
