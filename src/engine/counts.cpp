// The counting table: open addressing with linear probing, doubled when half full.
#include "engine/counts.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace amplion::engine {

using base::Block;
using base::Status;

namespace {

// Golden-ratio multiplier: neighbouring indices land far apart in the table.
constexpr std::uint64_t kHashMultiplier = 0x9E3779B97F4A7C15;
constexpr std::uint64_t kMinTableSlots = 16;

}  // namespace

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

}  // namespace amplion::engine
