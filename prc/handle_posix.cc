#include "prc/handle_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "prc/folder.h"

namespace prc {

FileInfo InfoOf(const struct stat& st) {
  // No program here changes the user it runs as: asked once.
  static const uid_t effective_user = geteuid();
  FileInfo info;
  info.device = st.st_dev;
  info.number = st.st_ino;
  info.regular = S_ISREG(st.st_mode);
  info.links = static_cast<std::uint32_t>(st.st_nlink);
  info.owned_by_caller = st.st_uid == effective_user;
  info.permissions = st.st_mode & kPermissionBits;
  info.owner = st.st_uid;
  info.group = st.st_gid;
  return info;
}

// After close() the file descriptor is free whatever it returns, so it is never retried;
// an interrupted close has still released it.
bool CloseOnce(int* fd) {
  if (*fd < 0) return true;
  const int result = close(*fd);
  *fd = -1;
  return result == 0 || errno == EINTR;
}

}  // namespace prc
