// The four ChaCha12 blocks of a refill with AVX2, row-sliced: each 256-bit vector holds one row
// of two blocks (the first in the low lane), so two sets of four rows carry all four blocks and
// the diagonal round is a word rotation within each lane.
// Built in its own object library with -mavx2 (and no FMA); it includes no header with inline
// code of ours, so nothing compiled here can stand in for a baseline definition.
#include <immintrin.h>

#include "random/chacha_blocks.h"

namespace amplion::random::blocks {
namespace {

struct Rows {
  __m256i a, b, c, d;
};

// Byte shuffles for rotations by 16 and 8 bits: byte j of each word takes byte (j - n/8) mod 4.
__m256i rotl16(__m256i x) {
  const __m256i m = _mm256_set_epi8(13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2,
                                    13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2);
  return _mm256_shuffle_epi8(x, m);
}

__m256i rotl8(__m256i x) {
  const __m256i m = _mm256_set_epi8(14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3,
                                    14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3);
  return _mm256_shuffle_epi8(x, m);
}

template <int N>
__m256i rotl(__m256i x) {
  return _mm256_or_si256(_mm256_slli_epi32(x, N), _mm256_srli_epi32(x, 32 - N));
}

void quarter_round(Rows& r) {
  r.a = _mm256_add_epi32(r.a, r.b);
  r.d = rotl16(_mm256_xor_si256(r.d, r.a));
  r.c = _mm256_add_epi32(r.c, r.d);
  r.b = rotl<12>(_mm256_xor_si256(r.b, r.c));
  r.a = _mm256_add_epi32(r.a, r.b);
  r.d = rotl8(_mm256_xor_si256(r.d, r.a));
  r.c = _mm256_add_epi32(r.c, r.d);
  r.b = rotl<7>(_mm256_xor_si256(r.b, r.c));
}

// The diagonal round is the column round on rows moved so that column i holds the diagonal
// a[i], b[i+1], c[i+2], d[i+3] (indices modulo 4). Row b stays put and a, c, d move instead
// (a right by one word, c left by one, d by two): b is the last row a round writes and the
// first the next one reads, so the moves stay off the critical path.
void diagonalize(Rows& r) {
  r.a = _mm256_shuffle_epi32(r.a, 0x93);
  r.c = _mm256_shuffle_epi32(r.c, 0x39);
  r.d = _mm256_shuffle_epi32(r.d, 0x4E);
}

void undiagonalize(Rows& r) {
  r.a = _mm256_shuffle_epi32(r.a, 0x39);
  r.c = _mm256_shuffle_epi32(r.c, 0x93);
  r.d = _mm256_shuffle_epi32(r.d, 0x4E);
}

// Row d of blocks `first` and `first` + 1: counter low, counter high, stream low, stream high.
__m256i counter_row(std::uint64_t first, std::uint64_t stream) {
  const std::uint64_t second = first + 1;  // modulo 2^64, carry into the high word included
  return _mm256_set_epi32(static_cast<int>(static_cast<std::uint32_t>(stream >> 32)),
                          static_cast<int>(static_cast<std::uint32_t>(stream)),
                          static_cast<int>(static_cast<std::uint32_t>(second >> 32)),
                          static_cast<int>(static_cast<std::uint32_t>(second)),
                          static_cast<int>(static_cast<std::uint32_t>(stream >> 32)),
                          static_cast<int>(static_cast<std::uint32_t>(stream)),
                          static_cast<int>(static_cast<std::uint32_t>(first >> 32)),
                          static_cast<int>(static_cast<std::uint32_t>(first)));
}

void store(__m256i v, std::uint32_t* out) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
}

// Writes the two blocks held in `r`: the low lanes form the first block, the high lanes the
// second.
void store_pair(const Rows& r, std::uint32_t* out) {
  store(_mm256_permute2x128_si256(r.a, r.b, 0x20), out);
  store(_mm256_permute2x128_si256(r.c, r.d, 0x20), out + 8);
  store(_mm256_permute2x128_si256(r.a, r.b, 0x31), out + kBlockWords);
  store(_mm256_permute2x128_si256(r.c, r.d, 0x31), out + kBlockWords + 8);
}

}  // namespace

void chacha12_x4_avx2(const BlockInput& in, std::uint32_t* out) {
  const __m256i sigma = _mm256_set_epi32(0x6b206574, 0x79622d32, 0x3320646e, 0x61707865,
                                         0x6b206574, 0x79622d32, 0x3320646e, 0x61707865);
  const __m128i key_lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.key));
  const __m128i key_hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.key + 4));
  const __m256i key0 = _mm256_broadcastsi128_si256(key_lo);
  const __m256i key1 = _mm256_broadcastsi128_si256(key_hi);
  const __m256i d01 = counter_row(in.counter, in.stream);
  const __m256i d23 = counter_row(in.counter + 2, in.stream);

  Rows p{sigma, key0, key1, d01};  // blocks 0 and 1
  Rows q{sigma, key0, key1, d23};  // blocks 2 and 3
  // Unrolled so that the eight rows stay in registers across double rounds.
#pragma GCC unroll 6
  for (int r = 0; r < 6; ++r) {
    quarter_round(p);
    quarter_round(q);
    diagonalize(p);
    diagonalize(q);
    quarter_round(p);
    quarter_round(q);
    undiagonalize(p);
    undiagonalize(q);
  }
  p.a = _mm256_add_epi32(p.a, sigma);
  p.b = _mm256_add_epi32(p.b, key0);
  p.c = _mm256_add_epi32(p.c, key1);
  p.d = _mm256_add_epi32(p.d, d01);
  q.a = _mm256_add_epi32(q.a, sigma);
  q.b = _mm256_add_epi32(q.b, key0);
  q.c = _mm256_add_epi32(q.c, key1);
  q.d = _mm256_add_epi32(q.d, d23);
  store_pair(p, out);
  store_pair(q, out + 2 * kBlockWords);
}

}  // namespace amplion::random::blocks
