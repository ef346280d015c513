// Measurement: `shots` draws from the register's generator, each mapped to a basis index by the
// weighted sampler over |amplitude|^2, counted by index.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "engine/errors.h"
#include "engine/memory.h"
#include "engine/register.h"
#include "random/weighted.h"

namespace amplion::engine {

// How often one basis index was drawn.
struct OutcomeCount {
  std::uint64_t index;
  std::uint64_t count;
};

// Draws per batch, whatever `shots` is: a quarter of the register's length within these
// bounds, so that each pass over the partial sums serves many draws while the batch buffers
// (16 bytes a draw) stay at 4 MiB or less.
inline constexpr std::uint64_t kMinMeasureBatch = std::uint64_t{1} << 15;
inline constexpr std::uint64_t kMaxMeasureBatch = std::uint64_t{1} << 18;

// Receives the outcomes of a batch as runs: (index, how many draws gave it).
class RunSink {
 public:
  // An error stops the batch and is handed back to the caller of BatchSampler::count.
  virtual Status add(std::uint64_t index, std::uint64_t count) = 0;

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
  static Result<BatchSampler> create(const random::WeightedIndex& weights, std::uint64_t batch);

  // Hands the indices of `draws` (at most `batch` of them) to `sink` as runs of strictly
  // ascending index; the run counts sum to draws.size().
  Status count(std::span<const std::uint64_t> draws, RunSink& sink);

 private:
  BatchSampler(const random::WeightedIndex& weights, unsigned bits, Block<std::uint64_t> bounds,
               Block<std::uint32_t> starts, Block<std::uint64_t> sorted);

  const random::WeightedIndex* weights_;
  unsigned bits_;                  // buckets are the top bits_ bits of a draw, 1 to 15
  Block<std::uint64_t> bounds_;    // bucket j: index of its lowest draw at 2j, highest at 2j+1
  Block<std::uint32_t> starts_;    // per bucket: draws, then where its draws go in sorted_
  Block<std::uint64_t> sorted_;    // the draws of buckets that need a search, bucket by bucket
};

// Counts keyed by basis index in an open-addressing table, at most half full.
class CountTable final : public RunSink {
 public:
  // Adds `count` to the index's entry, creating it at 0 first. Growing the table may fail with
  // a MemoryError, which leaves the table as it was.
  Status add(std::uint64_t index, std::uint64_t count) override;

  std::uint64_t size() const { return used_; }
  // Calls f(index, count) for every entry, in table order, until f returns false.
  template <class F>
  bool for_each(F&& f) const {
    for (const OutcomeCount& slot : slots_.span()) {
      if (slot.index != kEmpty && !f(slot.index, slot.count)) return false;
    }
    return true;
  }

 private:
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};  // no basis index is that large

  Status grow();
  void insert(std::uint64_t index, std::uint64_t count);

  Block<OutcomeCount> slots_;
  std::uint64_t used_ = 0;
  unsigned shift_ = 64;  // 64 - log2(capacity)
};

// The outcomes of one measurement: a dense counter per basis index when the shots can fill
// most of them, otherwise a CountTable.
class Counts {
 public:
  // Distinct outcomes drawn at least once.
  std::uint64_t size() const { return size_; }
  // Calls f(index, count) for every outcome drawn at least once, in no particular order, until
  // f returns false; returns whether it went through.
  template <class F>
  bool for_each(F&& f) const {
    if (dense_.size() == 0) return sparse_.for_each(f);
    for (std::uint64_t i = 0; i < dense_.size(); ++i) {
      if (dense_[i] != 0 && !f(i, dense_[i])) return false;
    }
    return true;
  }

 private:
  friend Result<Counts> measure_counts(Register& reg, std::uint64_t shots,
                                       std::optional<std::uint64_t> seed);
  Counts() = default;

  Block<std::uint64_t> dense_;
  CountTable sparse_;
  std::uint64_t size_ = 0;
};

// Reseeds the register's generator from `seed`, or without one moves it on by two words; then
// builds the probabilities re*re + im*im, the sampler over them, and draws `shots` indices, one
// 64-bit draw each. The generator's reseed or skip stays even when the call then fails: a
// sampler error (kValue with its message), a MemoryError, or a stop by the interrupt check, asked
// between chunks of the passes over large registers and between batches of draws (kInterrupted).
// The draws themselves are kept only when the call succeeds. The amplitudes are never changed.
Result<Counts> measure_counts(Register& reg, std::uint64_t shots,
                              std::optional<std::uint64_t> seed);

}  // namespace amplion::engine
