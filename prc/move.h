// Renaming that never replaces. The implementation is chosen by the build, one file per
// platform.
#ifndef PRC_MOVE_H_
#define PRC_MOVE_H_

#include <string>

namespace prc {

enum class MoveResult {
  kMoved,
  kDestinationExists,  // `to` names something already; nothing was changed.
  kFailed,             // any other failure; nothing was changed.
};

// Renames `from` to `to`, both in one directory, in one step that fails when `to` names
// anything at all (a file, a directory, a symbolic link, dangling or not), leaving both
// as they were. Symbolic links are moved themselves, never followed.
[[nodiscard]] MoveResult MoveNoReplace(const std::string& from, const std::string& to);

}  // namespace prc

#endif  // PRC_MOVE_H_
