#include <immintrin.h>

#include "prc/kernel.h"

namespace prc {
namespace {

// GCC's own intrinsics pass deliberately undefined values to the masked builtins they wrap,
// which its uninitialized-value warnings then report in this code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// 32 words (one 512-bit register) per step. The prefix XOR runs within each 64-bit lane
// by bit shifts, then across the lanes in three lane shifts; one word permute hands each
// lane the total of the lanes before it, another the block's last word to the next step.
__attribute__((target("avx512f,avx512bw"))) std::uint16_t DescrambleWordsAvx512(std::uint8_t* words,
                                                                                std::size_t count,
                                                                                std::uint16_t key) {
  std::int16_t previous_top[32];
  for (int i = 0; i < 32; ++i)
    previous_top[i] = static_cast<std::int16_t>(i < 4 ? 0 : i / 4 * 4 - 1);
  const __m512i before = _mm512_loadu_si512(previous_top);
  const __m512i last = _mm512_set1_epi16(31);
  const __m512i zero = _mm512_setzero_si512();
  // Plain code up to the first 64-byte boundary: loads and stores that straddle two cache
  // lines cost about twice as much.
  std::size_t i = (64 - reinterpret_cast<std::uintptr_t>(words) % 64) % 64 / 2;
  if (i > count) i = count;
  key = DescrambleWordsPortable(words, i, key);
  __m512i carry = _mm512_set1_epi16(static_cast<std::int16_t>(key));
  for (; i + 32 <= count; i += 32) {
    std::uint8_t* p = words + 2 * i;
    __m512i x = _mm512_loadu_si512(p);
    x = _mm512_xor_si512(x, _mm512_slli_epi64(x, 16));
    x = _mm512_xor_si512(x, _mm512_slli_epi64(x, 32));
    __m512i w = _mm512_xor_si512(x, _mm512_alignr_epi64(x, zero, 7));
    w = _mm512_xor_si512(w, _mm512_alignr_epi64(w, zero, 6));
    w = _mm512_xor_si512(w, _mm512_alignr_epi64(w, zero, 4));
    const __m512i lanes_before = _mm512_maskz_permutexvar_epi16(0xFFFFFFF0U, before, w);
    _mm512_storeu_si512(p, _mm512_ternarylogic_epi64(x, lanes_before, carry, 0x96));
    carry = _mm512_xor_si512(carry, _mm512_permutexvar_epi16(last, w));
  }
  const auto next = static_cast<std::uint16_t>(_mm_extract_epi16(_mm512_castsi512_si128(carry), 0));
  return DescrambleWordsPortable(words + 2 * i, count - i, next);
}

#pragma GCC diagnostic pop

}  // namespace

WordKernel FastestKernel() {
  static const WordKernel kernel =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
          ? DescrambleWordsAvx512
          : DescrambleWordsPortable;
  return kernel;
}

}  // namespace prc
