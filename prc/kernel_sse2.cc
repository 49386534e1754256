// The SSE2 kernels: 8 words in a 128-bit register.
#include <emmintrin.h>

#include "prc/kernel.h"
#include "prc/kernel_x86.h"

namespace prc {
namespace {

// Every word of `x` set to its top word.
PRC_VECTOR_KERNEL("sse2") __m128i BroadcastTop(__m128i x) {
  const __m128i top = _mm_shufflehi_epi16(x, 0xFF);
  return _mm_unpackhi_epi64(top, top);
}

}  // namespace

// Three byte shifts make each word the XOR of the words up to it; the carry, the last
// plain word so far in every word, takes the block's total without waiting on its result.
PRC_VECTOR_KERNEL("sse2")
std::uint16_t DescrambleWordsSse2(std::uint8_t* words, std::size_t count, std::uint16_t key) {
  std::size_t i = WordsBeforeAlignment(words, count, 16);
  key = DescrambleWordsPortable(words, i, key);
  __m128i carry = _mm_set1_epi16(static_cast<std::int16_t>(key));
  for (; i + 8 <= count; i += 8) {
    auto* p = reinterpret_cast<__m128i*>(words + 2 * i);
    __m128i x = _mm_loadu_si128(p);
    x = _mm_xor_si128(x, _mm_slli_si128(x, 2));
    x = _mm_xor_si128(x, _mm_slli_si128(x, 4));
    x = _mm_xor_si128(x, _mm_slli_si128(x, 8));
    _mm_storeu_si128(p, _mm_xor_si128(x, carry));
    carry = _mm_xor_si128(carry, BroadcastTop(x));
  }
  const auto next = static_cast<std::uint16_t>(_mm_cvtsi128_si32(carry));
  return DescrambleWordsPortable(words + 2 * i, count - i, next);
}

// Each word takes the word below it, the lowest the top word of the block before.
PRC_VECTOR_KERNEL("sse2")
std::uint16_t ScrambleWordsSse2(std::uint8_t* words, std::size_t count, std::uint16_t key) {
  std::size_t i = WordsBeforeAlignment(words, count, 16);
  key = ScrambleWordsPortable(words, i, key);
  __m128i before = _mm_insert_epi16(_mm_setzero_si128(), key, 7);
  for (; i + 8 <= count; i += 8) {
    auto* p = reinterpret_cast<__m128i*>(words + 2 * i);
    const __m128i x = _mm_loadu_si128(p);
    const __m128i below = _mm_or_si128(_mm_slli_si128(x, 2), _mm_srli_si128(before, 14));
    _mm_storeu_si128(p, _mm_xor_si128(x, below));
    before = x;
  }
  const auto next = static_cast<std::uint16_t>(_mm_extract_epi16(before, 7));
  return ScrambleWordsPortable(words + 2 * i, count - i, next);
}

}  // namespace prc
