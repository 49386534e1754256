// The POSIX file descriptor as the folder and its files hold it: how it is opened, closed
// and described. Internal to the library's POSIX files.
#ifndef PRC_HANDLE_POSIX_H_
#define PRC_HANDLE_POSIX_H_

#include <fcntl.h>
#include <sys/stat.h>

#include "prc/folder.h"

namespace prc {

// O_NONBLOCK keeps open() from waiting for the other end of a FIFO; on a regular file it
// changes nothing. O_NOCTTY keeps a terminal device from becoming the controlling one.
inline constexpr int kOpenFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
inline constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;

// What `st` says of a file, as the folder reports it.
[[nodiscard]] FileInfo InfoOf(const struct stat& st);

// Closes `*fd` once and sets it to -1; does nothing when it is -1 already. False when the
// close reports an error.
bool CloseOnce(int* fd);

}  // namespace prc

#endif  // PRC_HANDLE_POSIX_H_
