// Recording growth and replay of a circuit onto a register.
#include "circuit/circuit.h"

#include <algorithm>
#include <string>
#include <type_traits>
#include <utility>

#include "base/interrupt.h"

namespace amplion::circuit {
namespace {

constexpr std::size_t kFirstCapacity = 4;

// Calls Op with the operands make_gate stored, in parameter order; an angle comes last.
template <auto Op>
base::Status apply_as(const Gate& g, engine::Register& reg) {
  using Types = typename GateOperands<decltype(Op)>::Types;
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    return (reg.*Op)(operand<std::tuple_element_t<I, Types>>(g, I)...);
  }(std::make_index_sequence<std::tuple_size_v<Types>>{});
}

// The register operation of the gate's kind, with that operation's own checks and messages.
base::Status apply(const Gate& g, engine::Register& reg) {
  switch (g.kind) {
#define AMPLION_GATE_APPLY(Kind, name, ...) \
  case GateKind::k##Kind:                    \
    return apply_as<&engine::Register::name>(g, reg);
    AMPLION_GATES(AMPLION_GATE_APPLY)
#undef AMPLION_GATE_APPLY
  }
  base::fault("recorded gate of unknown kind " + std::to_string(static_cast<int>(g.kind)));
}

}  // namespace

base::Status Circuit::record(const Gate& gate) {
  if (gates_.size() == gates_.capacity()) {
    gates_.reserve(std::max(2 * gates_.capacity(), kFirstCapacity));
  }
  gates_.push_back(gate);
  return {};
}

// Between two gates the register is consistent, so that is where an interrupt may stop the
// replay; the gates before it stay applied, as before any other failing gate. The check is asked
// once the gates since the last one have passed over kCheckedChunk amplitudes: before every gate
// on large registers, and on small ones seldom enough that its cost is not seen next to theirs.
base::Status Circuit::replay(engine::Register& reg) const {
  std::uint64_t walked = 0;
  for (const Gate& g : gates_) {
    if (walked >= base::kCheckedChunk) {
      walked = 0;
      if (base::interrupt_requested()) return base::interrupted();
    }
    if (base::Status st = apply(g, reg); !st.ok()) return st;
    walked += reg.length();
  }
  return {};
}

base::Result<engine::Register> Circuit::build(std::optional<std::uint64_t> seed) const {
  auto reg = engine::Register::create(n_qubits_, seed);
  if (!reg.ok()) return reg.error();
  if (base::Status st = replay(reg.value()); !st.ok()) return st.error();
  return std::move(reg.value());
}

base::Result<engine::Counts> Circuit::run(std::uint64_t shots,
                                            std::optional<std::uint64_t> seed) const {
  auto reg = build(seed);
  if (!reg.ok()) return reg.error();
  return engine::measure_counts(reg.value(), shots, seed);
}

}  // namespace amplion::circuit
