#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "prc/move.h"

namespace prc {

MoveResult MoveNoReplace(const std::string& from, const std::string& to) {
  // Without MOVEFILE_REPLACE_EXISTING, MoveFileA fails when `to` exists and changes
  // nothing.
  if (MoveFileA(from.c_str(), to.c_str())) return MoveResult::kMoved;
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
             ? MoveResult::kDestinationExists
             : MoveResult::kFailed;
}

}  // namespace prc
