// The gate rows of both method tables, expanded from one params and doc column of the gate table.
#pragma once

#include "binding/method.h"
#include "circuit/gate_table.h"

// The ParamList `var` of gate `name` on class `cls`: every parameter required.
#define AMPLION_GATE_PARAM_LIST(var, cls, name, params)                                 \
  inline constexpr ::amplion::binding::ParamList var{cls, #name, AMPLION_GATE_NAMES(params), \
                                                     AMPLION_GATE_COUNT(params),            \
                                                     AMPLION_GATE_COUNT(params)};

// The method row calling `op` under an exclusive borrow, its text signature built from the same
// names as `var`.
#define AMPLION_GATE_METHOD_DEF(op, var, name, params, doc)                                \
  ::amplion::binding::method_def<                                                          \
      ::amplion::binding::method<op, var, ::amplion::binding::Borrow::kExclusive>>(       \
      #name, AMPLION_GATE_DOC(name, params, doc)),
