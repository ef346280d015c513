// Helpers shared by the C++ tests: seeded registers, and doubles and amplitudes as bit patterns,
// so that -0.0 and NaN payloads take part in every comparison.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace amplion {

inline std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

inline std::vector<std::uint64_t> bits_of(std::span<const double> v) {
  std::vector<std::uint64_t> out;
  out.reserve(v.size());
  for (double x : v) out.push_back(bits(x));
  return out;
}

}  // namespace amplion

// Amplitude and register helpers, for the tests that link the engine (a random test sees no
// engine header).
#if __has_include("engine/register.h")
#include "engine/register.h"

namespace amplion {

// Real and imaginary part of every amplitude, in index order.
inline std::vector<std::uint64_t> words(std::span<const math_core::Complex64> v) {
  std::vector<std::uint64_t> out;
  out.reserve(2 * v.size());
  for (const math_core::Complex64& a : v) {
    out.push_back(bits(a.re));
    out.push_back(bits(a.im));
  }
  return out;
}

inline std::vector<std::uint64_t> words(const engine::Register& reg) {
  return words(reg.amplitudes());
}

// |0...0> on n_qubits; the seed only matters to tests that measure.
inline engine::Register make_register(std::uint64_t n_qubits, std::uint64_t seed = 7) {
  auto reg = engine::Register::create(n_qubits, seed);
  EXPECT_TRUE(reg.ok());
  return std::move(reg.value());
}

}  // namespace amplion
#endif
