// The exception map: engine errors, refused borrows and internal faults become Python exceptions.
#pragma once

#include <exception>

#include "binding/borrow.h"
#include "binding/python.h"
#include "base/errors.h"

namespace amplion::binding {

inline constexpr char kAlreadyBorrowed[] = "Already borrowed";
inline constexpr char kAlreadyMutablyBorrowed[] = "Already mutably borrowed";

// Sets the exception of the error's kind; returns nullptr for `return raise(...)`.
PyObject* raise(const base::Error& error);

// The engine's interrupt check: runs the Python handlers of pending signals (on the main thread;
// elsewhere nothing is pending) and says stop when one raised, leaving its exception set
// (KeyboardInterrupt for Ctrl-C). The interpreter lock is held, as in every engine call.
bool signal_handler_raised();

// None on success, else the status's exception.
PyObject* none_or_raise(const base::Status& status);

// PanicException: derives from BaseException, created on first use, not a module attribute.
// Returns a borrowed reference, or nullptr with an exception set.
PyObject* panic_exception_type();

// Sets MemoryError or PanicException for an exception caught at the module's edge.
void raise_escaped(std::exception_ptr error) noexcept;

// The only catch in the module: no C++ exception crosses into CPython. Borrow guards inside `f`
// are destroyed during unwinding, so a fault leaves no borrow behind.
template <class F>
PyObject* guarded(F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    raise_escaped(std::current_exception());
    return nullptr;
  }
}

// Takes a borrow of `word`, setting RuntimeError when it is refused (test the guard).
BorrowGuard borrow_shared(BorrowWord& word);
BorrowGuard borrow_exclusive(BorrowWord& word);

}  // namespace amplion::binding
