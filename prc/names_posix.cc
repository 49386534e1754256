#include "prc/names_posix.h"

#include <string>

namespace prc {

PathParts SplitPath(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  // A name right under the root keeps the root as its folder.
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace prc
