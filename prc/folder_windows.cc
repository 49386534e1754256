#define WIN32_LEAN_AND_MEAN
#include "prc/folder_windows.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "prc/access_list_windows.h"
#include "prc/folder.h"
#include "prc/handle_windows.h"
#include "prc/io_windows.h"
#include "prc/names_windows.h"

namespace prc {
namespace {

class WindowsReadableFile final : public ReadableFile {
 public:
  explicit WindowsReadableFile(HANDLE handle) : handle_(handle), info_(InfoOf(handle)) {}

  [[nodiscard]] const FileInfo& info() const override { return info_; }
  [[nodiscard]] HANDLE handle() const { return handle_.get(); }

  // Adds to info() what the file, opened at `path`, carries beyond its bytes and
  // attributes: its access list and its origin mark. False when they cannot be read.
  [[nodiscard]] bool ReadCarriedAt(const std::wstring& path) {
    return ReadCarried(handle_.get(), path, &info_);
  }

  [[nodiscard]] bool IsReparsePoint() const {
    BY_HANDLE_FILE_INFORMATION data{};
    return GetFileInformationByHandle(handle_.get(), &data) &&
           (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  }

  bool LockExclusive() override { return LockMarkByte(handle_.get()); }

  bool ReadFull(std::uint8_t* data, std::size_t size, std::size_t* count) override {
    return ReadAll(handle_.get(), data, size, count);
  }

 private:
  Handle handle_;
  FileInfo info_;
};

// `handle` writes the file at `path`, holds its mark byte locked (see RemoveLeftover) and
// moves it (see MoveNoReplace): it stays open until this object goes.
class WindowsWritableFile final : public WritableFile {
 public:
  WindowsWritableFile(HANDLE handle, std::wstring path)
      : handle_(handle), path_(std::move(path)), info_(InfoOf(handle)) {}

  [[nodiscard]] const FileInfo& info() const override { return info_; }
  [[nodiscard]] HANDLE handle() const { return handle_.get(); }

  // See GiveCarried.
  bool TakeAccessOf(const FileInfo& like) override {
    return GiveCarried(handle_.get(), path_, like);
  }

  bool WriteFull(const std::uint8_t* data, std::size_t size) override {
    return WriteAll(handle_.get(), data, size);
  }

  bool Sync() override { return FlushFileBuffers(handle_.get()) != 0; }

  // Closing the handle would report nothing that Sync did not, and it is kept: see the
  // class.
  bool Close() override { return true; }

 private:
  Handle handle_;
  std::wstring path_;
  FileInfo info_;
};

// The handle through which this folder opened or created `file`; INVALID_HANDLE_VALUE for
// any other.
HANDLE HandleOf(const OpenFile* file) {
  if (const auto* read = dynamic_cast<const WindowsReadableFile*>(file)) return read->handle();
  if (const auto* made = dynamic_cast<const WindowsWritableFile*>(file)) return made->handle();
  return INVALID_HANDLE_VALUE;
}

class WindowsFolder final : public Folder {
 public:
  // `prefix` is the folder's full path with the "\\?\" prefix and a closing separator;
  // `handle` is the folder, held open without delete sharing so that it cannot be renamed
  // or removed while the tool runs. Every call below names a file by that path and the
  // name, so the folder that is held is the folder that is used.
  WindowsFolder(std::wstring prefix, HANDLE handle) : prefix_(std::move(prefix)), handle_(handle) {}

  // Opened with DELETE access, to be moved through this handle, and without delete
  // sharing: nobody else can move or remove the file while it is held, and since this
  // handle may delete it, nobody can open it without delete sharing either, as a process
  // that would block its move must. Such a process that holds it already is waited for a
  // moment.
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& name) override {
    std::wstring path;
    if (!Path(name, &path)) return nullptr;
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open at all.
    const auto open = [&path](DWORD flags) {
      HANDLE h = INVALID_HANDLE_VALUE;
      (void)Retried(
          [&path, &h, flags] {
            h = CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, flags, nullptr);
            return h != INVALID_HANDLE_VALUE;
          },
          SharedForNow);
      return std::make_unique<WindowsReadableFile>(h);
    };
    // Opened itself, a link or junction is not a plain file and is refused. Any other
    // reparse point is opened again as a file is, so that its own driver gives the data,
    // and used only when that is still the same file; the first handle is closed first,
    // as it shares no deletion with the second.
    auto file = open(FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (!file->info().regular) return nullptr;
    if (file->IsReparsePoint()) {
      const FileInfo itself = file->info();
      file.reset();
      file = open(FILE_ATTRIBUTE_NORMAL);
      if (!file->info().regular || !file->info().SameFileAs(itself)) return nullptr;
    }
    return file->ReadCarriedAt(path) ? std::move(file) : nullptr;
  }

  bool InspectNoFollow(const std::string& name, FileInfo* info) override {
    std::wstring path;
    // FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link or junction itself.
    return Path(name, &path) && InspectWith(path, FILE_FLAG_OPEN_REPARSE_POINT, info);
  }

  // CREATE_NEW fails on anything at the name. The one handle sets the file's access list,
  // writes it, locks its mark byte, so that no other run takes it for a leftover, and
  // moves it: it stays open until the file object goes. Shared for reading and deletion
  // alone: nobody else can write the file, and since this handle may delete it, nobody can
  // open it without delete sharing, as a process that would block its move must. A
  // removal (this run's, when something fails) takes effect once the handle closes. A
  // console event removes no file (see process_windows.cc).
  std::unique_ptr<WritableFile> CreateNew(const std::string& name) override {
    std::wstring path;
    if (!Path(name, &path)) return nullptr;
    Handle file(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC,
                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) return nullptr;
    if (!LockMarkByte(file.get())) {
      (void)RemoveOpened(file.get());  // another run took it for a leftover first
      return nullptr;
    }
    return std::make_unique<WindowsWritableFile>(file.Release(), path);
  }

  // Opens the leftover, checks that it is still the file `leftover` describes and that no
  // live run holds its mark byte, and removes it through that same handle, so that what
  // is checked is what is removed.
  bool RemoveLeftover(const std::string& name, const FileInfo& leftover) override {
    const Handle h(OpenToRemove(name));
    return h.valid() && InfoOf(h.get()).SameFileAs(leftover) && LockMarkByte(h.get()) &&
           RemoveOpened(h.get());
  }

  bool Remove(const std::string& name) override {
    const Handle h(OpenToRemove(name));
    return h.valid() && RemoveOpened(h.get());
  }

  // The file open as `file`'s handle is renamed through it (FileRenameInfo), in one call
  // that no other process can make wait: none holds the file against it (see
  // OpenForReading and CreateNew). Without ReplaceIfExists the call fails when `to` exists
  // and changes nothing. It takes the destination as the system's own path ("\??\").
  MoveResult MoveNoReplace(const std::string& /*from*/, const std::string& to,
                           const OpenFile* file) override {
    HANDLE handle = HandleOf(file);
    std::wstring destination;
    if (handle == INVALID_HANDLE_VALUE || !Path(to, &destination) ||
        destination.rfind(L"\\\\?\\", 0) != 0) {
      return MoveResult::kFailed;
    }
    destination.replace(0, 4, L"\\??\\");
    const std::size_t bytes = destination.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFO, FileName) + bytes +
                                      sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(rename->FileName, destination.data(), bytes);
    if (SetFileInformationByHandle(handle, FileRenameInfo, rename,
                                   static_cast<DWORD>(buffer.size()))) {
      return MoveResult::kMoved;
    }
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
               ? MoveResult::kDestinationExists
               : MoveResult::kFailed;
  }

  // Flushes the folder itself, and with it the moves made in it. The handle asks
  // only for the right to add a file, which every run that got this far has used, and
  // shares everything, so no right or sharing of its own can stand in the way. A file
  // system that offers no flush of a folder has nothing more to give.
  bool Sync() override {
    Handle h(CreateFileW(prefix_.c_str(), FILE_ADD_FILE, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (h.valid() && FlushFileBuffers(h.get())) return true;
    return FolderFlushNotOffered(GetLastError());
  }

 private:
  // The full path of `name` in this folder (see PathIn).
  bool Path(const std::string& name, std::wstring* path) const {
    return PathIn(prefix_, name, path);
  }

  // Opens `name` itself, never a directory (without FILE_FLAG_BACKUP_SEMANTICS none opens)
  // nor what a link leads to, to be locked and removed, trying again while another process
  // holds it. INVALID_HANDLE_VALUE on failure.
  [[nodiscard]] HANDLE OpenToRemove(const std::string& name) const {
    std::wstring path;
    if (!Path(name, &path)) return INVALID_HANDLE_VALUE;
    HANDLE h = INVALID_HANDLE_VALUE;
    (void)Retried(
        [&path, &h] {
          constexpr DWORD kAccess = GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES;
          h = CreateFileW(path.c_str(), kAccess, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
          return h != INVALID_HANDLE_VALUE;
        },
        HeldForNow);
    return h;
  }

  static bool InspectWith(const std::wstring& path, DWORD flags, FileInfo* info) {
    Handle h(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
    if (!h.valid()) return false;
    *info = InfoOf(h.get());
    return true;
  }

  std::wstring prefix_;
  Handle handle_;
};

}  // namespace

// The codes of STATUS_INVALID_DEVICE_REQUEST and STATUS_NOT_IMPLEMENTED (a driver without
// the call), STATUS_NOT_SUPPORTED and STATUS_INVALID_PARAMETER (a driver or a server that
// takes no flush of a folder).
bool FolderFlushNotOffered(std::uint32_t error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_PARAMETER;
}

std::unique_ptr<Folder> OpenFolder(const std::string& path, std::string* name) {
  std::wstring prefixed;
  std::wstring::size_type name_at = 0;
  if (!ReadPath(path, &prefixed, &name_at)) return nullptr;
  std::wstring prefix = prefixed.substr(0, name_at);
  // FILE_LIST_DIRECTORY takes part in sharing, so without delete sharing nobody can rename
  // or remove the folder while it is held; FILE_READ_ATTRIBUTES alone would not. Opened
  // first: a path whose folder does not open (a device's, such as \\.\COM1) opens nothing.
  HANDLE h = CreateFileW(prefix.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  // The name as the file system holds it, so that the side files are spelled the same
  // however it was typed.
  const std::wstring stored = StoredName(prefixed);
  *name = Narrow(stored.empty() ? prefixed.substr(name_at) : stored);
  return std::make_unique<WindowsFolder>(std::move(prefix), h);
}

// The file alone is opened, by its full path: no folder handle, no look-up of its name.
std::unique_ptr<ReadableFile> OpenToRead(const std::string& path) {
  std::wstring prefixed;
  std::wstring::size_type name_at = 0;
  if (!ReadPath(path, &prefixed, &name_at)) return nullptr;
  auto file = std::make_unique<WindowsReadableFile>(CreateFileW(prefixed.c_str(), GENERIC_READ,
                                                                kShareAll, nullptr, OPEN_EXISTING,
                                                                FILE_ATTRIBUTE_NORMAL, nullptr));
  return file->info().regular && file->ReadCarriedAt(prefixed) ? std::move(file) : nullptr;
}

}  // namespace prc
