// Descrambling the full work buffer beside memcpy of the same number of bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "prc/container.h"

namespace {

std::vector<std::uint8_t> RandomBuffer() {
  std::vector<std::uint8_t> buffer(prc::kWorkBufferSize);
  std::mt19937 rng(1);  // NOLINT(cert-msc32-c,cert-msc51-cpp): the same bytes every run
  for (auto& b : buffer) b = static_cast<std::uint8_t>(rng());
  return buffer;
}

void BM_Descramble(benchmark::State& state) {
  std::vector<std::uint8_t> buffer = RandomBuffer();
  for (auto _ : state) {
    prc::Descramble(buffer.data(), buffer.size(), 0x1234);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(buffer.size()));
}
BENCHMARK(BM_Descramble);

void BM_Memcpy(benchmark::State& state) {
  const std::vector<std::uint8_t> from = RandomBuffer();
  std::vector<std::uint8_t> to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(from.size()));
}
BENCHMARK(BM_Memcpy);

}  // namespace

BENCHMARK_MAIN();
