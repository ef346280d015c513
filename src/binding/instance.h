// Instance layout shared by both classes (object header, payload, borrow word), and the
// creation of their heap types.
#pragma once

#include <new>
#include <utility>

#include "binding/borrow.h"
#include "binding/python.h"

namespace amplion::binding {

template <class Payload>
struct Instance {
  PyObject ob_base;
  Payload payload;
  BorrowWord borrow;
};

template <class Payload>
Instance<Payload>* instance_of(PyObject* self) {
  return reinterpret_cast<Instance<Payload>*>(self);
}

// A heap type from `spec`, or nullptr with RuntimeError "An error occurred while initializing
// class <class_name>" set, whose cause is the error PyType_FromSpec raised.
PyTypeObject* create_type(PyType_Spec* spec, const char* class_name);

// Allocates through the subtype's tp_alloc only after the payload exists, then moves it in.
template <class Payload>
PyObject* new_instance(PyTypeObject* subtype, Payload&& payload) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(subtype, Py_tp_alloc));
  PyObject* self = alloc(subtype, 0);
  if (self == nullptr) return nullptr;
  auto* inst = instance_of<Payload>(self);
  new (&inst->payload) Payload(std::move(payload));
  new (&inst->borrow) BorrowWord(0);
  return self;
}

// Drops the payload, frees through tp_free, then the instance's reference to its heap type.
template <class Payload>
void dealloc_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto* inst = instance_of<Payload>(self);
  inst->payload.~Payload();
  inst->borrow.~BorrowWord();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

}  // namespace amplion::binding
