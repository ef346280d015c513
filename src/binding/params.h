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

namespace detail {

constexpr bool same_text(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

// Writes the stored docstring of `p` to `out` (when not null) and returns its length without the
// terminating NUL.
constexpr std::size_t write_text_signature(const ParamList& p, char* out) {
  std::size_t n = 0;
  auto put = [&](const char* text) {
    for (; *text != '\0'; ++text, ++n) {
      if (out != nullptr) out[n] = *text;
    }
  };
  const bool constructor = same_text(p.method, "__new__");
  put(constructor ? p.cls : p.method);
  put(constructor ? "(" : "($self");
  for (std::size_t k = 0; k < p.count; ++k) {
    if (k > 0 || !constructor) put(", ");
    put(p.names[k]);
    if (k >= p.required) put("=None");
  }
  put(")\n--\n\n");
  return n;
}

template <const ParamList& P>
constexpr auto make_text_signature() {
  std::array<char, write_text_signature(P, nullptr) + 1> text{};
  write_text_signature(P, text.data());
  return text;
}

}  // namespace detail

// The text signature that CPython reads from the start of a docstring, built from the list:
// "measure_counts($self, shots, seed=None)\n--\n\n", or for a constructor (method "__new__")
// the class's "StateVecPy(n_qubits, seed=None)\n--\n\n". Optional parameters default to None.
template <const ParamList& P>
inline constexpr auto kTextSignature = detail::make_text_signature<P>();

// One borrowed reference per parameter; nullptr when not supplied.
using ArgRefs = std::array<PyObject*, kMaxParams>;

// Fills `refs` from the positional tuple and the keyword dict (may be null). On failure sets
// TypeError with CPython's wording for the same mistake and returns false.
bool parse(const ParamList& params, PyObject* args, PyObject* kwargs, ArgRefs& refs);

}  // namespace amplion::binding
