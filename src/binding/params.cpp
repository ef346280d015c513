// The argument parser: positional, then keywords in dict order, then the missing-argument check.
#include "binding/params.h"

#include <string>

#include "binding/convert.h"
#include "binding/ref.h"

namespace amplion::binding {
namespace {

std::string full_name(const ParamList& p) {
  return std::string(p.cls) + "." + p.method + "()";
}

void raise_too_many(const ParamList& p, Py_ssize_t given) {
  std::string message = full_name(p) + " takes ";
  if (p.required == p.count) {
    message += std::to_string(p.count);
  } else {
    message += "from " + std::to_string(p.required) + " to " + std::to_string(p.count);
  }
  message += " positional arguments but " + std::to_string(given) +
             (given == 1 ? " was" : " were") + " given";
  PyErr_SetString(PyExc_TypeError, message.c_str());
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string join_names(const ParamList& p, const std::array<std::size_t, kMaxParams>& which,
                       std::size_t n) {
  std::string out;
  for (std::size_t k = 0; k < n; ++k) {
    if (k > 0) out += n == 2 ? " and " : (k + 1 == n ? ", and " : ", ");
    out += "'";
    out += p.names[which[k]];
    out += "'";
  }
  return out;
}

// "<full name> <what> '<key>'". A key of a str subclass is shown by its characters: formatting
// it with %S would run its __str__, and a failing __str__ would leave a TypeError without text.
void raise_keyword_error(const ParamList& p, const char* what, PyObject* key) {
  Ref text(as_text(key));
  if (!text) return;  // str() of a key that is not a str failed; that error stands
  PyErr_Format(PyExc_TypeError, "%s %s '%U'", full_name(p).c_str(), what, text.get());
}

}  // namespace

bool parse(const ParamList& p, PyObject* args, PyObject* kwargs, ArgRefs& refs) {
  refs.fill(nullptr);
  const Py_ssize_t given = args != nullptr ? PyTuple_Size(args) : 0;
  if (given < 0) return false;
  if (static_cast<std::size_t>(given) > p.count) {
    raise_too_many(p, given);
    return false;
  }
  for (Py_ssize_t k = 0; k < given; ++k) refs[static_cast<std::size_t>(k)] = PyTuple_GetItem(args, k);

  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      std::size_t k = 0;
      while (k < p.count && !(PyUnicode_Check(key) &&
                              PyUnicode_CompareWithASCIIString(key, p.names[k]) == 0)) {
        ++k;
      }
      if (k == p.count) {
        raise_keyword_error(p, "got an unexpected keyword argument", key);
        return false;
      }
      if (refs[k] != nullptr) {
        raise_keyword_error(p, "got multiple values for argument", key);
        return false;
      }
      refs[k] = value;
    }
  }

  std::array<std::size_t, kMaxParams> missing{};
  std::size_t n_missing = 0;
  for (std::size_t k = static_cast<std::size_t>(given); k < p.required; ++k) {
    if (refs[k] == nullptr) missing[n_missing++] = k;
  }
  if (n_missing > 0) {
    const std::string message = full_name(p) + " missing " + std::to_string(n_missing) +
                                " required positional " +
                                (n_missing == 1 ? "argument" : "arguments") + ": " +
                                join_names(p, missing, n_missing);
    PyErr_SetString(PyExc_TypeError, message.c_str());
    return false;
  }
  return true;
}

}  // namespace amplion::binding
