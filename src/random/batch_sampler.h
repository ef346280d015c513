// BatchSampler: many 64-bit draws mapped to indices of a WeightedIndex at once, handed on as
// runs of one index in ascending order.
#pragma once

#include <cstdint>
#include <span>

#include "base/errors.h"
#include "base/memory.h"
#include "random/weighted.h"

namespace amplion::random {

// Receives the outcomes of a batch as runs: (index, how many draws gave it).
class RunSink {
 public:
  // An error stops the batch and is handed back to the caller of BatchSampler::count.
  virtual base::Status add(std::uint64_t index, std::uint64_t count) = 0;

 protected:
  ~RunSink() = default;
};

// Maps batches of 64-bit draws to indices exactly as WeightedIndex::sample maps each one, but
// in ascending order, so that the partial sums are read front to back. The draws are split by
// their top bits into buckets; a bucket's lowest and highest draws bound the indices of all its
// draws, so a bucket whose bounds agree is counted whole (runs of zero weights cost nothing),
// and the others are sorted and merged with the partial sums.
class BatchSampler {
 public:
  // `batch` is the most draws one call of count() receives. `weights` must outlive the sampler.
  static base::Result<BatchSampler> create(const WeightedIndex& weights, std::uint64_t batch);

  // Hands the indices of `draws` (at most `batch` of them) to `sink` as runs of strictly
  // ascending index; the run counts sum to draws.size().
  base::Status count(std::span<const std::uint64_t> draws, RunSink& sink);

 private:
  BatchSampler(const WeightedIndex& weights, unsigned bits, base::Block<std::uint64_t> bounds,
               base::Block<std::uint32_t> starts, base::Block<std::uint64_t> sorted);

  const WeightedIndex* weights_;
  unsigned bits_;                      // buckets are the top bits_ bits of a draw, 1 to 15
  base::Block<std::uint64_t> bounds_;  // bucket j: index of its lowest draw at 2j, highest 2j+1
  base::Block<std::uint32_t> starts_;  // per bucket: draws, then where its draws go in sorted_
  base::Block<std::uint64_t> sorted_;  // the draws of buckets that need a search, bucket by bucket
};

}  // namespace amplion::random
