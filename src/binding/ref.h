// Ref: one owned Python reference, dropped on every way out of the scope that holds it.
#pragma once

#include <utility>

#include "binding/python.h"

namespace amplion::binding {

// Owns one reference, or nothing when the call that produced it failed (test it first).
// release() hands the reference on: to a caller, or to a function that steals it.
class Ref {
 public:
  explicit Ref(PyObject* obj) : obj_(obj) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : obj_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(obj_);
      obj_ = other.release();
    }
    return *this;
  }
  ~Ref() { Py_XDECREF(obj_); }

  PyObject* get() const { return obj_; }
  PyObject* release() { return std::exchange(obj_, nullptr); }
  explicit operator bool() const { return obj_ != nullptr; }

 private:
  PyObject* obj_;
};

}  // namespace amplion::binding
