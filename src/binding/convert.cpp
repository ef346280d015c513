// Argument conversions and the "argument 'x': " rewording of conversion TypeErrors.
#include "binding/convert.h"

#include <bit>

#include "binding/errors.h"

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
  PyObject* text = value != nullptr ? PyObject_Str(value) : nullptr;
  if (text == nullptr) {
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return false;
  }
  PyObject* message = PyUnicode_FromFormat("argument '%s': %U", name, text);
  Py_DECREF(text);
  PyObject* replacement =
      message != nullptr ? PyObject_CallFunctionObjArgs(PyExc_TypeError, message, nullptr)
                         : nullptr;
  Py_XDECREF(message);
  if (replacement != nullptr) {
    PyObject* cause = PyException_GetCause(value);  // new reference or null
    if (cause != nullptr) PyException_SetCause(replacement, cause);  // steals cause
    PyErr_SetObject(PyExc_TypeError, replacement);
    Py_DECREF(replacement);
  }
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
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
  PyObject* index = PyNumber_Index(obj);
  if (index == nullptr) return fail(name);
  const bool ok = read_u64(index, out);
  Py_DECREF(index);
  return ok ? true : fail(name);
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
    PyObject* qualname = type_qualname(obj);
    if (qualname == nullptr) return false;
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", qualname, type_name);
    Py_DECREF(qualname);
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
  PyObject* qualname =
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__");
  if (qualname == nullptr) return nullptr;
  PyObject* text = as_text(qualname);
  Py_DECREF(qualname);
  return text;
}

PyObject* from_u64(std::uint64_t value) {
  return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value));
}

}  // namespace amplion::binding
