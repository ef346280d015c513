// WeightedIndex: its checks and messages, the partial sums, the scale, the mapping of a draw
// onto [0, total) and the search, with known samples from seeded generators.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "base/errors.h"
#include "base/memory.h"
#include "random/chacha.h"
#include "random/weighted.h"
#include "test_support.h"

namespace amplion::random {

using base::Fault;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }

// Builds both ways: from a borrowed span and in place from a handed-over block.
base::Result<WeightedIndex> build(const std::vector<double>& w, bool in_place) {
  if (!in_place) return WeightedIndex::build(std::span<const double>(w));
  auto block = base::Block<double>::allocate(w.size(), "weights");
  if (!block.ok()) return block.error();
  if (!w.empty()) std::memcpy(block.value().data(), w.data(), w.size() * sizeof(double));
  return WeightedIndex::build(std::move(block.value()));
}

class WeightedBuild : public ::testing::TestWithParam<bool> {};

TEST_P(WeightedBuild, RejectsInOrder) {
  struct Case {
    const char* name;
    std::vector<double> weights;
    const char* message;
  };
  const Case cases[] = {
      {"empty", {}, "No weights provided in distribution"},
      {"first weight negative", {-1.0, 1.0}, "A weight is invalid in distribution"},
      {"first weight NaN", {kNaN}, "A weight is invalid in distribution"},
      {"later weight NaN", {1.0, kNaN}, "A weight is invalid in distribution"},
      {"negative zero is fine, a tiny negative is not", {-0.0, 1.0, -5e-324},
       "A weight is invalid in distribution"},
      {"a bad weight is found before the total overflows", {1e308, 1e308, -1.0},
       "A weight is invalid in distribution"},
      {"all zero", {0.0, 0.0}, "All weights are zero in distribution"},
      {"zero and negative zero", {-0.0, 0.0, -0.0}, "All weights are zero in distribution"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = build(c.weights, GetParam());
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, base::ErrorKind::kValue);
    EXPECT_EQ(r.error().message, c.message);
  }
  EXPECT_STREQ(weighted_error_message(WeightedErrorKind::kEmptyWeights), kEmptyWeightsMessage);
  EXPECT_STREQ(weighted_error_message(WeightedErrorKind::kBadWeight), kBadWeightMessage);
  EXPECT_STREQ(weighted_error_message(WeightedErrorKind::kZeroTotal), kZeroTotalMessage);
}

TEST_P(WeightedBuild, InfiniteTotalIsAFault) {
  const std::vector<std::vector<double>> lists = {{1e308, 1e308}, {kInf}, {0.0, kInf, 1.0}};
  for (const auto& w : lists) {
    try {
      (void)build(w, GetParam());
      ADD_FAILURE() << "no fault";
    } catch (const Fault& f) {
      EXPECT_STREQ(f.what(), "Uniform::new: range overflow");
    }
  }
}

// Partial sums are formed left to right, one addition each; the last weight is not in them.
TEST_P(WeightedBuild, PartialSumsAndTotal) {
  struct Case {
    const char* name;
    std::vector<double> weights;
    std::vector<std::uint64_t> cumulative;
    std::uint64_t total;
  };
  const Case cases[] = {
      {"one weight", {0.25}, {}, 0x3FD0000000000000},
      {"tenths", {0.1, 0.2, 0.3, 0.4},
       {0x3FB999999999999A, 0x3FD3333333333334, 0x3FE3333333333334}, 0x3FF0000000000000},
      {"negative zero first stays negative zero", {-0.0, 1.0},
       {0x8000000000000000}, 0x3FF0000000000000},
      {"zeros in the middle repeat the sum", {1.0, 0.0, 1.0},
       {0x3FF0000000000000, 0x3FF0000000000000}, 0x4000000000000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = build(c.weights, GetParam());
    ASSERT_TRUE(r.ok());
    const WeightedIndex& w = r.value();
    EXPECT_EQ(w.size(), c.weights.size());
    EXPECT_EQ(bits_of(w.cumulative()), c.cumulative);
    EXPECT_EQ(bits(w.total()), c.total);
  }
}

INSTANTIATE_TEST_SUITE_P(SpanAndBlock, WeightedBuild, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "InPlace" : "FromSpan"; });

// The scale is the total itself unless scale * (1 - 2^-52) would round back up to the total,
// which happens only below 2^-1022 (subnormal totals step down once).
TEST(WeightedScale, StepsDownWhereTheProductRoundsUp) {
  struct Case {
    std::uint64_t total;
    std::uint64_t scale;
  };
  const Case cases[] = {
      {0x3FF0000000000000, 0x3FF0000000000000},  // 1.0
      {0x3FFFFFFFFFFFFFFF, 0x3FFFFFFFFFFFFFFF},  // 2 - 2^-52
      {0x3FD3333333333334, 0x3FD3333333333334},  // 0.1 + 0.2
      {0x7FEFFFFFFFFFFFFF, 0x7FEFFFFFFFFFFFFF},  // the largest double
      {0x0010000000000000, 0x0010000000000000},  // the smallest normal
      {0x000FFFFFFFFFFFFF, 0x000FFFFFFFFFFFFF},
      {0x0008000000000001, 0x0008000000000001},
      {0x0008000000000000, 0x0007FFFFFFFFFFFF},
      {0x0007FFFFFFFFFFFF, 0x0007FFFFFFFFFFFE},
      {0x0000000000000003, 0x0000000000000002},
      {0x0000000000000001, 0x0000000000000000},  // the smallest subnormal: scale zero
  };
  constexpr double kMaxUnit = 0x1.ffffffffffffep-1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.total);
    const std::vector<double> w = {from_bits(c.total)};
    auto r = WeightedIndex::build(std::span<const double>(w));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(bits(r.value().scale()), c.scale);
    // Even the largest point stays below the total.
    EXPECT_LT(r.value().point_of(~std::uint64_t{0}), r.value().total());
    EXPECT_LT(kMaxUnit * r.value().scale(), r.value().total());
  }
}

TEST(WeightedPoint, UnitUsesTheTop52Bits) {
  struct Case {
    std::uint64_t u;
    std::uint64_t unit;
  };
  const Case cases[] = {
      {0, 0x0000000000000000},
      {0xFFF, 0x0000000000000000},                   // low 12 bits ignored
      {0x1000, 0x3CB0000000000000},                  // 2^-52
      {0x8000000000000000, 0x3FE0000000000000},      // 0.5
      {0xFFFFFFFFFFFFFFFF, 0x3FEFFFFFFFFFFFFE},      // 1 - 2^-52
      {0x0123456789ABCDEF, 0x3F723456789ABC00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.u);
    EXPECT_EQ(bits(WeightedIndex::unit_of(c.u)), c.unit);
  }
}

// index_of counts the partial sums <= x: ties go up, and weight-zero indices are skipped.
TEST(WeightedSearch, CountsPartialSumsAtOrBelowThePoint) {
  const std::vector<double> w = {1.0, 0.0, 1.0, 2.0};  // partial sums 1, 1, 2; total 4
  auto r = WeightedIndex::build(std::span<const double>(w));
  ASSERT_TRUE(r.ok());
  struct Case {
    double x;
    std::uint64_t index;
  };
  const Case cases[] = {{0.0, 0}, {0x1.fffffffffffffp-1, 0}, {1.0, 2}, {1.5, 2},
                        {2.0, 3}, {3.9, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(r.value().index_of(c.x), c.index);
  }
}

TEST(WeightedSample, KnownSequences) {
  struct Case {
    const char* name;
    std::vector<double> weights;
    std::uint64_t seed;
    std::vector<std::uint64_t> indices;
  };
  const Case cases[] = {
      {"1 2 3 4, seed 0", {1.0, 2.0, 3.0, 4.0}, 0,
       {3, 3, 0, 2, 1, 3, 1, 3, 3, 3, 3, 1, 1, 3, 0, 2}},
      {"tenths, seed 42", {0.1, 0.2, 0.3, 0.4}, 42,
       {2, 2, 3, 2, 0, 2, 3, 3, 1, 0, 3, 2, 2, 1, 2, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = WeightedIndex::build(std::span<const double>(c.weights));
    ASSERT_TRUE(r.ok());
    ChaChaGenerator g = ChaChaGenerator::seed_from_u64(c.seed);
    std::vector<std::uint64_t> got;
    for (std::size_t i = 0; i < c.indices.size(); ++i) got.push_back(r.value().sample(g));
    EXPECT_EQ(got, c.indices);
  }
}

// One draw per sample, whatever the weights; degenerate lists give their only possible index.
TEST(WeightedSample, OneDrawPerSampleAndForcedOutcomes) {
  struct Case {
    const char* name;
    std::vector<double> weights;
    std::vector<std::uint64_t> allowed;
  };
  const Case cases[] = {
      {"[0, 1]", {0.0, 1.0}, {1}},
      {"[1]", {1.0}, {0}},
      {"[1, 0, 1]", {1.0, 0.0, 1.0}, {0, 2}},
      {"[-0.0, 1]", {-0.0, 1.0}, {1}},
      {"[1, 0]", {1.0, 0.0}, {0}},
      {"[5e-324]: scale zero", {5e-324}, {0}},
      {"[0, 5e-324]: scale zero", {0.0, 5e-324}, {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = WeightedIndex::build(std::span<const double>(c.weights));
    ASSERT_TRUE(r.ok());
    ChaChaGenerator sampled = ChaChaGenerator::seed_from_u64(11);
    ChaChaGenerator counted = ChaChaGenerator::seed_from_u64(11);
    std::vector<int> seen(c.weights.size(), 0);
    for (int i = 0; i < 2000; ++i) {
      const std::uint64_t k = r.value().sample(sampled);
      counted.draw_u64();
      ASSERT_LT(k, c.weights.size());
      ++seen[k];
    }
    EXPECT_EQ(sampled.draw_u64(), counted.draw_u64()) << "exactly one draw per sample";
    for (std::size_t k = 0; k < seen.size(); ++k) {
      const bool allowed = std::find(c.allowed.begin(), c.allowed.end(), k) != c.allowed.end();
      if (allowed) {
        EXPECT_GT(seen[k], 0) << "index " << k;
      } else {
        EXPECT_EQ(seen[k], 0) << "index " << k;
      }
    }
  }
}

}  // namespace
}  // namespace amplion::random
