// What the Windows folder (folder_windows.cc) does beyond folder.h, for its tests.
#ifndef PRC_FOLDER_WINDOWS_H_
#define PRC_FOLDER_WINDOWS_H_

#include <cstdint>

namespace prc {

// Whether `error`, the system's error code from opening a folder to flush it or from the
// flush, says that the file system offers no flush of a folder (FAT's driver, a network
// redirector or a third-party file system may not), so there is nothing more to ask of
// it. Any other error is a failure: the device or the network did not store what was
// asked, or the folder could not be opened to ask. Folder::Sync counts only the first
// kind as synced.
[[nodiscard]] bool FolderFlushNotOffered(std::uint32_t error);

}  // namespace prc

#endif  // PRC_FOLDER_WINDOWS_H_
