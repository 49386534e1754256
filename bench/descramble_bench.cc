// Each kernel set this processor runs, descrambling and scrambling the payload of a full
// work buffer, beside memcpy of the same number of bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

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

// The set at index state.range(0) of prc::KernelSets().
const prc::KernelSet& SetUnderTest(const benchmark::State& state) {
  return prc::KernelSets()[static_cast<std::size_t>(state.range(0))];
}

void RunKernel(benchmark::State& state, prc::WordKernel kernel) {
  state.SetLabel(SetUnderTest(state).name);
  const prc::WorkBuffer buffer = RandomBuffer();
  for (auto _ : state) {
    benchmark::DoNotOptimize(kernel(buffer.get() + prc::kHeaderSize, kWords, 0x1234));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_Descramble(benchmark::State& state) { RunKernel(state, SetUnderTest(state).descramble); }
void BM_Scramble(benchmark::State& state) { RunKernel(state, SetUnderTest(state).scramble); }

// One run for each set that the processor has, by its index.
void EverySetThatRunsHere(benchmark::internal::Benchmark* benchmark) {
  const std::vector<prc::KernelSet>& sets = prc::KernelSets();
  for (std::size_t i = 0; i < sets.size(); ++i) {
    if (sets[i].runs_here) benchmark->Arg(static_cast<std::int64_t>(i));
  }
}
BENCHMARK(BM_Descramble)->Apply(EverySetThatRunsHere);
BENCHMARK(BM_Scramble)->Apply(EverySetThatRunsHere);

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
  // In the report's context: the sets the processor lacks, which are not measured, and
  // the set the tool uses here. Each run is labelled with the name of its set.
  std::string lacks;
  for (const prc::KernelSet& set : prc::KernelSets()) {
    if (!set.runs_here) lacks += (lacks.empty() ? "" : " ") + std::string(set.name);
  }
  benchmark::AddCustomContext("kernel sets this processor lacks", lacks);
  benchmark::AddCustomContext("kernel set the tool uses here", prc::FastestKernelSet().name);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
