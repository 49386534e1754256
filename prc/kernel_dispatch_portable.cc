// The kernel sets of a processor family with no vector kernels: the portable one alone.
#include "prc/kernel.h"

namespace prc {

const std::vector<KernelSet>& KernelSets() {
  static const std::vector<KernelSet> sets = {
      {"portable", true, DescrambleWordsPortable, ScrambleWordsPortable},
  };
  return sets;
}

const KernelSet& FastestKernelSet() { return KernelSets().front(); }

}  // namespace prc
