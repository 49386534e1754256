#include "prc/work_buffer_posix.h"

#include <sys/mman.h>

#include <cstdint>

#include "prc/work_buffer.h"

namespace prc {
namespace {

// Asks for a mapping's pages to be filled in as it is made, where the system can.
#ifdef MAP_POPULATE
constexpr int kPopulated = MAP_POPULATE;
#else
constexpr int kPopulated = 0;
#endif

std::uint8_t* Map(std::size_t size, int flags = 0) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | flags, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
}

// Maps a zero-filled block of kBlockSize bytes at an address aligned to its size, or
// returns null: twice the size is mapped and the ends beyond the aligned block unmapped.
std::uint8_t* MapAlignedBlock() {
  std::uint8_t* raw = Map(2 * kBlockSize);
  return raw == nullptr ? nullptr : CarveAlignedBlock(raw);
}

}  // namespace

std::uint8_t* CarveAlignedBlock(std::uint8_t* mapping) {
  const auto at = reinterpret_cast<std::uintptr_t>(mapping);
  const std::size_t head = (kBlockSize - at % kBlockSize) % kBlockSize;
  if (head != 0) munmap(mapping, head);
  munmap(mapping + head + kBlockSize, kBlockSize - head);
  return mapping + head;
}

WorkBuffer NewWorkBuffer() {
  // A fresh anonymous mapping is zero. The buffer starts a block aligned to and as large
  // as a huge page, which the system is asked to back with one: then the whole buffer
  // costs one page fault and one TLB entry instead of 256, which matters most on a
  // virtual machine, where the first touch of each small page may trap to the host.
  // Where huge pages are not given, the block is backed by small pages as any mapping
  // is. Populating the buffer up front costs one call instead of a page fault for every
  // page the read then fills; a system that cannot populate on request leaves that to
  // the read. Where the address space is too short for the aligned block, the buffer is
  // mapped alone, populated as it is made.
  std::uint8_t* block = MapAlignedBlock();
  if (block == nullptr) {
    return WorkBuffer(Map(kWorkBufferSize, kPopulated), WorkBufferDeleter{kWorkBufferSize});
  }
#ifdef MADV_HUGEPAGE
  madvise(block, kBlockSize, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
  madvise(block, kWorkBufferSize, MADV_POPULATE_WRITE);
#endif
  return WorkBuffer(block, WorkBufferDeleter{kBlockSize});
}

void WorkBufferDeleter::operator()(std::uint8_t* buffer) const { munmap(buffer, mapped); }

}  // namespace prc
