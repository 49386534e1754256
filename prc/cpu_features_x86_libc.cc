// The x86 processor's features, as the C library read them when the process started.
//
// The C library has already asked the processor (CPUID), and checked that the system saves
// the registers each feature uses. Asking again costs: on a virtual machine each question
// may trap to the host, some 10 microseconds, and the compiler runtime's own check asks a
// dozen of them in a constructor that every run pays, even one that ends at a missing file.
#ifdef __clang__
// The header's inline functions return C's _Bool, which clang knows only in C.
#define _Bool bool  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif

#include "prc/kernel_x86.h"

namespace prc {

X86Features X86FeaturesHere() {
  return {CPU_FEATURE_ACTIVE(SSE2) != 0, CPU_FEATURE_ACTIVE(AVX2) != 0,
          CPU_FEATURE_ACTIVE(AVX512F) != 0, CPU_FEATURE_ACTIVE(AVX512BW) != 0};
}

}  // namespace prc
