// The POSIX access list as the system keeps it beside the permission bits, read and
// changed for a file whose group may differ. Internal to the library's POSIX files.
#ifndef PRC_ACCESS_LIST_POSIX_H_
#define PRC_ACCESS_LIST_POSIX_H_

#include <sys/types.h>

#include <string>

namespace prc {

// The extended attribute that holds a file's access list.
inline constexpr char kAccessList[] = "system.posix_acl_access";

// Whether `err` says the file system keeps no access lists (or no extended attributes).
[[nodiscard]] bool NoAccessLists(int err);

// The permission bits the system shows for `list`: the owner's entry, the mask (or the
// group's entry where there is no mask) and everyone else's, as `mask_as_group` says;
// with it false, the group bits are what the group itself may do.
[[nodiscard]] mode_t PermissionsOf(const std::string& list, bool mask_as_group);

// `list` for a file whose group is not the one `list` was made for: that group's entry
// grants nothing, and everyone else no more than the group had.
[[nodiscard]] std::string WithoutGroup(std::string list);

// `permissions` for a file whose group is not the one they were set for.
[[nodiscard]] mode_t WithoutGroup(mode_t permissions);

// Reads the access list of the open file `fd` into `*list`, empty when it has none.
[[nodiscard]] bool ReadAccessList(int fd, std::string* list);

}  // namespace prc

#endif  // PRC_ACCESS_LIST_POSIX_H_
