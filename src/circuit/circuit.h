// QuantumCircuit's payload: recorded gates and the qubit count of the registers it builds.
#pragma once

#include <cstdint>

namespace amplion::circuit {

class Circuit {
 public:
  // Stored unchecked: the range is checked only when a register is built from it.
  explicit Circuit(std::uint64_t n_qubits) : n_qubits_(n_qubits) {}

  std::uint64_t n_qubits() const { return n_qubits_; }

 private:
  std::uint64_t n_qubits_;
};

}  // namespace amplion::circuit
