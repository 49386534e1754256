// The AVX-512 kernels: 32 words in a 512-bit register.
#include <immintrin.h>

#include "prc/kernel.h"
#include "prc/kernel_x86.h"

namespace prc {

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
PRC_VECTOR_KERNEL("avx512f,avx512bw")
std::uint16_t DescrambleWordsAvx512(std::uint8_t* words, std::size_t count, std::uint16_t key) {
  std::int16_t previous_top[32];
  for (int i = 0; i < 32; ++i)
    previous_top[i] = static_cast<std::int16_t>(i < 4 ? 0 : i / 4 * 4 - 1);
  const __m512i before = _mm512_loadu_si512(previous_top);
  const __m512i last = _mm512_set1_epi16(31);
  const __m512i zero = _mm512_setzero_si512();
  std::size_t i = WordsBeforeAlignment(words, count, 64);
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

// Each word takes the word below it, the lowest the top word of the block before: within
// each 64-bit lane by a bit shift, across lanes from the lane below shifted in.
PRC_VECTOR_KERNEL("avx512f")
std::uint16_t ScrambleWordsAvx512(std::uint8_t* words, std::size_t count, std::uint16_t key) {
  std::size_t i = WordsBeforeAlignment(words, count, 64);
  key = ScrambleWordsPortable(words, i, key);
  __m512i before =
      _mm512_set_epi64(static_cast<std::int64_t>(std::uint64_t{key} << 48), 0, 0, 0, 0, 0, 0, 0);
  for (; i + 32 <= count; i += 32) {
    std::uint8_t* p = words + 2 * i;
    const __m512i x = _mm512_loadu_si512(p);
    const __m512i lanes_below = _mm512_alignr_epi64(x, before, 7);
    const __m512i below =
        _mm512_or_si512(_mm512_slli_epi64(x, 16), _mm512_srli_epi64(lanes_below, 48));
    _mm512_storeu_si512(p, _mm512_xor_si512(x, below));
    before = x;
  }
  const auto next =
      static_cast<std::uint16_t>(_mm_extract_epi16(_mm512_extracti32x4_epi32(before, 3), 7));
  return ScrambleWordsPortable(words + 2 * i, count - i, next);
}

#pragma GCC diagnostic pop

}  // namespace prc
