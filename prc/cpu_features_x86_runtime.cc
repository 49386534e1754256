// The x86 processor's features, from the compiler's runtime, where the C library does not
// hand out those it read.
#include "prc/kernel_x86.h"

namespace prc {

X86Features X86FeaturesHere() {
  // The features may be asked for before the runtime's own constructors have read them,
  // from another static initialiser.
  __builtin_cpu_init();
  return {
      __builtin_cpu_supports("sse2") != 0,
      __builtin_cpu_supports("avx2") != 0,
      __builtin_cpu_supports("avx512f") != 0,
      __builtin_cpu_supports("avx512bw") != 0,
  };
}

}  // namespace prc
