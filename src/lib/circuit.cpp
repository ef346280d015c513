// QuantumCircuit: constructor and the method table: twenty recording methods, then run,
// statevector and apply_gates.
#include <cstdint>
#include <optional>

#include "binding/counts.h"
#include "binding/method.h"
#include "binding/numpy_export.h"
#include "circuit/circuit.h"
#include "engine/register.h"
#include "lib/gate_methods.h"
#include "lib/register_class.h"
#include "lib/types.h"

namespace amplion::lib {
namespace {

using binding::Borrow;
using binding::method_row;
using binding::noargs_row;
using binding::ParamList;
using circuit::Circuit;
using engine::Register;

constexpr char kCls[] = "QuantumCircuit";

inline constexpr ParamList kCircuitNew{kCls, "__new__", {"n_qubits"}, 1, 1};
#define AMPLION_CIRCUIT_PARAMS(Kind, name, register_params, params, register_doc, doc) \
  AMPLION_GATE_PARAM_LIST(kCircuit##Kind, kCls, name, params)
AMPLION_GATES(AMPLION_CIRCUIT_PARAMS)
#undef AMPLION_CIRCUIT_PARAMS
inline constexpr ParamList kCircuitRun{kCls, "run", {"shots", "seed"}, 2, 1};
inline constexpr ParamList kCircuitStatevector{kCls, "statevector", {}, 0, 0};
inline constexpr ParamList kCircuitApplyGates{kCls, "apply_gates", {"sv"}, 1, 1};

PyObject* circuit_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept {
  return binding::guarded([&]() -> PyObject* {
    binding::ArgRefs slots;
    if (!binding::parse(kCircuitNew, args, kwargs, slots)) return nullptr;
    std::uint64_t n_qubits = 0;
    if (!binding::to_index(slots[0], "n_qubits", n_qubits)) return nullptr;
    return binding::new_instance(subtype, Circuit(n_qubits));
  });
}

// Replays onto the caller's register, which keeps the gates before a failing one.
PyObject* apply_gates(Circuit& circuit, binding::Borrowed<Register>& sv) {
  return binding::none_or_raise(circuit.replay(*sv.payload));
}

// The dict is built while the circuit's shared borrow is held, like every result.
PyObject* run(Circuit& circuit, std::uint64_t shots, std::optional<std::uint64_t> seed) {
  auto counts = circuit.run(shots, seed);
  if (!counts.ok()) return binding::raise(counts.error());
  return binding::counts_dict(counts.value(), circuit.n_qubits());
}

// Exports straight from the fresh register: the register and the array are the peak.
PyObject* statevector(Circuit& circuit) {
  auto reg = circuit.build(std::nullopt);
  if (!reg.ok()) return binding::raise(reg.error());
  return binding::export_array(reg.value().amplitudes());
}

PyMethodDef kMethods[] = {
#define AMPLION_CIRCUIT_GATE(Kind, name, register_params, params, register_doc, doc) \
  AMPLION_GATE_METHOD_DEF(&Circuit::name, kCircuit##Kind, name, params, doc)
    AMPLION_GATES(AMPLION_CIRCUIT_GATE)
#undef AMPLION_CIRCUIT_GATE
    method_row<&run, kCircuitRun, Borrow::kShared>(),
    noargs_row<&statevector, kCircuitStatevector, Borrow::kShared>(),
    method_row<&apply_gates, kCircuitApplyGates, Borrow::kShared>(),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(binding::kTextSignature<kCircuitNew>.data())},
    {Py_tp_new, reinterpret_cast<void*>(&circuit_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&binding::dealloc_instance<Circuit>)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = {
    .name = "builtins.QuantumCircuit",
    .basicsize = static_cast<int>(sizeof(binding::Instance<Circuit>)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = kSlots,
};

}  // namespace

PyTypeObject* circuit_type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) type = binding::create_type(&kSpec, kCls);
  return type;
}

}  // namespace amplion::lib
