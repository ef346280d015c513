// The two type objects, created once per process on first need.
#pragma once

#include "binding/python.h"

namespace amplion::lib {

// Borrowed reference, or nullptr with RuntimeError "An error occurred while initializing
// class <name>" set (its cause is the underlying error).
PyTypeObject* statevec_type();
PyTypeObject* circuit_type();

}  // namespace amplion::lib
