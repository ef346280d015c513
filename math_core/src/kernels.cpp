// In-place gate kernels working through a bounds-checked slice view.
#include "math_core/kernels.h"
