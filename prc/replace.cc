#include "prc/replace.h"

#include <utility>

namespace prc {
namespace {

// Whether `held` is a temporary file this tool may have left behind, safe to remove once
// no live run holds it: a regular file with no other name, the caller's own, and not
// `like`'s file.
bool IsOwnLeftover(const FileInfo& held, const FileInfo& like) {
  return held.regular && held.links == 1 && held.owned_by_caller && !held.SameFileAs(like);
}

// Whether `name` still leads to `file`.
bool Leads(Folder& folder, const std::string& name, const FileInfo& file) {
  FileInfo now;
  return folder.InspectNoFollow(name, &now) && now.SameFileAs(file);
}

// How a move of this run's own file went.
enum class Own {
  kMoved,              // `to` leads to the file
  kDestinationExists,  // `to` was taken; nothing was moved
  kFailed,             // nothing was moved
  kStranded,           // another file took `from`'s place just before the move, was moved
                       // to `to`, and could not be moved back
};

// Moves `from`, where `file` is open, to `to` as MoveNoReplace does, but only while `from`
// leads to `file`, and then checks that `to` does. Where the move goes by name, another
// process may have put another file at `from` between that look and the move: that file,
// moved in its stead, is moved back, by name.
Own MoveOwn(Folder& folder, const std::string& from, const std::string& to, const OpenFile& file) {
  if (!Leads(folder, from, file.info())) return Own::kFailed;
  switch (folder.MoveNoReplace(from, to, &file)) {
    case MoveResult::kMoved:
      break;
    case MoveResult::kDestinationExists:
      return Own::kDestinationExists;
    case MoveResult::kFailed:
      return Own::kFailed;
  }
  if (Leads(folder, to, file.info())) return Own::kMoved;
  return folder.MoveNoReplace(to, from, nullptr) == MoveResult::kMoved ? Own::kFailed
                                                                       : Own::kStranded;
}

// Removes `name` if it still leads to `temp`; else whatever is there is not this run's.
void RemoveOwn(Folder& folder, const std::string& name, const WritableFile& temp) {
  if (Leads(folder, name, temp.info())) (void)folder.Remove(name);
}

// The moves and the sync of SwapWithBackup, made with the signals held.
SwapResult Swap(Folder& folder, const std::string& input, const OpenFile& input_file,
                const SideNames& names, const WritableFile& temp) {
  switch (MoveOwn(folder, input, names.backup, input_file)) {
    case Own::kMoved:
      break;
    case Own::kDestinationExists:
      return SwapResult::kBackupExists;  // the temporary file is kept: it holds the payload
    case Own::kFailed:
      // Nothing has moved: the temporary file goes, as on every failure before the moves.
      RemoveOwn(folder, names.temp, temp);
      return SwapResult::kMoveFailed;
    case Own::kStranded:
      return SwapResult::kMoveFailed;  // kept, as above
  }
  if (MoveOwn(folder, names.temp, input, temp) != Own::kMoved) {
    // Put the original back under its own name. Should that fail too, it stays whole
    // under the backup name, and the payload under the temp name.
    return MoveOwn(folder, names.backup, input, input_file) == Own::kMoved
               ? SwapResult::kMoveFailed
               : SwapResult::kRollbackFailed;
  }
  return folder.Sync() ? SwapResult::kSwapped : SwapResult::kNotDurable;
}

}  // namespace

SideNames SideNamesFor(const std::string& input) { return {input + ".$$$", input + ".BAK"}; }

LockedInput OpenLockedInput(const std::string& path) {
  std::string name;
  std::unique_ptr<Folder> folder = OpenFolder(path, &name);
  if (!folder) {
    LockedInput input;
    input.error = InputError::kNoFolder;
    input.name = std::move(name);
    return input;
  }
  return LockInput(std::move(folder), std::move(name));
}

LockedInput LockInput(std::unique_ptr<Folder> folder, std::string name) {
  LockedInput input;
  input.file = folder->OpenForReading(name);
  FileInfo now;
  if (!input.file) {
    input.error = InputError::kCannotOpen;
  } else if (!input.file->LockExclusive()) {
    input.error = InputError::kLocked;
  } else if (!folder->InspectNoFollow(name, &now) || !now.SameFileAs(input.file->info())) {
    input.error = InputError::kNameMoved;
  }
  input.folder = std::move(folder);
  input.name = std::move(name);
  return input;
}

Temporary WriteTemporary(Folder& folder, const std::string& temp, const FileInfo& like,
                         const std::uint8_t* data, std::size_t size) {
  FileInfo held;
  if (folder.InspectNoFollow(temp, &held)) {
    if (!IsOwnLeftover(held, like) || !folder.RemoveLeftover(temp, held)) return {};
  }
  Temporary made;
  made.file = made.guard.Create(folder, temp);
  if (!made.file) return {};
  WritableFile& file = *made.file;
  // Access first: the file never holds the payload with wider access than `like` has.
  if (file.TakeAccessOf(like) && file.WriteFull(data, size) && file.Sync() && file.Close()) {
    return made;
  }
  // Still locked, and still this run's: no other run removes a locked file. Closed first,
  // as it is done with (on Windows the removal takes effect once the file object goes).
  (void)file.Close();
  made.guard.Hold();
  (void)folder.Remove(temp);
  made.guard.Settle();
  return {};
}

CreateResult CreateDurably(Folder& folder, const std::string& name, const FileInfo& like,
                           const std::uint8_t* data, std::size_t size) {
  const std::string temp_name = SideNamesFor(name).temp;
  Temporary temp = WriteTemporary(folder, temp_name, like, data, size);
  if (!temp.file) return CreateResult::kCannotWrite;
  temp.guard.Hold();
  const Own moved = MoveOwn(folder, temp_name, name, *temp.file);
  if (moved != Own::kMoved) RemoveOwn(folder, temp_name, *temp.file);
  temp.guard.Settle();
  switch (moved) {
    case Own::kMoved:
      break;
    case Own::kDestinationExists:
      return CreateResult::kExists;
    case Own::kFailed:
    case Own::kStranded:
      return CreateResult::kCannotWrite;
  }
  if (!folder.Sync()) {
    // `name` may not survive a power cut: take it back, if it is still the file made here.
    if (Leads(folder, name, temp.file->info())) (void)folder.Remove(name);
    return CreateResult::kCannotWrite;
  }
  return CreateResult::kCreated;
}

SwapResult SwapWithBackup(Folder& folder, const std::string& input, const OpenFile& input_file,
                          const SideNames& names, Temporary temp) {
  if (!temp.file) return SwapResult::kCannotWrite;
  // From the first move to the folder's sync, a signal waits: the swap is never left
  // half made, and a temporary file kept with the payload on a failure stays.
  temp.guard.Hold();
  const SwapResult swapped = Swap(folder, input, input_file, names, *temp.file);
  temp.guard.Settle();
  return swapped;
}

}  // namespace prc
