#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "prc/folder.h"

namespace prc {
namespace {

// Each ReadFile or WriteFile call moves at most this much, well inside a DWORD.
constexpr std::size_t kChunk = std::size_t{1} << 30;

FileInfo InfoOf(HANDLE handle) {
  FileInfo info;
  BY_HANDLE_FILE_INFORMATION data{};
  if (!GetFileInformationByHandle(handle, &data)) return info;
  info.device = data.dwVolumeSerialNumber;
  info.number = static_cast<std::uint64_t>(data.nFileIndexHigh) << 32 | data.nFileIndexLow;
  // A plain file on disk: not a directory, a device, a pipe, a link or a junction.
  constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  info.regular = GetFileType(handle) == FILE_TYPE_DISK && (data.dwFileAttributes & kNotPlain) == 0;
  info.links = data.nNumberOfLinks;
  // Access comes from the folder's inherited access list, not from an owner and bits the
  // file carries; a file the caller can open for writing counts as the caller's.
  info.owned_by_caller = true;
  return info;
}

// Owns one handle; closes it once.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }

  [[nodiscard]] HANDLE get() const { return handle_; }
  [[nodiscard]] bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    if (!valid()) return true;
    HANDLE h = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0;
  }

 private:
  HANDLE handle_;
};

class WindowsReadableFile final : public ReadableFile {
 public:
  explicit WindowsReadableFile(HANDLE handle) : handle_(handle), info_(InfoOf(handle)) {}

  [[nodiscard]] const FileInfo& info() const override { return info_; }

  bool LockExclusive() override {
    // One byte far past any end the file can have: readers of the data are not blocked,
    // only other lockers of that byte.
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFE;
    at.OffsetHigh = 0x7FFFFFFF;
    return LockFileEx(handle_.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &at) != 0;
  }

  bool ReadFull(std::uint8_t* data, std::size_t size, std::size_t* count) override {
    std::size_t done = 0;
    while (done < size) {
      DWORD n = 0;
      const auto ask = static_cast<DWORD>(std::min(size - done, kChunk));
      if (!ReadFile(handle_.get(), data + done, ask, &n, nullptr)) return false;
      if (n == 0) break;
      done += n;
    }
    *count = done;
    return true;
  }

 private:
  Handle handle_;
  FileInfo info_;
};

class WindowsWritableFile final : public WritableFile {
 public:
  explicit WindowsWritableFile(HANDLE handle) : handle_(handle), info_(InfoOf(handle)) {}

  [[nodiscard]] const FileInfo& info() const override { return info_; }

  // Nothing to copy: access comes from the folder's inherited access list.
  bool TakeAccessOf(const FileInfo& /*like*/) override { return true; }

  bool WriteFull(const std::uint8_t* data, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      DWORD n = 0;
      const auto ask = static_cast<DWORD>(std::min(size - done, kChunk));
      if (!WriteFile(handle_.get(), data + done, ask, &n, nullptr) || n == 0) return false;
      done += n;
    }
    return true;
  }

  bool Sync() override { return FlushFileBuffers(handle_.get()) != 0; }

  bool Close() override { return handle_.Close(); }

 private:
  Handle handle_;
  FileInfo info_;
};

class WindowsFolder final : public Folder {
 public:
  // `prefix` is the folder's path with its separator, or empty for the current folder.
  // The folder is held open without delete sharing, so it cannot be renamed or removed
  // while the tool runs.
  WindowsFolder(std::string prefix, HANDLE handle) : prefix_(std::move(prefix)), handle_(handle) {}

  std::unique_ptr<ReadableFile> OpenForReading(const std::string& name, Links links) override {
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open at all. A link or
    // junction opened itself, not followed, is not a plain file and is refused below.
    const DWORD flags =
        FILE_ATTRIBUTE_NORMAL | (links == Links::kRefuse ? FILE_FLAG_OPEN_REPARSE_POINT : DWORD{0});
    HANDLE h = CreateFileA(Path(name).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    auto file = std::make_unique<WindowsReadableFile>(h);
    if (!file->info().regular) return nullptr;
    return file;
  }

  bool Inspect(const std::string& name, FileInfo* info) override {
    // FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link or junction itself.
    return InspectWith(name, FILE_FLAG_OPEN_REPARSE_POINT, info);
  }

  std::unique_ptr<WritableFile> CreateNew(const std::string& name) override {
    // CREATE_NEW fails on anything at the name. Opened without sharing, the file cannot
    // be opened, moved or removed by anyone else while it is written.
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE h =
        CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, kFlags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<WindowsWritableFile>(h);
  }

  // A console interrupt is not caught (see process_windows.cc): nothing to disarm.
  void Keep(const std::string& /*name*/) override {}

  // A live run holds its temporary file open without sharing until it is moved, so the
  // removal fails on it.
  bool RemoveLeftover(const std::string& name, const FileInfo& leftover) override {
    FileInfo now;
    return Inspect(name, &now) && now.SameFileAs(leftover) && Remove(name);
  }

  bool Remove(const std::string& name) override { return DeleteFileA(Path(name).c_str()) != 0; }

  MoveResult MoveNoReplace(const std::string& from, const std::string& to) override {
    // Without MOVEFILE_REPLACE_EXISTING, MoveFileA fails when `to` exists and changes
    // nothing.
    if (MoveFileA(Path(from).c_str(), Path(to).c_str())) return MoveResult::kMoved;
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
               ? MoveResult::kDestinationExists
               : MoveResult::kFailed;
  }

  // The file system journals its folder entries; a folder handle cannot be flushed.
  bool Sync() override { return true; }

 private:
  [[nodiscard]] std::string Path(const std::string& name) const { return prefix_ + name; }

  bool InspectWith(const std::string& name, DWORD flags, FileInfo* info) const {
    Handle h(CreateFileA(Path(name).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
    if (!h.valid()) return false;
    *info = InfoOf(h.get());
    return true;
  }

  std::string prefix_;
  Handle handle_;
};

}  // namespace

PathParts SplitPath(const std::string& path) {
  // The folder part ends at the last separator, or after a drive's colon ("C:name").
  std::string::size_type end = path.find_last_of("/\\");
  if (end == std::string::npos && path.size() >= 2 && path[1] == ':') end = 1;
  if (end == std::string::npos) return {".", path};
  return {path.substr(0, end + 1), path.substr(end + 1)};
}

std::unique_ptr<Folder> OpenFolder(const std::string& path, std::string* name) {
  PathParts parts = SplitPath(path);
  *name = std::move(parts.name);
  // Names inside the folder are reached through its path as given, separator included.
  std::string prefix = name->size() == path.size() ? "" : parts.folder;
  HANDLE h =
      CreateFileA(parts.folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<WindowsFolder>(std::move(prefix), h);
}

}  // namespace prc
