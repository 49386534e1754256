#define WIN32_LEAN_AND_MEAN
#include "prc/folder_windows.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "prc/folder.h"
#include "prc/io_windows.h"
#include "prc/utf16.h"

// Every name is handed to the system's wide calls as a full path with the "\\?\" prefix,
// so a name may hold any character and a path any length up to the system's own limit.
// That prefix also turns off the system's reading of a path (separators, "." and "..",
// trailing dots and spaces): OpenFolder reads the path once, and what follows is taken as
// it is.
namespace prc {
namespace {

// What a handle shares when it should stand in nobody's way.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The marks a restored file takes over from its input.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

// How long the input's open and a removal are tried again while another process (a virus
// scanner, an indexer, a backup) holds the file for a moment, and how long it waits
// between tries.
constexpr DWORD kRetryMilliseconds = 2000;
constexpr DWORD kRetryPauseMilliseconds = 50;

// The UTF-16 name whose byte form is `name` (see prc/utf16.h), as the system's wide calls
// take it; false when `name` is no name's byte form.
bool Wide(const std::string& name, std::wstring* wide) {
  std::u16string units;
  if (!Utf16FromName(name, &units)) return false;
  wide->assign(units.begin(), units.end());
  return true;
}

std::string Narrow(const std::wstring& wide) {
  return NameFromUtf16(std::u16string(wide.begin(), wide.end()));
}

// Whether the error says another process holds the file for now, so a later try to remove
// it may work.
bool HeldForNow(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

// Whether the error says another process has the file open in a way that a later try to
// open it may not meet.
bool SharedForNow(DWORD error) { return error == ERROR_SHARING_VIOLATION; }

// Calls `step` until it succeeds, or fails with an error `again` does not take for one of
// the moment, or the time for tries is up. The last call's result, with its error left for
// GetLastError.
template <typename Step>
bool Retried(Step step, bool (*again)(DWORD)) {
  const ULONGLONG until = GetTickCount64() + kRetryMilliseconds;
  for (;;) {
    if (step()) return true;
    const DWORD error = GetLastError();
    if (!again(error) || GetTickCount64() >= until) {
      SetLastError(error);
      return false;
    }
    Sleep(kRetryPauseMilliseconds);
  }
}

// Whether a reparse point of this kind makes its name lead somewhere else: a symbolic link
// or a junction. Other kinds (a cloud file's placeholder, a deduplicated or compressed
// file) are read as the files they are.
bool IsLinkTag(DWORD tag) {
  return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

FileInfo InfoOf(HANDLE handle) {
  FileInfo info;
  BY_HANDLE_FILE_INFORMATION data{};
  if (!GetFileInformationByHandle(handle, &data)) return info;
  info.device = data.dwVolumeSerialNumber;
  info.number = static_cast<std::uint64_t>(data.nFileIndexHigh) << 32 | data.nFileIndexLow;
  bool link = false;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    // A reparse point of unknown kind counts as a link.
    link = !GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
           IsLinkTag(tag.ReparseTag);
  }
  // A plain file on disk: not a directory, a device, a pipe, a link or a junction.
  info.regular = GetFileType(handle) == FILE_TYPE_DISK &&
                 (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && !link;
  info.links = data.nNumberOfLinks;
  // Access comes from the folder's inherited access list, not from an owner and bits the
  // file carries; a file the caller can open counts as the caller's.
  info.owned_by_caller = true;
  info.attributes = data.dwFileAttributes & kCarriedAttributes;
  return info;
}

// Whether the file system that holds the file open as `handle` is known to lack `feature`:
// FILE_PERSISTENT_ACLS (FAT and exFAT keep no access lists) or FILE_NAMED_STREAMS.
bool Lacks(HANDLE handle, DWORD feature) {
  DWORD flags = 0;
  return GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
         (flags & feature) == 0;
}

// Reads into `*list` the discretionary access list of the file open as `handle` (which
// needs READ_CONTROL) with its control flags, whether it is protected from inheritance
// among them: a self-relative security descriptor that holds nothing else. Empty where the
// file system keeps no lists. False when it cannot be read.
bool ReadAccessList(HANDLE handle, std::string* list) {
  list->clear();
  if (Lacks(handle, FILE_PERSISTENT_ACLS)) return true;
  DWORD size = 0;
  (void)GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  while (size > 0) {
    list->resize(size);
    if (GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, list->data(), size, &size)) {
      list->resize(GetSecurityDescriptorLength(list->data()));
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;  // else it grew meanwhile
  }
  list->clear();
  return false;
}

// One byte far past any end a file can have, locked to say "a live run holds this file":
// readers and writers of the data are not blocked, only other lockers of that byte.
bool LockMarkByte(HANDLE handle) {
  OVERLAPPED at{};
  at.Offset = 0xFFFFFFFE;
  at.OffsetHigh = 0x7FFFFFFF;
  return LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

// Gives the file open as `handle` the attributes `bits` among those in `mask`; the others
// (the archive mark a new file gets) stay as they are.
bool SetAttributes(HANDLE handle, DWORD mask, DWORD bits) {
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) return false;
  const DWORD attributes = (basic.FileAttributes & ~mask) | (bits & mask);
  if (attributes == basic.FileAttributes) return true;
  basic = FILE_BASIC_INFO{};  // times of zero are left as they are
  basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Removes the file open as `handle`, which must have been opened with DELETE access. The
// read-only mark, which the system's removal refuses, is taken off first.
bool RemoveOpened(HANDLE handle) {
  if (!SetAttributes(handle, FILE_ATTRIBUTE_READONLY, 0)) return false;
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// Owns one handle; closes it once.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }

  [[nodiscard]] HANDLE get() const { return handle_; }
  [[nodiscard]] HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
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

// The stream in which Windows keeps where a downloaded file came from (its zone), and the
// most of it that is carried.
constexpr wchar_t kOriginStream[] = L":Zone.Identifier";
constexpr DWORD kMaxOriginMark = DWORD{1} << 16;

// Reads into `*mark` the origin mark of the file open as `handle` at `path`: the bytes of
// its Zone.Identifier stream, opened by the path and used only when it is that file's.
// Empty when it has none or the file system keeps no streams. False when it cannot be read
// whole.
bool ReadOriginMark(HANDLE handle, const std::wstring& path, std::string* mark) {
  mark->clear();
  if (Lacks(handle, FILE_NAMED_STREAMS)) return true;
  const Handle stream(CreateFileW((path + kOriginStream).c_str(), GENERIC_READ, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!stream.valid()) return GetLastError() == ERROR_FILE_NOT_FOUND;
  DWORD size = 0;
  mark->resize(kMaxOriginMark + 1);
  if (!InfoOf(stream.get()).SameFileAs(InfoOf(handle)) ||
      !ReadFile(stream.get(), mark->data(), kMaxOriginMark + 1, &size, nullptr) ||
      size > kMaxOriginMark) {
    mark->clear();
    return false;
  }
  mark->resize(size);
  return true;
}

class WindowsReadableFile final : public ReadableFile {
 public:
  explicit WindowsReadableFile(HANDLE handle) : handle_(handle), info_(InfoOf(handle)) {}

  [[nodiscard]] const FileInfo& info() const override { return info_; }
  [[nodiscard]] HANDLE handle() const { return handle_.get(); }

  // Adds to info() what the file, opened at `path`, carries beyond its bytes and
  // attributes: its access list and its origin mark. False when they cannot be read.
  [[nodiscard]] bool ReadCarried(const std::wstring& path) {
    return ReadAccessList(handle_.get(), &info_.access_list) &&
           ReadOriginMark(handle_.get(), path, &info_.origin_mark);
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

  // `like`'s access list replaces the one the folder passed on, as it stands: its entries,
  // inherited or not, and its flags. SetKernelObjectSecurity stores it so, where
  // SetSecurityInfo would work the inherited entries out afresh from the folder. None is
  // set where `like` has none or the file system keeps none. The owner stays this
  // process's user. `like`'s origin mark goes into the file's own stream, where the file
  // system keeps streams: created before the list is set, which may not let this process
  // open the file again, and written only after. The read-only and hidden marks are the
  // file's own too: they are set last, through this handle, which stays open for writing
  // whatever they say.
  bool TakeAccessOf(const FileInfo& like) override {
    const bool marked = !like.origin_mark.empty() && !Lacks(handle_.get(), FILE_NAMED_STREAMS);
    const Handle mark(marked
                          ? CreateFileW((path_ + kOriginStream).c_str(), GENERIC_WRITE, kShareAll,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)
                          : INVALID_HANDLE_VALUE);
    if (marked && !mark.valid()) return false;
    std::string list = like.access_list;
    if (!list.empty() && !Lacks(handle_.get(), FILE_PERSISTENT_ACLS) &&
        !SetKernelObjectSecurity(handle_.get(), DACL_SECURITY_INFORMATION, list.data())) {
      return false;
    }
    const auto size = static_cast<DWORD>(like.origin_mark.size());
    DWORD written = 0;
    if (marked && (!WriteFile(mark.get(), like.origin_mark.data(), size, &written, nullptr) ||
                   written != size)) {
      return false;
    }
    return SetAttributes(handle_.get(), kCarriedAttributes, like.attributes);
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
    return file->ReadCarried(path) ? std::move(file) : nullptr;
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
  // The full path of `name` in this folder; false when `name` is no name, or names a
  // stream of a file ("A.PRC:s") or a file below another folder.
  bool Path(const std::string& name, std::wstring* path) const {
    std::wstring wide;
    if (!Wide(name, &wide) || wide.find_first_of(L"\\/:") != std::wstring::npos) return false;
    *path = prefix_ + wide;
    return true;
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

// What a system call writes into a buffer of characters it is given the size of, when it
// returns the length written, or the size it needs (its terminating zero included) when the
// buffer is too small, or 0 on failure. Empty on failure.
template <typename Call>
std::wstring Written(Call call) {
  std::wstring text(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = call(text.data(), static_cast<DWORD>(text.size()));
    if (size == 0) return {};
    const bool fits = size < text.size();
    text.resize(size);
    if (fits) return text;
  }
}

// The system's full path for `path`, read as the system reads a path: relative to the
// current folder and drive, "." and ".." taken away, every "/" made "\", and trailing dots
// and spaces of the last part dropped. Empty on failure.
std::wstring FullPath(const std::wstring& path) {
  return Written([&path](wchar_t* buffer, DWORD size) {
    return GetFullPathNameW(path.c_str(), size, buffer, nullptr);
  });
}

// The same path with the "\\?\" prefix, which lifts the length limit and every other
// reading of the path. A device's path is left as it is.
std::wstring Prefixed(const std::wstring& full) {
  if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  return L"\\\\?\\" + full;
}

// The name of the file at `path` as the file system holds it, as a handle to that very file
// reports it: its long name, not a short (8.3) one, in the case it was given, and in a
// case-sensitive folder the file the name opens, never another spelled alike. Empty when
// nothing is there or its name cannot be had.
std::wstring StoredName(const std::wstring& path) {
  const Handle h(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.valid()) return {};
  const std::wstring final = Written([&h](wchar_t* buffer, DWORD size) {
    return GetFinalPathNameByHandleW(h.get(), buffer, size,
                                     FILE_NAME_NORMALIZED | VOLUME_NAME_NONE);
  });
  const std::wstring::size_type slash = final.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : final.substr(slash + 1);
}

// `path` read as the system reads a path (FullPath), with the "\\?\" prefix (Prefixed),
// and where its last part, the file's name, begins in it. False when it is no path, or
// that name holds a character no file name may: the system's wildcards, which a look-up
// would match against other files, or the colon, which names a stream inside a file.
bool ReadPath(const std::string& path, std::wstring* prefixed, std::wstring::size_type* name_at) {
  std::wstring wide;
  if (!Wide(path, &wide) || wide.empty()) return false;
  const std::wstring full = FullPath(wide);
  if (full.empty()) return false;
  *prefixed = Prefixed(full);
  const std::wstring::size_type end = prefixed->find_last_of(L'\\');
  if (end == std::wstring::npos) return false;
  *name_at = end + 1;
  return prefixed->find_first_of(L"*?<>\"|:", *name_at) == std::wstring::npos;
}

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
  return file->info().regular && file->ReadCarried(prefixed) ? std::move(file) : nullptr;
}

}  // namespace prc
