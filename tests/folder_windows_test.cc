// How the Windows folder reads the errors of a folder's flush, under wine64.
#define WIN32_LEAN_AND_MEAN
#include "prc/folder_windows.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace prc {
namespace {

// Only a file system that offers no such flush counts as synced; a device's, a network's
// or a refusal's error ends a swap with message 6.
TEST(FolderFlushTest, OnlyAFlushNotOfferedCountsAsSynced) {
  const DWORD not_offered[] = {ERROR_INVALID_FUNCTION, ERROR_NOT_SUPPORTED,
                               ERROR_INVALID_PARAMETER};
  const DWORD failed[] = {ERROR_ACCESS_DENIED,   ERROR_SHARING_VIOLATION, ERROR_IO_DEVICE,
                          ERROR_NETNAME_DELETED, ERROR_UNEXP_NET_ERR,     ERROR_NOT_READY};
  for (const DWORD error : not_offered) EXPECT_TRUE(FolderFlushNotOffered(error)) << error;
  for (const DWORD error : failed) EXPECT_FALSE(FolderFlushNotOffered(error)) << error;
}

}  // namespace
}  // namespace prc
