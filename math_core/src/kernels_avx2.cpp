// apply_h_cpp with AVX2: two pairs per step, their four elements checked against the view's count
// before any is read. Where the view is too short for both pairs, they go one by one through the
// view's own accessor exactly as apply_h_cpp takes them, so a refused access throws the same
// exception and leaves the same pairs finished. Built in its own object library with -mavx2
// -mno-fma.
#include <immintrin.h>

#include <cstdint>

#include "math_core/kernels.h"

namespace math_core {
namespace {

// 1.0 / sqrt(2.0) rounded once (0x3FE6A09E667F3BCC): one ulp below the double nearest 1/sqrt(2).
constexpr double kInvSqrt2 = 0x1.6a09e667f3bccp-1;

// As apply_h_cpp: bits 59 to 63 lie outside every view alike.
constexpr std::uint64_t bit(std::uint64_t q) { return std::uint64_t{1} << (q < 63 ? q : 63); }

// One pair as apply_h_cpp computes it: both elements checked before either is written.
void one_pair(const SliceMut& v, std::uint64_t i, std::uint64_t s) {
  Complex64& lo = v[i];
  Complex64& hi = v[i + s];
  const Complex64 a = lo;
  const Complex64 b = hi;
  lo.re = (a.re + b.re) * kInvSqrt2;
  lo.im = (a.im + b.im) * kInvSqrt2;
  hi.re = (a.re - b.re) * kInvSqrt2;
  hi.im = (a.im - b.im) * kInvSqrt2;
}

// a' = (a + b) * K and b' = (a - b) * K, lane by lane, for the lower amplitudes a and upper b of
// two pairs.
void two_pairs(__m256d& a, __m256d& b) {
  const __m256d k = _mm256_set1_pd(kInvSqrt2);
  const __m256d sum = _mm256_add_pd(a, b);
  b = _mm256_mul_pd(_mm256_sub_pd(a, b), k);
  a = _mm256_mul_pd(sum, k);
}

}  // namespace

void apply_h_cpp_avx2(SliceMut v, std::uint64_t q) {
  const std::uint64_t n = v.size();
  if (n == 0) return;
  const std::uint64_t s = bit(q);
  double* const data = &v[0].re;
  if (s == 1) {
    // Pairs (i, i + 1) and (i + 2, i + 3), checked as one run of four: [a0 b0] [a1 b1] ->
    // [a0 a1] [b0 b1].
    std::uint64_t i = 0;
    for (; i < n && n - i >= 4; i += 4) {
      double* p = data + 2 * i;
      const __m256d v0 = _mm256_loadu_pd(p), v1 = _mm256_loadu_pd(p + 4);
      __m256d a = _mm256_permute2f128_pd(v0, v1, 0x20), b = _mm256_permute2f128_pd(v0, v1, 0x31);
      two_pairs(a, b);
      _mm256_storeu_pd(p, _mm256_permute2f128_pd(a, b, 0x20));
      _mm256_storeu_pd(p + 4, _mm256_permute2f128_pd(a, b, 0x31));
    }
    for (; i < n; i += 2) one_pair(v, i, 1);
    return;
  }
  // Pairs (i, i + s) and (i + 1, i + 1 + s), s even: both runs of two checked against the count
  // before either is written. For s beyond the view the first check fails, so the step 2s is
  // never taken.
  for (std::uint64_t base = 0; base < n; base += 2 * s) {
    for (std::uint64_t k = 0; k < s; k += 2) {
      const std::uint64_t i = base + k;
      if (i >= n || n - i < s + 2) {
        one_pair(v, i, s);
        one_pair(v, i + 1, s);
        continue;
      }
      double* lo = data + 2 * i;
      double* hi = data + 2 * (i + s);
      __m256d a = _mm256_loadu_pd(lo), b = _mm256_loadu_pd(hi);
      two_pairs(a, b);
      _mm256_storeu_pd(lo, a);
      _mm256_storeu_pd(hi, b);
    }
  }
}

void apply_h_cpp_avx2_flat(Complex64* data, std::uint64_t count, std::uint64_t q) {
  apply_h_cpp_avx2(SliceMut(data, count), q);
}

}  // namespace math_core
