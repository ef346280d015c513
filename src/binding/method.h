// The shape of every method: parse, borrow self, convert in parameter order, call one operation,
// turn the outcome into an object or an exception. Methods are instantiated from tables.
#pragma once

#include <cstdint>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/instance.h"
#include "binding/params.h"
#include "base/errors.h"

namespace amplion::binding {

// An argument that is another instance, exclusively borrowed for the call (`sv`).
template <class Payload>
struct Borrowed {
  Payload* payload = nullptr;
  BorrowGuard guard;
};

// Type object and name of a payload's class, for instance arguments.
template <class Payload>
struct ClassOf;

template <class T>
struct Converter;

template <>
struct Converter<std::uint64_t> {
  static bool convert(PyObject* obj, const char* name, std::uint64_t& out) {
    return to_index(obj, name, out);
  }
};
template <>
struct Converter<double> {
  static bool convert(PyObject* obj, const char* name, double& out) {
    return to_double(obj, name, out);
  }
};
template <>
struct Converter<std::optional<std::uint64_t>> {
  static bool convert(PyObject* obj, const char* name, std::optional<std::uint64_t>& out) {
    return to_seed(obj, name, out);
  }
};
template <class Payload>
struct Converter<Borrowed<Payload>> {
  static bool convert(PyObject* obj, const char* name, Borrowed<Payload>& out) {
    if (!to_instance(obj, name, ClassOf<Payload>::type(), ClassOf<Payload>::kName,
                     &word_of, out.guard)) {
      return false;
    }
    out.payload = &instance_of<Payload>(obj)->payload;
    return true;
  }
  static BorrowWord& word_of(PyObject* obj) { return instance_of<Payload>(obj)->borrow; }
};

// Operation signatures: an engine member returning Status (result None), or a function taking
// the payload and the converted arguments and returning a new reference.
template <class Op>
struct OpTraits;
template <class Payload, class... Args>
struct OpTraits<base::Status (Payload::*)(Args...)> {
  using Self = Payload;
  using Values = std::tuple<std::decay_t<Args>...>;
};
template <class Payload, class... Args>
struct OpTraits<base::Status (Payload::*)(Args...) const> {
  using Self = Payload;
  using Values = std::tuple<std::decay_t<Args>...>;
};
template <class Payload, class... Args>
struct OpTraits<PyObject* (*)(Payload&, Args...)> {
  using Self = Payload;
  using Values = std::tuple<std::decay_t<Args>...>;
};

template <class Values, std::size_t... K>
bool convert_all(const ParamList& params, const ArgRefs& refs, Values& values,
                 std::index_sequence<K...>) {
  return (Converter<std::tuple_element_t<K, Values>>::convert(refs[K], params.names[K],
                                                              std::get<K>(values)) &&
          ...);
}

template <auto Op, const ParamList& Params, Borrow Kind>
PyObject* method(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  using Traits = OpTraits<decltype(Op)>;
  using Payload = typename Traits::Self;
  using Values = typename Traits::Values;
  static_assert(std::tuple_size_v<Values> == Params.count, "table and operation disagree");
  return guarded([&]() -> PyObject* {
    ArgRefs refs;
    if (!parse(Params, args, kwargs, refs)) return nullptr;
    auto* inst = instance_of<Payload>(self);
    BorrowGuard borrow = Kind == Borrow::kExclusive ? borrow_exclusive(inst->borrow)
                                                    : borrow_shared(inst->borrow);
    if (!borrow) return nullptr;
    Values values;
    if (!convert_all(Params, refs, values, std::make_index_sequence<std::tuple_size_v<Values>>{})) {
      return nullptr;
    }
    return std::apply(
        [&](auto&... v) -> PyObject* {
          if constexpr (std::is_member_function_pointer_v<decltype(Op)>) {
            return none_or_raise((inst->payload.*Op)(v...));
          } else {
            return Op(inst->payload, v...);
          }
        },
        values);
  });
}

// Methods without arguments (METH_NOARGS): borrow, call, convert.
template <auto Op, Borrow Kind>
PyObject* method_noargs(PyObject* self, PyObject*) noexcept {
  using Payload = typename OpTraits<decltype(Op)>::Self;
  return guarded([&]() -> PyObject* {
    auto* inst = instance_of<Payload>(self);
    BorrowGuard borrow = Kind == Borrow::kExclusive ? borrow_exclusive(inst->borrow)
                                                    : borrow_shared(inst->borrow);
    if (!borrow) return nullptr;
    return Op(inst->payload);
  });
}

template <auto Fn>
PyMethodDef method_def(const char* name, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Fn)),
          METH_VARARGS | METH_KEYWORDS, doc};
}

// The row of the method that `Params` describes: its name, and its text signature as the
// docstring, both read from the list.
template <auto Op, const ParamList& Params, Borrow Kind>
PyMethodDef method_row() {
  return method_def<method<Op, Params, Kind>>(Params.method, kTextSignature<Params>.data());
}

// The row of a method without arguments (METH_NOARGS); `Params` lists none.
template <auto Op, const ParamList& Params, Borrow Kind>
PyMethodDef noargs_row() {
  static_assert(Params.count == 0, "a method without arguments lists no parameters");
  return {Params.method, &method_noargs<Op, Kind>, METH_NOARGS, kTextSignature<Params>.data()};
}

}  // namespace amplion::binding
