// Errors of every layer: values for what a caller can fix, a thrown Fault for what it cannot.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace amplion::base {

// An internal fault: unreadable entropy, a broken invariant, an unusable NumPy. The binding's one
// catch point turns it into PanicException carrying what().
class Fault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] inline void fault(const std::string& message) { throw Fault(message); }

// Each kind maps onto exactly one Python exception class in the binding.
enum class ErrorKind {
  kValue,   // ValueError
  kIndex,   // IndexError
  kMemory,  // MemoryError
  // Stopped by the interrupt check, which has already reported why: the module's check leaves
  // the signal handler's exception set, so no exception of this kind's own is raised.
  kInterrupted,
};

struct Error {
  ErrorKind kind;
  std::string message;
};

class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}  // NOLINT: implicit by design
  static Status ok_status() { return Status(); }

  bool ok() const { return !error_.has_value(); }
  const Error& error() const { return *error_; }

 private:
  std::optional<Error> error_;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  const Error& error() const { return std::get<1>(v_); }
  Status status() const { return ok() ? Status() : Status(error()); }

 private:
  std::variant<T, Error> v_;
};

}  // namespace amplion::base
