// ChaChaGenerator: ChaCha12 keystream in refills of four blocks, seeded from a u64 or from entropy.
#pragma once

#include <cstdint>
#include <span>

namespace amplion::random {

class ChaChaGenerator {
 public:
  // Key expanded from `seed` through the PCG32 step.
  static ChaChaGenerator seed_from_u64(std::uint64_t seed);
  // Key read from the operating system; its failure is the fault "from_entropy failed: <text>".
  static ChaChaGenerator from_entropy();

  std::uint64_t draw_u64();
  void draw_bytes(std::span<std::uint8_t> dest);

 private:
  ChaChaGenerator() = default;

  std::uint64_t state_ = 0;  // placeholder until the ChaCha core lands
};

}  // namespace amplion::random
