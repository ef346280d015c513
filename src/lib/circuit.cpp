// QuantumCircuit: constructor and the method table.
#include <cstdint>

#include "binding/method.h"
#include "circuit/circuit.h"
#include "lib/types.h"

namespace amplion::lib {
namespace {

using binding::ParamList;
using circuit::Circuit;

constexpr char kCls[] = "QuantumCircuit";

inline constexpr ParamList kCircuitNew{kCls, "__new__", {"n_qubits"}, 1, 1};

PyObject* circuit_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept {
  return binding::guarded([&]() -> PyObject* {
    binding::Slots slots;
    if (!binding::parse(kCircuitNew, args, kwargs, slots)) return nullptr;
    std::uint64_t n_qubits = 0;
    if (!binding::to_index(slots[0], "n_qubits", n_qubits)) return nullptr;
    return binding::new_instance(subtype, Circuit(n_qubits));
  });
}

PyMethodDef kMethods[] = {
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
  if (type == nullptr) type = create_type(&kSpec, kCls);
  return type;
}

}  // namespace amplion::lib
