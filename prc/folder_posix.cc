#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "prc/folder.h"
#include "prc/process.h"
#include "prc/process_posix.h"

namespace prc {
namespace {

// O_NONBLOCK keeps open() from waiting for the other end of a FIFO; on a regular file it
// changes nothing. O_NOCTTY keeps a terminal device from becoming the controlling one.
constexpr int kOpenFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;

// Calls `call` until it is not interrupted by a signal.
template <typename Call>
auto Retry(Call call) {
  auto result = call();
  while (result < 0 && errno == EINTR) result = call();
  return result;
}

FileInfo InfoOf(const struct stat& st) {
  FileInfo info;
  info.device = st.st_dev;
  info.number = st.st_ino;
  info.regular = S_ISREG(st.st_mode);
  info.links = static_cast<std::uint32_t>(st.st_nlink);
  info.owned_by_caller = st.st_uid == geteuid();
  info.permissions = st.st_mode & kPermissionBits;
  info.owner = st.st_uid;
  info.group = st.st_gid;
  return info;
}

// Closes `fd` once. After close() the number is free whatever it returns, so it is never
// retried; an interrupted close has still released it.
bool CloseOnce(int* fd) {
  if (*fd < 0) return true;
  const int result = close(*fd);
  *fd = -1;
  return result == 0 || errno == EINTR;
}

class PosixReadableFile final : public ReadableFile {
 public:
  PosixReadableFile(int fd, const FileInfo& info) : fd_(fd), info_(info) {}
  PosixReadableFile(const PosixReadableFile&) = delete;
  PosixReadableFile& operator=(const PosixReadableFile&) = delete;
  ~PosixReadableFile() override { CloseOnce(&fd_); }

  [[nodiscard]] const FileInfo& info() const override { return info_; }
  void set_info(const FileInfo& info) { info_ = info; }

  bool LockExclusive() override {
    return Retry([&] { return flock(fd_, LOCK_EX | LOCK_NB); }) == 0;
  }

  bool ReadFull(std::uint8_t* data, std::size_t size, std::size_t* count) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = Retry([&] { return read(fd_, data + done, size - done); });
      if (n < 0) return false;
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    *count = done;
    return true;
  }

 private:
  int fd_;
  FileInfo info_;
};

class PosixWritableFile final : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) {}
  PosixWritableFile(const PosixWritableFile&) = delete;
  PosixWritableFile& operator=(const PosixWritableFile&) = delete;
  ~PosixWritableFile() override { CloseOnce(&fd_); }

  bool TakeOwnerAndPermissionsOf(const FileInfo& like) override {
    // Owner first: changing the owner may clear permission bits, which are set after.
    if (Retry([&] { return fchown(fd_, like.owner, like.group); }) != 0) {
      (void)Retry([&] { return fchown(fd_, static_cast<uid_t>(-1), like.group); });
    }
    // A group the file could not be given must not have the access `like`'s group has.
    struct stat st {};
    if (Retry([&] { return fstat(fd_, &st); }) != 0) return false;
    mode_t permissions = like.permissions & kPermissionBits;
    if (st.st_gid != like.group) permissions &= ~static_cast<mode_t>(S_IRWXG);
    return Retry([&] { return fchmod(fd_, permissions); }) == 0;
  }

  bool WriteFull(const std::uint8_t* data, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = Retry([&] { return write(fd_, data + done, size - done); });
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  bool Sync() override {
    return Retry([&] { return fsync(fd_); }) == 0;
  }

  bool Close() override { return CloseOnce(&fd_); }

 private:
  int fd_;
};

// Whether the failure means the system or the file system does not offer the no-replace
// flag, rather than that the move itself failed. (ENOTSUP and EOPNOTSUPP are one value on
// Linux.)
bool LacksNoReplace(int err) { return err == EINVAL || err == ENOSYS || err == ENOTSUP; }

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
  ~PosixFolder() override {
    {
      const SignalsHeld held;
      KeepOnSignal(fd_);  // the number is about to be free for another file
    }
    CloseOnce(&fd_);
  }

  std::unique_ptr<ReadableFile> OpenForReading(const std::string& name) override {
    const int fd = Retry([&] { return openat(fd_, name.c_str(), O_RDONLY | kOpenFlags); });
    if (fd < 0) return nullptr;
    auto file = std::make_unique<PosixReadableFile>(fd, FileInfo{});
    struct stat st {};
    if (Retry([&] { return fstat(fd, &st); }) != 0 || !S_ISREG(st.st_mode)) {
      return nullptr;  // closes it
    }
    file->set_info(InfoOf(st));
    return file;
  }

  bool Inspect(const std::string& name, FileInfo* info) override {
    return StatAt(name, AT_SYMLINK_NOFOLLOW, info);
  }

  bool InspectTarget(const std::string& name, FileInfo* info) override {
    return StatAt(name, 0, info);
  }

  std::unique_ptr<WritableFile> CreateNew(const std::string& name) override {
    if (name.size() >= kMaxSignalCleanupName) {
      errno = ENAMETOOLONG;
      return nullptr;
    }
    // Held until the name is armed for removal, so no signal leaves it behind unarmed.
    const SignalsHeld held;
    // O_EXCL fails on anything at the name, a symbolic link included, dangling or not.
    const int fd = Retry([&] {
      return openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | kOpenFlags,
                    S_IRUSR | S_IWUSR);
    });
    if (fd < 0) return nullptr;
    (void)RemoveOnSignal(fd_, name.c_str());  // fits: checked above
    return std::make_unique<PosixWritableFile>(fd);
  }

  bool Remove(const std::string& name) override {
    const SignalsHeld held;
    if (Retry([&] { return unlinkat(fd_, name.c_str(), 0); }) != 0) return false;
    Forget(name);
    return true;
  }

  MoveResult MoveNoReplace(const std::string& from, const std::string& to) override {
    const SignalsHeld held;
    const MoveResult result = Move(from.c_str(), to.c_str());
    if (result == MoveResult::kMoved) Forget(from);
    return result;
  }

  void Keep(const std::string& name) override {
    const SignalsHeld held;
    Forget(name);
  }

  bool Sync() override {
    if (Retry([&] { return fsync(fd_); }) == 0) return true;
    // A file system that cannot sync a folder has nothing more to offer.
    return errno == EINVAL || errno == ENOTSUP;
  }

 private:
  bool StatAt(const std::string& name, int flags, FileInfo* info) const {
    struct stat st {};
    if (Retry([&] { return fstatat(fd_, name.c_str(), &st, flags); }) != 0) return false;
    *info = InfoOf(st);
    return true;
  }

  // A name that is gone or moved is no longer removed by a signal.
  void Forget(const std::string& name) {
    if (RemovesOnSignal(fd_, name.c_str())) KeepOnSignal(fd_);
  }

  MoveResult Move(const char* from, const char* to) {
    if (Retry([&] { return RenameNoReplace(fd_, from, to); }) == 0) return MoveResult::kMoved;
    // Decided on each call: the folder may lie on a file system that lacks the flag.
    if (!LacksNoReplace(errno)) return FromErrno(errno);
    // link() fails on an existing destination without touching it, just as a no-replace
    // rename does; dropping the old name then completes the move. If the old name cannot
    // be dropped the new one is, so the move leaves no file with two names.
    if (Retry([&] { return linkat(fd_, from, fd_, to, 0); }) != 0) return FromErrno(errno);
    if (Retry([&] { return unlinkat(fd_, from, 0); }) != 0) {
      (void)Retry([&] { return unlinkat(fd_, to, 0); });
      return MoveResult::kFailed;
    }
    return MoveResult::kMoved;
  }

  int fd_;
};

}  // namespace

std::unique_ptr<Folder> OpenFolder(const std::string& path, std::string* name) {
  const std::string::size_type slash = path.rfind('/');
  std::string folder = ".";
  *name = path;
  if (slash != std::string::npos) {
    folder = slash == 0 ? "/" : path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
  // Opened for reading, as syncing it needs: a folder that may be written but not read
  // is refused here, before anything is touched, rather than after the moves.
  const int fd = Retry([&] { return open(folder.c_str(), O_RDONLY | O_DIRECTORY | kOpenFlags); });
  if (fd < 0) return nullptr;
  return std::make_unique<PosixFolder>(fd);
}

}  // namespace prc
