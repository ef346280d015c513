// The AVX2 passes: two amplitudes per 256-bit vector, [re0, im0, re1, im1]. Every lane does the
// portable gate's operations on the same operands in the same order, one rounding each, so the
// bits are the portable pass's; where a formula adds in one part and subtracts in the other, both
// are computed whole and blended rather than rewritten as a negated add. On qubit 0 both halves
// of a pair share one vector, so two pairs are loaded and regrouped into the lower amplitudes and
// the upper ones first.
// Built in its own object library with -mavx2 -mno-fma; it includes no header with inline code
// of ours, so nothing compiled here can stand in for a baseline definition.
#include <immintrin.h>

#include <cstdint>

#include "engine/gates_avx2.h"

namespace amplion::engine::avx2 {
namespace {

using u64 = std::uint64_t;

// 1.0 / sqrt(2.0) rounded once and cos(pi/4), the two neighbours the portable gates use.
constexpr double kInvSqrt2 = 0x1.6a09e667f3bccp-1;
constexpr double kCosQuarterPi = 0x1.6a09e667f3bcdp-1;

// Amplitude i of v starts at double 2i.
__m256d load(const double* v, u64 i) { return _mm256_loadu_pd(v + 2 * i); }

template <bool kStream>
void store(double* v, u64 i, __m256d x) {
  if constexpr (kStream) {
    _mm256_stream_pd(v + 2 * i, x);  // i is even and the vector 64-byte aligned
  } else {
    _mm256_storeu_pd(v + 2 * i, x);
  }
}

// [im, re] of each amplitude.
__m256d swapped(__m256d x) { return _mm256_permute_pd(x, 0x5); }

// Real parts from `re`, imaginary parts from `im`.
__m256d parts(__m256d re, __m256d im) { return _mm256_blend_pd(re, im, 0xA); }

__m256d add(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
__m256d sub(__m256d a, __m256d b) { return _mm256_sub_pd(a, b); }
__m256d mul(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
__m256d all(double x) { return _mm256_set1_pd(x); }

// ---------------------------------------------------------------------------------------------
// Copying pair gates: (a, b) -> (a', b') for two pairs at once.

struct Out {
  __m256d a;
  __m256d b;
};

struct H {
  Out operator()(__m256d a, __m256d b) const {
    const __m256d k = all(kInvSqrt2);
    return {mul(add(a, b), k), mul(sub(a, b), k)};
  }
};

struct X {
  Out operator()(__m256d a, __m256d b) const { return {b, a}; }
};

// a' = (b.re * -0.0 + b.im, b.im * -0.0 - b.re), b' = (a.re * 0.0 - a.im, a.re + a.im * 0.0).
struct Y {
  Out operator()(__m256d a, __m256d b) const {
    const __m256d bn = mul(b, all(-0.0)), bs = swapped(b);
    const __m256d a0 = mul(a, all(0.0)), as = swapped(a);
    return {parts(add(bn, bs), sub(bn, bs)), parts(sub(a0, as), add(as, a0))};
  }
};

// With halves ar = a.re * 0.5 and so on: p = (ar - ai, ai + ar), q = (ar + ai, ai - ar) from a;
// u = (br + bi, bi - br), w = (br - bi, br + bi) from b. sx is (p + u, q + w); sxdg (q + w, p + u).
Out sx_terms(__m256d a, __m256d b) {
  const __m256d ah = mul(a, all(0.5)), bh = mul(b, all(0.5));
  const __m256d as = swapped(ah), bs = swapped(bh);
  const __m256d a_sum = add(ah, as), a_diff = sub(ah, as);
  const __m256d b_diff = sub(bh, bs);
  const __m256d p = parts(a_diff, a_sum), q = parts(a_sum, a_diff);
  const __m256d u = parts(add(bh, bs), b_diff), w = parts(b_diff, add(bs, bh));
  return {add(p, u), add(q, w)};
}

struct SX {
  Out operator()(__m256d a, __m256d b) const { return sx_terms(a, b); }
};

struct SXdg {
  Out operator()(__m256d a, __m256d b) const {
    const Out o = sx_terms(a, b);
    return {o.b, o.a};
  }
};

// The full product of (0, -s) with an amplitude z: (z.re * 0.0 + s * z.im, z.im * 0.0 - s * z.re).
__m256d off_diagonal(__m256d z, __m256d s) {
  const __m256d z0 = mul(z, all(0.0)), sz = mul(s, swapped(z));
  return parts(add(z0, sz), sub(z0, sz));
}

struct RX {
  __m256d c, s;
  Out operator()(__m256d a, __m256d b) const {
    return {add(off_diagonal(b, s), mul(c, a)), add(mul(c, b), off_diagonal(a, s))};
  }
};

struct RY {
  __m256d c, s;
  Out operator()(__m256d a, __m256d b) const {
    return {sub(mul(c, a), mul(s, b)), add(mul(c, b), mul(s, a))};
  }
};

// cy on the pairs of its target: where the lower index has the control's bit set, the pair
// changes as y changes it; elsewhere it is copied. i0 and i1 are the two pairs' lower indices.
struct CY {
  u64 control;
  Out operator()(__m256d a, __m256d b, u64 i0, u64 i1) const {
    const bool first = (i0 & control) != 0, second = (i1 & control) != 0;
    if (!first && !second) return {a, b};
    const Out y = Y{}(a, b);
    if (first && second) return y;
    if (first) return {_mm256_blend_pd(a, y.a, 0x3), _mm256_blend_pd(b, y.b, 0x3)};
    return {_mm256_blend_pd(a, y.a, 0xC), _mm256_blend_pd(b, y.b, 0xC)};
  }
};

template <class Gate>
Out apply(const Gate& gate, __m256d a, __m256d b, u64 i0, u64 i1) {
  if constexpr (requires { gate(a, b, i0, i1); }) {
    return gate(a, b, i0, i1);
  } else {
    return gate(a, b);
  }
}

template <bool kStream, class Gate>
void pairs(const double* in, double* out, u64 from, u64 to, u64 m, Gate gate) {
  if (m == 1) {
    // [a0 b0] [a1 b1] -> [a0 a1] [b0 b1], and back after the gate.
    for (u64 i = from; i < to; i += 4) {
      const __m256d v0 = load(in, i), v1 = load(in, i + 2);
      const Out o = apply(gate, _mm256_permute2f128_pd(v0, v1, 0x20),
                          _mm256_permute2f128_pd(v0, v1, 0x31), i, i + 2);
      store<kStream>(out, i, _mm256_permute2f128_pd(o.a, o.b, 0x20));
      store<kStream>(out, i + 2, _mm256_permute2f128_pd(o.a, o.b, 0x31));
    }
    return;
  }
  if (m == 2) {
    // [a0 a1] [b0 b1] as they lie, one block of four at a time.
    for (u64 i = from; i < to; i += 4) {
      const Out o = apply(gate, load(in, i), load(in, i + 2), i, i + 1);
      store<kStream>(out, i, o.a);
      store<kStream>(out, i + 2, o.b);
    }
    return;
  }
  // As walk::for_each_pair: a chunk shorter than a block lies in one half of it.
  if ((from & m) != 0) return;
  const u64 run = to - from < m ? to - from : m;
  for (u64 base = from; base < to; base += 2 * m) {
    for (u64 i = base; i < base + run; i += 2) {
      const Out o = apply(gate, load(in, i), load(in, i + m), i, i + 1);
      store<kStream>(out, i, o.a);
      store<kStream>(out, i + m, o.b);
    }
  }
}

template <class Gate>
void pairs(const double* in, double* out, u64 from, u64 to, u64 m, bool stream, Gate gate) {
  if (stream) {
    pairs<true>(in, out, from, to, m, gate);
  } else {
    pairs<false>(in, out, from, to, m, gate);
  }
}

// ---------------------------------------------------------------------------------------------
// In-place products z -> z' of the selected amplitudes.

// (z.re * 0.0 - z.im, z.re + z.im * 0.0)
struct S {
  __m256d operator()(__m256d z) const {
    const __m256d z0 = mul(z, all(0.0)), zs = swapped(z);
    return parts(sub(z0, zs), add(zs, z0));
  }
};

// (z.re * 0.0 + z.im, z.im * 0.0 - z.re)
struct Sdg {
  __m256d operator()(__m256d z) const {
    const __m256d z0 = mul(z, all(0.0)), zs = swapped(z);
    return parts(add(z0, zs), sub(z0, zs));
  }
};

// (z.re * C - z.im * K, z.re * K + z.im * C)
struct T {
  __m256d operator()(__m256d z) const {
    const __m256d p = mul(z, all(kCosQuarterPi)), q = mul(swapped(z), all(kInvSqrt2));
    return parts(sub(p, q), add(q, p));
  }
};

// (z.re * C + z.im * K, z.im * C - z.re * K)
struct Tdg {
  __m256d operator()(__m256d z) const {
    const __m256d p = mul(z, all(kCosQuarterPi)), q = mul(swapped(z), all(kInvSqrt2));
    return parts(add(p, q), sub(p, q));
  }
};

// (c * z.re - s * z.im, s * z.re + c * z.im)
struct Phase {
  __m256d c, s;
  __m256d operator()(__m256d z) const {
    const __m256d p = mul(c, z), q = mul(s, swapped(z));
    return parts(sub(p, q), add(q, p));
  }
};

// The amplitudes with bit hi set and, when lo is not zero, bit lo set, in ascending order. They
// come in runs as long as the lowest of the two bits: even in length and start from bit 2 up, two
// amplitudes per vector; single odd amplitudes when the lowest bit is 1, gathered two at a time.
template <class Gate>
void products(double* v, u64 length, u64 hi, u64 lo, Gate gate) {
  const u64 low = lo == 0 ? hi : lo;
  u64 held = 0;  // a single amplitude waiting for a second one; 0 for none (0 is never selected)
  const auto run = [&](u64 start) {
    if (low >= 2) {
      for (u64 i = start; i < start + low; i += 2) store<false>(v, i, gate(load(v, i)));
      return;
    }
    if (held == 0) {
      held = start;
      return;
    }
    const __m256d z = gate(_mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(v + 2 * held)),
                                                _mm_loadu_pd(v + 2 * start), 1));
    _mm_storeu_pd(v + 2 * held, _mm256_castpd256_pd128(z));
    _mm_storeu_pd(v + 2 * start, _mm256_extractf128_pd(z, 1));
    held = 0;
  };
  if (2 * lo == hi) {
    // Adjacent bits: one run per block of 2 hi, at its last quarter.
    for (u64 l = hi + lo; l < length; l += 2 * hi) run(l);
  } else {
    for (u64 h = hi; h < length; h += 2 * hi) {
      if (lo == 0) {
        run(h);
      } else {
        for (u64 l = h + lo; l < h + hi; l += 2 * lo) run(l);
      }
    }
  }
  if (held != 0) {
    // The last single, with its even neighbour, which keeps its value.
    const __m256d z = load(v, held - 1);
    store<false>(v, held - 1, _mm256_blend_pd(z, gate(z), 0xC));
  }
}

}  // namespace

void h(const double* in, double* out, u64 from, u64 to, u64 m, bool stream) {
  pairs(in, out, from, to, m, stream, H{});
}

void x(const double* in, double* out, u64 from, u64 to, u64 m, bool stream) {
  pairs(in, out, from, to, m, stream, X{});
}

void y(const double* in, double* out, u64 from, u64 to, u64 m, bool stream) {
  pairs(in, out, from, to, m, stream, Y{});
}

void sx(const double* in, double* out, u64 from, u64 to, u64 m, bool stream) {
  pairs(in, out, from, to, m, stream, SX{});
}

void sxdg(const double* in, double* out, u64 from, u64 to, u64 m, bool stream) {
  pairs(in, out, from, to, m, stream, SXdg{});
}

void rx(const double* in, double* out, u64 from, u64 to, u64 m, double c, double s, bool stream) {
  pairs(in, out, from, to, m, stream, RX{all(c), all(s)});
}

void ry(const double* in, double* out, u64 from, u64 to, u64 m, double c, double s, bool stream) {
  pairs(in, out, from, to, m, stream, RY{all(c), all(s)});
}

void cy(const double* in, double* out, u64 from, u64 to, u64 m, u64 control, bool stream) {
  pairs(in, out, from, to, m, stream, CY{control});
}

void s(double* v, u64 length, u64 hi, u64 lo) { products(v, length, hi, lo, S{}); }

void sdg(double* v, u64 length, u64 hi, u64 lo) { products(v, length, hi, lo, Sdg{}); }

void t(double* v, u64 length, u64 hi, u64 lo) { products(v, length, hi, lo, T{}); }

void tdg(double* v, u64 length, u64 hi, u64 lo) { products(v, length, hi, lo, Tdg{}); }

void cp(double* v, u64 length, u64 hi, u64 lo, double c, double s) {
  products(v, length, hi, lo, Phase{all(c), all(s)});
}

// (c * z.re + l * z.im, c * z.im + (-l) * z.re) with l = s below bit m and -s above: the portable
// pass's order, with l and -l laid out per lane.
void rz(double* v, u64 length, u64 m, double c, double s, double neg_s) {
  const __m256d cc = all(c);
  const auto rotate = [cc](__m256d z, __m256d l) { return add(mul(cc, z), mul(l, swapped(z))); };
  if (m == 1) {
    const __m256d l = _mm256_setr_pd(s, neg_s, neg_s, s);
    for (u64 i = 0; i < length; i += 2) store<false>(v, i, rotate(load(v, i), l));
    return;
  }
  const __m256d lower = _mm256_setr_pd(s, neg_s, s, neg_s);
  const __m256d upper = _mm256_setr_pd(neg_s, s, neg_s, s);
  if (m == 2) {
    for (u64 i = 0; i < length; i += 4) {
      store<false>(v, i, rotate(load(v, i), lower));
      store<false>(v, i + 2, rotate(load(v, i + 2), upper));
    }
    return;
  }
  for (u64 base = 0; base < length; base += 2 * m) {
    for (u64 i = base; i < base + m; i += 2) store<false>(v, i, rotate(load(v, i), lower));
    for (u64 i = base + m; i < base + 2 * m; i += 2) store<false>(v, i, rotate(load(v, i), upper));
  }
}

}  // namespace amplion::engine::avx2
