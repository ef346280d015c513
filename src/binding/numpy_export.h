// Amplitude vectors handed to Python as new complex128 NumPy arrays. NumPy is reached only through
// its C array API table, found at run time on the first export; importing amplion imports no NumPy.
#pragma once

#include <cstdint>
#include <span>

#include "binding/python.h"
#include "math_core/kernels.h"

namespace amplion::binding {

// Fault when NumPy, its version or its array API capsule cannot be had; ": <Python error>" follows.
inline constexpr char kCapsuleFaultPrefix[] = "Failed to access NumPy array API capsule";
// Fault when NumPy refuses to create the array (its error is printed to stderr first).
inline constexpr char kApiCallFault[] = "Python API call failed";

// A new reference to a one-dimensional, writeable complex128 array that owns a copy of `count`
// elements read `stride` elements apart from `data`. Never null: every failure is a fault.
PyObject* export_array(const math_core::Complex64* data, std::uint64_t count, std::uint64_t stride);

// Copies straight from `values` into the new array, so an export of a register holds the register
// and the array at its peak, no third vector.
inline PyObject* export_array(std::span<const math_core::Complex64> values) {
  return export_array(values.data(), values.size(), 1);
}

}  // namespace amplion::binding
