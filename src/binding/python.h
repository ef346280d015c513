// The one place the binding includes Python; the module is built against the stable ABI.
#pragma once

#ifndef Py_LIMITED_API
#error "the binding is built against the stable ABI: define Py_LIMITED_API"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>
