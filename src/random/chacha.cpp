// Placeholder generator so the register links; replaced by the ChaCha12 core.
#include "random/chacha.h"

namespace amplion::random {

ChaChaGenerator ChaChaGenerator::seed_from_u64(std::uint64_t seed) {
  ChaChaGenerator g;
  g.state_ = seed;
  return g;
}

ChaChaGenerator ChaChaGenerator::from_entropy() { return ChaChaGenerator(); }

std::uint64_t ChaChaGenerator::draw_u64() { return state_++; }

void ChaChaGenerator::draw_bytes(std::span<std::uint8_t> dest) {
  for (auto& b : dest) b = static_cast<std::uint8_t>(state_++);
}

}  // namespace amplion::random
