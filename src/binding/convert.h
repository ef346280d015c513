// Conversions of parameter slots to native values; each sets a Python exception on failure.
#pragma once

#include <cstdint>
#include <optional>

#include "binding/borrow.h"
#include "binding/python.h"

namespace amplion::binding {

// Non-negative int up to 2^64 - 1; an int (or subclass) is read directly, anything else through
// __index__.
bool to_index(PyObject* obj, const char* name, std::uint64_t& out);
// Empty slot or None: no seed; else to_index.
bool to_seed(PyObject* obj, const char* name, std::optional<std::uint64_t>& out);
// float, int, or anything with __float__ or __index__.
bool to_double(PyObject* obj, const char* name, double& out);
// An instance of `type` (or a subtype), then its exclusive borrow, held by `borrow`.
bool to_instance(PyObject* obj, const char* name, PyTypeObject* type, const char* type_name,
                 BorrowWord& (*word_of)(PyObject*), BorrowGuard& borrow);

// A new reference to a str: `obj` itself when it is one (its characters as they are, no __str__
// of a subclass runs), else str(obj). Messages format what this returns with %U, which must
// never see anything but a str. nullptr with an exception set when str() fails.
PyObject* as_text(PyObject* obj);

// The qualified name of obj's type as a str (new reference), or nullptr with an exception set.
// A metaclass can answer __qualname__ with any object; that object is shown through str().
PyObject* type_qualname(PyObject* obj);

PyObject* from_u64(std::uint64_t value);

}  // namespace amplion::binding
