// ChaChaGenerator: seeding, the refill schedule, draw_u64 and draw_bytes, against known answers.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "random/chacha.h"

namespace amplion::random {
namespace {

using Key = std::array<std::uint32_t, 8>;

TEST(ChaChaSeed, Pcg32ExpansionGivesTheKeyWords) {
  struct Case {
    std::uint64_t seed;
    Key key;
  };
  const Case cases[] = {
      {0, {0xF973F2EC, 0x45CDB581, 0x7346F087, 0xAD6CAD06, 0xE3A3D0D0, 0x67E71733, 0x72EA9BF2,
           0xFE7D8AD7}},
      {42, {0x7BA18FA4, 0x0A3D3258, 0xCCA1B8EA, 0xB8140169, 0x75C88C2B, 0x54F7B418, 0xA16E448D,
            0xF220DFE4}},
      {0xFFFFFFFFFFFFFFFF, {0xE392472F, 0x102810D6, 0x952D5435, 0x435EF92C, 0x7B34E99A,
                            0x37C5DD03, 0xB0C77A63, 0x3E612043}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seed);
    const ChaChaGenerator g = ChaChaGenerator::seed_from_u64(c.seed);
    EXPECT_EQ(g.key(), c.key);
    EXPECT_EQ(g.counter(), 0u);
    EXPECT_EQ(g.stream(), 0u);
    EXPECT_EQ(g.position(), 64u);
    for (std::uint32_t w : g.buffer()) ASSERT_EQ(w, 0u);
  }
}

TEST(ChaChaSeed, InitReadsKeyAndNonceLittleEndian) {
  std::array<std::uint8_t, kKeyBytes> key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i + 1);
  const std::array<std::uint8_t, kNonceBytes> nonce{0x01, 0x02, 0x03, 0x04,
                                                    0x05, 0x06, 0x07, 0x80};
  const ChaChaGenerator g = ChaChaGenerator::init_chacha(key, nonce);
  EXPECT_EQ(g.key(), (Key{0x04030201, 0x08070605, 0x0C0B0A09, 0x100F0E0D, 0x14131211,
                          0x18171615, 0x1C1B1A19, 0x201F1E1D}));
  EXPECT_EQ(g.stream(), 0x8007060504030201u);
  EXPECT_EQ(g.counter(), 0u);
  EXPECT_EQ(g.position(), 64u);
}

TEST(ChaChaDraw, KnownAnswersForSeeds0And42) {
  struct Case {
    std::uint64_t seed;
    std::uint64_t draws[4];
  };
  const Case cases[] = {
      {0, {0xBB2A3FB2CD2C6F7F, 0xC6017C948E27697B, 0x069DC102CF310A16, 0x958B761DABE5F6D0}},
      {42, {0x86CC7763222724A2, 0x8AF00A133FAD517D, 0xA2EF6071DE5134D1, 0x67E92D78FD7630B2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seed);
    ChaChaGenerator g = ChaChaGenerator::seed_from_u64(c.seed);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(g.draw_u64(), c.draws[i]) << "draw " << i;
  }
}

TEST(ChaChaDraw, RefillsEvery32DrawsAndPositionFollows) {
  ChaChaGenerator g = ChaChaGenerator::seed_from_u64(0);
  EXPECT_EQ(g.draw_u64(), 0xBB2A3FB2CD2C6F7Fu);  // words 0 and 1, word 0 low
  EXPECT_EQ(g.counter(), 4u);
  EXPECT_EQ(g.position(), 2u);
  for (int i = 1; i < 31; ++i) g.draw_u64();
  EXPECT_EQ(g.draw_u64(), 0xFA202BE26FDC7E07u);  // 32nd: words 62 and 63
  EXPECT_EQ(g.position(), 64u);
  EXPECT_EQ(g.counter(), 4u);
  EXPECT_EQ(g.draw_u64(), 0xEADD98EE4C0BCC72u);  // 33rd: blocks 4 to 7
  EXPECT_EQ(g.counter(), 8u);
  EXPECT_EQ(g.position(), 2u);
}

// Position 63: the low half is the last old word, the high half the first word of the refill.
TEST(ChaChaDraw, StraddleAtPosition63) {
  ChaChaGenerator g = ChaChaGenerator::seed_from_u64(0);
  std::array<std::uint8_t, 4> four{};
  g.draw_bytes(four);
  for (int i = 0; i < 31; ++i) g.draw_u64();
  ASSERT_EQ(g.position(), 63u);
  ASSERT_EQ(g.counter(), 4u);
  EXPECT_EQ(g.draw_u64(), 0x4C0BCC72FA202BE2u);
  EXPECT_EQ(g.position(), 1u);
  EXPECT_EQ(g.counter(), 8u);
  EXPECT_EQ(g.draw_u64(), 0x6362A0A5EADD98EEu);
}

TEST(ChaChaDraw, CounterCarriesAndWraps) {
  struct Case {
    const char* name;
    std::uint64_t start;
    std::uint64_t heads[4];  // the draw at the start of each of the four blocks
    std::uint64_t counter_after;
  };
  const Case cases[] = {
      {"low word carries into the high word", 0xFFFFFFFE,
       {0x33A6231469C22ACC, 0xC3790EA6B53E3DBB, 0x28E02E04317B6B09, 0x7E09E7C67BFB8FB7},
       0x100000002},
      {"2^64 wraps to block 0", 0xFFFFFFFFFFFFFFFE,
       {0xA3D559048CDB8615, 0x8671AF6CA0862A07, 0xBB2A3FB2CD2C6F7F, 0xBFD4A4AE9E0D7FAC}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChaChaGenerator g = ChaChaGenerator::seed_from_u64(0);
    g.draw_u64();
    g.set_counter(c.start);
    EXPECT_EQ(g.position(), 64u);
    for (int j = 0; j < 4; ++j) {
      EXPECT_EQ(g.draw_u64(), c.heads[j]) << "block " << j;
      EXPECT_EQ(g.counter(), c.counter_after);
      for (int i = 1; i < 8; ++i) g.draw_u64();
    }
  }
}

TEST(ChaChaBytes, PartialWordsAreConsumedWhole) {
  ChaChaGenerator g = ChaChaGenerator::seed_from_u64(42);
  std::array<std::uint8_t, 13> first{};
  g.draw_bytes(first);
  EXPECT_EQ(first, (std::array<std::uint8_t, 13>{0xA2, 0x24, 0x27, 0x22, 0x63, 0x77, 0xCC, 0x86,
                                                 0x7D, 0x51, 0xAD, 0x3F, 0x13}));
  EXPECT_EQ(g.position(), 4u);
  std::array<std::uint8_t, 3> second{};
  g.draw_bytes(second);
  EXPECT_EQ(second, (std::array<std::uint8_t, 3>{0xD1, 0x34, 0x51}));
  EXPECT_EQ(g.position(), 5u);
  std::span<std::uint8_t> none;
  g.draw_bytes(none);
  EXPECT_EQ(g.position(), 5u);
  EXPECT_EQ(g.counter(), 4u);
}

// From every position a generator can be left at, an 8-byte fill is the little-endian
// draw_u64 and leaves the generator exactly where draw_u64 would, refills included.
TEST(ChaChaBytes, EightBytesMatchDrawU64FromEveryPosition) {
  for (std::size_t start = 1; start <= 64; ++start) {
    SCOPED_TRACE(start);
    ChaChaGenerator a = ChaChaGenerator::seed_from_u64(7);
    std::vector<std::uint8_t> skip(4 * start - 3);  // ends inside word start-1: consumed whole
    a.draw_bytes(skip);
    ASSERT_EQ(a.position(), start);
    ChaChaGenerator b = a;
    for (int i = 0; i < 40; ++i) {
      std::array<std::uint8_t, 8> bytes{};
      a.draw_bytes(bytes);
      const std::uint64_t v = b.draw_u64();
      std::uint64_t le = 0;
      for (std::size_t k = 8; k-- > 0;) le = le << 8 | bytes[k];
      ASSERT_EQ(le, v) << "draw " << i;
      ASSERT_EQ(a.position(), b.position());
      ASSERT_EQ(a.counter(), b.counter());
    }
  }
}

TEST(ChaChaBytes, FillViaU32Chunks) {
  const std::uint32_t words[2] = {0x04030201, 0x08070605};
  for (std::size_t len = 0; len <= 10; ++len) {
    SCOPED_TRACE(len);
    std::array<std::uint8_t, 10> dest{};
    dest.fill(0xEE);
    const ChunkFill r = fill_via_u32_chunks(words, std::span(dest).first(len));
    const std::size_t n = len < 8 ? len : 8;
    EXPECT_EQ(r.written, n);
    EXPECT_EQ(r.consumed, (n + 3) / 4);
    for (std::size_t i = 0; i < dest.size(); ++i) {
      EXPECT_EQ(dest[i], i < n ? i + 1 : 0xEE) << "byte " << i;
    }
  }
}

TEST(ChaChaCopy, CopiesContinueIdentically) {
  ChaChaGenerator a = ChaChaGenerator::seed_from_u64(3);
  for (int i = 0; i < 45; ++i) a.draw_u64();
  ChaChaGenerator b = a;
  ChaChaGenerator c = std::move(b);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(a.draw_u64(), c.draw_u64()) << i;
}

}  // namespace
}  // namespace amplion::random
