#include "prc/replace.h"

#include "prc/file.h"
#include "prc/move.h"

namespace prc {
namespace {

// Stores `size` bytes durably in a regular file at `path`. On failure removes what it
// wrote; a name it could not open as its own is left alone.
bool WriteDurably(const std::string& path, const std::uint8_t* data, std::size_t size,
                  std::uint32_t permissions) {
  File file;
  if (!file.CreateForWriting(path)) return false;
  // Permissions first: the file never holds the payload with wider access than the input.
  if (file.SetPermissions(permissions) && file.WriteFull(data, size) && file.Sync() &&
      file.Close()) {
    return true;
  }
  file.Close();
  RemoveFile(path);
  return false;
}

}  // namespace

SideNames SideNamesFor(const std::string& input) { return {input + ".$$$", input + ".BAK"}; }

SwapResult WriteAndSwap(WorkBuffer buffer, std::uint32_t payload_length, std::uint32_t permissions,
                        const std::string& input, const SideNames& names) {
  const bool written =
      WriteDurably(names.temp, buffer.get() + kHeaderSize, payload_length, permissions);
  buffer.reset();  // The payload is on disk or lost; the moves need no memory.
  if (!written) return SwapResult::kCannotWrite;

  switch (MoveNoReplace(input, names.backup)) {
    case MoveResult::kMoved:
      break;
    case MoveResult::kDestinationExists:
      return SwapResult::kBackupExists;
    case MoveResult::kFailed:
      return SwapResult::kCannotWrite;
  }
  if (MoveNoReplace(names.temp, input) != MoveResult::kMoved) {
    // Put the original back under its own name. Should that fail too, it stays whole
    // under the backup name, and the payload under the temp name.
    (void)MoveNoReplace(names.backup, input);
    return SwapResult::kCannotWrite;
  }
  return SwapResult::kSwapped;
}

}  // namespace prc
