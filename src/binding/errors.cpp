// Engine error kinds to Python exception classes, PanicException, and refused borrows.
#include "binding/errors.h"

#include "binding/fault.h"

namespace amplion::binding {
namespace {

// Dotted name of PanicException; the module part names no importable module on purpose, since
// the class is not an attribute of amplion.
constexpr char kPanicName[] = "amplion_runtime.PanicException";
constexpr char kPanicDoc[] =
    "The exception raised when amplion's native code panics.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.";

PyObject* exception_class(base::ErrorKind kind) {
  switch (kind) {
    case base::ErrorKind::kValue:
      return PyExc_ValueError;
    case base::ErrorKind::kIndex:
      return PyExc_IndexError;
    case base::ErrorKind::kMemory:
      return PyExc_MemoryError;
    case base::ErrorKind::kInterrupted:
      return nullptr;  // the signal handler's exception is already set
  }
  return PyExc_SystemError;
}

}  // namespace

PyObject* raise(const base::Error& error) {
  if (PyObject* type = exception_class(error.kind); type != nullptr) {
    PyErr_SetString(type, error.message.c_str());
  }
  return nullptr;
}

bool signal_handler_raised() { return PyErr_CheckSignals() != 0; }

PyObject* none_or_raise(const base::Status& status) {
  if (!status.ok()) return raise(status.error());
  Py_INCREF(Py_None);
  return Py_None;
}

PyObject* panic_exception_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(kPanicName, kPanicDoc, PyExc_BaseException, nullptr);
  }
  return type;
}

void raise_escaped(std::exception_ptr error) noexcept {
  const FaultReport report = describe_exception(error);
  if (report.kind == FaultReport::Kind::kMemory) {
    PyErr_SetString(PyExc_MemoryError, report.message.c_str());
    return;
  }
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // creating the class failed; that error stands
  PyErr_SetString(type, report.message.c_str());
}

BorrowGuard borrow_shared(BorrowWord& word) {
  BorrowGuard guard = BorrowGuard::shared(word);
  if (!guard) PyErr_SetString(PyExc_RuntimeError, kAlreadyMutablyBorrowed);
  return guard;
}

BorrowGuard borrow_exclusive(BorrowWord& word) {
  BorrowGuard guard = BorrowGuard::exclusive(word);
  if (!guard) PyErr_SetString(PyExc_RuntimeError, kAlreadyBorrowed);
  return guard;
}

}  // namespace amplion::binding
