// The four ChaCha12 blocks of a refill with SSE2, word-sliced: vector k holds state word k of
// all four blocks, so the rounds need no shuffles and the blocks are transposed on the way out.
// Built in its own object library with -msse2; it includes no header with inline code of ours.
#include <emmintrin.h>

#include "random/chacha_blocks.h"

namespace amplion::random::blocks {
namespace {

template <int N>
__m128i rotl(__m128i x) {
  return _mm_or_si128(_mm_slli_epi32(x, N), _mm_srli_epi32(x, 32 - N));
}

void quarter_round(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
  a = _mm_add_epi32(a, b);
  d = rotl<16>(_mm_xor_si128(d, a));
  c = _mm_add_epi32(c, d);
  b = rotl<12>(_mm_xor_si128(b, c));
  a = _mm_add_epi32(a, b);
  d = rotl<8>(_mm_xor_si128(d, a));
  c = _mm_add_epi32(c, d);
  b = rotl<7>(_mm_xor_si128(b, c));
}

// Transposes words w..w+3 of the four blocks and stores them at their place in each block.
void store_column(const __m128i* x, int w, std::uint32_t* out) {
  const __m128i t0 = _mm_unpacklo_epi32(x[w], x[w + 1]);      // b0w b0w+1 b1w b1w+1
  const __m128i t1 = _mm_unpacklo_epi32(x[w + 2], x[w + 3]);  // b0w+2 b0w+3 b1w+2 b1w+3
  const __m128i t2 = _mm_unpackhi_epi32(x[w], x[w + 1]);      // blocks 2 and 3
  const __m128i t3 = _mm_unpackhi_epi32(x[w + 2], x[w + 3]);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 0 * kBlockWords + w), _mm_unpacklo_epi64(t0, t1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 1 * kBlockWords + w), _mm_unpackhi_epi64(t0, t1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * kBlockWords + w), _mm_unpacklo_epi64(t2, t3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * kBlockWords + w), _mm_unpackhi_epi64(t2, t3));
}

__m128i splat(std::uint32_t w) { return _mm_set1_epi32(static_cast<int>(w)); }

}  // namespace

void chacha12_x4_sse2(const BlockInput& in, std::uint32_t* out) {
  // The four counters in 64-bit arithmetic, so a carry into the high word (and the wrap at
  // 2^64) is exact; _mm_set_epi32 takes its lanes from the highest down.
  const std::uint64_t c0 = in.counter;
  const std::uint64_t c1 = c0 + 1;
  const std::uint64_t c2 = c0 + 2;
  const std::uint64_t c3 = c0 + 3;
  __m128i input[kBlockWords];
  input[0] = splat(0x61707865);
  input[1] = splat(0x3320646e);
  input[2] = splat(0x79622d32);
  input[3] = splat(0x6b206574);
  for (int i = 0; i < 8; ++i) input[4 + i] = splat(in.key[i]);
  input[12] = _mm_set_epi32(static_cast<int>(static_cast<std::uint32_t>(c3)),
                            static_cast<int>(static_cast<std::uint32_t>(c2)),
                            static_cast<int>(static_cast<std::uint32_t>(c1)),
                            static_cast<int>(static_cast<std::uint32_t>(c0)));
  input[13] = _mm_set_epi32(static_cast<int>(static_cast<std::uint32_t>(c3 >> 32)),
                            static_cast<int>(static_cast<std::uint32_t>(c2 >> 32)),
                            static_cast<int>(static_cast<std::uint32_t>(c1 >> 32)),
                            static_cast<int>(static_cast<std::uint32_t>(c0 >> 32)));
  input[14] = splat(static_cast<std::uint32_t>(in.stream));
  input[15] = splat(static_cast<std::uint32_t>(in.stream >> 32));

  __m128i x[kBlockWords];
  for (int i = 0; i < kBlockWords; ++i) x[i] = input[i];
  for (int r = 0; r < 6; ++r) {
    quarter_round(x[0], x[4], x[8], x[12]);
    quarter_round(x[1], x[5], x[9], x[13]);
    quarter_round(x[2], x[6], x[10], x[14]);
    quarter_round(x[3], x[7], x[11], x[15]);
    quarter_round(x[0], x[5], x[10], x[15]);
    quarter_round(x[1], x[6], x[11], x[12]);
    quarter_round(x[2], x[7], x[8], x[13]);
    quarter_round(x[3], x[4], x[9], x[14]);
  }
  for (int i = 0; i < kBlockWords; ++i) x[i] = _mm_add_epi32(x[i], input[i]);
  for (int w = 0; w < kBlockWords; w += 4) store_column(x, w, out);
}

}  // namespace amplion::random::blocks
