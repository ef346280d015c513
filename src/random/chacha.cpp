// ChaChaGenerator: seeding, refills and draws. The block function itself is in chacha_*.cpp.
#include "random/chacha.h"

#include <algorithm>
#include <bit>
#include <string>

#include "base/errors.h"
#include "random/chacha_blocks.h"
#include "random/entropy.h"

namespace amplion::random {
namespace {

constexpr std::uint64_t kPcgMultiplier = 0x5851F42D4C957F2D;
constexpr std::uint64_t kPcgIncrement = 0xA17654E46FBE17F3;

std::uint32_t read_le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void write_le32(std::uint32_t w, std::uint8_t* p) {
  p[0] = static_cast<std::uint8_t>(w);
  p[1] = static_cast<std::uint8_t>(w >> 8);
  p[2] = static_cast<std::uint8_t>(w >> 16);
  p[3] = static_cast<std::uint8_t>(w >> 24);
}

}  // namespace

ChunkFill fill_via_u32_chunks(std::span<const std::uint32_t> words, std::span<std::uint8_t> dest) {
  const std::size_t n = std::min(words.size() * 4, dest.size());
  const std::size_t whole = n / 4;
  for (std::size_t i = 0; i < whole; ++i) write_le32(words[i], dest.data() + 4 * i);
  const std::size_t tail = n % 4;
  if (tail != 0) {
    std::uint8_t last[4];
    write_le32(words[whole], last);
    for (std::size_t i = 0; i < tail; ++i) dest[4 * whole + i] = last[i];
  }
  return {(n + 3) / 4, n};
}

ChaChaGenerator ChaChaGenerator::init_chacha(std::span<const std::uint8_t, kKeyBytes> key,
                                             std::span<const std::uint8_t, kNonceBytes> nonce) {
  ChaChaGenerator g;
  for (std::size_t i = 0; i < g.key_.size(); ++i) g.key_[i] = read_le32(key.data() + 4 * i);
  g.counter_ = 0;
  g.stream_ = static_cast<std::uint64_t>(read_le32(nonce.data())) |
              static_cast<std::uint64_t>(read_le32(nonce.data() + 4)) << 32;
  return g;
}

ChaChaGenerator ChaChaGenerator::seed_from_u64(std::uint64_t seed) {
  std::array<std::uint8_t, kKeyBytes> key{};
  std::uint64_t state = seed;
  for (std::size_t i = 0; i < kKeyBytes / 4; ++i) {
    // Each output comes from the state after its step.
    state = state * kPcgMultiplier + kPcgIncrement;
    const auto x = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
    const auto r = static_cast<int>(state >> 59);
    write_le32(std::rotr(x, r), key.data() + 4 * i);
  }
  const std::array<std::uint8_t, kNonceBytes> nonce{};
  return init_chacha(key, nonce);
}

ChaChaGenerator ChaChaGenerator::from_entropy() {
  std::array<std::uint8_t, kKeyBytes> key{};
  const EntropyCode code = getrandom_inner(key);
  if (code != kEntropyOk) base::fault("from_entropy failed: " + entropy_error_text(code));
  const std::array<std::uint8_t, kNonceBytes> nonce{};
  return init_chacha(key, nonce);
}

void ChaChaGenerator::refill_wide() {
  static const blocks::BlocksFn fn = blocks::selected_variant().fn;
  blocks::BlockInput in{};
  for (std::size_t i = 0; i < key_.size(); ++i) in.key[i] = key_[i];
  in.counter = counter_;
  in.stream = stream_;
  fn(in, buffer_.data());
  counter_ += blocks::kBlocksPerCall;
}

std::uint64_t ChaChaGenerator::draw_u64() {
  std::uint64_t lo = 0;
  std::uint64_t hi = 0;
  if (position_ + 1 < kBufferWords) {
    lo = buffer_[position_];
    hi = buffer_[position_ + 1];
    position_ += 2;
  } else if (position_ + 1 == kBufferWords) {
    lo = buffer_[kBufferWords - 1];
    refill_wide();
    hi = buffer_[0];
    position_ = 1;
  } else {
    refill_wide();
    lo = buffer_[0];
    hi = buffer_[1];
    position_ = 2;
  }
  return lo | hi << 32;
}

void ChaChaGenerator::draw_bytes(std::span<std::uint8_t> dest) {
  std::size_t filled = 0;
  while (filled < dest.size()) {
    if (position_ >= kBufferWords) {
      refill_wide();
      position_ = 0;
    }
    const ChunkFill step = fill_via_u32_chunks(std::span(buffer_).subspan(position_),
                                               dest.subspan(filled));
    position_ += step.consumed;
    filled += step.written;
  }
}

void ChaChaGenerator::set_counter(std::uint64_t block) {
  counter_ = block;
  position_ = kBufferWords;
}

}  // namespace amplion::random
