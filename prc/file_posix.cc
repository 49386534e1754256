#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "prc/file.h"

namespace prc {
namespace {

// O_NONBLOCK keeps open() from waiting for the other end of a FIFO; on a regular file it
// changes nothing. O_NOCTTY keeps a terminal device from becoming the controlling one.
constexpr int kOpenFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr std::uint32_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

File::~File() { Close(); }

bool File::OpenForReading(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | kOpenFlags);
  if (fd < 0) return false;
  handle_ = fd;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    Close();
    return false;
  }
  permissions_ = st.st_mode & kPermissionBits;
  return true;
}

bool File::CreateForWriting(const std::string& path) {
  constexpr int kFlags = O_WRONLY | O_NOFOLLOW | kOpenFlags;
  // A file this call creates is ours: regular, with one name, and empty.
  int fd = open(path.c_str(), kFlags | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
  if (fd >= 0) {
    handle_ = fd;
    return true;
  }
  if (errno != EEXIST) return false;
  // Something holds the name. O_NOFOLLOW refuses a symbolic link; a FIFO with no reader
  // refuses a non-blocking writer; the rest is judged on the opened file before anything
  // is truncated, so a second name of another file is never emptied.
  fd = open(path.c_str(), kFlags);
  if (fd < 0) return false;
  handle_ = fd;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || ftruncate(fd, 0) != 0) {
    Close();
    return false;
  }
  return true;
}

bool File::ReadFull(std::uint8_t* data, std::size_t size, std::size_t* count) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = read(Fd(handle_), data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  *count = done;
  return true;
}

bool File::WriteFull(const std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(Fd(handle_), data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool File::SetPermissions(std::uint32_t permissions) {
  return fchmod(Fd(handle_), static_cast<mode_t>(permissions & kPermissionBits)) == 0;
}

bool File::Sync() { return fsync(Fd(handle_)) == 0; }

bool File::Close() {
  if (handle_ < 0) return true;
  // The descriptor is gone after close() whatever it returns, so it is never retried.
  const int fd = Fd(handle_);
  handle_ = -1;
  return close(fd) == 0;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

}  // namespace prc
