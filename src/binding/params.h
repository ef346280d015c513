// Parameter lists of every method and constructor, and the parser that fills their ArgRefs.
#pragma once

#include <array>
#include <cstddef>

#include "binding/python.h"

namespace amplion::binding {

inline constexpr std::size_t kMaxParams = 4;

// Names as in the text signature, without $self. Every parameter may be given by position or
// keyword; the first `required` must be given; the rest default to None.
struct ParamList {
  const char* cls;
  const char* method;
  std::array<const char*, kMaxParams> names;
  std::size_t count;
  std::size_t required;
};

// One borrowed reference per parameter; nullptr when not supplied.
using ArgRefs = std::array<PyObject*, kMaxParams>;

// Fills `refs` from the positional tuple and the keyword dict (may be null). On failure sets
// TypeError with CPython's wording for the same mistake and returns false.
bool parse(const ParamList& params, PyObject* args, PyObject* kwargs, ArgRefs& refs);

}  // namespace amplion::binding
