// Recording growth and replay of a circuit onto a register.
#include "circuit/circuit.h"

#include <algorithm>
#include <string>
#include <utility>

#include "engine/interrupt.h"

namespace amplion::circuit {
namespace {

constexpr std::size_t kFirstCapacity = 4;

// The register operation of the gate's kind, with that operation's own checks and messages.
engine::Status apply(const Gate& g, engine::Register& reg) {
  const auto& q = g.qubits;
  switch (g.kind) {
    case GateKind::kX:
      return reg.x(q[0]);
    case GateKind::kY:
      return reg.y(q[0]);
    case GateKind::kZ:
      return reg.z(q[0]);
    case GateKind::kH:
      return reg.h(q[0]);
    case GateKind::kS:
      return reg.s(q[0]);
    case GateKind::kSdg:
      return reg.sdg(q[0]);
    case GateKind::kT:
      return reg.t(q[0]);
    case GateKind::kTdg:
      return reg.tdg(q[0]);
    case GateKind::kSX:
      return reg.sx(q[0]);
    case GateKind::kSXdg:
      return reg.sxdg(q[0]);
    case GateKind::kRX:
      return reg.rx(q[0], g.theta);
    case GateKind::kRY:
      return reg.ry(q[0], g.theta);
    case GateKind::kRZ:
      return reg.rz(q[0], g.theta);
    case GateKind::kCX:
      return reg.cx(q[0], q[1]);
    case GateKind::kSwap:
      return reg.swap(q[0], q[1]);
    case GateKind::kCY:
      return reg.cy(q[0], q[1]);
    case GateKind::kCZ:
      return reg.cz(q[0], q[1]);
    case GateKind::kCCX:
      return reg.ccx(q[0], q[1], q[2]);
    case GateKind::kCSwap:
      return reg.cswap(q[0], q[1], q[2]);
    case GateKind::kCP:
      return reg.cp(q[0], q[1], g.theta);
  }
  fault("recorded gate of unknown kind " + std::to_string(static_cast<int>(g.kind)));
}

}  // namespace

engine::Status Circuit::record(const Gate& gate) {
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
engine::Status Circuit::replay(engine::Register& reg) const {
  std::uint64_t walked = 0;
  for (const Gate& g : gates_) {
    if (walked >= engine::kCheckedChunk) {
      walked = 0;
      if (engine::interrupt_requested()) return engine::interrupted();
    }
    if (engine::Status st = apply(g, reg); !st.ok()) return st;
    walked += reg.length();
  }
  return {};
}

engine::Result<engine::Register> Circuit::build(std::optional<std::uint64_t> seed) const {
  auto reg = engine::Register::create(n_qubits_, seed);
  if (!reg.ok()) return reg.error();
  if (engine::Status st = replay(reg.value()); !st.ok()) return st.error();
  return std::move(reg.value());
}

engine::Result<engine::Counts> Circuit::run(std::uint64_t shots,
                                            std::optional<std::uint64_t> seed) const {
  auto reg = build(seed);
  if (!reg.ok()) return reg.error();
  return engine::measure_counts(reg.value(), shots, seed);
}

}  // namespace amplion::circuit
