#include "prc/container.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "prc/kernel.h"
#include "prc/work_buffer.h"
#include "tests/byte_pair_model.h"
#include "tests/call_at_stack_offset.h"
#include "tests/fresh_buffer.h"

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

// The model's decoding of a file's bytes, header included, with `key`: the bytes and,
// for an odd count, the one byte past them that the last pair takes in.
Bytes ReferenceDescramble(const Bytes& file, std::uint16_t key) {
  Bytes out(file);
  out.resize(file.size() + (file.size() % 2));
  model::DescramblePairs(out.data(), kHeaderSize, file.size(), key);
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
    // The inverse: the same four bytes and key from the length.
    Bytes written(kHeaderSize, 0xAA);
    EXPECT_EQ(WriteHeader(row.length, written.data()), row.key) << row.length;
    EXPECT_EQ(written, row.header) << row.length;
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

// Piece by piece, each piece continuing from the word the one before returned, as a
// payload is restored through a buffer smaller than itself: the same bytes as whole, for
// even and odd counts (the last piece then takes in the zero byte after the count).
TEST(DescrambleWords, InPiecesMatchesDescrambleWhole) {
  std::mt19937 rng(4);
  const std::size_t counts[] = {kHeaderSize,    5, 9, 1001, 4100, kWorkBufferSize - 1,
                                kWorkBufferSize};
  const std::size_t pieces[] = {2, 6, 62, 64, 66, 4096, std::size_t{1} << 17, kWorkBufferSize};
  for (const std::size_t count : counts) {
    const auto key = static_cast<std::uint16_t>(rng());
    Bytes file = RandomBytes(count, rng);
    file.resize(count + count % 2, 0);
    Bytes whole(file);
    Descramble(whole.data(), count, key);
    for (const std::size_t piece : pieces) {
      Bytes buffer(file);
      std::uint16_t previous = key;
      for (std::size_t at = kHeaderSize; at < count; at += piece) {
        const std::size_t bytes = std::min(piece, count - at);
        previous = DescrambleWords(buffer.data() + at, (bytes + 1) / 2, previous);
      }
      EXPECT_EQ(buffer, whole) << "count " << count << ", pieces of " << piece;
    }
  }
  std::uint8_t none[2] = {0xAB, 0xCD};
  EXPECT_EQ(DescrambleWords(none, 0, 0x1234), 0x1234);
  EXPECT_EQ(none[0], 0xAB);
}

}  // namespace

// Test names and messages show a set by its name.
void PrintTo(const KernelSet& set, std::ostream* out) { *out << set.name; }

namespace {

// Every kernel set this build holds, run where the processor has its instruction set and
// reported as skipped, by name, where it does not.
class KernelSetTest : public testing::TestWithParam<KernelSet> {
 protected:
  void SetUp() override {
    if (!GetParam().runs_here) GTEST_SKIP() << GetParam().name << ": this processor lacks it";
  }
};

// Runs `kernel` and the model `reference` on the same random bytes: `words` words at
// `offset` bytes from a 64-byte boundary, with random bytes before and after them that
// neither may touch. Both the bytes and the returned word must agree.
template <typename Kernel, typename Model>
void ExpectSameAsModel(Kernel kernel, Model reference, std::size_t offset, std::size_t words,
                       std::mt19937& rng) {
  constexpr std::size_t kGuard = 64;
  Bytes storage = RandomBytes(64 + offset + 2 * words + kGuard, rng);
  std::uint8_t* const start =
      storage.data() + (64 - reinterpret_cast<std::uintptr_t>(storage.data()) % 64) % 64;
  Bytes expected(storage);
  std::uint8_t* const expected_start = expected.data() + (start - storage.data());
  const auto key = static_cast<std::uint16_t>(rng());
  const std::uint16_t expected_last = reference(expected_start, offset, offset + 2 * words, key);
  const std::uint16_t last = kernel(start + offset, words, key);
  ASSERT_EQ(storage, expected) << "offset " << offset << ", " << words << " words";
  ASSERT_EQ(last, expected_last) << "offset " << offset << ", " << words << " words";
}

TEST_P(KernelSetTest, DescrambleMatchesModelForEveryShortCountAtEveryAlignment) {
  std::mt19937 rng(4);
  for (std::size_t offset = 0; offset < 64; ++offset) {
    for (std::size_t words = 0; words <= 200; ++words) {
      ExpectSameAsModel(GetParam().descramble, model::DescramblePairs, offset, words, rng);
    }
  }
}

TEST_P(KernelSetTest, ScrambleMatchesModelForEveryShortCountAtEveryAlignment) {
  std::mt19937 rng(5);
  for (std::size_t offset = 0; offset < 64; ++offset) {
    for (std::size_t words = 0; words <= 200; ++words) {
      ExpectSameAsModel(GetParam().scramble, model::ScramblePairs, offset, words, rng);
    }
  }
}

// 32-bit Windows keeps the stack aligned to 4 bytes only, where Linux keeps 16: each kernel,
// entered with the stack pointer 0, 4, 8 and 12 bytes past a multiple of 16, must work as
// the model does (a vector kept on the stack as if aligned would fault instead).
TEST_P(KernelSetTest, MatchesModelEnteredWithTheStackAtEachFourBytes) {
  if (const char* why = test::WhyNoStackOffsets()) GTEST_SKIP() << why;
  std::mt19937 rng(7);
  for (const std::size_t stack : {0, 4, 8, 12}) {
    SCOPED_TRACE("stack pointer " + std::to_string(stack) + " bytes past a multiple of 16");
    const auto descramble = [&](std::uint8_t* words, std::size_t count, std::uint16_t key) {
      return test::CallAtStackOffset(stack, GetParam().descramble, words, count, key);
    };
    const auto scramble = [&](std::uint8_t* words, std::size_t count, std::uint16_t key) {
      return test::CallAtStackOffset(stack, GetParam().scramble, words, count, key);
    };
    for (const std::size_t words : {0, 1, 31, 200, 1000}) {
      ExpectSameAsModel(descramble, model::DescramblePairs, stack + 2, words, rng);
      ExpectSameAsModel(scramble, model::ScramblePairs, stack + 2, words, rng);
    }
  }
}

// The payload of a full work buffer, where the tool works: after the header.
TEST_P(KernelSetTest, FullWorkBufferMatchesModelBothWays) {
  std::mt19937 rng(6);
  const WorkBuffer buffer = NewWorkBuffer();
  ASSERT_NE(buffer, nullptr);
  const Bytes file = RandomBytes(kWorkBufferSize, rng);
  std::memcpy(buffer.get(), file.data(), kWorkBufferSize);
  constexpr std::size_t kWords = (kWorkBufferSize - kHeaderSize) / 2;

  Bytes expected(file);
  const std::uint16_t plain_last =
      model::DescramblePairs(expected.data(), kHeaderSize, kWorkBufferSize, 0xBEEF);
  EXPECT_EQ(GetParam().descramble(buffer.get() + kHeaderSize, kWords, 0xBEEF), plain_last);
  EXPECT_EQ(std::memcmp(buffer.get(), expected.data(), kWorkBufferSize), 0);

  model::ScramblePairs(expected.data(), kHeaderSize, kWorkBufferSize, 0xBEEF);
  EXPECT_EQ(GetParam().scramble(buffer.get() + kHeaderSize, kWords, 0xBEEF), plain_last);
  EXPECT_EQ(std::memcmp(buffer.get(), expected.data(), kWorkBufferSize), 0);
  EXPECT_EQ(expected, file);
}

INSTANTIATE_TEST_SUITE_P(EverySet, KernelSetTest, testing::ValuesIn(KernelSets()),
                         [](const testing::TestParamInfo<KernelSet>& info) {
                           return std::string(info.param.name);
                         });

// The tool uses the fastest set this processor runs, and every build has the portable one.
TEST(KernelSets, PortableFirstAndFastestIsTheLastThatRunsHere) {
  const std::vector<KernelSet>& sets = KernelSets();
  ASSERT_FALSE(sets.empty());
  EXPECT_STREQ(sets.front().name, "portable");
  EXPECT_TRUE(sets.front().runs_here);
  const KernelSet* last_running = nullptr;
  for (const KernelSet& set : sets) {
    if (set.runs_here) last_running = &set;
  }
  EXPECT_EQ(&FastestKernelSet(), last_running);
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

TEST(NewWorkBuffer, IsZeroFilled) { EXPECT_TRUE(test::FreshBufferIsWholeAndZero()); }

}  // namespace
}  // namespace prc
