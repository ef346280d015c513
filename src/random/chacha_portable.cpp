// The four ChaCha12 blocks of a refill in plain C++: the reference every vector variant matches.
#include <bit>

#include "random/chacha_blocks.h"

namespace amplion::random::blocks {
namespace {

// "expand 32-byte k" read as four little-endian words.
constexpr std::uint32_t kSigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
constexpr int kDoubleRounds = 6;

void quarter_round(std::uint32_t* s, int a, int b, int c, int d) {
  s[a] += s[b];
  s[d] = std::rotl(s[d] ^ s[a], 16);
  s[c] += s[d];
  s[b] = std::rotl(s[b] ^ s[c], 12);
  s[a] += s[b];
  s[d] = std::rotl(s[d] ^ s[a], 8);
  s[c] += s[d];
  s[b] = std::rotl(s[b] ^ s[c], 7);
}

void block(const BlockInput& in, std::uint64_t counter, std::uint32_t* out) {
  std::uint32_t input[kBlockWords];
  for (int i = 0; i < 4; ++i) input[i] = kSigma[i];
  for (int i = 0; i < 8; ++i) input[4 + i] = in.key[i];
  input[12] = static_cast<std::uint32_t>(counter);
  input[13] = static_cast<std::uint32_t>(counter >> 32);
  input[14] = static_cast<std::uint32_t>(in.stream);
  input[15] = static_cast<std::uint32_t>(in.stream >> 32);

  std::uint32_t s[kBlockWords];
  for (int i = 0; i < kBlockWords; ++i) s[i] = input[i];
  for (int r = 0; r < kDoubleRounds; ++r) {
    quarter_round(s, 0, 4, 8, 12);  // columns
    quarter_round(s, 1, 5, 9, 13);
    quarter_round(s, 2, 6, 10, 14);
    quarter_round(s, 3, 7, 11, 15);
    quarter_round(s, 0, 5, 10, 15);  // diagonals
    quarter_round(s, 1, 6, 11, 12);
    quarter_round(s, 2, 7, 8, 13);
    quarter_round(s, 3, 4, 9, 14);
  }
  for (int i = 0; i < kBlockWords; ++i) out[i] = s[i] + input[i];
}

}  // namespace

void chacha12_x4_portable(const BlockInput& in, std::uint32_t* out) {
  for (int j = 0; j < kBlocksPerCall; ++j) {
    block(in, in.counter + static_cast<std::uint64_t>(j), out + kBlockWords * j);
  }
}

}  // namespace amplion::random::blocks
