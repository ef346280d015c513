// The batched search held against the sampler's own per-draw search.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "base/errors.h"
#include "random/batch_sampler.h"
#include "random/weighted.h"
#include "test_support.h"

namespace amplion::random {

using base::Status;

namespace {

using CountMap = std::map<std::uint64_t, std::uint64_t>;

// Weight lists for the batched search: zeros, long runs of zeros, sums that absorb a tiny
// weight (equal partial sums without a zero), and totals that are powers of two so that draws
// can be placed exactly on a partial sum.
struct WeightList {
  std::string name;
  std::vector<double> weights;
  bool exact;  // total is a power of two: partial sums are reachable points
};

std::vector<WeightList> weight_lists() {
  std::vector<WeightList> lists = {
      {"one weight", {3.0}, false},
      {"zero then one", {0.0, 1.0}, true},
      {"one then zero", {1.0, 0.0}, true},
      {"absorbed tiny weights", {1.0, 1e-20, 1.0, 1e-300, 0.0, 2.0}, true},
      {"subnormal total: every point is zero", {0.0, 0.0, 5e-324, 0.0}, false},
      {"negative zero first", {-0.0, 0.5, 0.5}, true},
  };
  std::mt19937_64 rng(20240611);
  for (int k = 0; k < 40; ++k) {
    // Small integers, mostly zero, with runs of zeros; a last weight makes the total 2^m.
    std::vector<double> w;
    const std::size_t n = 1 + rng() % 400;
    double sum = 0.0;
    while (w.size() < n) {
      if (rng() % 5 == 0) {
        const std::size_t run = rng() % 64;
        for (std::size_t i = 0; i < run && w.size() < n; ++i) w.push_back(0.0);
      } else {
        const double x = static_cast<double>(rng() % 4);
        w.push_back(x);
        sum += x;
      }
    }
    w.push_back(std::exp2(std::ceil(std::log2(sum + 1.0))) - sum);
    lists.push_back({"integers " + std::to_string(k), w, true});
  }
  for (int k = 0; k < 20; ++k) {
    std::vector<double> w(1 + rng() % 3000);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (double& x : w) x = rng() % 3 == 0 ? unit(rng) * unit(rng) : 0.0;
    w[rng() % w.size()] = 0.25;
    lists.push_back({"doubles " + std::to_string(k), w, false});
  }
  std::vector<double> sparse(std::size_t{1} << 16, 0.0);
  sparse[0] = 1.0;
  sparse[40000] = 2.0;
  sparse[65535] = 1.0;
  lists.push_back({"three in 65536", sparse, true});
  return lists;
}

// Every partial sum as a draw (when reachable), its neighbours one point below and above,
// the extremes, and random draws; the low 12 bits, which the sampler ignores, vary too.
std::vector<std::uint64_t> draws_for(const WeightedIndex& w, bool exact, std::mt19937_64& rng) {
  std::vector<std::uint64_t> u = {0, 0xFFF, ~std::uint64_t{0}, std::uint64_t{1} << 63};
  if (exact) {
    for (const double c : w.cumulative()) {
      if (!(c < w.total())) continue;  // trailing zero weights: no point reaches the total
      const auto point = static_cast<std::uint64_t>(c / w.total() * 0x1p52) << 12;
      // + 0.0 turns a partial sum of -0.0 into the point 0.0 it is reached at.
      EXPECT_EQ(bits(w.point_of(point)), bits(c + 0.0)) << "draw not on the partial sum";
      u.push_back(point | (rng() & 0xFFF));
      if (point != 0) u.push_back(point - 0x1000);
      u.push_back(point + 0x1000);
    }
  }
  for (int i = 0; i < 3000; ++i) u.push_back(rng());
  std::shuffle(u.begin(), u.end(), rng);
  return u;
}

// Collects runs, checking that each batch hands them over in strictly ascending order.
struct RunCollector final : RunSink {
  Status add(std::uint64_t index, std::uint64_t count) override {
    EXPECT_GT(count, 0u);
    if (last) {
      EXPECT_LT(*last, index) << "runs out of order";
    }
    last = index;
    counts[index] += count;
    batch_total += count;
    return {};
  }
  CountMap counts;
  std::optional<std::uint64_t> last;
  std::uint64_t batch_total = 0;
};

TEST(BatchSampler, EqualsOneSearchPerDraw) {
  std::mt19937_64 rng(7);
  for (const WeightList& list : weight_lists()) {
    SCOPED_TRACE(list.name);
    auto built = WeightedIndex::build(std::span<const double>(list.weights));
    ASSERT_TRUE(built.ok());
    const WeightedIndex& w = built.value();
    const std::vector<std::uint64_t> draws = draws_for(w, list.exact, rng);
    CountMap want;
    for (const std::uint64_t u : draws) ++want[w.index_of(w.point_of(u))];

    const std::uint64_t batches[] = {1, 5, 64, 700, 4096, 40000};
    for (const std::uint64_t batch : batches) {
      SCOPED_TRACE(batch);
      auto sampler = BatchSampler::create(w, batch);
      ASSERT_TRUE(sampler.ok());
      RunCollector got;
      for (std::size_t at = 0; at < draws.size(); at += batch) {
        const std::size_t n = std::min<std::size_t>(batch, draws.size() - at);
        got.batch_total = 0;
        got.last.reset();
        ASSERT_TRUE(sampler.value().count(std::span(draws).subspan(at, n), got).ok());
        ASSERT_EQ(got.batch_total, n);
      }
      ASSERT_EQ(got.counts, want);
    }
  }
}

}  // namespace
}  // namespace amplion::random
