// The circuit recorder: records kept as given, the growth of the gate array, replay against the
// target register's qubit count, partial work on failure, and fresh registers.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "circuit/circuit.h"
#include "engine/register.h"
#include "test_support.h"

namespace amplion::circuit {
namespace {

using base::ErrorKind;
using engine::Register;
using base::Status;

constexpr std::uint64_t kOne = 0x3FF0000000000000;
constexpr std::uint64_t kHalfSqrt2 = 0x3FE6A09E667F3BCC;  // the H factor, 0.7071067811865475
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Words of |i> on n qubits: element i is 1 + 0i, every other element +0.
std::vector<std::uint64_t> basis_words(std::uint64_t n, std::uint64_t i) {
  std::vector<std::uint64_t> out(std::size_t{2} << n, 0);
  out[2 * i] = kOne;
  return out;
}

TEST(CircuitRecord, StoresKindNumberAndOperandsUnchecked) {
  struct Case {
    const char* name;
    std::function<Status(Circuit&)> record;
    int kind;
    std::uint64_t q0, q1, q2;
    std::uint64_t theta_bits;
  };
  const std::uint64_t nan_bits = std::bit_cast<std::uint64_t>(kNaN);
  const std::vector<Case> cases = {
      {"x", [](Circuit& c) { return c.x(kMax); }, 0, kMax, 0, 0, 0},
      {"y", [](Circuit& c) { return c.y(99); }, 1, 99, 0, 0, 0},
      {"z", [](Circuit& c) { return c.z(2); }, 2, 2, 0, 0, 0},
      {"h", [](Circuit& c) { return c.h(64); }, 3, 64, 0, 0, 0},
      {"s", [](Circuit& c) { return c.s(0); }, 4, 0, 0, 0, 0},
      {"sdg", [](Circuit& c) { return c.sdg(1); }, 5, 1, 0, 0, 0},
      {"t", [](Circuit& c) { return c.t(3); }, 6, 3, 0, 0, 0},
      {"tdg", [](Circuit& c) { return c.tdg(4); }, 7, 4, 0, 0, 0},
      {"sx", [](Circuit& c) { return c.sx(5); }, 8, 5, 0, 0, 0},
      {"sxdg", [](Circuit& c) { return c.sxdg(6); }, 9, 6, 0, 0, 0},
      {"rx", [](Circuit& c) { return c.rx(0, kNaN); }, 10, 0, 0, 0, nan_bits},
      {"ry", [](Circuit& c) { return c.ry(1, -kInf); }, 11, 1, 0, 0, 0xFFF0000000000000},
      {"rz", [](Circuit& c) { return c.rz(2, -0.0); }, 12, 2, 0, 0, 0x8000000000000000},
      {"cx", [](Circuit& c) { return c.cx(0, 0); }, 13, 0, 0, 0, 0},
      {"swap", [](Circuit& c) { return c.swap(9, 1); }, 14, 9, 1, 0, 0},
      {"cy", [](Circuit& c) { return c.cy(3, 2); }, 15, 3, 2, 0, 0},
      {"cz", [](Circuit& c) { return c.cz(kMax, 70); }, 16, kMax, 70, 0, 0},
      {"ccx", [](Circuit& c) { return c.ccx(1, 2, 3); }, 17, 1, 2, 3, 0},
      {"cswap", [](Circuit& c) { return c.cswap(4, 4, 5); }, 18, 4, 4, 5, 0},
      {"cp", [](Circuit& c) { return c.cp(6, 7, 0x1.8p+1); }, 19, 6, 7, 0, 0x4008000000000000},
  };
  ASSERT_EQ(cases.size(), kGateKindCount);
  Circuit circuit(0);  // no count is checked while recording, not even this one
  for (std::size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(cases[k].name);
    EXPECT_TRUE(cases[k].record(circuit).ok());
    ASSERT_EQ(circuit.gates().size(), k + 1);
    const Gate& g = circuit.gates().back();
    EXPECT_EQ(static_cast<int>(g.kind), cases[k].kind);
    EXPECT_EQ(g.qubits[0], cases[k].q0);
    EXPECT_EQ(g.qubits[1], cases[k].q1);
    EXPECT_EQ(g.qubits[2], cases[k].q2);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(g.theta), cases[k].theta_bits);
  }
}

TEST(CircuitRecord, CapacityStartsAtFourAndDoubles) {
  Circuit circuit(1);
  EXPECT_EQ(circuit.capacity(), 0u);
  // Capacity after the k-th append, k = 1..33.
  const std::size_t expected[] = {4,  4,  4,  4,  8,  8,  8,  8,  16, 16, 16, 16, 16, 16, 16, 16, 32,
                                  32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 64};
  for (std::size_t k = 0; k < std::size(expected); ++k) {
    SCOPED_TRACE(k + 1);
    ASSERT_TRUE(circuit.rz(k, static_cast<double>(k)).ok());
    EXPECT_EQ(circuit.capacity(), expected[k]);
  }
  // Growing kept every record in order.
  for (std::size_t k = 0; k < circuit.gates().size(); ++k) {
    EXPECT_EQ(circuit.gates()[k].qubits[0], k);
    EXPECT_EQ(circuit.gates()[k].theta, static_cast<double>(k));
  }
}

// One recording method next to the register method of the same name, with the same operands.
struct Twin {
  const char* name;
  std::function<void(Circuit&, std::uint64_t, std::uint64_t, std::uint64_t, double)> record;
  std::function<Status(Register&, std::uint64_t, std::uint64_t, std::uint64_t, double)> call;
};

const std::vector<Twin>& twins() {
  using Q = std::uint64_t;
  static const std::vector<Twin> table = {
      {"x", [](Circuit& c, Q a, Q, Q, double) { (void)c.x(a); },
       [](Register& r, Q a, Q, Q, double) { return r.x(a); }},
      {"y", [](Circuit& c, Q a, Q, Q, double) { (void)c.y(a); },
       [](Register& r, Q a, Q, Q, double) { return r.y(a); }},
      {"z", [](Circuit& c, Q a, Q, Q, double) { (void)c.z(a); },
       [](Register& r, Q a, Q, Q, double) { return r.z(a); }},
      {"h", [](Circuit& c, Q a, Q, Q, double) { (void)c.h(a); },
       [](Register& r, Q a, Q, Q, double) { return r.h(a); }},
      {"s", [](Circuit& c, Q a, Q, Q, double) { (void)c.s(a); },
       [](Register& r, Q a, Q, Q, double) { return r.s(a); }},
      {"sdg", [](Circuit& c, Q a, Q, Q, double) { (void)c.sdg(a); },
       [](Register& r, Q a, Q, Q, double) { return r.sdg(a); }},
      {"t", [](Circuit& c, Q a, Q, Q, double) { (void)c.t(a); },
       [](Register& r, Q a, Q, Q, double) { return r.t(a); }},
      {"tdg", [](Circuit& c, Q a, Q, Q, double) { (void)c.tdg(a); },
       [](Register& r, Q a, Q, Q, double) { return r.tdg(a); }},
      {"sx", [](Circuit& c, Q a, Q, Q, double) { (void)c.sx(a); },
       [](Register& r, Q a, Q, Q, double) { return r.sx(a); }},
      {"sxdg", [](Circuit& c, Q a, Q, Q, double) { (void)c.sxdg(a); },
       [](Register& r, Q a, Q, Q, double) { return r.sxdg(a); }},
      {"rx", [](Circuit& c, Q a, Q, Q, double th) { (void)c.rx(a, th); },
       [](Register& r, Q a, Q, Q, double th) { return r.rx(a, th); }},
      {"ry", [](Circuit& c, Q a, Q, Q, double th) { (void)c.ry(a, th); },
       [](Register& r, Q a, Q, Q, double th) { return r.ry(a, th); }},
      {"rz", [](Circuit& c, Q a, Q, Q, double th) { (void)c.rz(a, th); },
       [](Register& r, Q a, Q, Q, double th) { return r.rz(a, th); }},
      {"cx", [](Circuit& c, Q a, Q b, Q, double) { (void)c.cx(a, b); },
       [](Register& r, Q a, Q b, Q, double) { return r.cx(a, b); }},
      {"swap", [](Circuit& c, Q a, Q b, Q, double) { (void)c.swap(a, b); },
       [](Register& r, Q a, Q b, Q, double) { return r.swap(a, b); }},
      {"cy", [](Circuit& c, Q a, Q b, Q, double) { (void)c.cy(a, b); },
       [](Register& r, Q a, Q b, Q, double) { return r.cy(a, b); }},
      {"cz", [](Circuit& c, Q a, Q b, Q, double) { (void)c.cz(a, b); },
       [](Register& r, Q a, Q b, Q, double) { return r.cz(a, b); }},
      {"ccx", [](Circuit& c, Q a, Q b, Q d, double) { (void)c.ccx(a, b, d); },
       [](Register& r, Q a, Q b, Q d, double) { return r.ccx(a, b, d); }},
      {"cswap", [](Circuit& c, Q a, Q b, Q d, double) { (void)c.cswap(a, b, d); },
       [](Register& r, Q a, Q b, Q d, double) { return r.cswap(a, b, d); }},
      {"cp", [](Circuit& c, Q a, Q b, Q, double th) { (void)c.cp(a, b, th); },
       [](Register& r, Q a, Q b, Q, double th) { return r.cp(a, b, th); }},
  };
  return table;
}

TEST(CircuitReplay, RandomCircuitsMatchDirectCallsBitForBit) {
  const double angles[] = {0.0, -0.0, 0x1.921fb54442d18p+1, -0x1.0p-3, 0x1.5p+0, 1e300, 7.25};
  std::mt19937_64 gen(20261208);
  std::vector<int> used(kGateKindCount, 0);
  for (int round = 0; round < 60; ++round) {
    const std::uint64_t n = 1 + static_cast<std::uint64_t>(round % 5);
    SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(n) + " qubits");
    Circuit circuit(n);
    Register direct = make_register(n);
    for (int k = 0; k < 30; ++k) {
      const std::size_t kind = gen() % kGateKindCount;
      // Indices below n, repeats allowed: every gate succeeds, coinciding operands included.
      const std::uint64_t a = gen() % n, b = gen() % n, c = gen() % n;
      const double theta = angles[gen() % std::size(angles)];
      twins()[kind].record(circuit, a, b, c, theta);
      ASSERT_TRUE(twins()[kind].call(direct, a, b, c, theta).ok()) << twins()[kind].name;
      ++used[kind];
    }
    Register replayed = make_register(n);
    ASSERT_TRUE(circuit.replay(replayed).ok());
    EXPECT_EQ(words(replayed), words(direct));
    auto built = circuit.build(3);
    ASSERT_TRUE(built.ok());
    EXPECT_EQ(words(built.value()), words(direct));
  }
  for (std::size_t kind = 0; kind < kGateKindCount; ++kind) {
    EXPECT_GT(used[kind], 0) << twins()[kind].name;
  }
}

TEST(CircuitReplay, StopsAtFirstFailingGateKeepingTheGatesBefore) {
  struct Case {
    const char* twin;
    std::uint64_t a, b, c;
    const char* message;  // nullptr: the register's own answer for the same call
  };
  const std::vector<Case> cases = {
      {"h", 2, 0, 0, "qubit index out of range"},
      {"z", 2, 0, 0, "qubit index out of range"},
      {"rz", kMax, 0, 0, "qubit index out of range"},
      {"sxdg", 64, 0, 0, "qubit index out of range"},
      {"cx", 0, 7, 0, "control/target index out of range"},
      {"cx", 7, 0, 0, "control/target index out of range"},
      {"swap", 0, 9, 0, "swap index out of range"},
      {"ccx", 0, 1, 2, "index out of range"},
      {"ccx", 2, 0, 1, "index out of range"},
      {"cswap", 0, 1, 2, "qubit index out of range"},
      {"cswap", 2, 0, 1, "qubit index out of range"},
      {"cy", 0, 9, 0, nullptr},
      {"cy", 9, 0, 0, nullptr},
      {"cz", 0, 9, 0, nullptr},
      {"cz", 70, 1, 0, nullptr},
      {"cp", 0, 9, 0, nullptr},
      {"cp", kMax, kMax, 0, nullptr},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(std::string(tc.twin) + "(" + std::to_string(tc.a) + ", " + std::to_string(tc.b) +
                 ", " + std::to_string(tc.c) + ")");
    const Twin* twin = nullptr;
    for (const Twin& t : twins()) {
      if (std::string(t.name) == tc.twin) twin = &t;
    }
    ASSERT_NE(twin, nullptr);
    Circuit circuit(2);
    ASSERT_TRUE(circuit.x(0).ok());
    twin->record(circuit, tc.a, tc.b, tc.c, 0.5);
    ASSERT_TRUE(circuit.x(1).ok());

    // What the register's own method does after x(0), before anything else.
    Register direct = make_register(2);
    ASSERT_TRUE(direct.x(0).ok());
    const Status expected = twin->call(direct, tc.a, tc.b, tc.c, 0.5);

    Register reg = make_register(2);
    const Status st = circuit.replay(reg);
    ASSERT_EQ(st.ok(), expected.ok());
    if (tc.message != nullptr) {
      ASSERT_FALSE(st.ok());
      EXPECT_EQ(st.error().kind, ErrorKind::kIndex);
      EXPECT_EQ(st.error().message, tc.message);
      EXPECT_EQ(words(reg), basis_words(2, 1));  // x(0) applied, x(1) not
    }
    if (!st.ok()) {
      EXPECT_EQ(st.error().kind, expected.error().kind);
      EXPECT_EQ(st.error().message, expected.error().message);
      EXPECT_EQ(words(reg), words(direct));
    } else {
      ASSERT_TRUE(direct.x(1).ok());
      EXPECT_EQ(words(reg), words(direct));
    }
  }
}

TEST(CircuitReplay, ChecksAgainstTheTargetRegisterNotTheCircuitCount) {
  // Recorded for 1 qubit, replayed onto 3: acts on qubit 0 only.
  Circuit small(1);
  ASSERT_TRUE(small.h(0).ok());
  Register reg3 = make_register(3);
  ASSERT_TRUE(small.replay(reg3).ok());
  std::vector<std::uint64_t> expected(16, 0);
  expected[0] = kHalfSqrt2;
  expected[2] = kHalfSqrt2;
  EXPECT_EQ(words(reg3), expected);

  // Recorded for 1 qubit with qubit 2, still valid on 3 qubits.
  Circuit beyond(1);
  ASSERT_TRUE(beyond.x(2).ok());
  Register other3 = make_register(3);
  ASSERT_TRUE(beyond.replay(other3).ok());
  EXPECT_EQ(words(other3), basis_words(3, 4));

  // Recorded for 5 qubits, replayed onto 2: fails at the gate, after the ones before it.
  Circuit big(5);
  ASSERT_TRUE(big.x(1).ok());
  ASSERT_TRUE(big.h(4).ok());
  Register reg2 = make_register(2);
  const Status st = big.replay(reg2);
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(st.error().message, "qubit index out of range");
  EXPECT_EQ(words(reg2), basis_words(2, 2));
}

TEST(CircuitReplay, EmptyCircuitLeavesTheRegisterAlone) {
  Register reg = make_register(2);
  ASSERT_TRUE(reg.h(1).ok());
  const auto before = words(reg);
  EXPECT_TRUE(Circuit(9).replay(reg).ok());
  EXPECT_EQ(words(reg), before);
}

TEST(CircuitBuild, ChecksTheQubitCountBeforeReplaying) {
  for (const std::uint64_t n : {std::uint64_t{0}, std::uint64_t{31}, std::uint64_t{64}, kMax}) {
    SCOPED_TRACE(n);
    Circuit empty(n);
    Circuit failing(n);
    ASSERT_TRUE(failing.h(99).ok());  // would fail first if replay came before the count check
    for (const Circuit* c : {&empty, &failing}) {
      auto built = c->build(1);
      ASSERT_FALSE(built.ok());
      EXPECT_EQ(built.error().kind, ErrorKind::kValue);
      EXPECT_EQ(built.error().message, "n_qubits must be between 1 and 30");
    }
  }
}

TEST(CircuitBuild, FreshRegisterWithTheGatesReplayed) {
  auto empty = Circuit(2).build(std::nullopt);
  ASSERT_TRUE(empty.ok());
  EXPECT_EQ(words(empty.value()), basis_words(2, 0));

  Circuit bell(2);
  ASSERT_TRUE(bell.h(0).ok());
  ASSERT_TRUE(bell.cx(0, 1).ok());
  auto built = bell.build(5);
  ASSERT_TRUE(built.ok());
  EXPECT_EQ(words(built.value()),
            (std::vector<std::uint64_t>{kHalfSqrt2, 0, 0, 0, 0, 0, kHalfSqrt2, 0}));

  Circuit out_of_range(2);
  ASSERT_TRUE(out_of_range.h(5).ok());
  auto failed = out_of_range.build(5);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().kind, ErrorKind::kIndex);
  EXPECT_EQ(failed.error().message, "qubit index out of range");
}

}  // namespace
}  // namespace amplion::circuit
