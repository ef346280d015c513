// The _cpp gates: the register checks the qubit indices, then hands its vector to the kernel
// library as pointer and count, without conversion or copy. The library keeps no state, so the
// choice of its AVX2 h kernel is made here.
#include "engine/register.h"
#include "engine/simd.h"
#include "math_core/kernels.h"

namespace amplion::engine {

using base::Status;

// Each index is checked in parameter order and the first one out of range is reported, before
// any amplitude changes. Every kernel partner index then differs from its element only in bits
// below n_qubits, so the kernels' own access checks never fail from here.
Status Register::h_cpp(std::uint64_t q) {
  if (auto st = check_qubit(q); !st.ok()) return st;
#if defined(__x86_64__)
  if (simd::active().avx2) {
    math_core::apply_h_cpp_avx2_flat(state_.data(), state_.size(), q);
    return {};
  }
#endif
  math_core::apply_h_cpp_flat(state_.data(), state_.size(), q);
  return {};
}

Status Register::x_cpp(std::uint64_t q) {
  if (auto st = check_qubit(q); !st.ok()) return st;
  math_core::apply_x_cpp_flat(state_.data(), state_.size(), q);
  return {};
}

Status Register::cx_cpp(std::uint64_t c, std::uint64_t t) {
  for (std::uint64_t q : {c, t}) {
    if (auto st = check_qubit(q); !st.ok()) return st;
  }
  math_core::apply_cx_cpp_flat(state_.data(), state_.size(), c, t);
  return {};
}

Status Register::ccx_cpp(std::uint64_t c1, std::uint64_t c2, std::uint64_t t) {
  for (std::uint64_t q : {c1, c2, t}) {
    if (auto st = check_qubit(q); !st.ok()) return st;
  }
  math_core::apply_ccx_cpp_flat(state_.data(), state_.size(), c1, c2, t);
  return {};
}

Status Register::cswap_cpp(std::uint64_t c, std::uint64_t t1, std::uint64_t t2) {
  for (std::uint64_t q : {c, t1, t2}) {
    if (auto st = check_qubit(q); !st.ok()) return st;
  }
  math_core::apply_cswap_cpp_flat(state_.data(), state_.size(), c, t1, t2);
  return {};
}

}  // namespace amplion::engine
