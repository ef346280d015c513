// ChaChaGenerator: the ChaCha12 keystream in refills of four blocks, keyed from a 64-bit seed
// through the PCG32 step or from operating-system entropy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace amplion::random {

inline constexpr std::size_t kKeyBytes = 32;
inline constexpr std::size_t kNonceBytes = 8;
inline constexpr std::size_t kBufferWords = 64;

// Copies n = min(4 * words.size(), dest.size()) bytes, the words laid out little-endian.
// A word used only in part counts as consumed.
struct ChunkFill {
  std::size_t consumed;  // ceil(n / 4) words
  std::size_t written;   // n bytes
};
ChunkFill fill_via_u32_chunks(std::span<const std::uint32_t> words, std::span<std::uint8_t> dest);

// A plain value: copying it forks the stream. Words below position() have been handed out and
// are never handed out again; position 64 means the next draw refills first.
class ChaChaGenerator {
 public:
  static ChaChaGenerator init_chacha(std::span<const std::uint8_t, kKeyBytes> key,
                                     std::span<const std::uint8_t, kNonceBytes> nonce);
  // Key word i is the i-th output of the PCG32 step started from `seed`; nonce zero.
  static ChaChaGenerator seed_from_u64(std::uint64_t seed);
  // Key read from the operating system; when that fails, the fault
  // "from_entropy failed: <error text>".
  static ChaChaGenerator from_entropy();

  // Word p is the low half and word p+1 the high half; at position 63 the high half is the
  // first word of the next refill.
  std::uint64_t draw_u64();
  // Consumes whole words: an 8-byte fill takes exactly two, refilling where draw_u64 would.
  void draw_bytes(std::span<std::uint8_t> dest);

  // Restarts the stream at block `block` (the next draw refills from there). Used to reach
  // far-off counters without drawing up to them.
  void set_counter(std::uint64_t block);

  const std::array<std::uint32_t, 8>& key() const { return key_; }
  std::uint64_t counter() const { return counter_; }
  std::uint64_t stream() const { return stream_; }
  std::size_t position() const { return position_; }
  const std::array<std::uint32_t, kBufferWords>& buffer() const { return buffer_; }

 private:
  ChaChaGenerator() = default;
  // Blocks counter .. counter+3 into the buffer, counter += 4; position is the caller's.
  void refill_wide();

  std::array<std::uint32_t, 8> key_{};
  std::uint64_t counter_ = 0;  // block number of the first block of the next refill
  std::uint64_t stream_ = 0;
  std::array<std::uint32_t, kBufferWords> buffer_{};
  std::size_t position_ = kBufferWords;
};

}  // namespace amplion::random
