// What a Windows file carries beyond its bytes and attributes, read from an input and
// given to the file restored from it: its access list and its origin mark. Internal to the
// library's Windows files.
#ifndef PRC_ACCESS_LIST_WINDOWS_H_
#define PRC_ACCESS_LIST_WINDOWS_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "prc/folder.h"

namespace prc {

// Reads into `info` the access list and origin mark of the file open as `handle` (which
// needs READ_CONTROL) at `path`: the discretionary access list with its control flags,
// whether it is protected from inheritance among them, as a self-relative security
// descriptor that holds nothing else, and the bytes of its Zone.Identifier stream, used
// only when that stream is the same file's. Each is empty where the file has none or the
// file system keeps none. False when either cannot be read whole.
[[nodiscard]] bool ReadCarried(HANDLE handle, const std::wstring& path, FileInfo* info);

// Gives the file open as `handle` (with WRITE_DAC) at `path` what `like` carries.
// `like`'s access list replaces the one the folder passed on, as it stands: its entries,
// inherited or not, and its flags. SetKernelObjectSecurity stores it so, where
// SetSecurityInfo would work the inherited entries out afresh from the folder. None is
// set where `like` has none or the file system keeps none. The owner stays this
// process's user. `like`'s origin mark goes into the file's own stream, where the file
// system keeps streams: created before the list is set, which may not let this process
// open the file again, and written only after. The read-only and hidden marks are the
// file's own too: they are set last, through this handle, which stays open for writing
// whatever they say.
[[nodiscard]] bool GiveCarried(HANDLE handle, const std::wstring& path, const FileInfo& like);

}  // namespace prc

#endif  // PRC_ACCESS_LIST_WINDOWS_H_
