#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "prc/move.h"

namespace prc {
namespace {

MoveResult FromErrno(int err) {
  return err == EEXIST ? MoveResult::kDestinationExists : MoveResult::kFailed;
}

// The kernel's own no-replace rename, where the system has one.
int RenameNoReplace(const char* from, const char* to) {
#if defined(__linux__)
  return renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
#elif defined(__APPLE__)
  return renamex_np(from, to, RENAME_EXCL);
#else
  errno = ENOSYS;
  return -1;
#endif
}

// Whether the failure means the system or the file system does not offer the
// no-replace flag, rather than that the move itself failed.
// (ENOTSUP and EOPNOTSUPP are one value on Linux.)
bool LacksNoReplace(int err) { return err == EINVAL || err == ENOSYS || err == ENOTSUP; }

// link() fails on an existing destination without touching it, just as a no-replace
// rename does; dropping the old name then completes the move. If the old name cannot be
// dropped the new one is, so the move leaves no file with two names.
MoveResult MoveByLink(const char* from, const char* to) {
  if (link(from, to) != 0) return FromErrno(errno);
  if (unlink(from) != 0) {
    unlink(to);
    return MoveResult::kFailed;
  }
  return MoveResult::kMoved;
}

}  // namespace

MoveResult MoveNoReplace(const std::string& from, const std::string& to) {
  if (RenameNoReplace(from.c_str(), to.c_str()) == 0) return MoveResult::kMoved;
  // Decided on each call: the two names may lie on file systems that differ.
  if (LacksNoReplace(errno)) return MoveByLink(from.c_str(), to.c_str());
  return FromErrno(errno);
}

}  // namespace prc
