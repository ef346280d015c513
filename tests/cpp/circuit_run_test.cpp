// Sampling a circuit: a fresh register seeded like the draws, the count check before replay, and
// agreement with a register given the same gates and measured with the same seed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>

#include "base/memory.h"
#include "circuit/circuit.h"
#include "engine/measure.h"
#include "engine/register.h"

namespace amplion::circuit {
namespace {

using base::ErrorKind;
using engine::Register;
using Tally = std::map<std::uint64_t, std::uint64_t>;

Tally tally(const engine::Counts& counts) {
  Tally out;
  (void)counts.for_each([&](std::uint64_t index, std::uint64_t count) {
    EXPECT_TRUE(out.emplace(index, count).second) << "index " << index << " reported twice";
    return true;
  });
  EXPECT_EQ(out.size(), counts.size());
  return out;
}

Tally run_tally(const Circuit& circuit, std::uint64_t shots, std::optional<std::uint64_t> seed) {
  auto counts = circuit.run(shots, seed);
  EXPECT_TRUE(counts.ok());
  return counts.ok() ? tally(counts.value()) : Tally{};
}

TEST(CircuitRun, KnownCountsForSeededSuperpositions) {
  Circuit one(1);
  ASSERT_TRUE(one.h(0).ok());
  EXPECT_EQ(run_tally(one, 16, 0), (Tally{{0, 7}, {1, 9}}));
  EXPECT_EQ(run_tally(one, 16, 42), (Tally{{0, 8}, {1, 8}}));

  Circuit two(2);
  ASSERT_TRUE(two.h(0).ok());
  ASSERT_TRUE(two.h(1).ok());
  EXPECT_EQ(run_tally(two, 16, 0), (Tally{{0, 5}, {1, 2}, {2, 3}, {3, 6}}));
}

TEST(CircuitRun, EqualsASeededRegisterMeasuredWithTheSameSeed) {
  struct Case {
    std::uint64_t shots;
    std::uint64_t seed;
  };
  const Case cases[] = {{0, 7}, {1, 7}, {100, 7}, {1000, 0}, {4096, 0xFFFFFFFFFFFFFFFF},
                        {333, 0x0123456789ABCDEF}};
  Circuit circuit(3);
  ASSERT_TRUE(circuit.h(0).ok());
  ASSERT_TRUE(circuit.ry(1, 0.7).ok());
  ASSERT_TRUE(circuit.cx(0, 2).ok());
  ASSERT_TRUE(circuit.cp(2, 1, 1.25).ok());
  ASSERT_TRUE(circuit.sx(2).ok());
  for (const Case& tc : cases) {
    SCOPED_TRACE(std::to_string(tc.shots) + " shots, seed " + std::to_string(tc.seed));
    auto reg = Register::create(3, tc.seed);
    ASSERT_TRUE(reg.ok());
    Register& direct = reg.value();
    ASSERT_TRUE(direct.h(0).ok());
    ASSERT_TRUE(direct.ry(1, 0.7).ok());
    ASSERT_TRUE(direct.cx(0, 2).ok());
    ASSERT_TRUE(direct.cp(2, 1, 1.25).ok());
    ASSERT_TRUE(direct.sx(2).ok());
    auto expected = engine::measure_counts(direct, tc.shots, tc.seed);
    ASSERT_TRUE(expected.ok());
    const Tally got = run_tally(circuit, tc.shots, tc.seed);
    EXPECT_EQ(got, tally(expected.value()));
    EXPECT_EQ(run_tally(circuit, tc.shots, tc.seed), got);  // the circuit keeps no seed
    std::uint64_t total = 0;
    for (const auto& [index, count] : got) total += count;
    EXPECT_EQ(total, tc.shots);
  }
}

TEST(CircuitRun, UnseededRunsCountEveryShot) {
  Circuit circuit(2);
  ASSERT_TRUE(circuit.x(1).ok());
  EXPECT_EQ(run_tally(circuit, 50, std::nullopt), (Tally{{2, 50}}));
}

TEST(CircuitRun, FailuresInOrderCountThenReplayThenSampler) {
  struct Case {
    const char* name;
    std::uint64_t n_qubits;
    bool bad_gate;
    bool nan_angle;
    ErrorKind kind;
    const char* message;
  };
  const Case cases[] = {
      {"count 0 before a failing gate", 0, true, false, ErrorKind::kValue,
       "n_qubits must be between 1 and 30"},
      {"count 31, empty", 31, false, false, ErrorKind::kValue,
       "n_qubits must be between 1 and 30"},
      {"failing gate before a NaN angle", 2, true, true, ErrorKind::kIndex,
       "qubit index out of range"},
      {"NaN angle", 2, false, true, ErrorKind::kValue, "A weight is invalid in distribution"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Circuit circuit(tc.n_qubits);
    if (tc.bad_gate) {
      ASSERT_TRUE(circuit.h(2).ok());
    }
    if (tc.nan_angle) {
      ASSERT_TRUE(circuit.rx(0, std::numeric_limits<double>::quiet_NaN()).ok());
    }
    for (const std::uint64_t shots : {std::uint64_t{0}, std::uint64_t{10}}) {
      auto counts = circuit.run(shots, 7);
      ASSERT_FALSE(counts.ok());
      EXPECT_EQ(counts.error().kind, tc.kind);
      EXPECT_EQ(counts.error().message, tc.message);
    }
  }
}

TEST(CircuitRun, ZeroShotsGiveNoOutcomes) {
  Circuit circuit(4);
  ASSERT_TRUE(circuit.h(3).ok());
  auto counts = circuit.run(0, 1);
  ASSERT_TRUE(counts.ok());
  EXPECT_EQ(counts.value().size(), 0u);
  EXPECT_TRUE(tally(counts.value()).empty());
}

// The registers of run and build live for one call: the spare their copying gates leave goes with
// them, unless a register of the same size outlives the call.
TEST(CircuitRun, TemporaryRegistersLeaveNoSpareBehind) {
  Circuit circuit(17);
  ASSERT_TRUE(circuit.h(0).ok());
  ASSERT_TRUE(circuit.rx(16, 0.5).ok());
  base::release_spare();
  ASSERT_TRUE(circuit.run(10, 1).ok());
  EXPECT_EQ(base::spare_bytes(), 0u);
  ASSERT_TRUE(circuit.build(1).ok());
  EXPECT_EQ(base::spare_bytes(), 0u);
  auto kept = Register::create(17, 1);
  ASSERT_TRUE(kept.ok());
  ASSERT_TRUE(circuit.run(10, 1).ok());
  EXPECT_EQ(base::spare_bytes(), std::size_t{2} << 20);
}

}  // namespace
}  // namespace amplion::circuit
