// The two type objects, created once per process on first need.
#pragma once

#include "binding/python.h"

namespace amplion::lib {

// Borrowed reference, or nullptr with RuntimeError "An error occurred while initializing
// class <name>" set (its cause is the underlying error).
PyTypeObject* statevec_type();
PyTypeObject* circuit_type();

// Creates a heap type from `spec` once; shared by both classes.
PyTypeObject* create_type(PyType_Spec* spec, const char* class_name);

}  // namespace amplion::lib
