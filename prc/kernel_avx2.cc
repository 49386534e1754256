// The AVX2 kernels: 16 words in a 256-bit register, two 128-bit lanes.
#include <immintrin.h>

#include "prc/kernel.h"
#include "prc/kernel_x86.h"

namespace prc {

// Three byte shifts make each word the XOR of the words up to it within its lane; the
// high lane then takes the low lane's total. The carry, the last plain word so far in
// every word, takes the block's total without waiting on the block's result.
PRC_VECTOR_KERNEL("avx2")
std::uint16_t DescrambleWordsAvx2(std::uint8_t* words, std::size_t count, std::uint16_t key) {
  std::size_t i = WordsBeforeAlignment(words, count, 32);
  key = DescrambleWordsPortable(words, i, key);
  __m256i carry = _mm256_set1_epi16(static_cast<std::int16_t>(key));
  for (; i + 16 <= count; i += 16) {
    auto* p = reinterpret_cast<__m256i*>(words + 2 * i);
    __m256i x = _mm256_loadu_si256(p);
    x = _mm256_xor_si256(x, _mm256_slli_si256(x, 2));
    x = _mm256_xor_si256(x, _mm256_slli_si256(x, 4));
    x = _mm256_xor_si256(x, _mm256_slli_si256(x, 8));
    // Each lane's total in all its words; then the low lane's total in the high lane
    // only, and the block's total in both.
    __m256i totals = _mm256_shufflehi_epi16(x, 0xFF);
    totals = _mm256_unpackhi_epi64(totals, totals);
    const __m256i low_total_high = _mm256_permute2x128_si256(totals, totals, 0x08);
    const __m256i swapped = _mm256_permute2x128_si256(totals, totals, 0x01);
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
