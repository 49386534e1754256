#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "prc/work_buffer.h"

namespace prc {

WorkBuffer NewWorkBuffer() {
  // Committed pages come zeroed from the system.
  void* p = VirtualAlloc(nullptr, kWorkBufferSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  return WorkBuffer(static_cast<std::uint8_t*>(p));
}

void WorkBufferDeleter::operator()(std::uint8_t* buffer) const {
  VirtualFree(buffer, 0, MEM_RELEASE);
}

}  // namespace prc
