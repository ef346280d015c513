// Construction and reads of the register.
#include "engine/register.h"

#include <cstring>
#include <string>

namespace amplion::engine {

using base::Block;
using base::Error;
using base::ErrorKind;
using base::Result;
using base::Status;

Result<Register> Register::create(std::uint64_t n_qubits, std::optional<std::uint64_t> seed) {
  if (n_qubits < kMinQubits || n_qubits > kMaxQubits) {
    return Error{ErrorKind::kValue, kQubitCountMessage};
  }
  const std::uint64_t length = std::uint64_t{1} << n_qubits;
  auto block = Block<Complex64>::allocate(length, std::to_string(n_qubits) + " qubits");
  if (!block.ok()) return block.error();
  Block<Complex64> state = std::move(block.value());
  std::memset(state.data(), 0, length * sizeof(Complex64));  // all-zero bits: positive zeros
  state[0] = Complex64{1.0, 0.0};
  auto rng = seed ? random::ChaChaGenerator::seed_from_u64(*seed)
                  : random::ChaChaGenerator::from_entropy();
  return Register(std::move(state), rng, n_qubits);
}

Result<Complex64> Register::amplitude(std::uint64_t i) const {
  if (i >= length()) return Error{ErrorKind::kIndex, kAmplitudeIndexMessage};
  return state_[i];
}

Status Register::check_qubit(std::uint64_t q) const {
  if (q >= n_qubits_) return Error{ErrorKind::kIndex, kQubitIndexMessage};
  return {};
}

}  // namespace amplion::engine
