// The four-block ChaCha12 function behind every refill: one definition per instruction set and
// the choice among them, made once per process.
//
// This header is included by translation units built with wider instruction-set flags, so it
// holds declarations and plain data only: an inline function defined here could be emitted
// from the AVX2 unit and picked by the linker for baseline callers.
#pragma once

#include <cstdint>

namespace amplion::random::blocks {

// Words 4 to 15 of the block input; words 0 to 3 are the fixed constants.
struct BlockInput {
  std::uint32_t key[8];
  std::uint64_t counter;  // block counter of the first of the four blocks
  std::uint64_t stream;
};

inline constexpr int kBlockWords = 16;
inline constexpr int kBlocksPerCall = 4;
inline constexpr int kOutputWords = kBlockWords * kBlocksPerCall;

// Writes the blocks for counters counter .. counter+3 (each modulo 2^64) to out[0..63], one
// block after another. `out` needs no particular alignment.
using BlocksFn = void (*)(const BlockInput& in, std::uint32_t* out);

void chacha12_x4_portable(const BlockInput& in, std::uint32_t* out);

#if defined(__x86_64__)
#define AMPLION_CHACHA_X86 1
void chacha12_x4_sse2(const BlockInput& in, std::uint32_t* out);
void chacha12_x4_avx2(const BlockInput& in, std::uint32_t* out);
#endif

// What the processor and the operating system offer, asked once and cached.
bool cpu_has_avx2();

struct Variant {
  const char* name;
  BlocksFn fn;
};

// The widest variant this machine can run; fixed for the life of the process.
Variant selected_variant();

}  // namespace amplion::random::blocks
