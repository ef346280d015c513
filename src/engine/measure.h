// Measurement: `shots` draws from the register's generator, each mapped to a basis index by the
// weighted sampler over |amplitude|^2, counted by index.
#pragma once

#include <cstdint>
#include <optional>

#include "base/errors.h"
#include "engine/counts.h"
#include "engine/register.h"

namespace amplion::engine {

// Draws per batch, whatever `shots` is: a quarter of the register's length within these
// bounds, so that each pass over the partial sums serves many draws while the batch buffers
// (16 bytes a draw) stay at 4 MiB or less.
inline constexpr std::uint64_t kMinMeasureBatch = std::uint64_t{1} << 15;
inline constexpr std::uint64_t kMaxMeasureBatch = std::uint64_t{1} << 18;

// Reseeds the register's generator from `seed`, or without one moves it on by two words; then
// builds the probabilities re*re + im*im, the sampler over them, and draws `shots` indices, one
// 64-bit draw each. The generator's reseed or skip stays even when the call then fails: a
// sampler error (kValue with its message), a MemoryError, or a stop by the interrupt check, asked
// between chunks of the passes over large registers and between batches of draws (kInterrupted).
// The draws themselves are kept only when the call succeeds. The amplitudes are never changed.
base::Result<Counts> measure_counts(Register& reg, std::uint64_t shots,
                                    std::optional<std::uint64_t> seed);

}  // namespace amplion::engine
