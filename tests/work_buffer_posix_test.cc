// The work buffer under an address-space limit: POSIX resource limits, and the mapped
// size as Linux reports it.
#include "prc/work_buffer_posix.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "prc/work_buffer.h"
#include "tests/fresh_buffer.h"

namespace prc {
namespace {

using test::FreshBufferIsWholeAndZero;

// The size of the address space this process has mapped, or 0 where that cannot be told.
std::size_t MappedBytes() {
  std::size_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Ends the process with status 0 if buffers taken and dropped one after another leave
// the address space as large as the first left it, and if, with the address space then
// limited to what is mapped and one and a half times the buffer, a whole, zero buffer
// is given each time again.
[[noreturn]] void ExitZeroIfGivenUnderATightLimit() {
  bool ok = FreshBufferIsWholeAndZero();
  const std::size_t mapped = MappedBytes();
  for (int i = 0; i < 4; ++i) ok = FreshBufferIsWholeAndZero() && ok;
  ok = ok && MappedBytes() < mapped + kWorkBufferSize;
  const rlimit limit{MappedBytes() + kWorkBufferSize + kWorkBufferSize / 2, RLIM_INFINITY};
  ok = ok && setrlimit(RLIMIT_AS, &limit) == 0;
  for (int i = 0; i < 4; ++i) ok = ok && FreshBufferIsWholeAndZero();
  std::_Exit(ok ? 0 : 1);
}

// The buffer is carved from a larger mapping where the address space allows; all of
// that is given back when it is dropped. Under a limit that leaves room for the buffer
// and little more it is still given, as often as it is asked for.
TEST(NewWorkBuffer, IsGivenUnderATightAddressSpaceLimit) {
  if (MappedBytes() == 0) GTEST_SKIP() << "no /proc/self/statm to tell the address space in use";
  EXPECT_EXIT(ExitZeroIfGivenUnderATightLimit(), testing::ExitedWithCode(0), "");
}

// Carved from a mapping off a block boundary too (this system may never place one so,
// hence the test does), the block leaves the page past that mapping mapped.
TEST(CarveAlignedBlock, LeavesThePagePastTheMappingMapped) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void* const base =
      mmap(nullptr, 3 * kBlockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(base, MAP_FAILED);
  const bool on_boundary = reinterpret_cast<std::uintptr_t>(base) % kBlockSize == 0;
  std::uint8_t* const mapping = static_cast<std::uint8_t*>(base) + (on_boundary ? page : 0);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(CarveAlignedBlock(mapping)) % kBlockSize, 0U);
  unsigned char in_core = 0;
  EXPECT_EQ(mincore(mapping + 2 * kBlockSize, page, &in_core), 0) << "the page past it went";
  munmap(base, 3 * kBlockSize);
}

}  // namespace
}  // namespace prc
