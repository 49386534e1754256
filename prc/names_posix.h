// How a POSIX path names a file: the folder that holds it and the name inside that folder.
#ifndef PRC_NAMES_POSIX_H_
#define PRC_NAMES_POSIX_H_

#include <string>

namespace prc {

// A path split into the folder that holds it and the name inside that folder.
struct PathParts {
  // The folder's path, as opened: the part before the last "/" ("/" for a name right
  // under the root), or "." when the path has none.
  std::string folder;
  std::string name;  // the rest
};

// The split OpenFolder makes.
[[nodiscard]] PathParts SplitPath(const std::string& path);

}  // namespace prc

#endif  // PRC_NAMES_POSIX_H_
