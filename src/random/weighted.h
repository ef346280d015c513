// WeightedIndex: picks index i with probability w(i) / total from one 64-bit draw.
#pragma once

#include <cstdint>
#include <span>

#include "base/errors.h"
#include "base/memory.h"
#include "random/chacha.h"

namespace amplion::random {

enum class WeightedErrorKind { kEmptyWeights, kBadWeight, kZeroTotal };

inline constexpr char kEmptyWeightsMessage[] = "No weights provided in distribution";
inline constexpr char kBadWeightMessage[] = "A weight is invalid in distribution";
inline constexpr char kZeroTotalMessage[] = "All weights are zero in distribution";
inline constexpr char kRangeOverflowMessage[] = "Uniform::new: range overflow";

const char* weighted_error_message(WeightedErrorKind kind);
// The caller-facing error: a ValueError carrying the kind's message.
base::Error weighted_error(WeightedErrorKind kind);

// Index i is chosen exactly when c(i-1) <= x < c(i), where c are the partial sums (c(-1) = 0,
// c(N-1) = total) and x is a draw mapped onto [0, total). Immutable once built.
class WeightedIndex {
 public:
  // Checks, in order: an empty list; a weight that is negative or NaN (-0.0 is valid); a zero
  // total. Errors are ValueErrors with the kinds' messages, or a MemoryError for the partial
  // sums. A total that overflows to +infinity is the fault "Uniform::new: range overflow".
  static base::Result<WeightedIndex> build(std::span<const double> weights);
  // The same from weights the caller hands over: the partial sums are written in place over
  // them, so no second array is allocated. The block is consumed even when building fails.
  static base::Result<WeightedIndex> build(base::Block<double>&& weights);

  // Exactly one draw per sample, even for a single weight.
  std::uint64_t sample(ChaChaGenerator& rng) const { return index_of(point_of(rng.draw_u64())); }

  // (u >> 12) * 2^-52: a double in [0, 1 - 2^-52]; the low 12 bits of u are not used.
  static double unit_of(std::uint64_t u);
  // unit_of(u) * scale, rounded once: always below total.
  double point_of(std::uint64_t u) const { return unit_of(u) * scale_; }
  // The number of partial sums <= x, so a tie goes to the higher index and an index of weight
  // zero is never chosen.
  std::uint64_t index_of(double x) const;

  // w(0), w(0)+w(1), ..., w(0)+...+w(N-2): N-1 entries, never decreasing.
  std::span<const double> cumulative() const {
    return sums_.span().first(static_cast<std::size_t>(count_));
  }
  double total() const { return total_; }
  double scale() const { return scale_; }
  // N, the number of weights.
  std::uint64_t size() const { return count_ + 1; }

 private:
  WeightedIndex(base::Block<double> sums, std::uint64_t count, double total);

  base::Block<double> sums_;  // at least count_ entries
  std::uint64_t count_;         // entries of sums_ in use: N-1
  double total_;
  double scale_;
};

}  // namespace amplion::random
