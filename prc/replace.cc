#include "prc/replace.h"

#include "prc/process.h"

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
  return folder.Inspect(name, &now) && now.SameFileAs(file);
}

// Moves `from` to `to` as MoveNoReplace does, but only while `from` leads to `file`.
MoveResult MoveOwn(Folder& folder, const std::string& from, const std::string& to,
                   const FileInfo& file) {
  return Leads(folder, from, file) ? folder.MoveNoReplace(from, to) : MoveResult::kFailed;
}

// Removes `name` if it still leads to `file`; else whatever is there is not this run's.
void RemoveOwn(Folder& folder, const std::string& name, const FileInfo& file) {
  if (Leads(folder, name, file)) {
    (void)folder.Remove(name);
  } else {
    folder.Keep(name);
  }
}

}  // namespace

SideNames SideNamesFor(const std::string& input) { return {input + ".$$$", input + ".BAK"}; }

std::unique_ptr<WritableFile> WriteTemporary(Folder& folder, const std::string& temp,
                                             const FileInfo& like, const std::uint8_t* data,
                                             std::size_t size) {
  FileInfo held;
  if (folder.Inspect(temp, &held)) {
    if (!IsOwnLeftover(held, like) || !folder.RemoveLeftover(temp, held)) return nullptr;
  }
  std::unique_ptr<WritableFile> file = folder.CreateNew(temp);
  if (!file) return nullptr;
  // Access first: the file never holds the payload with wider access than `like` has.
  if (file->TakeAccessOf(like) && file->WriteFull(data, size) && file->Sync() && file->Close()) {
    return file;
  }
  // Still locked, and still this run's: no other run removes a locked file.
  (void)folder.Remove(temp);
  return nullptr;
}

CreateResult CreateDurably(Folder& folder, const std::string& name, const FileInfo& like,
                           const std::uint8_t* data, std::size_t size) {
  const std::string temp = SideNamesFor(name).temp;
  const std::unique_ptr<WritableFile> file = WriteTemporary(folder, temp, like, data, size);
  if (!file) return CreateResult::kCannotWrite;
  switch (MoveOwn(folder, temp, name, file->info())) {
    case MoveResult::kMoved:
      break;
    case MoveResult::kDestinationExists:
      RemoveOwn(folder, temp, file->info());
      return CreateResult::kExists;
    case MoveResult::kFailed:
      RemoveOwn(folder, temp, file->info());
      return CreateResult::kCannotWrite;
  }
  if (!folder.Sync()) {
    // `name` may not survive a power cut: take it back, if it is still the file made here.
    if (Leads(folder, name, file->info())) (void)folder.Remove(name);
    return CreateResult::kCannotWrite;
  }
  return CreateResult::kCreated;
}

SwapResult WriteAndSwap(Folder& folder, const std::string& input, const FileInfo& input_info,
                        const SideNames& names, WorkBuffer buffer, std::uint32_t payload_length) {
  const std::unique_ptr<WritableFile> temp =
      WriteTemporary(folder, names.temp, input_info, buffer.get() + kHeaderSize, payload_length);
  buffer.reset();  // The payload is on disk or lost; the moves need no memory.
  if (!temp) return SwapResult::kCannotWrite;

  // From the first move to the folder's sync, a signal waits: the swap is never left
  // half made, and a temporary file that holds the payload on a failure stays.
  const SignalsHeld held;
  switch (MoveOwn(folder, input, names.backup, input_info)) {
    case MoveResult::kMoved:
      break;
    case MoveResult::kDestinationExists:
      folder.Keep(names.temp);
      return SwapResult::kBackupExists;
    case MoveResult::kFailed:
      folder.Keep(names.temp);
      return SwapResult::kMoveFailed;
  }
  if (MoveOwn(folder, names.temp, input, temp->info()) != MoveResult::kMoved) {
    folder.Keep(names.temp);
    // Put the original back under its own name. Should that fail too, it stays whole
    // under the backup name, and the payload under the temp name.
    return MoveOwn(folder, names.backup, input, input_info) == MoveResult::kMoved
               ? SwapResult::kMoveFailed
               : SwapResult::kRollbackFailed;
  }
  return folder.Sync() ? SwapResult::kSwapped : SwapResult::kNotDurable;
}

}  // namespace prc
