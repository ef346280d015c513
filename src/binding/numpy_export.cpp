// The NumPy array export: locating the array API table through its capsule, once per process,
// and copying amplitudes into arrays that NumPy allocates and owns.
#include "binding/numpy_export.h"

#include <cstddef>
#include <cstring>
#include <string>

#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/ref.h"
#include "base/errors.h"
#include "base/memory.h"

namespace amplion::binding {
namespace {

// Entries of NumPy's published C array API table (stable across NumPy 1 and 2) and its type
// number of complex double.
constexpr std::size_t kArrayTypeEntry = 2;
constexpr std::size_t kDescrFromTypeEntry = 45;
constexpr std::size_t kNewFromDescrEntry = 94;
constexpr int kComplexDoubleTypeNum = 15;

using npy_intp = Py_ssize_t;
using DescrFromTypeFn = PyObject* (*)(int type_num);
using NewFromDescrFn = PyObject* (*)(PyTypeObject* subtype, PyObject* descr, int nd,
                                     npy_intp* dims, npy_intp* strides, void* data, int flags,
                                     PyObject* base);

// Every ndarray starts with the object header followed by its data pointer.
struct ArrayHead {
  PyObject ob_base;
  char* data;
};

constexpr char kCoreModule1[] = "numpy.core";
constexpr char kCoreModule2[] = "numpy._core";
constexpr char kMultiarrayModule1[] = "numpy.core.multiarray";
constexpr char kMultiarrayModule2[] = "numpy._core.multiarray";

// Process-wide cells, filled at most once with the interpreter lock held and never reset (not
// even when NumPy is reloaded). A computation that fails leaves its cell empty, so the next
// export tries again. Imports may let another thread fill a cell meanwhile; its value then wins.
const char* g_core_module = nullptr;
const char* g_multiarray_module = nullptr;
void** g_array_api = nullptr;

// str(obj), or an empty string when that fails (its error is cleared).
std::string text_of(PyObject* obj) {
  Ref text(PyObject_Str(obj));
  Ref bytes(text ? PyUnicode_AsUTF8String(text.get()) : nullptr);
  const char* utf8 = bytes ? PyBytes_AsString(bytes.get()) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return {};
  }
  return utf8;
}

// "<exception class>: <message>" of the pending Python error, which it clears.
std::string take_error_description() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return "no Python error was set";
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref owned_type(type);
  Ref owned_value(value);
  Ref owned_traceback(traceback);
  Ref qualname(PyObject_GetAttrString(type, "__qualname__"));
  std::string name = qualname ? text_of(qualname.get()) : std::string();
  if (!qualname) PyErr_Clear();
  if (name.empty()) name = "unknown error";
  const std::string message = value != nullptr ? text_of(value) : std::string();
  return message.empty() ? name : name + ": " + message;
}

[[noreturn]] void capsule_fault() {
  base::fault(std::string(kCapsuleFaultPrefix) + ": " + take_error_description());
}

[[noreturn]] void api_call_fault() {
  if (PyErr_Occurred() != nullptr) PyErr_Print();
  base::fault(kApiCallFault);
}

// NumPy's major version as an unsigned 8-bit integer: 256 and above are an OverflowError, never
// a wrap to a small version.
bool major_as_u8(PyObject* major, std::uint8_t& out) {
  Ref index(PyNumber_Index(major));
  if (!index) return false;
  const long v = PyLong_AsLong(index.get());
  if (v == -1 && PyErr_Occurred() != nullptr) return false;
  if (v < 0 || v > 255) {
    PyErr_Format(PyExc_OverflowError, "NumPy major version %ld does not fit in 8 bits", v);
    return false;
  }
  out = static_cast<std::uint8_t>(v);
  return true;
}

// "numpy._core" for NumPy 2 and later, "numpy.core" before; nullptr with a Python error set.
const char* core_module() {
  if (g_core_module != nullptr) return g_core_module;
  Ref numpy(PyImport_ImportModule("numpy"));
  if (!numpy) return nullptr;
  Ref version(PyObject_GetAttrString(numpy.get(), "__version__"));
  if (!version) return nullptr;
  Ref lib(PyImport_ImportModule("numpy.lib"));
  if (!lib) return nullptr;
  Ref numpy_version(PyObject_GetAttrString(lib.get(), "NumpyVersion"));
  if (!numpy_version) return nullptr;
  Ref parsed(PyObject_CallFunctionObjArgs(numpy_version.get(), version.get(), nullptr));
  if (!parsed) return nullptr;
  Ref major(PyObject_GetAttrString(parsed.get(), "major"));
  if (!major) return nullptr;
  std::uint8_t major_u8 = 0;
  if (!major_as_u8(major.get(), major_u8)) return nullptr;
  if (g_core_module == nullptr) g_core_module = major_u8 >= 2 ? kCoreModule2 : kCoreModule1;
  return g_core_module;
}

// The core module followed by ".multiarray"; nullptr with a Python error set.
const char* multiarray_module() {
  if (g_multiarray_module != nullptr) return g_multiarray_module;
  const char* core = core_module();
  if (core == nullptr) return nullptr;
  if (g_multiarray_module == nullptr) {
    g_multiarray_module = core == kCoreModule2 ? kMultiarrayModule2 : kMultiarrayModule1;
  }
  return g_multiarray_module;
}

// The table behind the multiarray module's _ARRAY_API capsule; nullptr with a Python error set.
void** array_api() {
  if (g_array_api != nullptr) return g_array_api;
  const char* name = multiarray_module();
  if (name == nullptr) return nullptr;
  Ref module(PyImport_ImportModule(name));
  if (!module) return nullptr;
  Ref capsule(PyObject_GetAttrString(module.get(), "_ARRAY_API"));
  if (!capsule) return nullptr;
  if (!PyObject_TypeCheck(capsule.get(), &PyCapsule_Type)) {
    Ref qualname(type_qualname(capsule.get()));
    if (!qualname) return nullptr;
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to 'PyCapsule'",
                 qualname.get());
    return nullptr;
  }
  // NumPy 1 leaves the capsule unnamed: a null name without an error is the normal case.
  const char* capsule_name = PyCapsule_GetName(capsule.get());
  if (capsule_name == nullptr) PyErr_Clear();
  void* table = PyCapsule_GetPointer(capsule.get(), capsule_name);
  if (table == nullptr) {
    // A null table would be dereferenced by every export: report it and cache nothing.
    PyErr_Clear();
    PyErr_SetString(PyExc_ValueError, "the _ARRAY_API capsule holds no pointer");
    return nullptr;
  }
  if (g_array_api == nullptr) g_array_api = static_cast<void**>(table);
  return g_array_api;
}

}  // namespace

PyObject* export_array(const math_core::Complex64* data, std::uint64_t count,
                       std::uint64_t stride) {
  constexpr std::uint64_t kItemBytes = sizeof(math_core::Complex64);
  void** api = array_api();
  if (api == nullptr) capsule_fault();
  if (count > static_cast<std::uint64_t>(PY_SSIZE_T_MAX) / kItemBytes ||
      stride > static_cast<std::uint64_t>(PY_SSIZE_T_MAX) / kItemBytes) {
    PyErr_SetString(PyExc_OverflowError, "vector too long for a NumPy array");
    api_call_fault();
  }
  // NumPy would be granted a block the machine cannot back; refuse it as the register would,
  // after giving back the spare vector if that makes room.
  if (!base::room_for(count * kItemBytes)) {
    return raise(base::memory_error(count * kItemBytes,
                                      "an array of " + std::to_string(count) + " amplitudes"));
  }
  auto* array_type = static_cast<PyTypeObject*>(api[kArrayTypeEntry]);
  auto descr_from_type = reinterpret_cast<DescrFromTypeFn>(api[kDescrFromTypeEntry]);
  auto new_from_descr = reinterpret_cast<NewFromDescrFn>(api[kNewFromDescrEntry]);

  PyObject* descr = descr_from_type(kComplexDoubleTypeNum);
  if (descr == nullptr) api_call_fault();
  npy_intp dims[1] = {static_cast<npy_intp>(count)};
  const bool contiguous = stride == 1 || count < 2;
  npy_intp strides[1] = {static_cast<npy_intp>(stride * kItemBytes)};
  // Array creation takes over the descriptor's reference, also when it fails.
  Ref array(new_from_descr(array_type, descr, 1, dims, contiguous ? strides : nullptr, nullptr,
                           0, nullptr));
  if (!array) api_call_fault();

  char* dest = reinterpret_cast<ArrayHead*>(array.get())->data;
  if (contiguous) {
    if (count > 0) std::memcpy(dest, data, count * kItemBytes);
  } else {
    for (std::uint64_t k = 0; k < count; ++k) {
      std::memcpy(dest + k * kItemBytes, data + k * stride, kItemBytes);
    }
  }
  return array.release();
}

}  // namespace amplion::binding
