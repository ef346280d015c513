// QuantumCircuit: constructor and the method table: twenty recording methods, then run,
// statevector and apply_gates.
#include <cstdint>
#include <optional>

#include "binding/counts.h"
#include "binding/method.h"
#include "binding/numpy_export.h"
#include "circuit/circuit.h"
#include "engine/register.h"
#include "lib/register_class.h"
#include "lib/types.h"

namespace amplion::lib {
namespace {

using binding::Borrow;
using binding::method;
using binding::method_def;
using binding::noargs_def;
using binding::ParamList;
using circuit::Circuit;
using engine::Register;

constexpr char kCls[] = "QuantumCircuit";

inline constexpr ParamList kCircuitNew{kCls, "__new__", {"n_qubits"}, 1, 1};
inline constexpr ParamList kCircuitX{kCls, "x", {"q"}, 1, 1};
inline constexpr ParamList kCircuitY{kCls, "y", {"q"}, 1, 1};
inline constexpr ParamList kCircuitZ{kCls, "z", {"q"}, 1, 1};
inline constexpr ParamList kCircuitH{kCls, "h", {"q"}, 1, 1};
inline constexpr ParamList kCircuitS{kCls, "s", {"q"}, 1, 1};
inline constexpr ParamList kCircuitSdg{kCls, "sdg", {"q"}, 1, 1};
inline constexpr ParamList kCircuitT{kCls, "t", {"q"}, 1, 1};
inline constexpr ParamList kCircuitTdg{kCls, "tdg", {"q"}, 1, 1};
inline constexpr ParamList kCircuitSx{kCls, "sx", {"q"}, 1, 1};
inline constexpr ParamList kCircuitSxdg{kCls, "sxdg", {"q"}, 1, 1};
inline constexpr ParamList kCircuitRx{kCls, "rx", {"q", "theta"}, 2, 2};
inline constexpr ParamList kCircuitRy{kCls, "ry", {"q", "theta"}, 2, 2};
inline constexpr ParamList kCircuitRz{kCls, "rz", {"q", "theta"}, 2, 2};
inline constexpr ParamList kCircuitCx{kCls, "cx", {"c", "t"}, 2, 2};
inline constexpr ParamList kCircuitSwap{kCls, "swap", {"q1", "q2"}, 2, 2};
inline constexpr ParamList kCircuitCy{kCls, "cy", {"c", "t"}, 2, 2};
inline constexpr ParamList kCircuitCz{kCls, "cz", {"c", "t"}, 2, 2};
inline constexpr ParamList kCircuitCcx{kCls, "ccx", {"c1", "c2", "t"}, 3, 3};
inline constexpr ParamList kCircuitCswap{kCls, "cswap", {"c", "t1", "t2"}, 3, 3};
inline constexpr ParamList kCircuitCp{kCls, "cp", {"c", "t", "theta"}, 3, 3};
inline constexpr ParamList kCircuitRun{kCls, "run", {"shots", "seed"}, 2, 1};
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

template <auto Op, const ParamList& Params>
PyMethodDef recording(const char* name, const char* doc) {
  return method_def<method<Op, Params, Borrow::kExclusive>>(name, doc);
}

PyMethodDef kMethods[] = {
    recording<&Circuit::x, kCircuitX>("x", "x($self, q)\n--\n\n"),
    recording<&Circuit::y, kCircuitY>("y", "y($self, q)\n--\n\n"),
    recording<&Circuit::z, kCircuitZ>("z", "z($self, q)\n--\n\n"),
    recording<&Circuit::h, kCircuitH>("h", "h($self, q)\n--\n\n"),
    recording<&Circuit::s, kCircuitS>("s", "s($self, q)\n--\n\n"),
    recording<&Circuit::sdg, kCircuitSdg>("sdg", "sdg($self, q)\n--\n\n"),
    recording<&Circuit::t, kCircuitT>("t", "t($self, q)\n--\n\n"),
    recording<&Circuit::tdg, kCircuitTdg>("tdg", "tdg($self, q)\n--\n\n"),
    recording<&Circuit::sx, kCircuitSx>("sx", "sx($self, q)\n--\n\n"),
    recording<&Circuit::sxdg, kCircuitSxdg>("sxdg", "sxdg($self, q)\n--\n\n"),
    recording<&Circuit::rx, kCircuitRx>("rx", "rx($self, q, theta)\n--\n\n"),
    recording<&Circuit::ry, kCircuitRy>("ry", "ry($self, q, theta)\n--\n\n"),
    recording<&Circuit::rz, kCircuitRz>("rz", "rz($self, q, theta)\n--\n\n"),
    recording<&Circuit::cx, kCircuitCx>("cx", "cx($self, c, t)\n--\n\n"),
    recording<&Circuit::swap, kCircuitSwap>("swap", "swap($self, q1, q2)\n--\n\n"),
    recording<&Circuit::cy, kCircuitCy>("cy", "cy($self, c, t)\n--\n\n"),
    recording<&Circuit::cz, kCircuitCz>("cz", "cz($self, c, t)\n--\n\n"),
    recording<&Circuit::ccx, kCircuitCcx>("ccx", "ccx($self, c1, c2, t)\n--\n\n"),
    recording<&Circuit::cswap, kCircuitCswap>("cswap", "cswap($self, c, t1, t2)\n--\n\n"),
    recording<&Circuit::cp, kCircuitCp>("cp", "cp($self, c, t, theta)\n--\n\n"),
    method_def<method<&run, kCircuitRun, Borrow::kShared>>(
        "run", "run($self, shots, seed=None)\n--\n\n"),
    noargs_def<&statevector, Borrow::kShared>("statevector", "statevector($self)\n--\n\n"),
    method_def<method<&apply_gates, kCircuitApplyGates, Borrow::kShared>>(
        "apply_gates", "apply_gates($self, sv)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("QuantumCircuit(n_qubits)\n--\n\n")},
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
