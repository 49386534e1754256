#include "prc/replace.h"

#include "prc/process.h"

namespace prc {
namespace {

// Whether `held` is a temporary file this tool may have left behind, safe to remove: a
// regular file with no other name, the caller's own, and not `like`'s file.
bool IsOwnLeftover(const FileInfo& held, const FileInfo& like) {
  return held.regular && held.links == 1 && held.owned_by_caller && !held.SameFileAs(like);
}

}  // namespace

SideNames SideNamesFor(const std::string& input) { return {input + ".$$$", input + ".BAK"}; }

bool WriteTemporary(Folder& folder, const std::string& temp, const FileInfo& like,
                    const std::uint8_t* data, std::size_t size) {
  FileInfo held;
  if (folder.Inspect(temp, &held)) {
    if (!IsOwnLeftover(held, like) || !folder.Remove(temp)) return false;
  }
  std::unique_ptr<WritableFile> file = folder.CreateNew(temp);
  if (!file) return false;
  // Owner and permissions first: the file never holds the payload with wider access
  // than the input has.
  if (file->TakeOwnerAndPermissionsOf(like) && file->WriteFull(data, size) && file->Sync() &&
      file->Close()) {
    return true;
  }
  file.reset();
  (void)folder.Remove(temp);
  return false;
}

CreateResult CreateDurably(Folder& folder, const std::string& name, const FileInfo& like,
                           const std::uint8_t* data, std::size_t size) {
  const std::string temp = SideNamesFor(name).temp;
  if (!WriteTemporary(folder, temp, like, data, size)) return CreateResult::kCannotWrite;
  FileInfo made;
  if (!folder.Inspect(temp, &made)) {
    (void)folder.Remove(temp);
    return CreateResult::kCannotWrite;
  }
  switch (folder.MoveNoReplace(temp, name)) {
    case MoveResult::kMoved:
      break;
    case MoveResult::kDestinationExists:
      (void)folder.Remove(temp);
      return CreateResult::kExists;
    case MoveResult::kFailed:
      (void)folder.Remove(temp);
      return CreateResult::kCannotWrite;
  }
  if (!folder.Sync()) {
    // `name` may not survive a power cut: take it back, if it is still the file made here.
    FileInfo now;
    if (folder.Inspect(name, &now) && now.SameFileAs(made)) (void)folder.Remove(name);
    return CreateResult::kCannotWrite;
  }
  return CreateResult::kCreated;
}

SwapResult WriteAndSwap(Folder& folder, const std::string& input, const FileInfo& input_info,
                        const SideNames& names, WorkBuffer buffer, std::uint32_t payload_length) {
  const bool written =
      WriteTemporary(folder, names.temp, input_info, buffer.get() + kHeaderSize, payload_length);
  buffer.reset();  // The payload is on disk or lost; the moves need no memory.
  if (!written) return SwapResult::kCannotWrite;

  // From the first move to the folder's sync, a signal waits: the swap is never left
  // half made, and a temporary file that holds the payload on a failure stays.
  const SignalsHeld held;
  switch (folder.MoveNoReplace(input, names.backup)) {
    case MoveResult::kMoved:
      break;
    case MoveResult::kDestinationExists:
      folder.Keep(names.temp);
      return SwapResult::kBackupExists;
    case MoveResult::kFailed:
      folder.Keep(names.temp);
      return SwapResult::kMoveFailed;
  }
  if (folder.MoveNoReplace(names.temp, input) != MoveResult::kMoved) {
    folder.Keep(names.temp);
    // Put the original back under its own name. Should that fail too, it stays whole
    // under the backup name, and the payload under the temp name.
    return folder.MoveNoReplace(names.backup, input) == MoveResult::kMoved
               ? SwapResult::kMoveFailed
               : SwapResult::kRollbackFailed;
  }
  return folder.Sync() ? SwapResult::kSwapped : SwapResult::kNotDurable;
}

}  // namespace prc
