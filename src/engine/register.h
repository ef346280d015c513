// Register: the amplitude vector of n qubits, its generator, and every operation on them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "base/errors.h"
#include "base/memory.h"
#include "math_core/kernels.h"
#include "random/chacha.h"

namespace amplion::engine {

using math_core::Complex64;

inline constexpr std::uint64_t kMinQubits = 1;
inline constexpr std::uint64_t kMaxQubits = 30;

inline constexpr char kQubitCountMessage[] = "n_qubits must be between 1 and 30";
inline constexpr char kQubitIndexMessage[] = "qubit index out of range";
inline constexpr char kControlTargetMessage[] = "control/target index out of range";
inline constexpr char kSwapIndexMessage[] = "swap index out of range";
inline constexpr char kCcxIndexMessage[] = "index out of range";
inline constexpr char kAmplitudeIndexMessage[] = "amplitude index out of range";

// Qubit q is bit q of the basis index: qubit 0 is the least significant bit. The vector always
// holds exactly 2^n_qubits amplitudes; every failed operation leaves it bit for bit as it was.
class Register {
 public:
  // Checks the count before allocating; |0...0> with positive zeros. Without a seed the
  // generator is keyed from operating-system entropy (a fault when that fails).
  static base::Result<Register> create(std::uint64_t n_qubits, std::optional<std::uint64_t> seed);

  std::uint64_t n_qubits() const { return n_qubits_; }
  std::uint64_t length() const { return state_.size(); }
  base::Result<Complex64> amplitude(std::uint64_t i) const;
  base::Status check_qubit(std::uint64_t q) const;

  std::span<const Complex64> amplitudes() const { return state_.span(); }
  std::span<Complex64> mutable_amplitudes() { return state_.span(); }
  random::ChaChaGenerator& rng() { return rng_; }

  // One-qubit gates. h x y sx sxdg rx ry compute into a second vector that replaces the first;
  // the others work in place.
  base::Status h(std::uint64_t q);
  base::Status x(std::uint64_t q);
  base::Status y(std::uint64_t q);
  base::Status z(std::uint64_t q);
  base::Status s(std::uint64_t q);
  base::Status sdg(std::uint64_t q);
  base::Status t(std::uint64_t q);
  base::Status tdg(std::uint64_t q);
  base::Status sx(std::uint64_t q);
  base::Status sxdg(std::uint64_t q);
  base::Status rx(std::uint64_t q, double theta);
  base::Status ry(std::uint64_t q, double theta);
  base::Status rz(std::uint64_t q, double theta);

  // Multi-qubit gates. cy copies; the others work in place.
  base::Status cx(std::uint64_t control, std::uint64_t target);
  base::Status cy(std::uint64_t control, std::uint64_t target);
  base::Status cz(std::uint64_t control, std::uint64_t target);
  base::Status cp(std::uint64_t control, std::uint64_t target, double theta);
  base::Status swap(std::uint64_t q1, std::uint64_t q2);
  base::Status ccx(std::uint64_t c1, std::uint64_t c2, std::uint64_t t);
  base::Status cswap(std::uint64_t c, std::uint64_t t1, std::uint64_t t2);

  // The same five gates from the kernel library, in place. Every index must be below n_qubits
  // ("qubit index out of range" for the first one that is not); cswap_cpp differs from cswap
  // when indices coincide.
  base::Status h_cpp(std::uint64_t q);
  base::Status x_cpp(std::uint64_t q);
  base::Status cx_cpp(std::uint64_t c, std::uint64_t t);
  base::Status ccx_cpp(std::uint64_t c1, std::uint64_t c2, std::uint64_t t);
  base::Status cswap_cpp(std::uint64_t c, std::uint64_t t1, std::uint64_t t2);

 private:
  Register(base::Block<Complex64> state, random::ChaChaGenerator rng, std::uint64_t n_qubits)
      : use_(state.size() * sizeof(Complex64)),
        state_(std::move(state)),
        rng_(rng),
        n_qubits_(n_qubits) {}

  base::VectorUse use_;  // keeps a spare of this register's size while the register lives
  base::Block<Complex64> state_;
  random::ChaChaGenerator rng_;
  std::uint64_t n_qubits_;
};

}  // namespace amplion::engine
