// Replacing a file with its restored form while keeping the original as a backup, and
// creating a file without ever replacing one: the protocol both follow, on any Folder.
#ifndef PRC_REPLACE_H_
#define PRC_REPLACE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "prc/folder.h"
#include "prc/process.h"

namespace prc {

// The two files made beside the input: the input's name with a suffix appended after
// any extension it has.
struct SideNames {
  std::string temp;    // the restored payload before it is moved in: input + ".$$$"
  std::string backup;  // the original, kept: input + ".BAK"
};

SideNames SideNamesFor(const std::string& input);

enum class InputError {
  kNone,
  kNoFolder,    // the folder that holds the input cannot be opened
  kCannotOpen,  // the input cannot be opened for reading, is a symbolic link or not a
                // regular file
  kLocked,      // another run holds the input's lock, or no lock can be had
  kNameMoved,   // the name no longer leads to the file locked: another run swapped it
};

// The input of a replacement, opened and locked, with the folder that holds it.
struct LockedInput {
  InputError error = InputError::kNone;
  std::unique_ptr<Folder> folder;
  std::string name;  // the input's name inside `folder`
  std::unique_ptr<ReadableFile> file;
};

// Opens the folder that holds `path` (see OpenFolder), then the input in it as LockInput
// does.
[[nodiscard]] LockedInput OpenLockedInput(const std::string& path);

// Opens `name` in `folder` for reading, refusing a symbolic link (the restored file would
// land beside it, with access only the link's target had), and takes its exclusive lock,
// held until the file is destroyed: one run at a time works on a file. Then checks that
// the name still leads to the file locked; else another run swapped it meanwhile. On
// failure `error` says which step failed, and what was opened stays open in the result.
[[nodiscard]] LockedInput LockInput(std::unique_ptr<Folder> folder, std::string name);

// A temporary file WriteTemporary made, and its guard: a signal that ends the process
// removes it until SwapWithBackup or CreateDurably moves it in, removes or keeps it.
struct Temporary {
  std::unique_ptr<WritableFile> file;  // null on failure
  TemporaryGuard guard;
};

// Stores `size` bytes at `data` durably in a new file `temp` in `folder`, with exactly
// the access `like` has (see WritableFile::TakeAccessOf), set before any byte is written.
// The file is always created afresh, never written in place: a leftover at `temp` is
// removed first, but only when it is a regular file with one name, owned by the caller,
// not the file `like` describes, and held by no live run; anything else there fails the
// call and is left as it was. Returns the file, written, synced and closed for writing,
// but still locked against other runs until it is destroyed, with its removal by a signal
// armed; a null file on failure, when a file this call created is removed.
[[nodiscard]] Temporary WriteTemporary(Folder& folder, const std::string& temp,
                                       const FileInfo& like, const std::uint8_t* data,
                                       std::size_t size);

enum class CreateResult {
  kCreated,      // `name` holds the bytes, durably
  kExists,       // something held `name` already; it is untouched
  kCannotWrite,  // the bytes could not be stored; nothing is left behind
};

// Stores `size` bytes at `data` as a new file `name` in `folder`: written to `name` +
// ".$$$" (as WriteTemporary, like `like`), moved to `name` by the no-replace move while
// that name still leads to the file written (and checked after, as SwapWithBackup's
// moves are), and the folder synced. Never replaces anything. On any failure the
// temporary file is removed, if it is still the one made here, and so is `name` when the
// folder sync fails and it is still the file made here.
[[nodiscard]] CreateResult CreateDurably(Folder& folder, const std::string& name,
                                         const FileInfo& like, const std::uint8_t* data,
                                         std::size_t size);

enum class SwapResult {
  kSwapped,         // `input` holds the payload, names.backup the original; no temp file
  kCannotWrite,     // the payload could not be stored: `input` untouched, no backup made
  kBackupExists,    // the backup name was taken: `input` and it untouched; temp holds payload
  kMoveFailed,      // a move failed: the original back under `input`; temp removed when
                    // the first move moved nothing, else it holds the payload
  kRollbackFailed,  // the second move and the move back failed: the original under
                    // names.backup, the payload under names.temp
  kNotDurable,      // both moves made, but the folder could not be synced: the files are
                    // as for kSwapped, but may not survive a power cut
};

// With the signals held (see TemporaryGuard::Hold), moves `input` to names.backup and
// `temp`, the file WriteTemporary made at names.temp, to `input`, neither move ever
// replacing anything, each made only while its name still leads to the file this run read
// (`input_file`, open at `input`) or wrote, and handed that file (see
// Folder::MoveNoReplace), and each checked after: where the new name leads to another
// file (one put in the place of this run's just before a move by name), that file is
// moved back and the move counts as failed. Then syncs the folder. All names are in
// `folder`. A first move that fails and moves nothing leaves the temporary file removed,
// as before the moves; it is kept with the payload beside an existing backup, once the
// first move is made, or where a file moved in the input's stead could not be moved back.
// The input's bytes are never rewritten, only moved, and are never lost. kCannotWrite when
// `temp` holds no file.
[[nodiscard]] SwapResult SwapWithBackup(Folder& folder, const std::string& input,
                                        const OpenFile& input_file, const SideNames& names,
                                        Temporary temp);

}  // namespace prc

#endif  // PRC_REPLACE_H_
