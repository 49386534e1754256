// The kernel sets of x86 processors, 32-bit and 64-bit, and the choice among them from
// what the processor has.
#include "prc/kernel.h"
#include "prc/kernel_x86.h"

namespace prc {

std::vector<KernelSet> X86KernelSets(const X86Features& features) {
  return {
      {"portable", true, DescrambleWordsPortable, ScrambleWordsPortable},
      {"sse2", features.sse2, DescrambleWordsSse2, ScrambleWordsSse2},
      {"avx2", features.avx2, DescrambleWordsAvx2, ScrambleWordsAvx2},
      {"avx512", features.avx512f && features.avx512bw, DescrambleWordsAvx512, ScrambleWordsAvx512},
  };
}

const std::vector<KernelSet>& KernelSets() {
  static const std::vector<KernelSet> sets = X86KernelSets(X86FeaturesHere());
  return sets;
}

const KernelSet& FastestKernelSet() {
  static const KernelSet& fastest = [&]() -> const KernelSet& {
    const std::vector<KernelSet>& sets = KernelSets();
    for (auto set = sets.rbegin(); set != sets.rend(); ++set) {
      if (set->runs_here) return *set;
    }
    return sets.front();
  }();
  return fastest;
}

}  // namespace prc
