// Every block-function variant the machine can run against the plain C++ one, bit for bit, and
// each against known answers.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "random/chacha_blocks.h"

namespace amplion::random::blocks {
namespace {

struct Portable {
  static constexpr BlocksFn fn = &chacha12_x4_portable;
  static bool supported() { return true; }
};
#if defined(AMPLION_CHACHA_X86)
struct Sse2 {
  static constexpr BlocksFn fn = &chacha12_x4_sse2;
  static bool supported() { return true; }  // the x86-64 baseline
};
struct Avx2 {
  static constexpr BlocksFn fn = &chacha12_x4_avx2;
  static bool supported() { return cpu_has_avx2(); }
};
#endif

using Words = std::array<std::uint32_t, kOutputWords>;

// Key words of the seed-0 generator (its PCG32 expansion).
constexpr std::uint32_t kSeed0Key[8] = {0xF973F2EC, 0x45CDB581, 0x7346F087, 0xAD6CAD06,
                                        0xE3A3D0D0, 0x67E71733, 0x72EA9BF2, 0xFE7D8AD7};

BlockInput seed0_input(std::uint64_t counter, std::uint64_t stream) {
  BlockInput in{};
  for (int i = 0; i < 8; ++i) in.key[i] = kSeed0Key[i];
  in.counter = counter;
  in.stream = stream;
  return in;
}

std::uint64_t splitmix(std::uint64_t& s) {
  std::uint64_t z = (s += 0x9E3779B97F4A7C15);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
  return z ^ (z >> 31);
}

template <class V>
class BlocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!V::supported()) GTEST_SKIP() << "instruction set not available on this machine";
  }
  static Words run(const BlockInput& in) {
    Words out;
    out.fill(0xDEADBEEF);
    V::fn(in, out.data());
    return out;
  }
};

TYPED_TEST_SUITE_P(BlocksTest);

// Words 0 and 1 of each of the four blocks, for the seed-0 key and stream 0.
TYPED_TEST_P(BlocksTest, KnownAnswers) {
  struct Case {
    const char* name;
    std::uint64_t counter;
    std::uint32_t heads[8];
  };
  const Case cases[] = {
      {"counter carries into the high word inside the call", 0xFFFFFFFE,
       {0x69C22ACC, 0x33A62314, 0xB53E3DBB, 0xC3790EA6, 0x317B6B09, 0x28E02E04, 0x7BFB8FB7,
        0x7E09E7C6}},
      {"counter wraps past 2^64 inside the call", 0xFFFFFFFFFFFFFFFE,
       {0x8CDB8615, 0xA3D55904, 0xA0862A07, 0x8671AF6C, 0xCD2C6F7F, 0xBB2A3FB2, 0x9E0D7FAC,
        0xBFD4A4AE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Words out = TestFixture::run(seed0_input(c.counter, 0));
    for (std::size_t j = 0; j < kBlocksPerCall; ++j) {
      EXPECT_EQ(out[16 * j], c.heads[2 * j]) << "block " << j;
      EXPECT_EQ(out[16 * j + 1], c.heads[2 * j + 1]) << "block " << j;
    }
  }
  // The first eight words of block 0, in full.
  const std::uint32_t block0[8] = {0xCD2C6F7F, 0xBB2A3FB2, 0x8E27697B, 0xC6017C94,
                                   0xCF310A16, 0x069DC102, 0xABE5F6D0, 0x958B761D};
  const Words out = TestFixture::run(seed0_input(0, 0));
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(out[i], block0[i]) << "word " << i;
  // The stream occupies words 14 and 15 of the input.
  const std::uint32_t streamed[4] = {0xBFDD26D3, 0x0FA56861, 0x81D33334, 0xD12487C8};
  const Words s = TestFixture::run(seed0_input(0, 0x0123456789ABCDEF));
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(s[i], streamed[i]) << "word " << i;
}

// A call at counter c writes exactly the blocks that calls at c-1 and c+1 share with it.
TYPED_TEST_P(BlocksTest, BlocksDependOnlyOnTheirOwnCounter) {
  for (std::uint64_t c : {std::uint64_t{1}, std::uint64_t{0xFFFFFFFF},
                          std::uint64_t{0xFFFFFFFFFFFFFFFF}}) {
    SCOPED_TRACE(c);
    const Words mid = TestFixture::run(seed0_input(c, 0));
    const Words next = TestFixture::run(seed0_input(c + 1, 0));
    for (std::size_t i = 0; i < 3 * kBlockWords; ++i) {
      ASSERT_EQ(mid[kBlockWords + i], next[i]) << i;
    }
  }
}

TYPED_TEST_P(BlocksTest, MatchesPortableOverManyInputs) {
  std::uint64_t s = 0x5EED;
  const std::uint64_t edges[] = {0,           1,           4,           0xFFFFFFFC,
                                 0xFFFFFFFD,  0xFFFFFFFE,  0xFFFFFFFF,  0x100000000,
                                 0x1FFFFFFFF, 0xFFFFFFFFFFFFFFFC, 0xFFFFFFFFFFFFFFFD,
                                 0xFFFFFFFFFFFFFFFE, 0xFFFFFFFFFFFFFFFF};
  for (int trial = 0; trial < 2000; ++trial) {
    BlockInput in{};
    for (int i = 0; i < 8; i += 2) {
      const std::uint64_t k = splitmix(s);
      in.key[i] = static_cast<std::uint32_t>(k);
      in.key[i + 1] = static_cast<std::uint32_t>(k >> 32);
    }
    const std::uint64_t r = splitmix(s);
    in.counter = trial < 13 ? edges[trial] : (trial % 3 == 0 ? r : r & 0xFFFF);
    in.stream = trial % 2 == 0 ? 0 : splitmix(s);
    Words expected;
    chacha12_x4_portable(in, expected.data());
    const Words got = TestFixture::run(in);
    ASSERT_EQ(got, expected) << "trial " << trial << " counter " << in.counter;
  }
}

REGISTER_TYPED_TEST_SUITE_P(BlocksTest, KnownAnswers, BlocksDependOnlyOnTheirOwnCounter,
                            MatchesPortableOverManyInputs);

#if defined(AMPLION_CHACHA_X86)
using Variants = ::testing::Types<Portable, Sse2, Avx2>;
#else
using Variants = ::testing::Types<Portable>;
#endif
INSTANTIATE_TYPED_TEST_SUITE_P(All, BlocksTest, Variants);

TEST(BlocksSelection, PicksTheWidestSupportedVariant) {
  const Variant v = selected_variant();
#if defined(AMPLION_CHACHA_X86)
  if (cpu_has_avx2()) {
    EXPECT_STREQ(v.name, "avx2");
    EXPECT_EQ(v.fn, &chacha12_x4_avx2);
  } else {
    EXPECT_STREQ(v.name, "sse2");
    EXPECT_EQ(v.fn, &chacha12_x4_sse2);
  }
#else
  EXPECT_STREQ(v.name, "portable");
#endif
}

}  // namespace
}  // namespace amplion::random::blocks
