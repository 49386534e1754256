#include "prc/access_list_posix.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "prc/io_posix.h"

namespace prc {
namespace {

// The access list as the system keeps it beside the permission bits: a 4-byte version,
// then 8-byte entries of a 16-bit tag, 16-bit permissions and a 32-bit user or group,
// little-endian.
constexpr std::size_t kAccessListHeader = 4;
constexpr std::size_t kAccessListEntry = 8;
enum AccessTag : std::uint16_t {
  kOwnerEntry = 0x01,
  kGroupEntry = 0x04,
  kMaskEntry = 0x10,
  kOthersEntry = 0x20,
};

std::uint16_t Get16(const std::string& list, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(list[at]) |
                                    static_cast<unsigned char>(list[at + 1]) << 8);
}

void Put16(std::string* list, std::size_t at, std::uint16_t value) {
  (*list)[at] = static_cast<char>(value & 0xFF);
  (*list)[at + 1] = static_cast<char>(value >> 8);
}

// Calls `visit(tag, permissions_offset)` for each entry of `list`.
template <typename Visit>
void ForEachEntry(const std::string& list, Visit visit) {
  for (std::size_t at = kAccessListHeader; at + kAccessListEntry <= list.size();
       at += kAccessListEntry) {
    visit(Get16(list, at), at + 2);
  }
}

}  // namespace

bool NoAccessLists(int err) { return err == ENOTSUP || err == ENODATA; }

mode_t PermissionsOf(const std::string& list, bool mask_as_group) {
  std::uint16_t owner = 0;
  std::uint16_t group = 0;
  std::uint16_t others = 0;
  int mask = -1;
  ForEachEntry(list, [&](std::uint16_t tag, std::size_t at) {
    const std::uint16_t bits = Get16(list, at) & 7;
    if (tag == kOwnerEntry) owner = bits;
    if (tag == kGroupEntry) group = bits;
    if (tag == kMaskEntry) mask = bits;
    if (tag == kOthersEntry) others = bits;
  });
  if (mask >= 0) group = mask_as_group ? mask : group & mask;
  return static_cast<mode_t>(owner << 6 | group << 3 | others);
}

std::string WithoutGroup(std::string list) {
  const auto had = static_cast<std::uint16_t>(PermissionsOf(list, false) >> 3 & 7);
  ForEachEntry(list, [&](std::uint16_t tag, std::size_t at) {
    if (tag == kGroupEntry) Put16(&list, at, 0);
    if (tag == kOthersEntry) Put16(&list, at, Get16(list, at) & had);
  });
  return list;
}

mode_t WithoutGroup(mode_t permissions) {
  const mode_t had = permissions >> 3 & 7;
  return (permissions & S_IRWXU) | (permissions & S_IRWXO & had);
}

bool ReadAccessList(int fd, std::string* list) {
  list->clear();
  for (;;) {
    const ssize_t size = Retry([&] { return fgetxattr(fd, kAccessList, nullptr, 0); });
    if (size < 0) return NoAccessLists(errno);
    list->resize(static_cast<std::size_t>(size));
    const ssize_t got =
        Retry([&] { return fgetxattr(fd, kAccessList, list->data(), list->size()); });
    if (got >= 0) {
      list->resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) {  // else it grew meanwhile: ask again
      list->clear();
      return NoAccessLists(errno);
    }
  }
}

}  // namespace prc
