// The outcome counts of one measurement, keyed by basis index.
#pragma once

#include <cstdint>
#include <optional>

#include "base/errors.h"
#include "base/memory.h"
#include "random/batch_sampler.h"

namespace amplion::engine {

class Register;

// How often one basis index was drawn.
struct OutcomeCount {
  std::uint64_t index;
  std::uint64_t count;
};

// Counts keyed by basis index in an open-addressing table, at most half full.
class CountTable final : public random::RunSink {
 public:
  // Adds `count` to the index's entry, creating it at 0 first. Growing the table may fail with
  // a MemoryError, which leaves the table as it was.
  base::Status add(std::uint64_t index, std::uint64_t count) override;

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

  base::Status grow();
  void insert(std::uint64_t index, std::uint64_t count);

  base::Block<OutcomeCount> slots_;
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
  friend base::Result<Counts> measure_counts(Register& reg, std::uint64_t shots,
                                             std::optional<std::uint64_t> seed);
  Counts() = default;

  base::Block<std::uint64_t> dense_;
  CountTable sparse_;
  std::uint64_t size_ = 0;
};

}  // namespace amplion::engine
