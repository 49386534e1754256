// The folder (directory) that holds a file the tool works on, opened once, and the files
// in it.
//
// Every open, create, move, removal and sync after OpenFolder names a file inside the
// folder that was opened, so a folder renamed, replaced or relinked while the tool runs
// cannot send the work elsewhere. The build chooses one implementation per platform.
#ifndef PRC_FOLDER_H_
#define PRC_FOLDER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace prc {

// What the tool learns of a file, by name or by open handle.
struct FileInfo {
  // Equal for two names of one file, different for two files.
  std::uint64_t device = 0;
  std::uint64_t number = 0;
  bool regular = false;  // a plain file: not a directory, link, device, FIFO or socket
  std::uint32_t links = 0;
  bool owned_by_caller = false;  // owned by the user this process runs as
  // Permission bits (no set-user-ID, set-group-ID or sticky bit), owner and group, as
  // the platform keeps them; zero where it keeps none.
  std::uint32_t permissions = 0;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  // The file's own marks that travel with it where the platform has them (Windows: the
  // read-only and hidden attributes, as FILE_ATTRIBUTE_* bits); zero elsewhere.
  std::uint32_t attributes = 0;
  // The file's access list beyond its permission bits, as the system stores it; empty when
  // it has none or the platform keeps none. Filled in only for a file opened for reading.
  std::string access_list;
  // Where the file came from, as the system marks a downloaded file (Windows: its
  // Zone.Identifier stream); empty when it has none or the platform keeps no such mark.
  // Filled in only for a file opened for reading.
  std::string origin_mark;

  [[nodiscard]] bool SameFileAs(const FileInfo& other) const {
    return device == other.device && number == other.number;
  }
};

// A file this process holds open, for reading or writing.
class OpenFile {
 public:
  virtual ~OpenFile() = default;

  // What the file is, as of when it was opened or created.
  [[nodiscard]] virtual const FileInfo& info() const = 0;
};

// A file open for reading. Closed when destroyed, which also drops its lock.
class ReadableFile : public OpenFile {
 public:
  // Takes an exclusive lock on the file that only other lockers see, without waiting.
  // False when another process holds it, or no lock can be had. Held until destruction.
  [[nodiscard]] virtual bool LockExclusive() = 0;

  // Reads until `size` bytes have come or the file ends, setting `*count` to the number
  // that came. Interrupted reads are retried. False on a read error.
  [[nodiscard]] virtual bool ReadFull(std::uint8_t* data, std::size_t size, std::size_t* count) = 0;
};

// A file this process created, open for writing. Closed when destroyed.
class WritableFile : public OpenFile {
 public:
  // Gives the file exactly the access `like` has, no more: `like`'s owner and group where
  // the system lets this process (always as the superuser; the group alone where the
  // caller belongs to it), then `like`'s access list in place of whatever the file was
  // given (none when `like` has none), then `like`'s permission bits. A group the file
  // could not be given gets none of the access `like`'s group has, and everyone else no
  // more than `like`'s group had, since that group's members are now among them. A
  // refused owner or group is not an error; a failure to set the access list or the
  // permission bits is. Where the file system keeps no access lists, the permission bits
  // say no more than the list allowed. Does nothing, successfully, where the platform
  // keeps none of these. Then gives the file `like`'s origin mark, where the file system
  // keeps one.
  [[nodiscard]] virtual bool TakeAccessOf(const FileInfo& like) = 0;

  // Writes all `size` bytes, retrying interrupted writes. False on an error or a short
  // write (full disk, file-size limit).
  [[nodiscard]] virtual bool WriteFull(const std::uint8_t* data, std::size_t size) = 0;

  // Flushes the file's data and size to the storage device.
  [[nodiscard]] virtual bool Sync() = 0;

  // Closes the file for writing. False when the close reports an error, which for a
  // written file means its data may not have been stored. Closing again does nothing. The
  // file stays locked (see Folder::CreateNew), and on Windows open to be moved (see
  // Folder::MoveNoReplace), until this object is destroyed.
  virtual bool Close() = 0;
};

enum class MoveResult {
  kMoved,
  kDestinationExists,  // `to` names something already; nothing was changed.
  kFailed,             // any other failure; nothing was changed.
};

class Folder {
 public:
  virtual ~Folder() = default;

  // Opens `name` for reading, with its access list, as the input of a replacement: a
  // symbolic link is refused, as it is not the file to replace. Never blocks, not even on
  // a FIFO; fails, leaving nothing open, when what it opened is not a regular file. The
  // check is made on the opened file, not the name. Null on failure. (A reader that
  // changes nothing opens a file with OpenToRead instead.) On Windows the file is also
  // opened to be moved (see MoveNoReplace), and no other process can then block that move;
  // while another process holds it against that, the open is tried again for a moment.
  [[nodiscard]] virtual std::unique_ptr<ReadableFile> OpenForReading(const std::string& name) = 0;

  // Looks at what `name` itself is: a symbolic link is described as the link, never
  // followed. False when nothing is there or it cannot be looked at.
  [[nodiscard]] virtual bool InspectNoFollow(const std::string& name, FileInfo* info) = 0;

  // Creates `name` as a new, empty regular file readable and writable by its owner
  // alone, opens it for writing and locks it against other runs: no other run takes it
  // for a leftover (see RemoveLeftover) while the returned file lives. Fails when
  // anything at all holds the name, changing nothing, or when another run takes the new
  // file for a leftover before it is locked, leaving it to that run. Null on failure. A
  // file a TemporaryGuard creates is armed for removal by a signal (see process.h).
  [[nodiscard]] virtual std::unique_ptr<WritableFile> CreateNew(const std::string& name) = 0;

  // Removes `name`, a file some earlier run left behind, when it is still the file
  // `leftover` describes and no live run holds it locked. False, changing nothing, when
  // another run holds it, it is another file by now, or it cannot be opened or removed.
  [[nodiscard]] virtual bool RemoveLeftover(const std::string& name, const FileInfo& leftover) = 0;

  // Removes the name `name`; never a directory. False when it could not.
  virtual bool Remove(const std::string& name) = 0;

  // Renames `from`, where `file` is open (null: whatever is there), to `to` in one step
  // that fails when `to` names anything at all (a file, a directory, a symbolic link,
  // dangling or not), leaving both as they were.
  //  - POSIX: by the names; `file` is not needed. Symbolic links are moved themselves,
  //    never followed. On a file system with neither a no-replace rename nor second names,
  //    another process that puts a file at `to` in the instant of the move can lose it
  //    (see move_posix.h).
  //  - Windows: `file` itself, opened by this folder (OpenForReading or CreateNew), is
  //    moved, wherever it is by then: what is moved is what was read or written. Null
  //    fails.
  [[nodiscard]] virtual MoveResult MoveNoReplace(const std::string& from, const std::string& to,
                                                 const OpenFile* file) = 0;

  // Makes the folder's entries (the names created, moved and removed in it) durable.
  [[nodiscard]] virtual bool Sync() = 0;
};

// Opens the folder that holds `path` and sets `*name` to the name inside it. Null when
// the folder cannot be opened. On POSIX the folder is the part of `path` before its last
// "/" (see names_posix.h). On Windows `path` is read as the system reads a path, the name
// is spelled as the file system holds it for the file the path opens, and a name with a
// character no file name may hold opens nothing (see names_windows.h).
[[nodiscard]] std::unique_ptr<Folder> OpenFolder(const std::string& path, std::string* name);

// Opens the file at `path` for reading, with its access list, as a program that only reads
// it (prccat, mkprc's PLAIN) needs it: by its path alone, never opening or looking through
// the folder that holds it, so that a folder that may be entered but not listed stands no
// more in the way than it does for cat(1). A symbolic link is followed. Never blocks, not
// even on a FIFO; fails, leaving nothing open, when what it opened is not a regular file.
// On Windows `path` is read as OpenFolder reads it, and a name with a character no file
// name may hold opens nothing. Null on failure.
[[nodiscard]] std::unique_ptr<ReadableFile> OpenToRead(const std::string& path);

}  // namespace prc

#endif  // PRC_FOLDER_H_
