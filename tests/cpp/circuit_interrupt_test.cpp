// The interrupt check, scripted: where each long operation asks it, and what a stop leaves behind
// (a copying gate: the register as it was; a measurement: the generator as its first step left
// it; a replay: exactly the gates before the stop).
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "circuit/circuit.h"
#include "base/interrupt.h"
#include "engine/measure.h"
#include "engine/register.h"
#include "engine/walk.h"
#include "random/chacha.h"

namespace amplion::engine {
namespace {

using base::ErrorKind;
using base::InterruptCheck;
using base::kCheckedChunk;
using base::kInterruptedMessage;
using base::set_interrupt_check;
using base::Status;
using random::ChaChaGenerator;

// 2^22 amplitudes are four chunks, so a copying gate asks three times.
constexpr std::uint64_t kChunkedQubits = 22;
static_assert(walk::bit(kChunkedQubits) == 4 * kCheckedChunk);

// Installs a check that counts its calls and says stop at call `stop_at` (0: never); puts the
// previous check back when it goes.
class ScriptedInterrupt {
 public:
  explicit ScriptedInterrupt(int stop_at) : previous_(set_interrupt_check(&check)) {
    calls_ = 0;
    stop_at_ = stop_at;
  }
  ~ScriptedInterrupt() { set_interrupt_check(previous_); }
  ScriptedInterrupt(const ScriptedInterrupt&) = delete;
  ScriptedInterrupt& operator=(const ScriptedInterrupt&) = delete;

  int calls() const { return calls_; }

 private:
  static bool check() { return ++calls_ == stop_at_; }

  static inline int calls_ = 0;
  static inline int stop_at_ = 0;
  InterruptCheck previous_;
};

std::vector<std::uint64_t> words(const Register& reg) {
  std::vector<std::uint64_t> out;
  out.reserve(2 * reg.length());
  for (const Complex64& a : reg.amplitudes()) {
    out.push_back(std::bit_cast<std::uint64_t>(a.re));
    out.push_back(std::bit_cast<std::uint64_t>(a.im));
  }
  return out;
}

// Distinct, non-zero, finite parts: a lost, doubled or misplaced element shows.
Register filled(std::uint64_t n_qubits) {
  auto reg = Register::create(n_qubits, 5);
  EXPECT_TRUE(reg.ok());
  std::uint64_t i = 0;
  for (Complex64& a : reg.value().mutable_amplitudes()) {
    a = Complex64{static_cast<double>(i + 1), -static_cast<double>(i + 1) * 0.5};
    ++i;
  }
  return std::move(reg.value());
}

struct NamedGate {
  std::string name;
  std::function<Status(Register&)> apply;
};

std::vector<NamedGate> copying_gates(std::uint64_t n_qubits) {
  const std::uint64_t top = n_qubits - 1;
  std::vector<NamedGate> gates;
  for (const std::uint64_t q : {std::uint64_t{0}, top}) {
    const std::string at = "(" + std::to_string(q) + ")";
    gates.push_back({"h" + at, [q](Register& r) { return r.h(q); }});
    gates.push_back({"x" + at, [q](Register& r) { return r.x(q); }});
    gates.push_back({"y" + at, [q](Register& r) { return r.y(q); }});
    gates.push_back({"sx" + at, [q](Register& r) { return r.sx(q); }});
    gates.push_back({"sxdg" + at, [q](Register& r) { return r.sxdg(q); }});
    gates.push_back({"rx" + at, [q](Register& r) { return r.rx(q, 0.3); }});
    gates.push_back({"ry" + at, [q](Register& r) { return r.ry(q, 0.3); }});
  }
  gates.push_back({"cy(0, top)", [top](Register& r) { return r.cy(0, top); }});
  gates.push_back({"cy(top, 0)", [top](Register& r) { return r.cy(top, 0); }});
  gates.push_back({"cy(3, 3)", [](Register& r) { return r.cy(3, 3); }});
  return gates;
}

TEST(InterruptCheck, CopyingGateStoppedLeavesTheRegisterAsItWas) {
  Register reg = filled(kChunkedQubits);
  const std::vector<std::uint64_t> before = words(reg);
  for (const NamedGate& g : copying_gates(kChunkedQubits)) {
    SCOPED_TRACE(g.name);
    ScriptedInterrupt script(2);  // the first chunk and the second are computed, then stop
    const Status st = g.apply(reg);
    ASSERT_FALSE(st.ok());
    EXPECT_EQ(st.error().kind, ErrorKind::kInterrupted);
    EXPECT_EQ(st.error().message, kInterruptedMessage);
    EXPECT_EQ(script.calls(), 2);
    ASSERT_EQ(words(reg), before);
  }
}

TEST(InterruptCheck, CopyingGateAsksBetweenChunksOnlyOnLargeRegisters) {
  for (const std::uint64_t n : {kChunkedQubits - 2, kChunkedQubits}) {
    Register reg = filled(n);
    for (const NamedGate& g : copying_gates(n)) {
      SCOPED_TRACE(g.name + " on " + std::to_string(n) + " qubits");
      ScriptedInterrupt script(0);
      ASSERT_TRUE(g.apply(reg).ok());
      EXPECT_EQ(script.calls(), n == kChunkedQubits ? 3 : 0);
    }
  }
}

// The chunked walks still write every element exactly once, from the right source: x is the
// permutation i -> i ^ 2^q, and cy twice is the identity on non-zero finite parts.
TEST(InterruptCheck, ChunkedWalksCoverTheVectorOnce) {
  const std::vector<std::uint64_t> before = words(filled(kChunkedQubits));
  for (const std::uint64_t q : std::initializer_list<std::uint64_t>{0, 19, 20, 21}) {
    SCOPED_TRACE("x(" + std::to_string(q) + ")");
    Register reg = filled(kChunkedQubits);
    ASSERT_TRUE(reg.x(q).ok());
    const std::vector<std::uint64_t> after = words(reg);
    for (std::uint64_t i = 0; i < reg.length(); ++i) {
      const std::uint64_t from = i ^ walk::bit(q);
      ASSERT_EQ(after[2 * i], before[2 * from]) << i;
      ASSERT_EQ(after[2 * i + 1], before[2 * from + 1]) << i;
    }
  }
  const std::uint64_t pairs[][2] = {{0, 21}, {21, 0}, {20, 21}, {21, 20}, {19, 2}};
  for (const auto& p : pairs) {
    SCOPED_TRACE("cy(" + std::to_string(p[0]) + ", " + std::to_string(p[1]) + ")");
    Register reg = filled(kChunkedQubits);
    ASSERT_TRUE(reg.cy(p[0], p[1]).ok());
    ASSERT_NE(words(reg), before);
    ASSERT_TRUE(reg.cy(p[0], p[1]).ok());
    ASSERT_EQ(words(reg), before);
  }
}

// A stop after an in-place pass would report a failure for a gate that was applied.
TEST(InterruptCheck, InPlaceGatesNeverAsk) {
  constexpr std::uint64_t top = kChunkedQubits - 1;
  const std::vector<NamedGate> gates = {
      {"z", [](Register& r) { return r.z(top); }},
      {"s", [](Register& r) { return r.s(0); }},
      {"sdg", [](Register& r) { return r.sdg(top); }},
      {"t", [](Register& r) { return r.t(0); }},
      {"tdg", [](Register& r) { return r.tdg(top); }},
      {"rz", [](Register& r) { return r.rz(top, 0.3); }},
      {"cx", [](Register& r) { return r.cx(0, top); }},
      {"swap", [](Register& r) { return r.swap(top, 0); }},
      {"cz", [](Register& r) { return r.cz(top, top); }},
      {"cp", [](Register& r) { return r.cp(0, top, 0.3); }},
      {"ccx", [](Register& r) { return r.ccx(0, 1, top); }},
      {"cswap", [](Register& r) { return r.cswap(top, 0, 1); }},
      {"h_cpp", [](Register& r) { return r.h_cpp(top); }},
      {"x_cpp", [](Register& r) { return r.x_cpp(0); }},
      {"cx_cpp", [](Register& r) { return r.cx_cpp(top, 0); }},
      {"ccx_cpp", [](Register& r) { return r.ccx_cpp(0, top, 1); }},
      {"cswap_cpp", [](Register& r) { return r.cswap_cpp(0, 1, top); }},
  };
  Register reg = filled(kChunkedQubits);
  ScriptedInterrupt script(1);
  for (const NamedGate& g : gates) {
    SCOPED_TRACE(g.name);
    EXPECT_TRUE(g.apply(reg).ok());
    EXPECT_EQ(script.calls(), 0);
  }
}

// Three batches of draws: the check is asked once before the first and between each two. A
// stop at any of them keeps the generator exactly as the reseed or the two-word skip left it,
// and the amplitudes.
TEST(InterruptCheck, MeasurementStoppedKeepsTheGeneratorStep) {
  const std::uint64_t shots = 3 * kMinMeasureBatch;
  for (const std::optional<std::uint64_t> seed : {std::optional<std::uint64_t>(9),
                                                 std::optional<std::uint64_t>()}) {
    for (int stop_at = 1; stop_at <= 3; ++stop_at) {
      SCOPED_TRACE(std::string(seed ? "seed" : "no seed") + ", stop at check " +
                   std::to_string(stop_at));
      auto made = Register::create(4, 3);
      ASSERT_TRUE(made.ok());
      Register& reg = made.value();
      for (std::uint64_t q = 0; q < 4; ++q) ASSERT_TRUE(reg.h(q).ok());
      const std::vector<std::uint64_t> before = words(reg);
      ChaChaGenerator want = seed ? ChaChaGenerator::seed_from_u64(*seed) : reg.rng();
      if (!seed) want.draw_u64();
      {
        ScriptedInterrupt script(stop_at);
        auto counts = measure_counts(reg, shots, seed);
        ASSERT_FALSE(counts.ok());
        EXPECT_EQ(counts.error().kind, ErrorKind::kInterrupted);
        EXPECT_EQ(script.calls(), stop_at);
      }
      EXPECT_EQ(words(reg), before);
      for (int i = 0; i < 40; ++i) ASSERT_EQ(reg.rng().draw_u64(), want.draw_u64()) << i;

      ScriptedInterrupt never(0);
      EXPECT_TRUE(measure_counts(reg, shots, seed).ok());
      EXPECT_EQ(never.calls(), 3);
    }
  }
}

// Above 2^20 amplitudes the probabilities and the per-outcome counters are also filled chunk by
// chunk: 2^22 amplitudes and shots enough for the counters ask 3 + 1 + 3 times before drawing.
TEST(InterruptCheck, MeasurementAsksDuringItsPassesOnLargeRegisters) {
  Register reg = filled(kChunkedQubits);
  for (int stop_at = 1; stop_at <= 7; ++stop_at) {
    SCOPED_TRACE("stop at check " + std::to_string(stop_at));
    ScriptedInterrupt script(stop_at);
    auto counts = measure_counts(reg, reg.length(), 4);
    ASSERT_FALSE(counts.ok());
    EXPECT_EQ(counts.error().kind, ErrorKind::kInterrupted);
    EXPECT_EQ(script.calls(), stop_at);
  }
  ScriptedInterrupt never(0);
  EXPECT_TRUE(measure_counts(reg, 1, 4).ok());
  EXPECT_EQ(never.calls(), 3 + 1);
}

// Five gates on 2^20 amplitudes, where the check is asked between each two (no gate asks by
// itself): a stop at check k leaves exactly the first k applied. On small registers it is asked
// once the gates have passed over 2^20 amplitudes.
TEST(InterruptCheck, ReplayStoppedKeepsTheGatesBefore) {
  circuit::Circuit circuit(3);
  ASSERT_TRUE(circuit.h(0).ok());
  ASSERT_TRUE(circuit.cx(0, 19).ok());
  ASSERT_TRUE(circuit.rx(1, 0.7).ok());
  ASSERT_TRUE(circuit.t(19).ok());
  ASSERT_TRUE(circuit.cy(1, 0).ok());
  const std::vector<std::function<Status(Register&)>> direct = {
      [](Register& r) { return r.h(0); }, [](Register& r) { return r.cx(0, 19); },
      [](Register& r) { return r.rx(1, 0.7); }, [](Register& r) { return r.t(19); },
      [](Register& r) { return r.cy(1, 0); }};
  for (int k = 0; k <= 5; ++k) {
    SCOPED_TRACE("stop at check " + std::to_string(k));
    Register want = filled(20);
    const auto applied = static_cast<std::size_t>(k == 0 ? 5 : k);
    for (std::size_t g = 0; g < applied; ++g) ASSERT_TRUE(direct[g](want).ok());
    Register reg = filled(20);
    ScriptedInterrupt script(k);
    const Status st = circuit.replay(reg);
    EXPECT_EQ(st.ok(), k == 0 || k == 5);
    if (!st.ok()) {
      EXPECT_EQ(st.error().kind, ErrorKind::kInterrupted);
    }
    EXPECT_EQ(script.calls(), k == 0 || k == 5 ? 4 : k);
    EXPECT_EQ(words(reg), words(want));
  }

  circuit::Circuit many(2);
  for (std::uint64_t g = 0; g < (kCheckedChunk >> 2) * 3; ++g) ASSERT_TRUE(many.z(0).ok());
  Register small = filled(2);
  ScriptedInterrupt never(0);
  ASSERT_TRUE(many.replay(small).ok());
  EXPECT_EQ(never.calls(), 2);
}

}  // namespace
}  // namespace amplion::engine
