// The POSIX move that never replaces what is at its destination, on any file system, and
// the removal of a leftover it shares with the folder. Internal to the library's POSIX
// files.
#ifndef PRC_MOVE_POSIX_H_
#define PRC_MOVE_POSIX_H_

#include "prc/folder.h"

namespace prc {

// Renames `from` to `to` in the directory open as `folder`, as Folder::MoveNoReplace
// promises. Where the file system has no no-replace rename, the move is made as a second
// name and the removal of the first; where it has no second names either, `to` is
// reserved as a new empty file, locked, and `from` renamed over it while the name still
// leads to it. An empty reservation a killed run left at `to` counts as nothing there: it
// is removed and the move made. Signals wait until the move is whole.
[[nodiscard]] MoveResult MoveNoReplaceAt(int folder, const char* from, const char* to);

// Removes `name` in the directory open as `folder` when it is still `leftover`'s file, no
// live run holds it locked and, where `empty` says, it holds no byte; such a file is
// opened for writing, as its owner may not read it (a reservation).
[[nodiscard]] bool RemoveUnheld(int folder, const char* name, const FileInfo& leftover, bool empty);

}  // namespace prc

#endif  // PRC_MOVE_POSIX_H_
