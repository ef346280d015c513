// Measurement: the generator step, the probability list, then the batched sampler's runs
// counted per outcome.
#include "engine/measure.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>

#include "base/interrupt.h"
#include "random/batch_sampler.h"
#include "random/weighted.h"

namespace amplion::engine {

using base::Block;
using base::in_checked_chunks;
using base::interrupt_requested;
using base::interrupted;
using base::Result;
using base::Status;

namespace {

using random::BatchSampler;
using random::RunSink;
using random::WeightedIndex;

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

std::string qubits_text(std::uint64_t n_qubits) { return std::to_string(n_qubits) + "-qubit"; }

}  // namespace

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
  // Each square rounded on its own, then one addition: no fused multiply-add, no std::norm, whose
  // evaluation the library may choose, and no normalisation, since the weights are taken raw.
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
