// The registry of files that a terminating signal removes (see SignalCleanup in
// process.h), kept by process_posix.cc for folder_posix.cc. Internal to the library's
// POSIX files.
//
// It has kSignalCleanupEntries entries, each a directory's file descriptor and a name in
// that directory: as many files as may be armed at once. Arming one more, or a name
// longer than an entry holds, is refused, and Folder::CreateNew then creates nothing. The
// signal handler removes the file of every armed entry. Entries are written only while
// the terminating signals are blocked (see SignalsHeld), so the handler never sees one
// half made. An entry names
// its directory by file descriptor: it is disarmed before that directory is closed, whose
// number may then be given to another.
#ifndef PRC_PROCESS_POSIX_H_
#define PRC_PROCESS_POSIX_H_

#include <cstddef>

#include "prc/process.h"

namespace prc {

inline constexpr int kSignalCleanupEntries = 4;
// The longest name an entry holds, terminating zero included. File systems take at most
// 255 bytes for one name.
inline constexpr std::size_t kMaxSignalCleanupName = 512;

// Whether ArmSignalCleanup would take `name` now: it fits an entry, and one is free.
[[nodiscard]] bool CanArmSignalCleanup(const char* name);

// Arms removal of `name` in the directory open as file descriptor `directory` by a
// terminating signal, until the returned cleanup is disarmed. One that removes nothing
// when CanArmSignalCleanup(name) is false. Call with the terminating signals blocked.
[[nodiscard]] SignalCleanup ArmSignalCleanup(int directory, const char* name);

}  // namespace prc

#endif  // PRC_PROCESS_POSIX_H_
