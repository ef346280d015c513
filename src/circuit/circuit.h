// QuantumCircuit's payload: recorded gates and the qubit count of the registers it builds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <vector>

#include "base/errors.h"
#include "circuit/gate_table.h"
#include "engine/measure.h"
#include "engine/register.h"

namespace amplion::circuit {

// One kind per row of the gate table, numbered by row position.
enum class GateKind : std::uint8_t {
#define AMPLION_GATE_KIND(Kind, ...) k##Kind,
  AMPLION_GATES(AMPLION_GATE_KIND)
#undef AMPLION_GATE_KIND
};

#define AMPLION_GATE_ONE(...) +1
inline constexpr std::size_t kGateKindCount = 0 AMPLION_GATES(AMPLION_GATE_ONE);
#undef AMPLION_GATE_ONE

// One recorded gate: its qubit operands in the recording method's parameter order (unused ones
// zero) and its angle (zero for gates without one). Stored exactly as given, never checked.
struct Gate {
  GateKind kind;
  std::array<std::uint64_t, 3> qubits;
  double theta;
};

// The operand of type T at `position` of the gate operation's parameters, as make_gate stored
// it: the angle, which comes last, or the qubit at that position.
template <class T>
T operand(const Gate& g, std::size_t position) {
  if constexpr (std::is_same_v<T, double>) {
    return g.theta;
  } else {
    return g.qubits[position];
  }
}

// The operand types of a Register gate operation, which Gate must be able to hold: qubits
// first, at most three, then at most one angle.
template <class Op>
struct GateOperands;
template <class... Args>
struct GateOperands<base::Status (engine::Register::*)(Args...)> {
  using Types = std::tuple<Args...>;
  static constexpr std::size_t kAngles = (std::size_t{std::is_same_v<Args, double>} + ... + 0);
  static constexpr std::size_t kQubits =
      (std::size_t{std::is_same_v<Args, std::uint64_t>} + ... + 0);
  using Last = std::tuple_element_t<sizeof...(Args), std::tuple<void, Args...>>;
  static_assert(kQubits + kAngles == sizeof...(Args) && kQubits >= 1 && kQubits <= 3 &&
                    kAngles <= 1 && (kAngles == 0 || std::is_same_v<Last, double>),
                "a gate takes one to three qubits, then at most one angle");
};

template <auto Op, std::size_t I>
using OperandOf = std::tuple_element_t<I, typename GateOperands<decltype(Op)>::Types>;

// Qubit operands fill `qubits` in order, an angle goes to `theta`; the rest stays zero.
template <class... Operands>
Gate make_gate(GateKind kind, Operands... operands) {
  Gate gate{kind, {0, 0, 0}, 0.0};
  std::size_t next = 0;
  auto put = [&](auto operand) {
    if constexpr (std::is_same_v<decltype(operand), double>) {
      gate.theta = operand;
    } else {
      gate.qubits[next++] = operand;
    }
  };
  (put(operands), ...);
  return gate;
}

class Circuit {
 public:
  // Stored unchecked: the range is checked only when a register is built from it.
  explicit Circuit(std::uint64_t n_qubits) : n_qubits_(n_qubits) {}

  std::uint64_t n_qubits() const { return n_qubits_; }
  std::span<const Gate> gates() const { return gates_; }
  std::size_t capacity() const { return gates_.capacity(); }

  // Recording appends one gate and never validates: any index, repeated indices, any angle
  // (NaN and infinities included). It cannot fail short of memory exhaustion (std::bad_alloc);
  // the Status is always ok. One method per gate, named and typed like its Register operation,
  // with QuantumCircuit's parameter names.
#define AMPLION_GATE_RECORDER(Kind, name, register_params, params, ...)               \
  base::Status name(AMPLION_GATE_TYPED(&engine::Register::name, params)) {          \
    return record(make_gate(GateKind::k##Kind, AMPLION_GATE_UNPACK params));          \
  }
  AMPLION_GATES(AMPLION_GATE_RECORDER)
#undef AMPLION_GATE_RECORDER

  // Applies the gates to `reg` in recording order through the register's own operations, each
  // checking its indices against reg's qubit count (never against n_qubits()). Keeps partial
  // work by design: at the first failing gate it stops and returns that gate's error, with the
  // gates before it applied and the rest not. The interrupt check, asked between two gates once they
  // have passed over 2^20 amplitudes, stops it the same way (kInterrupted).
  base::Status replay(engine::Register& reg) const;

  // A fresh register of n_qubits() qubits (seeded from `seed`, or from entropy without one) with
  // every gate replayed onto it. The qubit count is checked before any gate is looked at.
  base::Result<engine::Register> build(std::optional<std::uint64_t> seed) const;

  // build(seed), then `shots` draws from it with the same seed again: exactly what a register
  // made with n_qubits() and `seed`, given the recorded gates and then measure_counts(shots,
  // seed), counts. The outcome keys are n_qubits() characters wide.
  base::Result<engine::Counts> run(std::uint64_t shots, std::optional<std::uint64_t> seed) const;

 private:
  // Full array: the capacity becomes max(2 * capacity, 4), so the first append makes room for 4.
  base::Status record(const Gate& gate);

  std::vector<Gate> gates_;
  std::uint64_t n_qubits_;
};

}  // namespace amplion::circuit
