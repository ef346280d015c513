// In-place gate kernels working through a bounds-checked slice view, and their flat entry points.
#include "math_core/kernels.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

namespace math_core {
namespace {

// 1.0 / sqrt(2.0) rounded once (0x3FE6A09E667F3BCC): one ulp below the double nearest 1/sqrt(2).
inline constexpr double kInvSqrt2 = 0x1.6a09e667f3bccp-1;

// 2^q. No index in a view reaches bit 59 (see SliceMut::kMaxSize), so bits 59 to 63 and every
// bit above them are equally clear in all indices and equally outside every view; clamping the
// shift at 63 keeps it defined and changes no test and no partner's fate.
constexpr std::uint64_t bit(std::uint64_t q) { return std::uint64_t{1} << (q < 63 ? q : 63); }

[[noreturn]] void throw_outside(std::uint64_t n, std::uint64_t size) {
  throw std::out_of_range("kernel element index " + std::to_string(n) +
                          " outside a view of " + std::to_string(size) + " elements");
}

// One level of a walk over the indices whose bits under a group of adjacent masks are fixed:
// blocks of `step` (twice the group's highest mask), of which the walk enters only the first
// `span` indices (the group's lowest mask), shifted by the fixed bits.
struct Level {
  std::uint64_t step;
  std::uint64_t span;
};

// Visits, level by level and in ascending order, the indices i of [start, start + span) with
// every fixed bit clear (start has none set) and calls f(i + value); `value` holds the fixed
// bits that must be set, so i + value is i | value, and has none below the lowest mask, so each
// innermost run stays contiguous. Returns false once an index reaches n: every later one does.
// The visitor travels by value and holds its own copy of the view, so the view's pointer and size
// stay in registers: reached through a reference they would be reloaded after every exchange,
// whose 16-byte stores the compiler must assume may alias them (about 6% at low qubits).
template <std::size_t L, class F>
bool runs(std::uint64_t start, std::uint64_t span, const Level* levels, std::uint64_t value,
          std::uint64_t n, F f) {
  const Level level = levels[0];
  if constexpr (L == 1) {
    const std::uint64_t past = start + span + value;
    const std::uint64_t end = std::min(past, n);
    if (level.span == 1) {
      for (std::uint64_t i = start + value; i < end; i += level.step) f(i);
    } else {
      for (std::uint64_t s = start + value; s < end; s += level.step) {
        const std::uint64_t run_end = std::min(s + level.span, n);
        for (std::uint64_t i = s; i < run_end; ++i) f(i);
      }
    }
    return past <= n;
  } else {
    for (std::uint64_t s = start; s < start + span; s += level.step) {
      if (!runs<L - 1>(s, level.span, levels + 1, value, n, f)) return false;
    }
    return true;
  }
}

// The lower indices of an exchange kernel without a bit test per index: every i below n whose
// bits under `masks` equal `value`, in the ascending order of the scan, so that a failing
// access leaves exactly the pairs the scan would have finished. Adjacent masks share a level,
// so qubits 0, 1 and 2 together make one strided loop. The masks must be distinct and below n;
// then no step exceeds 2^60 and no index sum wraps, as n is below 2^59.
template <std::size_t K, class F>
void walk(std::uint64_t n, std::array<std::uint64_t, K> masks, std::uint64_t value, F f) {
  std::sort(masks.begin(), masks.end(), std::greater<>());
  std::array<Level, K> levels{};
  std::size_t count = 0;
  for (std::size_t k = 0; k < K; ++k) {
    if (count > 0 && levels[count - 1].span == 2 * masks[k]) {
      levels[count - 1].span = masks[k];
    } else {
      levels[count++] = Level{2 * masks[k], masks[k]};
    }
  }
  // The whole index range as one span: n rounded up to a whole number of top-level blocks.
  const std::uint64_t top = (n + levels[0].step - 1) / levels[0].step * levels[0].step;
  if (count == 1) {
    runs<1>(0, top, levels.data(), value, n, f);
  } else if (count == 2) {
    runs<2>(0, top, levels.data(), value, n, f);
  } else if constexpr (K == 3) {
    runs<3>(0, top, levels.data(), value, n, f);
  }
}

}  // namespace

SliceMut::SliceMut(Complex64* data, std::uint64_t size) : data_(data), size_(size) {
  if (size > kMaxSize) {
    throw std::length_error("kernel view of " + std::to_string(size) +
                            " elements exceeds any array");
  }
}

Complex64& SliceMut::operator[](std::uint64_t n) const {
  if (n < this->size()) return data_[n];
  throw_outside(n, this->size());
}

void SliceMut::swap(std::uint64_t i, std::uint64_t j) const {
  Complex64& a = (*this)[i];
  Complex64& b = (*this)[j];
  std::swap(a, b);
}

// Visits the lower element of each pair by blocks of 2s, without a bit test per index. For
// q of 59 and more the first partner lies outside the view, so the step 2s is never taken.
void apply_h_cpp(SliceMut v, std::uint64_t q) {
  const std::uint64_t n = v.size();
  const std::uint64_t s = bit(q);
  for (std::uint64_t base = 0; base < n; base += 2 * s) {
    for (std::uint64_t k = 0; k < s; ++k) {
      const std::uint64_t i = base + k;
      Complex64& lo = v[i];
      Complex64& hi = v[i + s];
      const Complex64 a = lo;
      const Complex64 b = hi;
      // Sum or difference first, scaled after; the other order changes the last bit.
      lo.re = (a.re + b.re) * kInvSqrt2;
      lo.im = (a.im + b.im) * kInvSqrt2;
      hi.re = (a.re - b.re) * kInvSqrt2;
      hi.im = (a.im - b.im) * kInvSqrt2;
    }
  }
}

void apply_x_cpp(SliceMut v, std::uint64_t q) {
  const std::uint64_t n = v.size();
  const std::uint64_t s = bit(q);
  for (std::uint64_t base = 0; base < n; base += 2 * s) {
    for (std::uint64_t k = 0; k < s; ++k) {
      const std::uint64_t i = base + k;
      v.swap(i, i + s);
    }
  }
}

// The three exchange kernels walk their lower indices when the qubits' bits are distinct and
// inside the view. Coinciding bits (and bits the view does not reach, which the register never
// passes) take the full scan, whose result defines the kernel there.
void apply_cx_cpp(SliceMut v, std::uint64_t c, std::uint64_t t) {
  const std::uint64_t n = v.size();
  const std::uint64_t mc = bit(c);
  const std::uint64_t mt = bit(t);
  if (mc != mt && mc < n && mt < n) {
    walk<2>(n, {mc, mt}, mc, [v, mt](std::uint64_t i) { v.swap(i, i | mt); });
    return;
  }
  for (std::uint64_t i = 0; i < n; ++i) {
    if ((i & mc) != 0 && (i & mt) == 0) v.swap(i, i | mt);
  }
}

// When t equals c1 or c2 no index has that bit both set and clear, so nothing moves.
void apply_ccx_cpp(SliceMut v, std::uint64_t c1, std::uint64_t c2, std::uint64_t t) {
  const std::uint64_t n = v.size();
  const std::uint64_t m1 = bit(c1);
  const std::uint64_t m2 = bit(c2);
  const std::uint64_t mt = bit(t);
  if (m1 != m2 && m1 != mt && m2 != mt && m1 < n && m2 < n && mt < n) {
    walk<3>(n, {m1, m2, mt}, m1 | m2, [v, mt](std::uint64_t i) { v.swap(i, i ^ mt); });
    return;
  }
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint64_t j = i ^ mt;
    if ((i & m1) != 0 && (i & m2) != 0 && i < j) v.swap(i, j);
  }
}

// Each pair is met from both ends and exchanged from its lower index only. With t1 == t2 the
// bits never differ; with c equal to a target the control selects only one end of each pair,
// so whether it moves depends on which end is lower.
void apply_cswap_cpp(SliceMut v, std::uint64_t c, std::uint64_t t1, std::uint64_t t2) {
  const std::uint64_t n = v.size();
  const std::uint64_t mc = bit(c);
  const std::uint64_t m1 = bit(t1);
  const std::uint64_t m2 = bit(t2);
  const std::uint64_t d = m1 ^ m2;
  if (mc != m1 && mc != m2 && m1 != m2 && mc < n && m1 < n && m2 < n) {
    // The lower end of a pair has the higher target's bit clear and the lower one's set.
    walk<3>(n, {mc, m1, m2}, mc | std::min(m1, m2),
            [v, d](std::uint64_t i) { v.swap(i, i ^ d); });
    return;
  }
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint64_t j = i ^ d;
    if ((i & mc) != 0 && ((i & m1) != 0) != ((i & m2) != 0) && i < j) v.swap(i, j);
  }
}

void apply_h_cpp_flat(Complex64* data, std::uint64_t count, std::uint64_t q) {
  apply_h_cpp(SliceMut(data, count), q);
}

void apply_x_cpp_flat(Complex64* data, std::uint64_t count, std::uint64_t q) {
  apply_x_cpp(SliceMut(data, count), q);
}

void apply_cx_cpp_flat(Complex64* data, std::uint64_t count, std::uint64_t c, std::uint64_t t) {
  apply_cx_cpp(SliceMut(data, count), c, t);
}

void apply_ccx_cpp_flat(Complex64* data, std::uint64_t count, std::uint64_t c1,
                        std::uint64_t c2, std::uint64_t t) {
  apply_ccx_cpp(SliceMut(data, count), c1, c2, t);
}

void apply_cswap_cpp_flat(Complex64* data, std::uint64_t count, std::uint64_t c,
                          std::uint64_t t1, std::uint64_t t2) {
  apply_cswap_cpp(SliceMut(data, count), c, t1, t2);
}

}  // namespace math_core
