#include "prc/kernel.h"

namespace prc {

WordKernel FastestKernel() { return DescrambleWordsPortable; }

}  // namespace prc
