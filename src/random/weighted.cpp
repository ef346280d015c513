// WeightedIndex: partial sums, the scale that keeps every sampled point below the total, and
// the search.
#include "random/weighted.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

namespace amplion::random {
namespace {

// 1 - 2^-52 (0x3FEFFFFFFFFFFFFE): the largest value unit_of returns.
constexpr double kMaxUnit = 0x1.ffffffffffffep-1;
constexpr std::uint64_t kOneBits = 0x3FF0000000000000;

// NaN and negative weights fail; -0.0 passes. The running total of valid weights is therefore
// never NaN and never negative: it is zero, positive or +infinity.
bool valid_weight(double w) { return w >= 0.0; }

// The largest scale with scale * kMaxUnit < total: start at total and step down one bit
// pattern at a time. Two steps at most for normal totals; a subnormal total may step to zero.
double scale_for(double total) {
  double scale = total;
  while (scale * kMaxUnit >= total) {
    scale = std::bit_cast<double>(std::bit_cast<std::uint64_t>(scale) - 1);
  }
  return scale;
}

}  // namespace

const char* weighted_error_message(WeightedErrorKind kind) {
  switch (kind) {
    case WeightedErrorKind::kEmptyWeights:
      return kEmptyWeightsMessage;
    case WeightedErrorKind::kBadWeight:
      return kBadWeightMessage;
    case WeightedErrorKind::kZeroTotal:
      return kZeroTotalMessage;
  }
  return kBadWeightMessage;  // unreachable: every kind is handled above
}

base::Error weighted_error(WeightedErrorKind kind) {
  return base::Error{base::ErrorKind::kValue, weighted_error_message(kind)};
}

WeightedIndex::WeightedIndex(base::Block<double> sums, std::uint64_t count, double total)
    : sums_(std::move(sums)), count_(count), total_(total), scale_(scale_for(total)) {}

base::Result<WeightedIndex> WeightedIndex::build(std::span<const double> weights) {
  if (weights.empty()) return weighted_error(WeightedErrorKind::kEmptyWeights);
  // First pass: validate and total without storing, so a bad list costs no allocation. The sums
  // run strictly left to right, one rounding per addition: a pairwise or vectorised sum would give
  // other partial sums and move draws across their boundaries.
  double running = weights[0];
  if (!valid_weight(running)) return weighted_error(WeightedErrorKind::kBadWeight);
  for (std::size_t k = 1; k < weights.size(); ++k) {
    if (!valid_weight(weights[k])) return weighted_error(WeightedErrorKind::kBadWeight);
    running = running + weights[k];
  }
  if (!(running > 0.0)) return weighted_error(WeightedErrorKind::kZeroTotal);
  if (std::isinf(running)) base::fault(kRangeOverflowMessage);

  const std::uint64_t count = weights.size() - 1;
  auto block = base::Block<double>::allocate(count, "weights");
  if (!block.ok()) return block.error();
  base::Block<double> sums = std::move(block.value());
  // Second pass: the same additions in the same order, so the last one gives the same total.
  double sum = weights[0];
  for (std::size_t k = 1; k < weights.size(); ++k) {
    sums[k - 1] = sum;
    sum = sum + weights[k];
  }
  return WeightedIndex(std::move(sums), count, sum);
}

base::Result<WeightedIndex> WeightedIndex::build(base::Block<double>&& weights) {
  base::Block<double> sums = std::move(weights);
  const std::uint64_t n = sums.size();
  if (n == 0) return weighted_error(WeightedErrorKind::kEmptyWeights);
  double running = sums[0];
  if (!valid_weight(running)) return weighted_error(WeightedErrorKind::kBadWeight);
  // Entry k-1 is overwritten only after w(k-1) has been added, so each weight is read first.
  for (std::uint64_t k = 1; k < n; ++k) {
    const double w = sums[k];
    if (!valid_weight(w)) return weighted_error(WeightedErrorKind::kBadWeight);
    sums[k - 1] = running;
    running = running + w;
  }
  if (!(running > 0.0)) return weighted_error(WeightedErrorKind::kZeroTotal);
  if (std::isinf(running)) base::fault(kRangeOverflowMessage);
  return WeightedIndex(std::move(sums), n - 1, running);
}

double WeightedIndex::unit_of(std::uint64_t u) {
  return std::bit_cast<double>((u >> 12) | kOneBits) - 1.0;
}

std::uint64_t WeightedIndex::index_of(double x) const {
  const std::span<const double> c = cumulative();
  return static_cast<std::uint64_t>(std::upper_bound(c.begin(), c.end(), x) - c.begin());
}

}  // namespace amplion::random
