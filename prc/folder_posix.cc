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
#include "prc/handle_posix.h"
#include "prc/io_posix.h"
#include "prc/move_posix.h"
#include "prc/names_posix.h"
#include "prc/process_posix.h"

namespace prc {
namespace {

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

// Every call is made relative to the directory open as `fd`, so no path is looked up
// afresh.
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
    return RemoveUnheld(fd_, name.c_str(), leftover, false);
  }

  bool Remove(const std::string& name) override {
    return Retry([&] { return unlinkat(fd_, name.c_str(), 0); }) == 0;
  }

  MoveResult MoveNoReplace(const std::string& from, const std::string& to,
                           const OpenFile* /*file*/) override {
    return MoveNoReplaceAt(fd_, from.c_str(), to.c_str());
  }

  bool Sync() override {
    if (Retry([&] { return fsync(fd_); }) == 0) return true;
    // A file system that cannot sync a directory has nothing more to offer.
    return errno == EINVAL || errno == ENOTSUP;
  }

 private:
  int fd_;
};

}  // namespace

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
