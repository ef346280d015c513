// PyInit_amplion: the module object, its __all__ and the two classes; once per process.
#include "base/interrupt.h"
#include "binding/errors.h"
#include "binding/python.h"
#include "binding/ref.h"
#include "lib/types.h"

namespace amplion::lib {
namespace {

using binding::Ref;

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
  Ref all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = Ref(PyList_New(0));
    if (!all) return false;
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  Ref text(PyUnicode_FromString(name));
  if (!text || PyList_Append(all.get(), text.get()) != 0) return false;
  return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

PyObject* init_module() {
  if (g_module != nullptr) {
    PyErr_SetString(PyExc_ImportError, kInitOnceMessage);
    return nullptr;
  }
  Ref module(PyModule_Create2(&kModuleDef, PYTHON_ABI_VERSION));
  if (!module) return nullptr;
  // Ctrl-C then ends a long replay, copying gate or measurement at its next consistent point.
  base::set_interrupt_check(&binding::signal_handler_raised);
  if (!add_class(module.get(), "StateVecPy", statevec_type()) ||
      !add_class(module.get(), "QuantumCircuit", circuit_type())) {
    return nullptr;
  }
  Py_INCREF(module.get());
  g_module = module.get();  // the cell keeps its own reference for the life of the process
  return module.release();
}

}  // namespace

}  // namespace amplion::lib

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_amplion() {
  return amplion::lib::init_module();
}
