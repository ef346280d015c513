// What an escaping C++ exception becomes in Python. Free of Python headers so C++ tests reach it.
#pragma once

#include <exception>
#include <new>
#include <string>

#include "base/errors.h"

namespace amplion::binding {

struct FaultReport {
  enum class Kind { kMemory, kPanic };
  Kind kind;
  std::string message;
};

inline constexpr char kOutOfMemoryMessage[] = "out of memory";
inline constexpr char kUnknownFaultMessage[] = "internal fault of unknown type";

// std::bad_alloc is a MemoryError; a Fault or any other exception (one thrown by the kernel
// library's bounds check, say) is an internal fault carrying what().
inline FaultReport describe_exception(std::exception_ptr error) noexcept {
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return {FaultReport::Kind::kMemory, kOutOfMemoryMessage};
  } catch (const std::exception& e) {
    try {
      return {FaultReport::Kind::kPanic, e.what()};
    } catch (...) {
      return {FaultReport::Kind::kMemory, kOutOfMemoryMessage};
    }
  } catch (...) {
    return {FaultReport::Kind::kPanic, kUnknownFaultMessage};
  }
}

}  // namespace amplion::binding
