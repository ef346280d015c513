// Measurement: the generator step, the probability list, the batched search over the partial
// sums and the counting.
#include "engine/measure.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <utility>

#include "engine/interrupt.h"

namespace amplion::engine {
namespace {

using random::WeightedIndex;

// The first p in [from, end) with c[p] > x, or end when there is none; every entry before
// `from` is known to be <= x. A halving search whose step count depends only on the length of
// the range.
std::uint64_t search(const double* c, std::uint64_t from, std::uint64_t end, double x) {
  const double* base = c + from;
  std::uint64_t length = end - from;
  while (length > 1) {
    const std::uint64_t half = length / 2;
    base = base[half - 1] <= x ? base + half : base;
    length -= half;
  }
  return static_cast<std::uint64_t>(base - c) + (length == 1 && *base <= x ? 1 : 0);
}

// The same, probing 1, 2, 4, ... entries ahead first: the cost grows with the log of the
// distance moved rather than of the range, so a point just past `from` is found at once.
std::uint64_t advance(const double* c, std::uint64_t from, std::uint64_t end, double x) {
  if (from == end || c[from] > x) return from;
  std::uint64_t base = from;  // c[base] <= x
  std::uint64_t step = 1;
  while (step < end - base && c[base + step] <= x) {
    base += step;
    step *= 2;
  }
  // The answer lies in (base, base + step]: c[base + step] > x unless that is past the end.
  return search(c, base + 1, std::min(base + step, end), x);
}

// About eight draws a bucket, at most 2^15 buckets (their bounds then take 512 KiB).
unsigned bucket_bits_for(std::uint64_t batch) {
  const auto width = static_cast<unsigned>(std::bit_width(batch));
  return std::clamp(width, 4u, 18u) - 3;
}

// Passes (index, n) on to the sink, merging runs of one index. Indices arrive in ascending
// order, so the sink sees them strictly ascending. Once the sink refuses a run, add and flush
// return false and status() holds the sink's error.
class RunMerger {
 public:
  explicit RunMerger(RunSink& sink) : sink_(sink) {}
  bool add(std::uint64_t index, std::uint64_t n) {
    if (pending_ != 0 && index == index_) {
      pending_ += n;
      return true;
    }
    if (!flush()) return false;
    index_ = index;
    pending_ = n;
    return true;
  }
  bool flush() {
    const std::uint64_t n = std::exchange(pending_, 0);
    if (n != 0) status_ = sink_.add(index_, n);
    return status_.ok();
  }
  const Status& status() const { return status_; }

 private:
  RunSink& sink_;
  std::uint64_t index_ = 0;
  std::uint64_t pending_ = 0;
  Status status_;
};

// Adds every run to a counter per basis index.
class DenseSink final : public RunSink {
 public:
  explicit DenseSink(std::uint64_t* counters) : counters_(counters) {}
  Status add(std::uint64_t index, std::uint64_t count) override {
    counters_[index] += count;
    return {};
  }

 private:
  std::uint64_t* counters_;
};

// Golden-ratio multiplier: neighbouring indices land far apart in the table.
constexpr std::uint64_t kHashMultiplier = 0x9E3779B97F4A7C15;
constexpr std::uint64_t kMinTableSlots = 16;

std::string qubits_text(std::uint64_t n_qubits) { return std::to_string(n_qubits) + "-qubit"; }

}  // namespace

BatchSampler::BatchSampler(const WeightedIndex& weights, unsigned bits,
                           Block<std::uint64_t> bounds, Block<std::uint32_t> starts,
                           Block<std::uint64_t> sorted)
    : weights_(&weights),
      bits_(bits),
      bounds_(std::move(bounds)),
      starts_(std::move(starts)),
      sorted_(std::move(sorted)) {}

Result<BatchSampler> BatchSampler::create(const WeightedIndex& weights, std::uint64_t batch) {
  // Bucket tallies are 32-bit.
  batch = std::clamp<std::uint64_t>(batch, 1, std::uint64_t{1} << 31);
  const unsigned bits = bucket_bits_for(batch);
  const std::uint64_t buckets = std::uint64_t{1} << bits;
  auto bounds = Block<std::uint64_t>::allocate(2 * buckets, "measurement buckets");
  if (!bounds.ok()) return bounds.error();
  auto starts = Block<std::uint32_t>::allocate(2 * buckets, "measurement buckets");
  if (!starts.ok()) return starts.error();
  auto sorted = Block<std::uint64_t>::allocate(batch, "measurement draws");
  if (!sorted.ok()) return sorted.error();

  // Bucket j holds the draws whose top `bits` bits are j. The point of a draw never decreases
  // as the draw grows, nor does the index of a point, so the bucket's smallest and largest
  // draws give the least and greatest index of any draw in it.
  const std::span<const double> c = weights.cumulative();
  const std::uint64_t end = c.size();
  const unsigned shift = 64 - bits;
  const std::uint64_t within = (std::uint64_t{1} << shift) - 1;
  std::uint64_t cursor = 0;
  for (std::uint64_t j = 0; j < buckets; ++j) {
    const std::uint64_t lowest = j << shift;
    cursor = advance(c.data(), cursor, end, weights.point_of(lowest));
    bounds.value()[2 * j] = cursor;
    cursor = advance(c.data(), cursor, end, weights.point_of(lowest | within));
    bounds.value()[2 * j + 1] = cursor;
  }
  return BatchSampler(weights, bits, std::move(bounds.value()), std::move(starts.value()),
                      std::move(sorted.value()));
}

Status BatchSampler::count(std::span<const std::uint64_t> draws, RunSink& sink) {
  if (draws.size() > sorted_.size()) fault("measurement batch larger than its buffers");
  const unsigned shift = 64 - bits_;
  const std::uint64_t buckets = std::uint64_t{1} << bits_;
  const std::uint64_t* bounds = bounds_.data();
  std::uint32_t* tally = starts_.data();
  std::uint32_t* next = starts_.data() + buckets;
  std::uint64_t* sorted = sorted_.data();

  std::fill(tally, tally + buckets, 0u);
  for (const std::uint64_t u : draws) ++tally[u >> shift];
  // Only buckets whose bounds differ need their draws; the others are counted whole.
  std::uint32_t offset = 0;
  for (std::uint64_t j = 0; j < buckets; ++j) {
    next[j] = offset;
    if (bounds[2 * j] != bounds[2 * j + 1]) offset += tally[j];
  }
  for (const std::uint64_t u : draws) {
    const std::uint64_t j = u >> shift;
    if (bounds[2 * j] != bounds[2 * j + 1]) sorted[next[j]++] = u;
  }

  const double* c = weights_->cumulative().data();
  RunMerger out(sink);
  for (std::uint64_t j = 0; j < buckets; ++j) {
    const std::uint32_t n = tally[j];
    if (n == 0) continue;
    const std::uint64_t lo = bounds[2 * j];
    const std::uint64_t hi = bounds[2 * j + 1];
    if (lo == hi) {
      if (!out.add(lo, n)) return out.status();
      continue;
    }
    std::uint64_t* first = sorted + (next[j] - n);
    std::uint64_t* last = sorted + next[j];
    std::sort(first, last);
    std::uint64_t cursor = lo;
    for (const std::uint64_t* u = first; u != last; ++u) {
      cursor = advance(c, cursor, hi, weights_->point_of(*u));
      if (!out.add(cursor, 1)) return out.status();
    }
  }
  out.flush();
  return out.status();
}

Status CountTable::add(std::uint64_t index, std::uint64_t count) {
  if (used_ >= slots_.size() / 2) {
    Status grown = grow();
    if (!grown.ok()) return grown;
  }
  insert(index, count);
  return {};
}

Status CountTable::grow() {
  // Doubling from 16 slots: the table can never reach 2^63 slots, since every basis index
  // it holds is below 2^30.
  const std::uint64_t slots = std::max(kMinTableSlots, 2 * slots_.size());
  auto block = Block<OutcomeCount>::allocate(slots, "measurement counts");
  if (!block.ok()) return block.error();
  CountTable grown;
  grown.slots_ = std::move(block.value());
  grown.shift_ = 64 - static_cast<unsigned>(std::countr_zero(slots));
  std::memset(grown.slots_.data(), 0xFF, slots * sizeof(OutcomeCount));  // every index kEmpty
  for_each([&grown](std::uint64_t index, std::uint64_t count) {
    grown.insert(index, count);
    return true;
  });
  *this = std::move(grown);
  return {};
}

void CountTable::insert(std::uint64_t index, std::uint64_t count) {
  const std::uint64_t mask = slots_.size() - 1;
  std::uint64_t at = (index * kHashMultiplier) >> shift_;
  for (;;) {
    OutcomeCount& slot = slots_[at];
    if (slot.index == index) {
      slot.count += count;
      return;
    }
    if (slot.index == kEmpty) {
      slot = OutcomeCount{index, count};
      ++used_;
      return;
    }
    at = (at + 1) & mask;
  }
}

Result<Counts> measure_counts(Register& reg, std::uint64_t shots,
                              std::optional<std::uint64_t> seed) {
  random::ChaChaGenerator& rng = reg.rng();
  if (seed) {
    rng = random::ChaChaGenerator::seed_from_u64(*seed);
  } else {
    std::array<std::uint8_t, 8> skipped{};  // two words, exactly as one draw_u64 would take
    rng.draw_bytes(skipped);
  }

  const std::span<const Complex64> amplitudes = reg.amplitudes();
  const std::uint64_t length = amplitudes.size();
  auto block = Block<double>::allocate(length, qubits_text(reg.n_qubits()) + " probabilities");
  if (!block.ok()) return block.error();
  double* p = block.value().data();
  std::uint64_t nonzero = 0;
  const bool weighed = in_checked_chunks(length, [&](std::uint64_t from, std::uint64_t to) {
    const Complex64* a = amplitudes.data();
    std::uint64_t found = 0;
    for (std::uint64_t i = from; i < to; ++i) {
      const double re2 = a[i].re * a[i].re;
      const double im2 = a[i].im * a[i].im;
      p[i] = re2 + im2;
      found += p[i] > 0.0 ? 1 : 0;
    }
    nonzero += found;
  });
  if (!weighed) return interrupted();
  // The partial sums are written over the probabilities: one extra array of 2^n doubles.
  auto built = WeightedIndex::build(std::move(block.value()));
  if (!built.ok()) return built.error();
  const WeightedIndex& weights = built.value();

  Counts counts;
  if (shots == 0) return counts;
  if (interrupt_requested()) return interrupted();
  // A counter per basis index once a quarter of the indices can be drawn and the shots can
  // reach them: a half-full table of those outcomes would be as large, and the counters take no
  // more than the probability list. Otherwise, and when the counters do not fit, the table
  // holds only what was drawn.
  if (std::min(shots, nonzero) >= length / 4) {
    auto dense = Block<std::uint64_t>::allocate(length, qubits_text(reg.n_qubits()) + " counts");
    if (dense.ok()) {
      std::uint64_t* zeroed = dense.value().data();
      const auto clear = [zeroed](std::uint64_t from, std::uint64_t to) {
        std::memset(zeroed + from, 0, (to - from) * sizeof(std::uint64_t));
      };
      if (!in_checked_chunks(length, clear)) return interrupted();
      counts.dense_ = std::move(dense.value());
    }
  }
  const bool dense = counts.dense_.size() != 0;

  const std::uint64_t batch =
      std::min(shots, std::clamp(length / 4, kMinMeasureBatch, kMaxMeasureBatch));
  auto sampler = BatchSampler::create(weights, batch);
  if (!sampler.ok()) return sampler.error();
  auto draws = Block<std::uint64_t>::allocate(batch, "measurement draws");
  if (!draws.ok()) return draws.error();

  // The draws run on a copy, kept only when every shot has been counted; so an interrupt, here
  // or in the passes before, leaves the generator as the reseed or skip left it.
  random::ChaChaGenerator gen = rng;
  DenseSink dense_sink(counts.dense_.data());
  RunSink& sink = dense ? static_cast<RunSink&>(dense_sink) : counts.sparse_;
  for (std::uint64_t left = shots; left != 0;) {
    if (left != shots && interrupt_requested()) return interrupted();
    const std::uint64_t n = std::min(left, batch);
    std::uint64_t* u = draws.value().data();
    for (std::uint64_t i = 0; i < n; ++i) u[i] = gen.draw_u64();
    const Status counted = sampler.value().count(draws.value().span().first(n), sink);
    if (!counted.ok()) return counted.error();
    left -= n;
  }
  if (dense) {
    counts.size_ = static_cast<std::uint64_t>(
        std::count_if(counts.dense_.data(), counts.dense_.data() + length,
                      [](std::uint64_t k) { return k != 0; }));
  } else {
    counts.size_ = counts.sparse_.size();
  }
  rng = gen;
  return counts;
}

}  // namespace amplion::engine
