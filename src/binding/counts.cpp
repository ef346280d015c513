// Outcome keys are formatted once per distinct outcome, never once per shot.
#include "binding/counts.h"

#include <array>

#include "base/errors.h"

namespace amplion::binding {
namespace {

// Room for the widest key: registers have at most 30 qubits, indices at most 64 bits.
constexpr std::size_t kMaxKey = 64;

}  // namespace

PyObject* counts_dict(const engine::Counts& counts, std::uint64_t n_qubits) {
  if (n_qubits > kMaxKey) base::fault("outcome key wider than 64 characters");
  PyObject* dict = PyDict_New();
  if (dict == nullptr) return nullptr;
  const auto width = static_cast<Py_ssize_t>(n_qubits);
  std::array<char, kMaxKey> key{};
  const bool filled = counts.for_each([&](std::uint64_t index, std::uint64_t count) {
    // Character j is bit n_qubits - 1 - j.
    for (std::uint64_t j = 0; j < n_qubits; ++j) {
      key[j] = static_cast<char>('0' + ((index >> (n_qubits - 1 - j)) & 1));
    }
    PyObject* text = PyUnicode_FromStringAndSize(key.data(), width);
    if (text == nullptr) return false;
    PyObject* number = PyLong_FromUnsignedLongLong(count);
    if (number == nullptr) {
      Py_DECREF(text);
      return false;
    }
    const int status = PyDict_SetItem(dict, text, number);
    Py_DECREF(text);
    Py_DECREF(number);
    return status == 0;
  });
  if (!filled) {
    Py_DECREF(dict);
    return nullptr;
  }
  return dict;
}

}  // namespace amplion::binding
