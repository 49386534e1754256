#include "prc/container.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "prc/kernel.h"

namespace prc {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What the tool stores for a file holding `file`: the payload decoded in a fresh work
// buffer, zero fill included.
Bytes Decode(const Bytes& file) {
  WorkBuffer buffer = NewWorkBuffer();
  const std::size_t count = std::min(file.size(), kWorkBufferSize);
  std::memcpy(buffer.get(), file.data(), count);
  const Header header = ReadHeader(buffer.get());
  Descramble(buffer.get(), count, header.key);
  return Bytes(buffer.get() + kHeaderSize, buffer.get() + kHeaderSize + header.payload_length);
}

// The rule as first stated, pair by pair: each plain pair is the scrambled pair XORed with
// the plain pair before it, the first with the key's low and high bytes. The reference
// for the fast kernels. Takes a file's bytes, header included, and the key.
Bytes ReferenceDescramble(const Bytes& file, std::uint16_t key) {
  Bytes out(file);
  out.resize(file.size() + (file.size() % 2));
  auto r0 = static_cast<std::uint8_t>(key & 0xFF);
  auto r1 = static_cast<std::uint8_t>(key >> 8);
  for (std::size_t p = kHeaderSize; p < file.size(); p += 2) {
    out[p] ^= r0;
    out[p + 1] ^= r1;
    r0 = out[p];
    r1 = out[p + 1];
  }
  return out;
}

// Scrambling as the inverse of that rule, pair by pair: each scrambled pair is the plain
// pair XORed with the plain pair before it, the first with the key's two bytes.
Bytes ReferenceScramble(const Bytes& file, std::uint16_t key) {
  Bytes out(file);
  out.resize(file.size() + (file.size() % 2));
  auto r0 = static_cast<std::uint8_t>(key & 0xFF);
  auto r1 = static_cast<std::uint8_t>(key >> 8);
  for (std::size_t p = kHeaderSize; p < file.size(); p += 2) {
    const std::uint8_t plain0 = out[p];
    const std::uint8_t plain1 = out[p + 1];
    out[p] ^= r0;
    out[p + 1] ^= r1;
    r0 = plain0;
    r1 = plain1;
  }
  return out;
}

Bytes RandomBytes(std::size_t n, std::mt19937& rng) {
  Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

TEST(ReadHeader, LengthAndKeyWithCarryDropped) {
  struct Row {
    Bytes header;
    std::uint32_t length;
    std::uint16_t key;
  };
  const Row rows[] = {
      {{0x04, 0x00, 0x00, 0x00}, 4, 0x0004},
      {{0xFF, 0xFF, 0x01, 0x00}, 131071, 0x0000},
      {{0xFC, 0xFF, 0x0F, 0x00}, 1048572, 0x000B},
      {{0x34, 0x12, 0x78, 0x56}, 0x56781234, 0x68AC},
      {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF, 0xFFFE},
      {{0x00, 0x00, 0x00, 0x00}, 0, 0x0000},
  };
  for (const Row& row : rows) {
    const Header h = ReadHeader(row.header.data());
    EXPECT_EQ(h.payload_length, row.length);
    EXPECT_EQ(h.key, row.key);
  }
}

TEST(PayloadFits, BoundaryIsBufferLessHeader) {
  EXPECT_TRUE(PayloadFits({0, 0}));
  EXPECT_TRUE(PayloadFits({1048572, 0}));
  EXPECT_FALSE(PayloadFits({1048573, 0}));
  EXPECT_FALSE(PayloadFits({0xFFFFFFFF, 0}));
}

TEST(Decode, ReferenceExamples) {
  struct Row {
    Bytes file;
    Bytes plain;
  };
  const Row rows[] = {
      {{0x04, 0, 0, 0, 0x45, 0x42, 0x02, 0x06}, {0x41, 0x42, 0x43, 0x44}},
      {{0x02, 0, 0, 0, 0x45, 0x42, 0x02, 0x06}, {0x47, 0x42}},
      {{0x03, 0, 0, 0}, {0, 0, 0}},
      {{0x06, 0, 0, 0, 0x45, 0x42, 0x02, 0x06, 0x00}, {0x43, 0x42, 0x41, 0x44, 0x41, 0x44}},
      {{0xFF, 0xFF, 0x01, 0x00}, Bytes(131071, 0)},
      {{0x00, 0, 0, 0, 0x45, 0x42, 0x02, 0x06}, {}},
  };
  for (const Row& row : rows) EXPECT_EQ(Decode(row.file), row.plain);
}

TEST(Descramble, OddCountTouchesOneByteBeyondAndNoMore) {
  Bytes buffer = {0x06, 0, 0, 0, 0x45, 0x42, 0x02, 0x06, 0x00, 0xEE, 0xEE, 0xEE};
  Descramble(buffer.data(), 9, 0x0006);
  EXPECT_EQ(buffer, (Bytes{0x06, 0, 0, 0, 0x43, 0x42, 0x41, 0x44, 0x41, 0xAA, 0xEE, 0xEE}));
}

TEST(Descramble, HeaderOnlyOrShorterChangesNothing) {
  for (std::size_t count = 0; count <= kHeaderSize; ++count) {
    Bytes buffer = {1, 2, 3, 4, 5, 6};
    Descramble(buffer.data(), count, 0xFFFF);
    EXPECT_EQ(buffer, (Bytes{1, 2, 3, 4, 5, 6})) << count;
  }
}

TEST(Descramble, MatchesReferenceForEveryShortLength) {
  std::mt19937 rng(1);
  for (std::size_t count = 0; count <= 300; ++count) {
    const auto key = static_cast<std::uint16_t>(rng());
    const Bytes file = RandomBytes(count, rng);
    Bytes buffer(file);
    buffer.resize(count + 1, 0);
    const Bytes expected = ReferenceDescramble(file, key);
    Descramble(buffer.data(), count, key);
    buffer.resize(expected.size());
    EXPECT_EQ(buffer, expected) << count;
  }
}

TEST(Descramble, FullWorkBuffer) {
  std::mt19937 rng(2);
  const Bytes file = RandomBytes(kWorkBufferSize, rng);
  Bytes buffer(file);
  Descramble(buffer.data(), buffer.size(), 0xBEEF);
  EXPECT_EQ(buffer, ReferenceDescramble(file, 0xBEEF));
}

TEST(Kernels, EachMatchesReferenceAcrossBlockBoundaries) {
  std::mt19937 rng(4);
  for (const WordKernel kernel : {WordKernel{DescrambleWordsPortable}, FastestKernel()}) {
    for (std::size_t words = 0; words <= 200; ++words) {
      const auto key = static_cast<std::uint16_t>(rng());
      Bytes file = RandomBytes(kHeaderSize + 2 * words, rng);
      const Bytes expected = ReferenceDescramble(file, key);
      const std::uint16_t last = kernel(file.data() + kHeaderSize, words, key);
      EXPECT_EQ(file, expected) << words;
      EXPECT_EQ(last, words == 0 ? key : (expected[expected.size() - 2] | expected.back() << 8));
    }
  }
}

TEST(Kernels, ScrambleMatchesReferenceAtEveryAlignment) {
  std::mt19937 rng(5);
  constexpr std::size_t kMostWords = 200;
  for (std::size_t offset = 0; offset < 64; ++offset) {
    for (std::size_t words = 0; words <= kMostWords; ++words) {
      const auto key = static_cast<std::uint16_t>(rng());
      const Bytes file = RandomBytes(kHeaderSize + 2 * words, rng);
      // The words start `offset` bytes into a 64-byte aligned block, with a guard after.
      alignas(64) std::uint8_t block[64 + kHeaderSize + 2 * kMostWords + 8];
      std::fill(std::begin(block), std::end(block), std::uint8_t{0xA5});
      std::copy(file.begin(), file.end(), block + offset);
      std::uint8_t* words_at = block + offset + kHeaderSize;
      const std::uint16_t last = ScrambleWordsPortable(words_at, words, key);
      const Bytes expected = ReferenceScramble(file, key);
      EXPECT_EQ(Bytes(block + offset, block + offset + file.size()), expected)
          << words << " words at offset " << offset;
      EXPECT_TRUE(std::all_of(words_at + 2 * words, std::end(block),
                              [](std::uint8_t b) { return b == 0xA5; }))
          << words << " words at offset " << offset;
      EXPECT_EQ(last, words == 0 ? key : (file[file.size() - 2] | file.back() << 8));
    }
  }
}

TEST(Scramble, MatchesReferenceForEveryShortLength) {
  std::mt19937 rng(6);
  for (std::size_t count = 0; count <= 300; ++count) {
    const auto key = static_cast<std::uint16_t>(rng());
    const Bytes file = RandomBytes(count, rng);
    Bytes buffer(file);
    buffer.resize(count + 1, 0);
    const Bytes expected = ReferenceScramble(file, key);
    Scramble(buffer.data(), count, key);
    buffer.resize(expected.size());
    EXPECT_EQ(buffer, expected) << count;
  }
}

TEST(Scramble, DescrambleUndoesIt) {
  std::mt19937 rng(3);
  std::vector<std::size_t> counts = {1000, 4097, 65537, kWorkBufferSize - 1, kWorkBufferSize};
  for (std::size_t n = 0; n <= 64; ++n) counts.push_back(n);
  for (const std::size_t count : counts) {
    const auto key = static_cast<std::uint16_t>(rng());
    Bytes plain = RandomBytes(count + (count % 2), rng);
    Bytes buffer(plain);
    Scramble(buffer.data(), count, key);
    if (count > kHeaderSize + 1) {
      EXPECT_NE(buffer, plain) << count;
    }
    Descramble(buffer.data(), count, key);
    EXPECT_EQ(buffer, plain) << count;
  }
}

TEST(NewWorkBuffer, IsZeroFilled) {
  const WorkBuffer buffer = NewWorkBuffer();
  ASSERT_NE(buffer, nullptr);
  const Bytes zeros(kWorkBufferSize, 0);
  EXPECT_EQ(std::memcmp(buffer.get(), zeros.data(), kWorkBufferSize), 0);
}

}  // namespace
}  // namespace prc
