// Each kernel set this processor runs, descrambling and scrambling the payload of a full
// work buffer, beside memcpy of the same number of bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "prc/container.h"
#include "prc/kernel.h"
#include "prc/work_buffer.h"

namespace {

// A work buffer as the tool gets it, filled with the same random bytes every run.
prc::WorkBuffer RandomBuffer() {
  prc::WorkBuffer buffer = prc::NewWorkBuffer();
  std::mt19937 rng(1);  // NOLINT(cert-msc32-c,cert-msc51-cpp): the same bytes every run
  for (std::size_t i = 0; i < prc::kWorkBufferSize; ++i)
    buffer[i] = static_cast<std::uint8_t>(rng());
  return buffer;
}

constexpr auto kBytes = static_cast<std::int64_t>(prc::kWorkBufferSize);
// The words after the header, where the tool runs the kernel.
constexpr std::size_t kWords = (prc::kWorkBufferSize - prc::kHeaderSize) / 2;

void RunKernel(benchmark::State& state, prc::WordKernel kernel) {
  const prc::WorkBuffer buffer = RandomBuffer();
  for (auto _ : state) {
    benchmark::DoNotOptimize(kernel(buffer.get() + prc::kHeaderSize, kWords, 0x1234));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_Memcpy(benchmark::State& state) {
  const prc::WorkBuffer from = RandomBuffer();
  const prc::WorkBuffer to = prc::NewWorkBuffer();
  for (auto _ : state) {
    std::memcpy(to.get(), from.get(), prc::kWorkBufferSize);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_Memcpy);

}  // namespace

int main(int argc, char* argv[]) {
  for (const prc::KernelSet& set : prc::KernelSets()) {
    if (!set.runs_here) {
      std::printf("kernel %s: not measured, this processor lacks it\n", set.name);
      continue;
    }
    std::printf("kernel %s: measured\n", set.name);
    const std::string name = set.name;
    benchmark::RegisterBenchmark(("descramble/" + name).c_str(), RunKernel, set.descramble);
    benchmark::RegisterBenchmark(("scramble/" + name).c_str(), RunKernel, set.scramble);
  }
  std::printf("kernel the tool uses here: %s\n", prc::FastestKernelSet().name);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
