// Outcome keys are formatted once per distinct outcome, never once per shot.
#include "binding/counts.h"

#include <array>

#include "base/errors.h"
#include "binding/ref.h"

namespace amplion::binding {
namespace {

// Room for the widest key: registers have at most 30 qubits, indices at most 64 bits.
constexpr std::size_t kMaxKey = 64;

}  // namespace

PyObject* counts_dict(const engine::Counts& counts, std::uint64_t n_qubits) {
  if (n_qubits > kMaxKey) base::fault("outcome key wider than 64 characters");
  Ref dict(PyDict_New());
  if (!dict) return nullptr;
  const auto width = static_cast<Py_ssize_t>(n_qubits);
  std::array<char, kMaxKey> key{};
  const bool filled = counts.for_each([&](std::uint64_t index, std::uint64_t count) {
    // Character j is bit n_qubits - 1 - j.
    for (std::uint64_t j = 0; j < n_qubits; ++j) {
      key[j] = static_cast<char>('0' + ((index >> (n_qubits - 1 - j)) & 1));
    }
    Ref text(PyUnicode_FromStringAndSize(key.data(), width));
    if (!text) return false;
    Ref number(PyLong_FromUnsignedLongLong(count));
    if (!number) return false;
    return PyDict_SetItem(dict.get(), text.get(), number.get()) == 0;
  });
  if (!filled) return nullptr;
  return dict.release();
}

}  // namespace amplion::binding
