// The x86 kernel choice, on made-up processors.
#include "prc/kernel_x86.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "prc/kernel.h"

namespace prc {
namespace {

// The names of the sets marked as running, in order.
std::string Running(const std::vector<KernelSet>& sets) {
  std::string names;
  for (const KernelSet& set : sets) {
    if (set.runs_here) names += names.empty() ? set.name : std::string(" ") + set.name;
  }
  return names;
}

TEST(X86KernelSets, EachSetRunsOnlyWhereEveryFeatureItUsesIsThere) {
  struct Row {
    X86Features features;  // sse2, avx2, avx512f, avx512bw
    const char* running;
  };
  const Row rows[] = {
      {{false, false, false, false}, "portable"},
      {{true, false, false, false}, "portable sse2"},
      {{true, true, false, false}, "portable sse2 avx2"},
      {{false, true, false, false}, "portable avx2"},
      // AVX-512 F without BW: the word instructions would fault.
      {{true, true, true, false}, "portable sse2 avx2"},
      {{true, true, false, true}, "portable sse2 avx2"},
      {{false, false, true, false}, "portable"},
      {{false, false, false, true}, "portable"},
      {{true, true, true, true}, "portable sse2 avx2 avx512"},
      {{false, false, true, true}, "portable avx512"},
  };
  for (const Row& row : rows) {
    const X86Features& f = row.features;
    EXPECT_EQ(Running(X86KernelSets(f)), row.running)
        << "sse2 " << f.sse2 << ", avx2 " << f.avx2 << ", avx512f " << f.avx512f << ", avx512bw "
        << f.avx512bw;
  }
}

// The choice on made-up flags is the one the tool makes: the same sets, in the same order,
// with the same kernels.
TEST(X86KernelSets, AreTheSetsOfThisBuild) {
  const std::vector<KernelSet> made_up = X86KernelSets({true, true, true, true});
  const std::vector<KernelSet>& sets = KernelSets();
  ASSERT_EQ(made_up.size(), sets.size());
  for (std::size_t i = 0; i < sets.size(); ++i) {
    EXPECT_STREQ(made_up[i].name, sets[i].name);
    EXPECT_EQ(made_up[i].descramble, sets[i].descramble) << sets[i].name;
    EXPECT_EQ(made_up[i].scramble, sets[i].scramble) << sets[i].name;
  }
}

// Read from the C library, the features are those the compiler's runtime finds.
TEST(X86FeaturesHere, AreThoseTheCompilersRuntimeFinds) {
  __builtin_cpu_init();
  const X86Features here = X86FeaturesHere();
  EXPECT_EQ(here.sse2, __builtin_cpu_supports("sse2") != 0);
  EXPECT_EQ(here.avx2, __builtin_cpu_supports("avx2") != 0);
  EXPECT_EQ(here.avx512f, __builtin_cpu_supports("avx512f") != 0);
  EXPECT_EQ(here.avx512bw, __builtin_cpu_supports("avx512bw") != 0);
}

}  // namespace
}  // namespace prc
