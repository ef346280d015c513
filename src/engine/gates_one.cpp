// The thirteen one-qubit gates. A gate on qubit q maps each pair (a, b) = (v[i], v[i + 2^q]),
// bit q of i clear, to (a', b'). h x y sx sxdg rx ry compute every pair into a second vector
// (the spare, or a fresh one) that then replaces the register's; z s sdg t tdg rz rewrite the
// vector where it lies. Each gate but z has an AVX2 pass beside its portable one.
#include <bit>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "base/interrupt.h"
#include "engine/gates_avx2.h"
#include "engine/register.h"
#include "engine/simd.h"
#include "engine/sincos.h"
#include "engine/walk.h"

namespace amplion::engine {

using base::Block;
using base::in_checked_chunks;
using base::Status;

namespace {

using walk::bit;
using walk::flip_sign;

// 1.0 / sqrt(2.0) rounded once (0x3FE6A09E667F3BCC): one ulp below the double nearest 1/sqrt(2).
// It is the H factor and the sine of pi/4 in t and tdg.
inline constexpr double kInvSqrt2 = 0x1.6a09e667f3bccp-1;
// cos(pi/4) as the math library returns it (0x3FE6A09E667F3BCD), the other neighbour.
inline constexpr double kCosQuarterPi = 0x1.6a09e667f3bcdp-1;
inline constexpr double kHalf = 0.5;

struct Pair {
  Complex64 a;
  Complex64 b;
};

// c = cos(theta * 0.5), s = sin(theta * 0.5) from one joint evaluation; NaN for non-finite theta.
struct HalfAngle {
  double c;
  double s;
};
inline HalfAngle half_angle(double theta) {
  HalfAngle r{};
  sin_cos(theta * kHalf, &r.s, &r.c);
  return r;
}

// Calls the AVX2 pass `wide` where the active paths say so, else `portable`.
template <class Wide, class Portable>
void choose(bool wide_fits, Wide wide, Portable portable) {
  if constexpr (simd::kAvx2Built) {
    if (wide_fits && simd::active().avx2) {
      wide();
      return;
    }
  }
  portable();
}

// Takes the second vector before anything is read, so a refused allocation leaves the register
// as it was. Every element of the new vector is written by exactly one pair. Only the new vector
// is written until the end, so an interrupt between chunks drops it and leaves the register as
// it was. `wide(in, out, from, to, m, stream)` is the gate's AVX2 pass.
template <class Gate, class Wide>
Status copy_pairs(Block<Complex64>& state, std::uint64_t n_qubits, std::uint64_t q, Gate gate,
                  Wide wide) {
  auto next = walk::next_vector(n_qubits);
  if (!next.ok()) return next.error();
  const Complex64* in = state.data();
  Complex64* out = next.value().data();
  const std::uint64_t m = bit(q);
  const bool stream = walk::streams(state.size(), simd::active());
  const auto portable = [in, out, m, &gate]<class Stores>(Stores, std::uint64_t from,
                                                          std::uint64_t to) {
    walk::for_each_pair(from, to, m, [in, out, &gate](std::uint64_t i, std::uint64_t j) {
      const Pair p = gate(in[i], in[j]);
      Stores::put(out[i], p.a.re, p.a.im);
      Stores::put(out[j], p.b.re, p.b.im);
    });
  };
  const bool done = in_checked_chunks(state.size(), [&](std::uint64_t from, std::uint64_t to) {
    choose(
        state.size() >= simd::kMinWideLength,
        [&] {
          wide(reinterpret_cast<const double*>(in), reinterpret_cast<double*>(out), from, to, m,
               stream);
        },
        [&] {
          if (stream) {
            portable(walk::StreamedStores{}, from, to);
          } else {
            portable(walk::CachedStores{}, from, to);
          }
        });
  });
  if (stream) walk::fence();
  return walk::replace(state, std::move(next.value()), done);
}

// Rewrites b for every pair; amplitudes with bit q clear are not touched. `wide(v, length, hi,
// lo)` is the gate's AVX2 pass, nullptr for none.
template <class Gate, class Wide>
void update_upper(Block<Complex64>& state, std::uint64_t q, Gate gate, Wide wide) {
  Complex64* v = state.data();
  choose(
      !std::is_null_pointer_v<Wide>,
      [&] {
        if constexpr (!std::is_null_pointer_v<Wide>) {
          wide(reinterpret_cast<double*>(v), state.size(), bit(q), std::uint64_t{0});
        }
      },
      [&] {
        walk::for_each_selected(state.size(), bit(q), bit(q), [v, &gate](std::uint64_t i) {
          const Complex64 b = gate(v[i]);
          walk::put(v[i], b.re, b.im);
        });
      });
}

// The AVX2 passes as the callables copy_pairs and update_upper take. Their calls are compiled
// only where the passes are built.
#define AMPLION_PAIR_PASS(name, ...)                                                           \
  [=](const double* in, double* out, std::uint64_t from, std::uint64_t to, std::uint64_t m, \
      bool stream) { avx2::name(in, out, from, to, m, __VA_ARGS__ __VA_OPT__(, ) stream); }
#define AMPLION_PRODUCT_PASS(name)                                                     \
  [](double* v, std::uint64_t length, std::uint64_t hi, std::uint64_t lo) {          \
    avx2::name(v, length, hi, lo);                                                   \
  }

}  // namespace

// Sum first, scale after: (a + b) * K rounds twice where a * K + b * K would round three times,
// and the two orders differ in the last bit. The kernel library's h does the same.
Status Register::h(std::uint64_t q) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  return copy_pairs(state_, n_qubits_, q, [](Complex64 a, Complex64 b) {
    return Pair{{(a.re + b.re) * kInvSqrt2, (a.im + b.im) * kInvSqrt2},
                {(a.re - b.re) * kInvSqrt2, (a.im - b.im) * kInvSqrt2}};
  }, AMPLION_PAIR_PASS(h));
}

Status Register::x(std::uint64_t q) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  return copy_pairs(state_, n_qubits_, q, [](Complex64 a, Complex64 b) { return Pair{b, a}; },
                    AMPLION_PAIR_PASS(x));
}

// a' = (-0 - 1i)·b and b' = (0 + 1i)·a as full products: the zero's sign matters.
Status Register::y(std::uint64_t q) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  return copy_pairs(state_, n_qubits_, q, [](Complex64 a, Complex64 b) {
    return Pair{{b.re * -0.0 + b.im, b.im * -0.0 - b.re}, {a.re * 0.0 - a.im, a.re + a.im * 0.0}};
  }, AMPLION_PAIR_PASS(y));
}

Status Register::z(std::uint64_t q) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  update_upper(state_, q, [](Complex64 b) { return Complex64{flip_sign(b.re), flip_sign(b.im)}; },
               nullptr);
  return {};
}

Status Register::s(std::uint64_t q) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  update_upper(state_, q, [](Complex64 b) {
    return Complex64{b.re * 0.0 - b.im, b.re + b.im * 0.0};
  }, AMPLION_PRODUCT_PASS(s));
  return {};
}

Status Register::sdg(std::uint64_t q) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  update_upper(state_, q, [](Complex64 b) {
    return Complex64{b.re * 0.0 + b.im, b.im * 0.0 - b.re};
  }, AMPLION_PRODUCT_PASS(sdg));
  return {};
}

// The full product of b with (C, K), component by component in this operand order: C and K are
// neighbouring doubles, so exchanging them or regrouping a sum changes the last bit.
Status Register::t(std::uint64_t q) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  update_upper(state_, q, [](Complex64 b) {
    return Complex64{b.re * kCosQuarterPi - b.im * kInvSqrt2,
                     b.re * kInvSqrt2 + b.im * kCosQuarterPi};
  }, AMPLION_PRODUCT_PASS(t));
  return {};
}

Status Register::tdg(std::uint64_t q) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  update_upper(state_, q, [](Complex64 b) {
    return Complex64{b.re * kCosQuarterPi + b.im * kInvSqrt2,
                     b.im * kCosQuarterPi - b.re * kInvSqrt2};
  }, AMPLION_PRODUCT_PASS(tdg));
  return {};
}

// Each half is formed first; the two terms from one input amplitude are summed before the terms
// from the two amplitudes are added.
Status Register::sx(std::uint64_t q) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  return copy_pairs(state_, n_qubits_, q, [](Complex64 a, Complex64 b) {
    const double ar = a.re * kHalf, ai = a.im * kHalf, br = b.re * kHalf, bi = b.im * kHalf;
    return Pair{{(ar - ai) + (br + bi), (ai + ar) + (bi - br)},
                {(ar + ai) + (br - bi), (ai - ar) + (br + bi)}};
  }, AMPLION_PAIR_PASS(sx));
}

Status Register::sxdg(std::uint64_t q) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  return copy_pairs(state_, n_qubits_, q, [](Complex64 a, Complex64 b) {
    const double ar = a.re * kHalf, ai = a.im * kHalf, br = b.re * kHalf, bi = b.im * kHalf;
    return Pair{{(ar + ai) + (br - bi), (ai - ar) + (br + bi)},
                {(ar - ai) + (br + bi), (ai + ar) + (bi - br)}};
  }, AMPLION_PAIR_PASS(sxdg));
}

// The off-diagonal term is the full product of (0, -s) with the other amplitude: its two
// multiplications by 0.0 stay, so an infinite or NaN part spreads to both parts as a complex
// product spreads it. The diagonal c * a is real times complex and has none.
Status Register::rx(std::uint64_t q, double theta) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  const HalfAngle r = half_angle(theta);
  return copy_pairs(state_, n_qubits_, q, [c = r.c, s = r.s](Complex64 a, Complex64 b) {
    return Pair{{(b.re * 0.0 + s * b.im) + c * a.re, (b.im * 0.0 - s * b.re) + c * a.im},
                {c * b.re + (a.re * 0.0 + s * a.im), c * b.im + (a.im * 0.0 - s * a.re)}};
  }, AMPLION_PAIR_PASS(rx, r.c, r.s));
}

// Every entry of the matrix is real, so each term is a real times a complex amplitude: two
// multiplications, no 0.0 terms (rx has them because its off-diagonal constant is imaginary).
// Adding "* 0.0" products here would turn an infinite amplitude's zero partner into NaN.
Status Register::ry(std::uint64_t q, double theta) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  const HalfAngle r = half_angle(theta);
  return copy_pairs(state_, n_qubits_, q, [c = r.c, s = r.s](Complex64 a, Complex64 b) {
    return Pair{{c * a.re - s * b.re, c * a.im - s * b.im},
                {c * b.re + s * a.re, c * b.im + s * a.im}};
  }, AMPLION_PAIR_PASS(ry, r.c, r.s));
}

// Multiplies a by (c, l) with l = -s and b by (c, l) with l = s: every amplitude changes.
// The product (c * re - l * im, l * re + c * im) is evaluated as (c * re + (-l) * im,
// c * im + l * re), which rounds identically: (-l) * im is -(l * im) exactly, x - y is x + (-y),
// and a sum does not depend on the order of its terms. In this form each amplitude costs one
// vector product with (c, c) and one with its swapped parts, which keeps rz at the memory bound.
Status Register::rz(std::uint64_t q, double theta) {
  if (Status st = check_qubit(q); !st.ok()) return st;
  const HalfAngle r = half_angle(theta);
  const double c = r.c, s = r.s, neg_s = flip_sign(r.s);
  Complex64* v = state_.data();
  choose(
      true,
      [&] {
        if constexpr (simd::kAvx2Built) {
          avx2::rz(reinterpret_cast<double*>(v), length(), bit(q), c, s, neg_s);
        }
      },
      [&] {
        walk::for_each_pair(length(), bit(q), [v, c, s, neg_s](std::uint64_t i, std::uint64_t j) {
          const Complex64 a = v[i], b = v[j];
          walk::put(v[i], c * a.re + s * a.im, c * a.im + neg_s * a.re);  // l = -s
          walk::put(v[j], c * b.re + neg_s * b.im, c * b.im + s * b.re);  // l = s
        });
      });
  return {};
}

}  // namespace amplion::engine
