// The multi-qubit gates. Every index is checked against n_qubits before anything changes. With
// distinct qubits the walks visit only the indices a gate changes; where qubits coincide they test
// every index instead, since a walk that inserts zero bits at each qubit's position would count a
// shared bit twice. cy computes into a second vector (the spare, or a fresh one); the others work
// in place and allocate nothing. cy and cp have AVX2 passes beside their portable ones.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/interrupt.h"
#include "engine/gates_avx2.h"
#include "engine/register.h"
#include "engine/simd.h"
#include "engine/sincos.h"
#include "engine/walk.h"

namespace amplion::engine {

using base::Error;
using base::ErrorKind;
using base::in_checked_chunks;
using base::Status;

namespace {

using walk::bit;
using walk::flip_sign;

// Calls f(i) for every index with all bits of `set` set and all bits of `clear` clear.
template <class F>
void for_each_index(std::uint64_t length, bool distinct, std::uint64_t set, std::uint64_t clear,
                    F&& f) {
  if (distinct) {
    walk::for_each_selected(length, set | clear, set, f);
  } else {
    walk::for_each_tested(length, set, clear, f);
  }
}

// Exchanges amplitude i with i ^ flip for every i that `set` and `clear` select: the 16 bytes as
// they stand, no arithmetic.
void exchange(Complex64* v, std::uint64_t length, bool distinct, std::uint64_t set,
              std::uint64_t clear, std::uint64_t flip) {
  for_each_index(length, distinct, set, clear,
                 [v, flip](std::uint64_t i) { std::swap(v[i], v[i ^ flip]); });
}

Status control_target_check(std::uint64_t n_qubits, std::uint64_t control, std::uint64_t target) {
  if (control >= n_qubits || target >= n_qubits) {
    return Error{ErrorKind::kIndex, kControlTargetMessage};
  }
  return {};
}

}  // namespace

Status Register::cx(std::uint64_t control, std::uint64_t target) {
  if (Status st = control_target_check(n_qubits_, control, target); !st.ok()) return st;
  const std::uint64_t cb = bit(control), tb = bit(target);
  exchange(state_.data(), length(), control != target, cb, tb, tb);
  return {};
}

// new[j] = (0 + 1i)·old[i] and new[i] = (-0 - 1i)·old[j] for i with the control bit set and the
// target bit clear, j = i + 2^target; every other element is copied as it stands.
Status Register::cy(std::uint64_t control, std::uint64_t target) {
  if (Status st = control_target_check(n_qubits_, control, target); !st.ok()) return st;
  auto next = walk::next_vector(n_qubits_);
  if (!next.ok()) return next.error();
  const Complex64* in = state_.data();
  Complex64* out = next.value().data();
  const std::uint64_t cb = bit(control), tb = bit(target);
  const bool stream = walk::streams(length(), simd::active());
  // Only the new vector is written until the end: an interrupt between chunks drops it.
  bool done = true;
  if (control != target) {
    // One visit per group of four: both bits clear, then target, then the control pair.
    const auto groups = [in, out, cb, tb]<class Stores>(Stores, std::uint64_t from,
                                                        std::uint64_t to) {
      walk::for_each_selected(from, to, cb | tb, 0, [in, out, cb, tb](std::uint64_t i) {
        const std::uint64_t c = i | cb, j = i | cb | tb;
        const Complex64 a = in[c], b = in[j];
        Stores::put(out[i], in[i].re, in[i].im);
        Stores::put(out[i | tb], in[i | tb].re, in[i | tb].im);
        Stores::put(out[c], -0.0 * b.re + b.im, -0.0 * b.im - b.re);
        Stores::put(out[j], 0.0 * a.re - a.im, a.re + 0.0 * a.im);
      });
    };
    done = in_checked_chunks(length(), [&](std::uint64_t from, std::uint64_t to) {
      if constexpr (simd::kAvx2Built) {
        if (simd::active().avx2 && length() >= simd::kMinWideLength) {
          avx2::cy(reinterpret_cast<const double*>(in), reinterpret_cast<double*>(out), from,
                   to, tb, cb, stream);
          return;
        }
      }
      if (stream) {
        groups(walk::StreamedStores{}, from, to);
      } else {
        groups(walk::CachedStores{}, from, to);
      }
    });
    if (stream) walk::fence();
  } else {
    // No index has the bit both set and clear: the copy is the whole gate.
    done = in_checked_chunks(length(), [in, out](std::uint64_t from, std::uint64_t to) {
      std::memcpy(out + from, in + from, (to - from) * sizeof(Complex64));
    });
  }
  return walk::replace(state_, std::move(next.value()), done);
}

// A sign flip of both parts, not a multiplication by -1: zeros and NaNs change sign too.
Status Register::cz(std::uint64_t control, std::uint64_t target) {
  if (Status st = control_target_check(n_qubits_, control, target); !st.ok()) return st;
  Complex64* v = state_.data();
  for_each_index(length(), control != target, bit(control) | bit(target), 0,
                 [v](std::uint64_t i) { walk::put(v[i], flip_sign(v[i].re), flip_sign(v[i].im)); });
  return {};
}

// Multiplies by e^(i theta) where both bits are set: the full product with (c, s), written
// component by component in this order (std::complex may take another path for non-finite parts).
Status Register::cp(std::uint64_t control, std::uint64_t target, double theta) {
  if (Status st = control_target_check(n_qubits_, control, target); !st.ok()) return st;
  double s = 0.0, c = 0.0;
  sin_cos(theta, &s, &c);
  Complex64* v = state_.data();
  if constexpr (simd::kAvx2Built) {
    if (simd::active().avx2) {
      const std::uint64_t set = bit(control) | bit(target), hi = bit(std::max(control, target));
      avx2::cp(reinterpret_cast<double*>(v), length(), hi, set ^ hi, c, s);
      return {};
    }
  }
  for_each_index(length(), control != target, bit(control) | bit(target), 0,
                 [v, c, s](std::uint64_t i) {
                   const Complex64 a = v[i];
                   walk::put(v[i], c * a.re - s * a.im, s * a.re + c * a.im);
                 });
  return {};
}

Status Register::swap(std::uint64_t q1, std::uint64_t q2) {
  if (q1 >= n_qubits_ || q2 >= n_qubits_) return Error{ErrorKind::kIndex, kSwapIndexMessage};
  const std::uint64_t b1 = bit(q1), b2 = bit(q2);
  exchange(state_.data(), length(), q1 != q2, b1, b2, b1 | b2);
  return {};
}

// With t equal to a control nothing qualifies; ccx(c, c, t) acts as cx(c, t).
Status Register::ccx(std::uint64_t c1, std::uint64_t c2, std::uint64_t t) {
  if (t >= n_qubits_ || c1 >= n_qubits_ || c2 >= n_qubits_) {
    return Error{ErrorKind::kIndex, kCcxIndexMessage};
  }
  const bool distinct = c1 != c2 && c1 != t && c2 != t;
  exchange(state_.data(), length(), distinct, bit(c1) | bit(c2), bit(t), bit(t));
  return {};
}

// cswap(c, t, t) and cswap(c, t1, c) change nothing; cswap(c, c, t2) acts as swap(c, t2).
Status Register::cswap(std::uint64_t c, std::uint64_t t1, std::uint64_t t2) {
  if (c >= n_qubits_ || t1 >= n_qubits_ || t2 >= n_qubits_) {
    return Error{ErrorKind::kIndex, kQubitIndexMessage};
  }
  const bool distinct = c != t1 && c != t2 && t1 != t2;
  exchange(state_.data(), length(), distinct, bit(c) | bit(t1), bit(t2), bit(t1) | bit(t2));
  return {};
}

}  // namespace amplion::engine
