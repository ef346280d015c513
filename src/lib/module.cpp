// PyInit_amplion: the module object, its __all__ and the two classes; once per process.
#include "binding/errors.h"
#include "binding/python.h"
#include "engine/interrupt.h"
#include "lib/types.h"

namespace amplion::lib {
namespace {

constexpr char kInitOnceMessage[] =
    "amplion may only be initialized once per interpreter process";

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "amplion",  // m_name
    "",         // m_doc: __doc__ is the empty string
    0,          // m_size
    nullptr,    // m_methods
    nullptr,    // m_slots
    nullptr,    // m_traverse
    nullptr,    // m_clear
    nullptr,    // m_free
};

PyObject* g_module = nullptr;

// Appends the class name to __all__ (creating the list on first use), then sets the attribute.
bool add_class(PyObject* module, const char* name, PyTypeObject* type) {
  if (type == nullptr) return false;
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (all == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyList_New(0);
    if (all == nullptr) return false;
    if (PyObject_SetAttrString(module, "__all__", all) < 0) {
      Py_DECREF(all);
      return false;
    }
  }
  PyObject* text = PyUnicode_FromString(name);
  const bool appended = text != nullptr && PyList_Append(all, text) == 0;
  Py_XDECREF(text);
  Py_DECREF(all);
  if (!appended) return false;
  return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

PyObject* init_module() {
  if (g_module != nullptr) {
    PyErr_SetString(PyExc_ImportError, kInitOnceMessage);
    return nullptr;
  }
  PyObject* module = PyModule_Create2(&kModuleDef, PYTHON_ABI_VERSION);
  if (module == nullptr) return nullptr;
  // Ctrl-C then ends a long replay, copying gate or measurement at its next consistent point.
  engine::set_interrupt_check(&binding::signal_handler_raised);
  if (!add_class(module, "StateVecPy", statevec_type()) ||
      !add_class(module, "QuantumCircuit", circuit_type())) {
    Py_DECREF(module);
    return nullptr;
  }
  Py_INCREF(module);
  g_module = module;  // the cell keeps its own reference for the life of the process
  return module;
}

}  // namespace

PyTypeObject* create_type(PyType_Spec* spec, const char* class_name) {
  PyObject* type = PyType_FromSpec(spec);
  if (type != nullptr) return reinterpret_cast<PyTypeObject*>(type);
  PyObject* cause_type = nullptr;
  PyObject* cause = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&cause_type, &cause, &traceback);
  PyErr_NormalizeException(&cause_type, &cause, &traceback);
  PyErr_Format(PyExc_RuntimeError, "An error occurred while initializing class %s", class_name);
  if (cause != nullptr) {
    PyObject* et = nullptr;
    PyObject* error = nullptr;
    PyObject* tb = nullptr;
    PyErr_Fetch(&et, &error, &tb);
    PyErr_NormalizeException(&et, &error, &tb);
    if (traceback != nullptr) PyException_SetTraceback(cause, traceback);
    PyException_SetCause(error, cause);  // steals cause
    cause = nullptr;
    PyErr_Restore(et, error, tb);
  }
  Py_XDECREF(cause_type);
  Py_XDECREF(cause);
  Py_XDECREF(traceback);
  return nullptr;
}

}  // namespace amplion::lib

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_amplion() {
  return amplion::lib::init_module();
}
