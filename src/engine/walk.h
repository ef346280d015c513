// Index walks of the gate loops, and the second vector of the copying gates and how it is
// written. Qubit q is bit q of the basis index; every caller has checked its qubits against
// n_qubits (at most 30) first, so no shift here ever reaches 64.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/errors.h"
#include "base/interrupt.h"
#include "base/memory.h"
#include "engine/simd.h"
#include "math_core/kernels.h"

namespace amplion::engine::walk {

using math_core::Complex64;

inline constexpr std::uint64_t bit(std::uint64_t q) { return std::uint64_t{1} << q; }

// The second vector of a copying gate: 2^n_qubits amplitudes, the spare when it has that size,
// else allocated like the register's own. Its contents are undefined: the gate writes all of it.
inline base::Result<base::Block<Complex64>> next_vector(std::uint64_t n_qubits) {
  return base::Block<Complex64>::reuse_or_allocate(bit(n_qubits),
                                                   std::to_string(n_qubits) + " qubits");
}

// Ends a copying gate. When its pass finished, `next` replaces `state` and the old vector becomes
// the spare; when the interrupt check stopped it, `next` becomes the spare and the register
// keeps its vector as it was.
inline base::Status replace(base::Block<Complex64>& state, base::Block<Complex64>&& next,
                            bool done) {
  if (!done) {
    next.retire();
    return base::interrupted();
  }
  state.retire();
  state = std::move(next);
  return {};
}

// Whether a copying gate on `length` amplitudes writes its second vector with streaming stores.
inline bool streams(std::uint64_t length, const simd::Paths& paths) {
  return length * sizeof(Complex64) >= paths.stream_from_bytes;
}

// Exact negation: flips the sign bit, of zeros and NaNs too; no multiplication by -1.
inline double flip_sign(double x) {
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) ^ (std::uint64_t{1} << 63));
}

// Stores the two parts one by one. Assigning a whole Complex64 built from two separately
// computed doubles makes the compiler assemble it on the stack and reload it as one 16-byte
// value, which stalls store forwarding on every element.
inline void put(Complex64& dst, double re, double im) {
  dst.re = re;
  dst.im = im;
}

// How a copying gate's portable pass writes its second vector: through the cache, or with
// streaming stores, which do not read each line before overwriting it and leave it out of the
// cache; fence() then orders them before the vector is read. Either way the same bits.
struct CachedStores {
  static void put(Complex64& dst, double re, double im) { walk::put(dst, re, im); }
};

struct StreamedStores {
  static void put(Complex64& dst, double re, double im) {
#if defined(__SSE2__)
    _mm_stream_pd(&dst.re, _mm_set_pd(im, re));  // every amplitude is 16-byte aligned
#else
    walk::put(dst, re, im);
#endif
  }
};

inline void fence() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

// Calls f(i, i + m) for every i in [from, to) with the bit of m clear (m a power of two below the
// vector's length): blocks of 2m indices, the first half of each paired with the second.
// [from, to) is the whole vector or one of in_checked_chunks' chunks; a chunk shorter than a
// block lies in one half of it, and an upper half has no pairs of its own to start.
template <class F>
inline void for_each_pair(std::uint64_t from, std::uint64_t to, std::uint64_t m, F&& f) {
  if (m == 1) {
    for (std::uint64_t i = from; i < to; i += 2) f(i, i + 1);
    return;
  }
  if ((from & m) != 0) return;
  const std::uint64_t run = to - from < m ? to - from : m;
  for (std::uint64_t base = from; base < to; base += 2 * m) {
#pragma GCC unroll 4
    for (std::uint64_t i = base; i < base + run; ++i) f(i, i + m);
  }
}

template <class F>
inline void for_each_pair(std::uint64_t length, std::uint64_t m, F&& f) {
  for_each_pair(0, length, m, f);
}

namespace detail {

// Walks [start, start + span) in blocks of 2b for each fixed bit b (largest first), descending
// into the half of each block whose bit is clear; the innermost runs are contiguous. A span
// shorter than a block (a chunk, a power of two aligned to its length) lies in one half of it.
template <std::size_t K, class F>
inline void runs(std::uint64_t start, std::uint64_t span, const std::uint64_t* bits,
                 std::uint64_t value, F& f) {
  if constexpr (K == 0) {
#pragma GCC unroll 4
    for (std::uint64_t i = start; i < start + span; ++i) f(i | value);
  } else {
    const std::uint64_t b = bits[0];
    if constexpr (K == 1) {
      if (b == 1) {  // runs of one element: step over the skipped ones directly
        for (std::uint64_t i = start; i < start + span; i += 2) f(i | value);
        return;
      }
    }
    if ((start & b) != 0) return;
    const std::uint64_t half = span < b ? span : b;
    for (std::uint64_t s = start; s < start + span; s += 2 * b) {
      runs<K - 1>(s, half, bits + 1, value, f);
    }
  }
}

template <std::size_t K, class F>
inline void select(std::uint64_t from, std::uint64_t to, std::uint64_t fixed, std::uint64_t value,
                   F& f) {
  std::array<std::uint64_t, K> bits{};
  for (std::size_t k = 0; k < K; ++k) {
    bits[k] = std::bit_floor(fixed);
    fixed ^= bits[k];
  }
  runs<K>(from, to - from, bits.data(), value, f);
}

}  // namespace detail

// Calls f(i | value) for every i in [from, to) whose bits under `fixed` (one to three distinct
// qubit bits, all below the vector's length) are clear, without visiting any other index; with
// [from, to) the whole vector, that is every i whose bits under `fixed` equal `value`. [from, to)
// is the whole vector or one of in_checked_chunks' chunks. The gate's qubits must be distinct:
// coinciding qubits go through for_each_tested.
template <class F>
inline void for_each_selected(std::uint64_t from, std::uint64_t to, std::uint64_t fixed,
                              std::uint64_t value, F&& f) {
  switch (std::popcount(fixed)) {
    case 1:
      detail::select<1>(from, to, fixed, value, f);
      return;
    case 2:
      detail::select<2>(from, to, fixed, value, f);
      return;
    case 3:
      detail::select<3>(from, to, fixed, value, f);
      return;
    default:
      base::fault("index walk over an unsupported number of qubits");
  }
}

template <class F>
inline void for_each_selected(std::uint64_t length, std::uint64_t fixed, std::uint64_t value,
                              F&& f) {
  for_each_selected(0, length, fixed, value, f);
}

// The plain walk: tests every index i < length and calls f(i) when all bits of `set` are set and
// all bits of `clear` are clear. Right for any masks, coinciding qubits included (a bit that must
// be both set and clear selects nothing).
template <class F>
inline void for_each_tested(std::uint64_t length, std::uint64_t set, std::uint64_t clear, F&& f) {
  for (std::uint64_t i = 0; i < length; ++i) {
    if ((i & set) == set && (i & clear) == 0) f(i);
  }
}

}  // namespace amplion::engine::walk
