// StateVecPy: constructor, the n_qubits attribute and the method table.
#include <cstdint>
#include <optional>

#include "binding/counts.h"
#include "binding/method.h"
#include "binding/numpy_export.h"
#include "engine/measure.h"
#include "engine/register.h"
#include "lib/gate_methods.h"
#include "lib/register_class.h"
#include "lib/types.h"

namespace amplion::lib {
namespace {

using binding::Borrow;
using binding::method_noargs;
using binding::method_row;
using binding::noargs_row;
using binding::ParamList;
using engine::Register;

constexpr char kCls[] = "StateVecPy";

inline constexpr ParamList kStateVecNew{kCls, "__new__", {"n_qubits", "seed"}, 2, 1};
inline constexpr ParamList kStateVecHCpp{kCls, "h_cpp", {"q"}, 1, 1};
inline constexpr ParamList kStateVecXCpp{kCls, "x_cpp", {"q"}, 1, 1};
inline constexpr ParamList kStateVecCxCpp{kCls, "cx_cpp", {"c", "t"}, 2, 2};
inline constexpr ParamList kStateVecCcxCpp{kCls, "ccx_cpp", {"c1", "c2", "t"}, 3, 3};
inline constexpr ParamList kStateVecCswapCpp{kCls, "cswap_cpp", {"c", "t1", "t2"}, 3, 3};
inline constexpr ParamList kStateVecAmplitude{kCls, "amplitude", {"i"}, 1, 1};
inline constexpr ParamList kStateVecAmplitudes{kCls, "amplitudes", {}, 0, 0};
inline constexpr ParamList kStateVecStatevector{kCls, "statevector", {}, 0, 0};
inline constexpr ParamList kStateVecLength{kCls, "length", {}, 0, 0};
#define AMPLION_STATEVEC_PARAMS(Kind, name, params, circuit_params, doc, ...) \
  AMPLION_GATE_PARAM_LIST(kStateVec##Kind, kCls, name, params)
AMPLION_GATES(AMPLION_STATEVEC_PARAMS)
#undef AMPLION_STATEVEC_PARAMS
inline constexpr ParamList kStateVecMeasureCounts{kCls, "measure_counts", {"shots", "seed"}, 2, 1};
inline constexpr ParamList kStateVecCheckQubit{kCls, "check_qubit", {"q"}, 1, 1};

PyObject* statevec_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept {
  return binding::guarded([&]() -> PyObject* {
    binding::ArgRefs slots;
    if (!binding::parse(kStateVecNew, args, kwargs, slots)) return nullptr;
    std::uint64_t n_qubits = 0;
    std::optional<std::uint64_t> seed;
    if (!binding::to_index(slots[0], "n_qubits", n_qubits) ||
        !binding::to_seed(slots[1], "seed", seed)) {
      return nullptr;
    }
    auto reg = Register::create(n_qubits, seed);
    if (!reg.ok()) return binding::raise(reg.error());
    return binding::new_instance(subtype, std::move(reg.value()));
  });
}

PyObject* amplitude(Register& reg, std::uint64_t i) {
  auto a = reg.amplitude(i);
  if (!a.ok()) return binding::raise(a.error());
  return Py_BuildValue("(dd)", a.value().re, a.value().im);
}

// A copy of the whole vector, made while the shared borrow is held.
PyObject* amplitudes(Register& reg) { return binding::export_array(reg.amplitudes()); }

PyObject* measure_counts(Register& reg, std::uint64_t shots, std::optional<std::uint64_t> seed) {
  auto counts = engine::measure_counts(reg, shots, seed);
  if (!counts.ok()) return binding::raise(counts.error());
  return binding::counts_dict(counts.value(), reg.n_qubits());
}

PyObject* length(Register& reg) { return binding::from_u64(reg.length()); }

PyObject* n_qubits(Register& reg) { return binding::from_u64(reg.n_qubits()); }

PyObject* get_n_qubits(PyObject* self, void*) noexcept {
  return method_noargs<&n_qubits, Borrow::kShared>(self, nullptr);
}

PyMethodDef kMethods[] = {
    method_row<&Register::h_cpp, kStateVecHCpp, Borrow::kExclusive>(),
    method_row<&Register::x_cpp, kStateVecXCpp, Borrow::kExclusive>(),
    method_row<&Register::cx_cpp, kStateVecCxCpp, Borrow::kExclusive>(),
    method_row<&Register::ccx_cpp, kStateVecCcxCpp, Borrow::kExclusive>(),
    method_row<&Register::cswap_cpp, kStateVecCswapCpp, Borrow::kExclusive>(),
    method_row<&amplitude, kStateVecAmplitude, Borrow::kShared>(),
    noargs_row<&amplitudes, kStateVecAmplitudes, Borrow::kShared>(),
    noargs_row<&amplitudes, kStateVecStatevector, Borrow::kShared>(),
    noargs_row<&length, kStateVecLength, Borrow::kShared>(),
#define AMPLION_STATEVEC_GATE(Kind, name, params, circuit_params, doc, ...) \
  AMPLION_GATE_METHOD_DEF(&Register::name, kStateVec##Kind, name, params, doc)
    AMPLION_GATES(AMPLION_STATEVEC_GATE)
#undef AMPLION_STATEVEC_GATE
    method_row<&measure_counts, kStateVecMeasureCounts, Borrow::kExclusive>(),
    method_row<&Register::check_qubit, kStateVecCheckQubit, Borrow::kShared>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kGetSet[] = {
    {"n_qubits", &get_n_qubits, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(binding::kTextSignature<kStateVecNew>.data())},
    {Py_tp_new, reinterpret_cast<void*>(&statevec_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&binding::dealloc_instance<Register>)},
    {Py_tp_methods, kMethods},
    {Py_tp_getset, kGetSet},
    {0, nullptr},
};

PyType_Spec kSpec = {
    .name = "builtins.StateVecPy",
    .basicsize = static_cast<int>(sizeof(binding::Instance<Register>)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = kSlots,
};

}  // namespace

PyTypeObject* statevec_type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) type = binding::create_type(&kSpec, kCls);
  return type;
}

}  // namespace amplion::lib
