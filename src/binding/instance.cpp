// Heap types from their specs, with the failure reported under the class's name.
#include "binding/instance.h"

#include "binding/ref.h"

namespace amplion::binding {

PyTypeObject* create_type(PyType_Spec* spec, const char* class_name) {
  PyObject* type = PyType_FromSpec(spec);
  if (type != nullptr) return reinterpret_cast<PyTypeObject*>(type);
  PyObject* cause_type = nullptr;
  PyObject* cause = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&cause_type, &cause, &traceback);
  PyErr_NormalizeException(&cause_type, &cause, &traceback);
  Ref owned_cause_type(cause_type);
  Ref owned_cause(cause);
  Ref owned_traceback(traceback);
  PyErr_Format(PyExc_RuntimeError, "An error occurred while initializing class %s", class_name);
  if (owned_cause) {
    PyObject* et = nullptr;
    PyObject* error = nullptr;
    PyObject* tb = nullptr;
    PyErr_Fetch(&et, &error, &tb);
    PyErr_NormalizeException(&et, &error, &tb);
    if (traceback != nullptr) PyException_SetTraceback(cause, traceback);
    PyException_SetCause(error, owned_cause.release());  // steals the cause
    PyErr_Restore(et, error, tb);
  }
  return nullptr;
}

}  // namespace amplion::binding
