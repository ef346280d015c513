// StateVecPy as the class of engine::Register, for arguments that are registers (`sv`).
#pragma once

#include "binding/method.h"
#include "engine/register.h"
#include "lib/types.h"

namespace amplion::binding {
template <>
struct ClassOf<engine::Register> {
  static constexpr char kName[] = "StateVecPy";
  static PyTypeObject* type() { return lib::statevec_type(); }
};
}  // namespace amplion::binding
