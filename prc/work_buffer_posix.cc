#include <sys/mman.h>

#include "prc/work_buffer.h"

namespace prc {

WorkBuffer NewWorkBuffer() {
  // A fresh anonymous mapping is zero. Populating it up front costs one call instead of
  // a page fault for every page the read then fills.
  int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_POPULATE
  flags |= MAP_POPULATE;
#endif
  void* p = mmap(nullptr, kWorkBufferSize, PROT_READ | PROT_WRITE, flags, -1, 0);
  return WorkBuffer(p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p));
}

void WorkBufferDeleter::operator()(std::uint8_t* buffer) const { munmap(buffer, kWorkBufferSize); }

}  // namespace prc
