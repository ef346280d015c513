// The dict of measurement counts: outcome key (str) to count (int).
#pragma once

#include <cstdint>

#include "binding/python.h"
#include "engine/measure.h"

namespace amplion::binding {

// A new dict with one entry per outcome drawn. The key is the index in binary with exactly
// n_qubits characters '0' and '1', qubit 0 last. Returns nullptr with the exception set when
// building it fails; the partial dict is dropped. Called inside guarded.
PyObject* counts_dict(const engine::Counts& counts, std::uint64_t n_qubits);

}  // namespace amplion::binding
