// The interrupt check: how a long operation asks, at a point where its object is consistent,
// whether to stop. The module installs a check that runs Python's signal handlers; tests install
// scripted ones; with none installed nothing ever stops.
#pragma once

#include <cstdint>
#include <utility>

#include "base/errors.h"

namespace amplion::base {

// Returns true to stop the running operation. Asked between the gates of a replay, between the
// chunks of a copying gate on a large register, and in a measurement between the chunks of its
// own passes and between batches of draws; never by a gate that works in place, whose pass
// cannot be abandoned half way.
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

// Elements a long pass handles between two checks. A vector of at most this many is done in one
// go; above it a pass takes long enough for Ctrl-C to wait on it.
inline constexpr std::uint64_t kCheckedChunk = std::uint64_t{1} << 20;

// Calls body(from, to) for the aligned chunks [from, to) of [0, length) in ascending order,
// asking the check before every chunk but the first. Returns false when the check said stop;
// the chunks after it are not run. Every chunk is kCheckedChunk long, or the whole range when
// that is shorter, so each is a power of two aligned to its own length when length is one.
template <class Body>
inline bool in_checked_chunks(std::uint64_t length, Body&& body) {
  if (length <= kCheckedChunk) {
    body(std::uint64_t{0}, length);
    return true;
  }
  for (std::uint64_t from = 0; from < length; from += kCheckedChunk) {
    if (from != 0 && interrupt_requested()) return false;
    body(from, from + kCheckedChunk);
  }
  return true;
}

// The error of an operation the check stopped. The check has told its own caller why; the
// message is for C++ callers only.
inline Error interrupted() { return Error{ErrorKind::kInterrupted, kInterruptedMessage}; }

}  // namespace amplion::base
