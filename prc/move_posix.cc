#include "prc/move_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "prc/folder.h"
#include "prc/handle_posix.h"
#include "prc/io_posix.h"
#include "prc/process_posix.h"

namespace prc {
namespace {

// Whether the failure means the system or the file system does not offer the no-replace
// flag, rather than that the move itself failed. (ENOTSUP and EOPNOTSUPP are one value on
// Linux.)
bool LacksNoReplace(int err) { return err == EINVAL || err == ENOSYS || err == ENOTSUP; }

// Whether the failure means the file system keeps no second names for a file.
bool LacksLinks(int err) { return err == EPERM || err == ENOSYS || err == ENOTSUP; }

MoveResult FromErrno(int err) {
  return err == EEXIST ? MoveResult::kDestinationExists : MoveResult::kFailed;
}

// The kernel's own no-replace rename, where the system has one.
int RenameNoReplace(int folder, const char* from, const char* to) {
#if defined(__linux__)
  return renameat2(folder, from, folder, to, RENAME_NOREPLACE);
#else
  (void)folder, (void)from, (void)to;
  errno = ENOSYS;
  return -1;
#endif
}

// What `name` itself is, a symbolic link never followed. False when it cannot be looked at.
bool Inspect(int folder, const char* name, FileInfo* info) {
  struct stat st {};
  if (Retry([&] { return fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW); }) != 0) return false;
  *info = InfoOf(st);
  return true;
}

// Creates `name` as a reservation: a new, empty file that its owner alone may write and
// nobody may read, the mark by which one left behind is known. Its file descriptor, or
// -1.
int Reserve(int folder, const char* name) {
  return Retry([&] {
    return openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | kOpenFlags, S_IWUSR);
  });
}

// Removes `name` when it is a reservation that a run killed during its move left: an
// empty regular file with one name, the caller's own, with a reservation's permission
// bits, that no live run holds locked.
bool RemoveDeadReservation(int folder, const char* name) {
  struct stat st {};
  if (Retry([&] { return fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW); }) != 0) return false;
  const FileInfo held = InfoOf(st);
  return held.regular && st.st_size == 0 && held.links == 1 && held.owned_by_caller &&
         held.permissions == S_IWUSR && RemoveUnheld(folder, name, held, true);
}

// Where there is neither a no-replace rename nor a second name: the exclusive creation
// of an empty file fails on anything at `to`, just as those do, and reserves the name;
// a plain rename then replaces the reservation, while the name still leads to it. The
// reservation is locked until then, so that only one a killed run left is taken for
// such (see RemoveDeadReservation). On a failure the reservation is removed, if the name
// still leads to it (or it cannot be looked at: it was made a moment ago) and no other
// run has locked it.
MoveResult MoveByReservation(int folder, const char* from, const char* to) {
  int fd = Reserve(folder, to);
  if (fd < 0 && errno == EEXIST && RemoveDeadReservation(folder, to)) fd = Reserve(folder, to);
  if (fd < 0) return FromErrno(errno);
  const bool locked = Retry([&] { return flock(fd, LOCK_EX | LOCK_NB); }) == 0;
  const bool taken = !locked && errno == EWOULDBLOCK;
  struct stat st {};
  const bool known = Retry([&] { return fstat(fd, &st); }) == 0;
  const FileInfo reserved = InfoOf(st);
  FileInfo now;
  const auto still_reserved = [&] {
    return known && Inspect(folder, to, &now) && now.SameFileAs(reserved);
  };
  MoveResult result = MoveResult::kFailed;
  if (locked && still_reserved() &&
      Retry([&] { return renameat(folder, from, folder, to); }) == 0) {
    result = MoveResult::kMoved;
  } else if (!taken && (!known || still_reserved())) {  // unknown: as just made, still ours
    (void)Retry([&] { return unlinkat(folder, to, 0); });
  }
  CloseOnce(&fd);
  return result;
}

MoveResult Move(int folder, const char* from, const char* to) {
  if (Retry([&] { return RenameNoReplace(folder, from, to); }) == 0) return MoveResult::kMoved;
  // Decided on each call: the directory may lie on a file system that lacks the flag.
  if (!LacksNoReplace(errno)) return FromErrno(errno);
  // link() fails on an existing destination without touching it, just as a no-replace
  // rename does; dropping the old name then completes the move. If the old name cannot
  // be dropped the new one is, so the move leaves no file with two names.
  if (Retry([&] { return linkat(folder, from, folder, to, 0); }) == 0) {
    if (Retry([&] { return unlinkat(folder, from, 0); }) != 0) {
      (void)Retry([&] { return unlinkat(folder, to, 0); });
      return MoveResult::kFailed;
    }
    return MoveResult::kMoved;
  }
  if (!LacksLinks(errno)) return FromErrno(errno);
  return MoveByReservation(folder, from, to);
}

}  // namespace

MoveResult MoveNoReplaceAt(int folder, const char* from, const char* to) {
  // A move made in two or three steps is never left half made by a signal.
  const SignalsBlocked blocked;
  const MoveResult moved = Move(folder, from, to);
  // The one thing that may go from `to` first: an empty reservation a killed run left.
  if (moved == MoveResult::kDestinationExists && RemoveDeadReservation(folder, to)) {
    return Move(folder, from, to);
  }
  return moved;
}

bool RemoveUnheld(int folder, const char* name, const FileInfo& leftover, bool empty) {
  const int access = empty ? O_WRONLY : O_RDONLY;
  int fd = Retry([&] { return openat(folder, name, access | O_NOFOLLOW | kOpenFlags); });
  if (fd < 0) return false;
  struct stat st {};
  FileInfo now;
  // Locked, it is no live run's; and it is removed only while the name leads to it.
  const bool removed = Retry([&] { return flock(fd, LOCK_EX | LOCK_NB); }) == 0 &&
                       Retry([&] { return fstat(fd, &st); }) == 0 &&
                       InfoOf(st).SameFileAs(leftover) && (!empty || st.st_size == 0) &&
                       Inspect(folder, name, &now) && now.SameFileAs(leftover) &&
                       Retry([&] { return unlinkat(folder, name, 0); }) == 0;
  CloseOnce(&fd);
  return removed;
}

}  // namespace prc
