#include "prc/access_list_posix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace prc {
namespace {

struct Entry {
  std::uint16_t tag, bits;  // 1 owner, 2 a named user, 4 the group, 0x10 the mask, 0x20 others
};

std::string ListOf(const std::vector<Entry>& entries, std::size_t cut) {
  std::string list("\x02\0\0\0", 4);
  for (const Entry& e : entries)
    list += std::string{char(e.tag), '\0', char(e.bits), '\0', 1, 0, 0, 0};
  return list.substr(0, list.size() - cut);
}

// Each row: the entries, bytes cut off the end (a partial last entry is not read), the bits
// shown with the mask as the group's, with the group's own, and without the group.
TEST(AccessListTest, ShowsAndDropsTheGroup) {
  const struct {
    std::vector<Entry> entries;
    std::size_t cut;
    mode_t masked, own, without_group;
  } rows[] = {
      {{{1, 6}, {4, 4}, {0x20, 0}}, 0, 0640, 0640, 0600},
      {{{1, 6}, {4, 5}, {2, 7}, {0x10, 6}, {0x20, 4}}, 0, 0664, 0644, 0604},
      {{{1, 7}, {4, 5}, {0x20, 5}}, 0, 0755, 0755, 0705},
      {{{1, 6}, {2, 6}, {4, 4}, {0x10, 0}, {0x20, 4}}, 0, 0604, 0604, 0600},  // mask: none
      {{{1, 6}, {4, 4}, {0x20, 4}}, 1, 0640, 0640, 0600},
  };
  for (const auto& row : rows) {
    const std::string list = ListOf(row.entries, row.cut);
    EXPECT_EQ(PermissionsOf(list, true), row.masked);
    EXPECT_EQ(PermissionsOf(list, false), row.own);
    EXPECT_EQ(PermissionsOf(WithoutGroup(list), false), row.without_group);
    EXPECT_EQ(WithoutGroup(row.own), row.without_group);  // the list and the bits agree
  }
}

}  // namespace
}  // namespace prc
