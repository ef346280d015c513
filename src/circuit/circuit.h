// QuantumCircuit's payload: recorded gates and the qubit count of the registers it builds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/errors.h"
#include "engine/measure.h"
#include "engine/register.h"

namespace amplion::circuit {

// The numbers are fixed: one per recording method, in the order of the method table.
enum class GateKind : std::uint8_t {
  kX = 0,
  kY = 1,
  kZ = 2,
  kH = 3,
  kS = 4,
  kSdg = 5,
  kT = 6,
  kTdg = 7,
  kSX = 8,
  kSXdg = 9,
  kRX = 10,
  kRY = 11,
  kRZ = 12,
  kCX = 13,
  kSwap = 14,
  kCY = 15,
  kCZ = 16,
  kCCX = 17,
  kCSwap = 18,
  kCP = 19,
};

inline constexpr std::size_t kGateKindCount = 20;

// One recorded gate: its qubit operands in the recording method's parameter order (unused ones
// zero) and its angle (zero for gates without one). Stored exactly as given, never checked.
struct Gate {
  GateKind kind;
  std::array<std::uint64_t, 3> qubits;
  double theta;
};

class Circuit {
 public:
  // Stored unchecked: the range is checked only when a register is built from it.
  explicit Circuit(std::uint64_t n_qubits) : n_qubits_(n_qubits) {}

  std::uint64_t n_qubits() const { return n_qubits_; }
  std::span<const Gate> gates() const { return gates_; }
  std::size_t capacity() const { return gates_.capacity(); }

  // Recording appends one gate and never validates: any index, repeated indices, any angle
  // (NaN and infinities included). It cannot fail short of memory exhaustion (std::bad_alloc);
  // the Status is always ok.
  engine::Status x(std::uint64_t q) { return record({GateKind::kX, {q, 0, 0}, 0.0}); }
  engine::Status y(std::uint64_t q) { return record({GateKind::kY, {q, 0, 0}, 0.0}); }
  engine::Status z(std::uint64_t q) { return record({GateKind::kZ, {q, 0, 0}, 0.0}); }
  engine::Status h(std::uint64_t q) { return record({GateKind::kH, {q, 0, 0}, 0.0}); }
  engine::Status s(std::uint64_t q) { return record({GateKind::kS, {q, 0, 0}, 0.0}); }
  engine::Status sdg(std::uint64_t q) { return record({GateKind::kSdg, {q, 0, 0}, 0.0}); }
  engine::Status t(std::uint64_t q) { return record({GateKind::kT, {q, 0, 0}, 0.0}); }
  engine::Status tdg(std::uint64_t q) { return record({GateKind::kTdg, {q, 0, 0}, 0.0}); }
  engine::Status sx(std::uint64_t q) { return record({GateKind::kSX, {q, 0, 0}, 0.0}); }
  engine::Status sxdg(std::uint64_t q) { return record({GateKind::kSXdg, {q, 0, 0}, 0.0}); }
  engine::Status rx(std::uint64_t q, double theta) {
    return record({GateKind::kRX, {q, 0, 0}, theta});
  }
  engine::Status ry(std::uint64_t q, double theta) {
    return record({GateKind::kRY, {q, 0, 0}, theta});
  }
  engine::Status rz(std::uint64_t q, double theta) {
    return record({GateKind::kRZ, {q, 0, 0}, theta});
  }
  engine::Status cx(std::uint64_t c, std::uint64_t t) {
    return record({GateKind::kCX, {c, t, 0}, 0.0});
  }
  engine::Status swap(std::uint64_t q1, std::uint64_t q2) {
    return record({GateKind::kSwap, {q1, q2, 0}, 0.0});
  }
  engine::Status cy(std::uint64_t c, std::uint64_t t) {
    return record({GateKind::kCY, {c, t, 0}, 0.0});
  }
  engine::Status cz(std::uint64_t c, std::uint64_t t) {
    return record({GateKind::kCZ, {c, t, 0}, 0.0});
  }
  engine::Status ccx(std::uint64_t c1, std::uint64_t c2, std::uint64_t t) {
    return record({GateKind::kCCX, {c1, c2, t}, 0.0});
  }
  engine::Status cswap(std::uint64_t c, std::uint64_t t1, std::uint64_t t2) {
    return record({GateKind::kCSwap, {c, t1, t2}, 0.0});
  }
  engine::Status cp(std::uint64_t c, std::uint64_t t, double theta) {
    return record({GateKind::kCP, {c, t, 0}, theta});
  }

  // Applies the gates to `reg` in recording order through the register's own operations, each
  // checking its indices against reg's qubit count (never against n_qubits()). Keeps partial
  // work by design: at the first failing gate it stops and returns that gate's error, with the
  // gates before it applied and the rest not. The interrupt check, asked between two gates once they
  // have passed over 2^20 amplitudes, stops it the same way (kInterrupted).
  engine::Status replay(engine::Register& reg) const;

  // A fresh register of n_qubits() qubits (seeded from `seed`, or from entropy without one) with
  // every gate replayed onto it. The qubit count is checked before any gate is looked at.
  engine::Result<engine::Register> build(std::optional<std::uint64_t> seed) const;

  // build(seed), then `shots` draws from it with the same seed again: exactly what a register
  // made with n_qubits() and `seed`, given the recorded gates and then measure_counts(shots,
  // seed), counts. The outcome keys are n_qubits() characters wide.
  engine::Result<engine::Counts> run(std::uint64_t shots, std::optional<std::uint64_t> seed) const;

 private:
  // Full array: the capacity becomes max(2 * capacity, 4), so the first append makes room for 4.
  engine::Status record(const Gate& gate);

  std::vector<Gate> gates_;
  std::uint64_t n_qubits_;
};

}  // namespace amplion::circuit
