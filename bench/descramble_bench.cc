// Descrambling and scrambling the full work buffer beside memcpy of the same number of
// bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "prc/container.h"

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

void BM_Descramble(benchmark::State& state) {
  const prc::WorkBuffer buffer = RandomBuffer();
  for (auto _ : state) {
    prc::Descramble(buffer.get(), prc::kWorkBufferSize, 0x1234);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_Descramble);

void BM_Scramble(benchmark::State& state) {
  const prc::WorkBuffer buffer = RandomBuffer();
  for (auto _ : state) {
    prc::Scramble(buffer.get(), prc::kWorkBufferSize, 0x1234);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_Scramble);

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

BENCHMARK_MAIN();
