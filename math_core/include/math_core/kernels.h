// The native kernel library: the shared amplitude record and five in-place gate kernels.
#pragma once

#include <cstdint>

namespace math_core {

// One amplitude: real part, then imaginary part; 16 bytes, the layout the register stores.
struct Complex64 {
  double re;
  double im;
};
static_assert(sizeof(Complex64) == 16);

}  // namespace math_core
