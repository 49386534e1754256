#include "prc/folder_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "prc/access_list_posix.h"
#include "prc/folder.h"
#include "prc/io_posix.h"
#include "prc/process_posix.h"

namespace prc {
namespace {

// O_NONBLOCK keeps open() from waiting for the other end of a FIFO; on a regular file it
// changes nothing. O_NOCTTY keeps a terminal device from becoming the controlling one.
constexpr int kOpenFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;

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

// Closes `fd` once. After close() the file descriptor is free whatever it returns, so it is never
// retried; an interrupted close has still released it.
bool CloseOnce(int* fd) {
  if (*fd < 0) return true;
  const int result = close(*fd);
  *fd = -1;
  return result == 0 || errno == EINTR;
}

class PosixReadableFile final : public ReadableFile {
 public:
  PosixReadableFile(int fd, FileInfo info) : fd_(fd), info_(std::move(info)) {}
  PosixReadableFile(const PosixReadableFile&) = delete;
  PosixReadableFile& operator=(const PosixReadableFile&) = delete;
  ~PosixReadableFile() override { CloseOnce(&fd_); }

  [[nodiscard]] const FileInfo& info() const override { return info_; }
  void set_info(FileInfo info) { info_ = std::move(info); }

  bool LockExclusive() override {
    return Retry([&] { return flock(fd_, LOCK_EX | LOCK_NB); }) == 0;
  }

  bool ReadFull(std::uint8_t* data, std::size_t size, std::size_t* count) override {
    return ReadAll(fd_, data, size, count);
  }

 private:
  int fd_;
  FileInfo info_;
};

class PosixWritableFile final : public WritableFile {
 public:
  // `fd` is written; `lock` holds the file's lock, past the close of `fd`.
  PosixWritableFile(int fd, int lock, FileInfo info)
      : fd_(fd), lock_(lock), info_(std::move(info)) {}
  PosixWritableFile(const PosixWritableFile&) = delete;
  PosixWritableFile& operator=(const PosixWritableFile&) = delete;
  ~PosixWritableFile() override {
    CloseOnce(&fd_);
    CloseOnce(&lock_);
  }

  [[nodiscard]] const FileInfo& info() const override { return info_; }

  bool TakeAccessOf(const FileInfo& like) override {
    // Owner first: changing the owner may clear permission bits, which are set after. The
    // file has `like`'s group once either change is made, else the group it was made with.
    const bool group_kept =
        Retry([&] { return fchown(fd_, like.owner, like.group); }) == 0 ||
        Retry([&] { return fchown(fd_, static_cast<uid_t>(-1), like.group); }) == 0 ||
        info_.group == like.group;
    mode_t permissions = like.permissions & kPermissionBits;
    if (!group_kept) permissions = WithoutGroup(permissions);
    // The list replaces whatever the directory's default list gave the new file; with none,
    // that is removed, so only the permission bits speak.
    if (like.access_list.empty()) {
      if (Retry([&] { return fremovexattr(fd_, kAccessList); }) != 0 && !NoAccessLists(errno)) {
        return false;
      }
    } else {
      const std::string list = group_kept ? like.access_list : WithoutGroup(like.access_list);
      if (Retry([&] { return fsetxattr(fd_, kAccessList, list.data(), list.size(), 0); }) == 0) {
        permissions = PermissionsOf(list, true);
      } else if (NoAccessLists(errno)) {
        permissions = PermissionsOf(list, false);  // the group's own, not the mask's
      } else {
        return false;
      }
    }
    return Retry([&] { return fchmod(fd_, permissions); }) == 0;
  }

  bool WriteFull(const std::uint8_t* data, std::size_t size) override {
    return WriteAll(fd_, data, size);
  }

  bool Sync() override {
    return Retry([&] { return fsync(fd_); }) == 0;
  }

  bool Close() override { return CloseOnce(&fd_); }

 private:
  int fd_;
  int lock_;
  FileInfo info_;
};

// The regular file open as `fd` (-1 for none), which it takes over, with its access list;
// null, and `fd` closed, when it is something else or its list cannot be read.
std::unique_ptr<ReadableFile> Readable(int fd) {
  if (fd < 0) return nullptr;
  auto file = std::make_unique<PosixReadableFile>(fd, FileInfo{});
  struct stat st {};
  if (Retry([&] { return fstat(fd, &st); }) != 0 || !S_ISREG(st.st_mode)) {
    return nullptr;  // closes it
  }
  FileInfo info = InfoOf(st);
  if (!ReadAccessList(fd, &info.access_list)) return nullptr;
  file->set_info(std::move(info));
  return file;
}

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

class PosixFolder final : public Folder {
 public:
  explicit PosixFolder(int fd) : fd_(fd) {}
  PosixFolder(const PosixFolder&) = delete;
  PosixFolder& operator=(const PosixFolder&) = delete;
  ~PosixFolder() override { CloseOnce(&fd_); }

  std::unique_ptr<ReadableFile> OpenForReading(const std::string& name) override {
    return Readable(
        Retry([&] { return openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | kOpenFlags); }));
  }

  bool InspectNoFollow(const std::string& name, FileInfo* info) override {
    struct stat st {};
    if (Retry([&] { return fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW); }) != 0) {
      return false;
    }
    *info = InfoOf(st);
    return true;
  }

  std::unique_ptr<WritableFile> CreateNew(const std::string& name) override {
    // O_EXCL fails on anything at the name, a symbolic link included, dangling or not.
    int fd = Retry([&] {
      return openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | kOpenFlags,
                    S_IRUSR | S_IWUSR);
    });
    if (fd < 0) return nullptr;
    RemoveOnSignal(fd_, name.c_str());
    // Locked at once, so no other run takes it for a leftover. Should one have locked it
    // first, it is that run's to remove: it is left alone.
    if (Retry([&] { return flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
      const bool taken = errno == EWOULDBLOCK;
      if (!taken) (void)Retry([&] { return unlinkat(fd_, name.c_str(), 0); });
      CloseOnce(&fd);
      return nullptr;
    }
    // A second descriptor keeps the lock once the first is closed after the writing.
    int lock = Retry([&] { return fcntl(fd, F_DUPFD_CLOEXEC, 0); });
    struct stat st {};
    const bool known = lock >= 0 && Retry([&] { return fstat(fd, &st); }) == 0;
    // With no name left, another run took it for a leftover before the lock and removed
    // it; the name may now be that run's file.
    if (!known || st.st_nlink == 0) {
      if (!known) (void)Retry([&] { return unlinkat(fd_, name.c_str(), 0); });
      CloseOnce(&fd);
      CloseOnce(&lock);
      return nullptr;
    }
    return std::make_unique<PosixWritableFile>(fd, lock, InfoOf(st));
  }

  bool RemoveLeftover(const std::string& name, const FileInfo& leftover) override {
    return RemoveUnheld(name.c_str(), leftover, false);
  }

  bool Remove(const std::string& name) override {
    return Retry([&] { return unlinkat(fd_, name.c_str(), 0); }) == 0;
  }

  MoveResult MoveNoReplace(const std::string& from, const std::string& to,
                           const OpenFile* /*file*/) override {
    // A move made in two or three steps is never left half made by a signal.
    const SignalsBlocked blocked;
    const MoveResult moved = Move(from.c_str(), to.c_str());
    // The one thing that may go from `to` first: an empty reservation a killed run left.
    if (moved == MoveResult::kDestinationExists && RemoveDeadReservation(to.c_str())) {
      return Move(from.c_str(), to.c_str());
    }
    return moved;
  }

  bool Sync() override {
    if (Retry([&] { return fsync(fd_); }) == 0) return true;
    // A file system that cannot sync a directory has nothing more to offer.
    return errno == EINVAL || errno == ENOTSUP;
  }

 private:
  MoveResult Move(const char* from, const char* to) {
    if (Retry([&] { return RenameNoReplace(fd_, from, to); }) == 0) return MoveResult::kMoved;
    // Decided on each call: the directory may lie on a file system that lacks the flag.
    if (!LacksNoReplace(errno)) return FromErrno(errno);
    // link() fails on an existing destination without touching it, just as a no-replace
    // rename does; dropping the old name then completes the move. If the old name cannot
    // be dropped the new one is, so the move leaves no file with two names.
    if (Retry([&] { return linkat(fd_, from, fd_, to, 0); }) == 0) {
      if (Retry([&] { return unlinkat(fd_, from, 0); }) != 0) {
        (void)Retry([&] { return unlinkat(fd_, to, 0); });
        return MoveResult::kFailed;
      }
      return MoveResult::kMoved;
    }
    if (!LacksLinks(errno)) return FromErrno(errno);
    return MoveByReservation(from, to);
  }

  // Removes `name` when it is still `leftover`'s file, no live run holds it locked and,
  // where `empty` says, it holds no byte; such a file is opened for writing, as its
  // owner may not read it (see Reserve).
  bool RemoveUnheld(const char* name, const FileInfo& leftover, bool empty) {
    const int access = empty ? O_WRONLY : O_RDONLY;
    int fd = Retry([&] { return openat(fd_, name, access | O_NOFOLLOW | kOpenFlags); });
    if (fd < 0) return false;
    struct stat st {};
    FileInfo now;
    // Locked, it is no live run's; and it is removed only while the name leads to it.
    const bool removed = Retry([&] { return flock(fd, LOCK_EX | LOCK_NB); }) == 0 &&
                         Retry([&] { return fstat(fd, &st); }) == 0 &&
                         InfoOf(st).SameFileAs(leftover) && (!empty || st.st_size == 0) &&
                         InspectNoFollow(name, &now) && now.SameFileAs(leftover) && Remove(name);
    CloseOnce(&fd);
    return removed;
  }

  // Creates `name` as a reservation: a new, empty file that its owner alone may write and
  // nobody may read, the mark by which one left behind is known. Its file descriptor, or
  // -1.
  int Reserve(const char* name) {
    return Retry([&] {
      return openat(fd_, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | kOpenFlags, S_IWUSR);
    });
  }

  // Removes `name` when it is a reservation that a run killed during its move left: an
  // empty regular file with one name, the caller's own, with a reservation's permission
  // bits, that no live run holds locked.
  bool RemoveDeadReservation(const char* name) {
    struct stat st {};
    if (Retry([&] { return fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW); }) != 0) return false;
    const FileInfo held = InfoOf(st);
    return held.regular && st.st_size == 0 && held.links == 1 && held.owned_by_caller &&
           held.permissions == S_IWUSR && RemoveUnheld(name, held, true);
  }

  // Where there is neither a no-replace rename nor a second name: the exclusive creation
  // of an empty file fails on anything at `to`, just as those do, and reserves the name;
  // a plain rename then replaces the reservation, while the name still leads to it. The
  // reservation is locked until then, so that only one a killed run left is taken for
  // such (see RemoveDeadReservation). On a failure the reservation is removed, if the name
  // still leads to it (or it cannot be looked at: it was made a moment ago) and no other
  // run has locked it.
  MoveResult MoveByReservation(const char* from, const char* to) {
    int fd = Reserve(to);
    if (fd < 0 && errno == EEXIST && RemoveDeadReservation(to)) fd = Reserve(to);
    if (fd < 0) return FromErrno(errno);
    const bool locked = Retry([&] { return flock(fd, LOCK_EX | LOCK_NB); }) == 0;
    const bool taken = !locked && errno == EWOULDBLOCK;
    struct stat st {};
    const bool known = Retry([&] { return fstat(fd, &st); }) == 0;
    const FileInfo reserved = InfoOf(st);
    FileInfo now;
    const auto still_reserved = [&] {
      return known && InspectNoFollow(to, &now) && now.SameFileAs(reserved);
    };
    MoveResult result = MoveResult::kFailed;
    if (locked && still_reserved() && Retry([&] { return renameat(fd_, from, fd_, to); }) == 0) {
      result = MoveResult::kMoved;
    } else if (!taken && (!known || still_reserved())) {  // unknown: as just made, still ours
      (void)Retry([&] { return unlinkat(fd_, to, 0); });
    }
    CloseOnce(&fd);
    return result;
  }

  int fd_;
};

}  // namespace

PathParts SplitPath(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  // A name right under the root keeps the root as its folder.
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::unique_ptr<Folder> OpenFolder(const std::string& path, std::string* name) {
  PathParts parts = SplitPath(path);
  *name = std::move(parts.name);
  // Opened for reading, as syncing it needs: a directory that may be written but not read
  // is refused here, before anything is touched, rather than after the moves.
  const int fd =
      Retry([&] { return open(parts.folder.c_str(), O_RDONLY | O_DIRECTORY | kOpenFlags); });
  if (fd < 0) return nullptr;
  return std::make_unique<PosixFolder>(fd);
}

std::unique_ptr<ReadableFile> OpenToRead(const std::string& path) {
  return Readable(Retry([&] { return open(path.c_str(), O_RDONLY | kOpenFlags); }));
}

}  // namespace prc
