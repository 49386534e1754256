// How a Windows path and a name inside a folder become what the system's wide calls take.
//
// Every name is handed to those calls as a full path with the "\\?\" prefix, so a name may
// hold any character and a path any length up to the system's own limit. That prefix also
// turns off the system's reading of a path (separators, "." and "..", trailing dots and
// spaces): a path the user gives is read once (ReadPath), and what follows is taken as it
// is. Internal to the library's Windows files.
#ifndef PRC_NAMES_WINDOWS_H_
#define PRC_NAMES_WINDOWS_H_

#include <string>

namespace prc {

// The UTF-16 name whose byte form is `name` (see prc/utf16.h), as the system's wide calls
// take it; false when `name` is no name's byte form.
[[nodiscard]] bool Wide(const std::string& name, std::wstring* wide);

// The byte form of the UTF-16 name `wide`.
[[nodiscard]] std::string Narrow(const std::wstring& wide);

// `path` read as the system reads a path (relative to the current folder and drive, "."
// and ".." taken away, every "/" made "\", trailing dots and spaces of the last part
// dropped), with the "\\?\" prefix (a device's path is left as it is), and where its last
// part, the file's name, begins in it. False when it is no path, or that name holds a
// character no file name may: the system's wildcards, which a look-up would match against
// other files, or the colon, which names a stream inside a file.
[[nodiscard]] bool ReadPath(const std::string& path, std::wstring* prefixed,
                            std::wstring::size_type* name_at);

// The full path of `name` in the folder whose full path, prefixed and with a closing
// separator, is `prefix`; false when `name` is no name, or names a stream of a file
// ("A.PRC:s") or a file below another folder.
[[nodiscard]] bool PathIn(const std::wstring& prefix, const std::string& name, std::wstring* path);

// The name of the file at `path` as the file system holds it, as a handle to that very file
// reports it: its long name, not a short (8.3) one, in the case it was given, and in a
// case-sensitive folder the file the name opens, never another spelled alike. Empty when
// nothing is there or its name cannot be had.
[[nodiscard]] std::wstring StoredName(const std::wstring& path);

}  // namespace prc

#endif  // PRC_NAMES_WINDOWS_H_
