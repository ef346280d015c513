// Argument conversions and the "argument 'x': " rewording of conversion TypeErrors.
#include "binding/convert.h"

#include <bit>

#include "binding/errors.h"
#include "binding/ref.h"

namespace amplion::binding {
namespace {

// Only an exception of exactly TypeError is reworded; its replacement keeps the caught
// exception's cause (not the caught exception itself). Returns false for `return fail(...)`.
bool fail(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type != PyExc_TypeError) {
    PyErr_Restore(type, value, traceback);
    return false;
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref owned_type(type);
  Ref owned_value(value);
  Ref owned_traceback(traceback);
  Ref text(value != nullptr ? PyObject_Str(value) : nullptr);
  if (!text) return false;
  Ref message(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  Ref replacement(message ? PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr)
                          : nullptr);
  if (replacement) {
    PyObject* cause = PyException_GetCause(value);  // new reference or null
    if (cause != nullptr) PyException_SetCause(replacement.get(), cause);  // steals cause
    PyErr_SetObject(PyExc_TypeError, replacement.get());
  }
  return false;
}

bool read_u64(PyObject* integer, std::uint64_t& out) {
  const unsigned long long v = PyLong_AsUnsignedLongLong(integer);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) return false;
  out = v;
  return true;
}

}  // namespace

bool to_index(PyObject* obj, const char* name, std::uint64_t& out) {
  if (PyLong_Check(obj)) {
    if (!read_u64(obj, out)) return fail(name);
    return true;
  }
  Ref index(PyNumber_Index(obj));
  if (!index) return fail(name);
  return read_u64(index.get(), out) ? true : fail(name);
}

bool to_seed(PyObject* obj, const char* name, std::optional<std::uint64_t>& out) {
  if (obj == nullptr || obj == Py_None) {
    out.reset();
    return true;
  }
  std::uint64_t seed = 0;
  if (!to_index(obj, name, seed)) return false;
  out = seed;
  return true;
}

bool to_double(PyObject* obj, const char* name, double& out) {
  const double v = PyFloat_AsDouble(obj);
  const bool maybe_error = std::bit_cast<std::uint64_t>(v) == std::bit_cast<std::uint64_t>(-1.0);
  if (maybe_error && PyErr_Occurred() != nullptr) return fail(name);
  out = v;
  return true;
}

bool to_instance(PyObject* obj, const char* name, PyTypeObject* type, const char* type_name,
                 BorrowWord& (*word_of)(PyObject*), BorrowGuard& borrow) {
  if (!PyObject_TypeCheck(obj, type)) {
    Ref qualname(type_qualname(obj));
    if (!qualname) return false;
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", qualname.get(),
                 type_name);
    return fail(name);
  }
  borrow = borrow_exclusive(word_of(obj));
  return static_cast<bool>(borrow);
}

PyObject* as_text(PyObject* obj) {
  if (PyUnicode_Check(obj)) {
    Py_INCREF(obj);
    return obj;
  }
  return PyObject_Str(obj);
}

PyObject* type_qualname(PyObject* obj) {
  Ref qualname(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
  if (!qualname) return nullptr;
  return as_text(qualname.get());
}

PyObject* from_u64(std::uint64_t value) {
  return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value));
}

}  // namespace amplion::binding
