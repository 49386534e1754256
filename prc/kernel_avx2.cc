// The AVX2 kernels: 16 words in a 256-bit register, two 128-bit lanes.
#include <immintrin.h>

#include "prc/kernel.h"
#include "prc/kernel_x86.h"

namespace prc {

// Two bit shifts make each word the XOR of the words up to it within its 64-bit quarter;
// one byte shuffle hands the upper quarter of each 128-bit lane the lower one's total, and
// another each lane's total to all its words. The high lane then takes the low lane's
// total. The carry, the last plain word so far in every word, takes the block's total
// without waiting on the block's result. Three shuffles in all: they are what bounds it.
PRC_VECTOR_KERNEL("avx2")
std::uint16_t DescrambleWordsAvx2(std::uint8_t* words, std::size_t count, std::uint16_t key) {
  std::size_t i = WordsBeforeAlignment(words, count, 32);
  key = DescrambleWordsPortable(words, i, key);
  // Made after that call, so that no vector lives across it on the stack.
  const __m128i lower_top = _mm_setr_epi8(-128, -128, -128, -128, -128, -128, -128, -128,  //
                                          6, 7, 6, 7, 6, 7, 6, 7);
  const __m256i to_upper_quarter = _mm256_broadcastsi128_si256(lower_top);
  const __m256i to_every_word = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(14, 15, 14, 15, 14, 15, 14, 15, 14, 15, 14, 15, 14, 15, 14, 15));
  const __m256i zero = _mm256_setzero_si256();
  __m256i carry = _mm256_set1_epi16(static_cast<std::int16_t>(key));
  for (; i + 16 <= count; i += 16) {
    auto* p = reinterpret_cast<__m256i*>(words + 2 * i);
    __m256i x = _mm256_loadu_si256(p);
    x = _mm256_xor_si256(x, _mm256_slli_epi64(x, 16));
    x = _mm256_xor_si256(x, _mm256_slli_epi64(x, 32));
    x = _mm256_xor_si256(x, _mm256_shuffle_epi8(x, to_upper_quarter));
    const __m256i totals = _mm256_shuffle_epi8(x, to_every_word);
    const __m256i swapped = _mm256_permute2x128_si256(totals, totals, 0x01);
    const __m256i low_total_high = _mm256_blend_epi32(zero, swapped, 0xF0);
    _mm256_storeu_si256(p, _mm256_xor_si256(_mm256_xor_si256(x, low_total_high), carry));
    carry = _mm256_xor_si256(carry, _mm256_xor_si256(totals, swapped));
  }
  const auto next = static_cast<std::uint16_t>(_mm256_extract_epi16(carry, 0));
  return DescrambleWordsPortable(words + 2 * i, count - i, next);
}

// Each word takes the word below it, the lowest the top word of the block before.
PRC_VECTOR_KERNEL("avx2")
std::uint16_t ScrambleWordsAvx2(std::uint8_t* words, std::size_t count, std::uint16_t key) {
  std::size_t i = WordsBeforeAlignment(words, count, 32);
  key = ScrambleWordsPortable(words, i, key);
  __m256i before = _mm256_insert_epi16(_mm256_setzero_si256(), key, 15);
  for (; i + 16 <= count; i += 16) {
    auto* p = reinterpret_cast<__m256i*>(words + 2 * i);
    const __m256i x = _mm256_loadu_si256(p);
    // The 128 bits below each lane: the block before's high lane, then x's low lane.
    const __m256i lower_lanes = _mm256_permute2x128_si256(before, x, 0x21);
    const __m256i below = _mm256_alignr_epi8(x, lower_lanes, 14);
    _mm256_storeu_si256(p, _mm256_xor_si256(x, below));
    before = x;
  }
  const auto next = static_cast<std::uint16_t>(_mm256_extract_epi16(before, 15));
  return ScrambleWordsPortable(words + 2 * i, count - i, next);
}

}  // namespace prc
