// The interrupt check: how a long operation asks, at a point where its object is consistent,
// whether to stop. The module installs a check that runs Python's signal handlers; tests install
// scripted ones; with none installed nothing ever stops.
#pragma once

#include <utility>

#include "engine/errors.h"

namespace amplion::engine {

// Returns true to stop the running operation. Asked between the gates of a replay, between the
// chunks of a copying gate on a large register and between batches of measurement draws; never
// by a gate that works in place, whose pass cannot be abandoned half way.
using InterruptCheck = bool (*)();

inline constexpr char kInterruptedMessage[] = "interrupted";

namespace detail {
inline InterruptCheck g_interrupt_check = nullptr;
}  // namespace detail

// Installs `check` (nullptr: never stop) and returns the one it replaces. Not synchronised: the
// module sets it once at import, a test before it runs anything.
inline InterruptCheck set_interrupt_check(InterruptCheck check) {
  return std::exchange(detail::g_interrupt_check, check);
}

inline bool interrupt_requested() {
  const InterruptCheck check = detail::g_interrupt_check;
  return check != nullptr && check();
}

// The error of an operation the check stopped. The check has told its own caller why; the
// message is for C++ callers only.
inline Error interrupted() { return Error{ErrorKind::kInterrupted, kInterruptedMessage}; }

}  // namespace amplion::engine
