// Gates of the register: hand-derived amplitudes compared bit for bit, the walks against the
// definition of each gate, coinciding qubits, index checks, and refused allocations.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/memory.h"
#include "engine/register.h"
#include "engine/simd.h"
#include "engine/sincos.h"
#include "test_support.h"

namespace amplion::engine {

using base::ErrorKind;
using base::Status;

namespace {

constexpr double kPi = 0x1.921fb54442d18p+1;

// Hex words of the values that the gates must produce.
constexpr std::uint64_t kZero = 0x0000000000000000;
constexpr std::uint64_t kNegZero = 0x8000000000000000;
constexpr std::uint64_t kOne = 0x3FF0000000000000;
constexpr std::uint64_t kNegOne = 0xBFF0000000000000;
constexpr std::uint64_t kHalfWord = 0x3FE0000000000000;
constexpr std::uint64_t kNegHalf = 0xBFE0000000000000;
constexpr std::uint64_t kInvSqrt2 = 0x3FE6A09E667F3BCC;  // 0.7071067811865475
constexpr std::uint64_t kNegInvSqrt2 = 0xBFE6A09E667F3BCC;
constexpr std::uint64_t kCosQuarter = 0x3FE6A09E667F3BCD;   // 0.7071067811865476
constexpr std::uint64_t kTwoHSquared = 0x3FEFFFFFFFFFFFFE;  // 0.9999999999999998
constexpr std::uint64_t kCosHalfPi = 0x3C91A62633145C07;    // 6.123233995736766e-17
constexpr std::uint64_t kSinPi = 0x3CA1A62633145C07;        // 1.2246467991473532e-16

using Words = std::vector<std::uint64_t>;  // re, im of every amplitude in index order

// Distinct, non-zero, finite parts, so that a misplaced element and a lost sign both show.
void fill(Register& reg, std::uint64_t salt = 1) {
  std::uint64_t x = 0x9E3779B97F4A7C15 * salt;
  auto next = [&x]() {
    x = x * 6364136223846793005 + 1442695040888963407;
    const double u = static_cast<double>((x >> 11) | 1) * 0x1p-53;  // (0, 1)
    return (x >> 5) & 1 ? u : -u;
  };
  for (Complex64& a : reg.mutable_amplitudes()) a = Complex64{next(), next()};
}

// fill, then a NaN in every third part: both signs, quiet and signalling, each with its own
// payload. The gates that only move or negate amplitudes keep every bit of them.
void fill_with_nans(Register& reg, std::uint64_t salt) {
  constexpr std::uint64_t kKinds[] = {0x7FF8000000000000, 0xFFF8000000000000, 0x7FF0000000000000,
                                      0xFFF0000000000000};
  fill(reg, salt);
  std::uint64_t k = 0;
  for (Complex64& a : reg.mutable_amplitudes()) {
    for (double* part : {&a.re, &a.im}) {
      if (k % 3 == 1) *part = std::bit_cast<double>(kKinds[k / 3 % 4] | (salt << 20) | (k + 1));
      ++k;
    }
  }
}

// Parts mixing ordinary values with signed zeros, subnormals, the largest double, infinities and
// NaNs (with a payload, and negative), so that every lane of every pass meets each of them.
void fill_special(Register& reg, std::uint64_t salt) {
  const double specials[] = {0.0,      -0.0,      0x1p-1074, -0x1.8p-1060, 0x1.fffffffffffffp+1023,
                             INFINITY, -INFINITY, NAN,       -NAN,         std::bit_cast<double>(
                                                                               0x7FF800000000BEEFull)};
  std::uint64_t x = 0xD1B54A32D192ED03 * salt;
  auto next = [&x]() {
    x = x * 6364136223846793005 + 1442695040888963407;
    return x >> 16;
  };
  auto part = [&]() {
    const std::uint64_t r = next();
    if (r % 3 == 0) return specials[(r >> 8) % std::size(specials)];
    const double u = static_cast<double>((r >> 8) | 1) * 0x1p-40;
    return r & 8 ? u : -u;
  };
  for (Complex64& a : reg.mutable_amplitudes()) a = Complex64{part(), part()};
}

// Bit for bit; unless `exact`, a NaN matches any NaN: which NaN a sum returns depends on the order
// of its operands, which the compiler may exchange.
void expect_same(const Complex64& got, const Complex64& want, bool exact) {
  for (const auto& [g, w] : {std::pair{got.re, want.re}, std::pair{got.im, want.im}}) {
    if (!exact && std::isnan(w)) {
      EXPECT_TRUE(std::isnan(g));
    } else {
      EXPECT_EQ(bits(g), bits(w));
    }
  }
}

void expect_ok(const Status& st) {
  EXPECT_TRUE(st.ok()) << (st.ok() ? "" : st.error().message);
}

void expect_error(const Status& st, ErrorKind kind, const std::string& message) {
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(st.error().kind, kind);
  EXPECT_EQ(st.error().message, message);
}

// ---------------------------------------------------------------------------------------------
// Amplitudes derived by hand from the gate tables, as hex words.

struct Expected {
  std::uint64_t index;
  std::uint64_t re;
  std::uint64_t im;
};

struct EdgeCase {
  const char* name;
  std::uint64_t n_qubits;
  std::function<void(Register&)> gates;
  std::vector<Expected> expected;
  std::vector<Complex64> initial = {};  // |0...0> when empty
};

// Parts whose zero signs tell (0, -1), (-0, -1), (0, 1) and (-0, -1) factors apart.
const std::vector<Complex64> kSignedZeros = {{2.0, -0.0}, {1.0, -0.0}};
const std::vector<Complex64> kSignedZeros2 = {{0.0, 0.0}, {2.0, -0.0}, {0.0, 0.0}, {1.0, -0.0}};

TEST(GateEdgeValues, HandDerivedAmplitudesBitForBit) {
  const std::vector<EdgeCase> cases = {
      {"h", 1, [](Register& r) { expect_ok(r.h(0)); },
       {{0, kInvSqrt2, kZero}, {1, kInvSqrt2, kZero}}},
      {"h h", 1, [](Register& r) { expect_ok(r.h(0)); expect_ok(r.h(0)); },
       {{0, kTwoHSquared, kZero}, {1, kZero, kZero}}},
      {"x t", 1, [](Register& r) { expect_ok(r.x(0)); expect_ok(r.t(0)); },
       {{0, kZero, kZero}, {1, kCosQuarter, kInvSqrt2}}},
      {"x tdg", 1, [](Register& r) { expect_ok(r.x(0)); expect_ok(r.tdg(0)); },
       {{0, kZero, kZero}, {1, kCosQuarter, kNegInvSqrt2}}},
      {"x s", 1, [](Register& r) { expect_ok(r.x(0)); expect_ok(r.s(0)); },
       {{1, kZero, kOne}}},
      {"x sdg", 1, [](Register& r) { expect_ok(r.x(0)); expect_ok(r.sdg(0)); },
       {{1, kZero, kNegOne}}},
      {"x z", 1, [](Register& r) { expect_ok(r.x(0)); expect_ok(r.z(0)); },
       {{0, kZero, kZero}, {1, kNegOne, kNegZero}}},
      {"z on |0>", 1, [](Register& r) { expect_ok(r.z(0)); },
       {{0, kOne, kZero}, {1, kNegZero, kNegZero}}},
      {"y", 1, [](Register& r) { expect_ok(r.y(0)); }, {{0, kZero, kNegZero}, {1, kZero, kOne}}},
      {"sx", 1, [](Register& r) { expect_ok(r.sx(0)); },
       {{0, kHalfWord, kHalfWord}, {1, kHalfWord, kNegHalf}}},
      {"sx sx", 1, [](Register& r) { expect_ok(r.sx(0)); expect_ok(r.sx(0)); },
       {{0, kZero, kZero}, {1, kOne, kZero}}},
      {"sxdg", 1, [](Register& r) { expect_ok(r.sxdg(0)); },
       {{0, kHalfWord, kNegHalf}, {1, kHalfWord, kHalfWord}}},
      {"rz pi", 1, [](Register& r) { expect_ok(r.rz(0, kPi)); },
       {{0, kCosHalfPi, kNegOne}, {1, kZero, kZero}}},
      {"rx pi", 1, [](Register& r) { expect_ok(r.rx(0, kPi)); },
       {{0, kCosHalfPi, kZero}, {1, kZero, kNegOne}}},
      {"ry pi", 1, [](Register& r) { expect_ok(r.ry(0, kPi)); },
       {{0, kCosHalfPi, kZero}, {1, kOne, kZero}}},
      {"x on qubit 2", 3, [](Register& r) { expect_ok(r.x(2)); },
       {{0, kZero, kZero}, {4, kOne, kZero}}},
      {"bell", 2, [](Register& r) { expect_ok(r.h(0)); expect_ok(r.cx(0, 1)); },
       {{0, kInvSqrt2, kZero}, {1, kZero, kZero}, {2, kZero, kZero}, {3, kInvSqrt2, kZero}}},
      {"cz fresh", 2, [](Register& r) { expect_ok(r.cz(0, 1)); },
       {{0, kOne, kZero}, {3, kNegZero, kNegZero}}},
      {"cy on |01>", 2, [](Register& r) { expect_ok(r.x(0)); expect_ok(r.cy(0, 1)); },
       {{0, kZero, kZero}, {1, kZero, kNegZero}, {2, kZero, kZero}, {3, kZero, kOne}}},
      {"cp pi on |11>", 2,
       [](Register& r) { expect_ok(r.x(0)); expect_ok(r.x(1)); expect_ok(r.cp(0, 1, kPi)); },
       {{3, kNegOne, kSinPi}}},
      {"cp pi/2 same qubit", 1,
       [](Register& r) { expect_ok(r.x(0)); expect_ok(r.cp(0, 0, kPi / 2)); },
       {{0, kZero, kZero}, {1, kCosHalfPi, kOne}}},
      {"cz same qubit", 1, [](Register& r) { expect_ok(r.h(0)); expect_ok(r.cz(0, 0)); },
       {{0, kInvSqrt2, kZero}, {1, kNegInvSqrt2, kNegZero}}},
      {"y signed zeros", 1, [](Register& r) { expect_ok(r.y(0)); },
       {{0, kNegZero, kNegOne}, {1, kZero, bits(2.0)}}, kSignedZeros},
      {"s signed zeros", 1, [](Register& r) { expect_ok(r.s(0)); },
       {{0, bits(2.0), kNegZero}, {1, kZero, kOne}}, kSignedZeros},
      {"sdg signed zeros", 1, [](Register& r) { expect_ok(r.sdg(0)); },
       {{0, bits(2.0), kNegZero}, {1, kZero, kNegOne}}, kSignedZeros},
      {"cy signed zeros", 2, [](Register& r) { expect_ok(r.cy(0, 1)); },
       {{1, kNegZero, kNegOne}, {3, kZero, bits(2.0)}}, kSignedZeros2},
      {"swap", 3, [](Register& r) { expect_ok(r.x(0)); expect_ok(r.swap(0, 2)); },
       {{1, kZero, kZero}, {4, kOne, kZero}}},
      {"ccx", 3,
       [](Register& r) { expect_ok(r.x(0)); expect_ok(r.x(2)); expect_ok(r.ccx(2, 0, 1)); },
       {{5, kZero, kZero}, {7, kOne, kZero}}},
      {"cswap", 3,
       [](Register& r) { expect_ok(r.x(1)); expect_ok(r.x(2)); expect_ok(r.cswap(2, 1, 0)); },
       {{6, kZero, kZero}, {5, kOne, kZero}}},
  };
  for (const EdgeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Register reg = make_register(c.n_qubits);
    std::copy(c.initial.begin(), c.initial.end(), reg.mutable_amplitudes().begin());
    c.gates(reg);
    for (const Expected& e : c.expected) {
      SCOPED_TRACE(e.index);
      const Complex64 a = reg.amplitudes()[e.index];
      EXPECT_EQ(bits(a.re), e.re);
      EXPECT_EQ(bits(a.im), e.im);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Non-finite angles and sign-bit flips.

TEST(GateNonFinite, RotationsWithNonFiniteAngleWriteNaNEverywhere) {
  const double angles[] = {NAN, INFINITY, -INFINITY};
  const std::vector<std::pair<const char*, std::function<Status(Register&, double)>>> gates = {
      {"rx", [](Register& r, double th) { return r.rx(1, th); }},
      {"ry", [](Register& r, double th) { return r.ry(1, th); }},
      {"rz", [](Register& r, double th) { return r.rz(1, th); }},
  };
  for (const auto& [name, gate] : gates) {
    for (double theta : angles) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(theta));
      Register reg = make_register(2);
      expect_ok(gate(reg, theta));
      for (const Complex64& a : reg.amplitudes()) {
        EXPECT_TRUE(std::isnan(a.re));
        EXPECT_TRUE(std::isnan(a.im));
      }
    }
  }
}

TEST(GateNonFinite, CpWithNaNAngleWritesOnlyWhereBothBitsAreSet) {
  Register reg = make_register(2);
  fill(reg);
  const Words before = words(reg);
  expect_ok(reg.cp(1, 0, NAN));
  const Words after = words(reg);
  for (std::uint64_t i = 0; i < 3; ++i) {
    EXPECT_EQ(after[2 * i], before[2 * i]);
    EXPECT_EQ(after[2 * i + 1], before[2 * i + 1]);
  }
  EXPECT_TRUE(std::isnan(reg.amplitudes()[3].re));
  EXPECT_TRUE(std::isnan(reg.amplitudes()[3].im));
}

TEST(GateNonFinite, ZAndCzFlipSignBitsOfNaNAndZero) {
  const std::vector<std::pair<const char*, std::function<Status(Register&)>>> gates = {
      {"z", [](Register& r) { return r.z(0); }},
      {"cz", [](Register& r) { return r.cz(0, 0); }},
  };
  // quiet, signalling, and negative signalling with their payloads
  const std::uint64_t nans[] = {0x7FF8000000000001, 0x7FF0000000000002, 0xFFF00000000A0003};
  for (const std::uint64_t nan : nans) {
    for (const auto& [name, gate] : gates) {
      SCOPED_TRACE(name);
      Register reg = make_register(1);
      reg.mutable_amplitudes()[1] = Complex64{std::bit_cast<double>(nan), -0.0};
      expect_ok(gate(reg));
      EXPECT_EQ(words(reg), (Words{kOne, kZero, nan ^ kNegZero, kZero}));
    }
  }
}

// rz evaluates its product in a rearranged but exactly equivalent form; it must round as the
// product written out, (c * re - l * im, l * re + c * im), on zeros of both signs, subnormals,
// the largest double and infinities alike.
TEST(GateNonFinite, RzRoundsAsTheWrittenProduct) {
  const double parts[] = {0.0,     -0.0,     1.0,      -3.5,      0x1p-1074,
                          -0x1p-1060, 0x1.fffffffffffffp+1023, INFINITY, -INFINITY, 0.1};
  const double angles[] = {0.0, -0.0, kPi, -1.0471975511965976, 1e-300, 1e300, 2.5};
  for (double theta : angles) {
    double s = 0.0, c = 0.0;
    sin_cos(theta * 0.5, &s, &c);  // the pair rz itself takes
    for (double re : parts) {
      for (double im : parts) {
        SCOPED_TRACE(std::to_string(theta) + " " + std::to_string(re) + " " + std::to_string(im));
        Register reg = make_register(1);
        reg.mutable_amplitudes()[0] = Complex64{re, im};
        reg.mutable_amplitudes()[1] = Complex64{re, im};
        expect_ok(reg.rz(0, theta));
        for (std::uint64_t k = 0; k < 2; ++k) {
          const double l = k == 0 ? -s : s;
          const double want_re = c * re - l * im;
          const double want_im = l * re + c * im;
          const Complex64 got = reg.amplitudes()[k];
          if (std::isnan(want_re)) {
            EXPECT_TRUE(std::isnan(got.re));
          } else {
            EXPECT_EQ(bits(got.re), bits(want_re));
          }
          if (std::isnan(want_im)) {
            EXPECT_TRUE(std::isnan(got.im));
          } else {
            EXPECT_EQ(bits(got.im), bits(want_im));
          }
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Each pair of an n-qubit register must change exactly as a one-qubit register holding the same
// two amplitudes does: catches a wrong pairing on any qubit.

using OneQubitGate = std::function<Status(Register&, std::uint64_t)>;

const std::vector<std::pair<const char*, OneQubitGate>>& one_qubit_gates() {
  static const std::vector<std::pair<const char*, OneQubitGate>> gates = {
      {"h", [](Register& r, std::uint64_t q) { return r.h(q); }},
      {"x", [](Register& r, std::uint64_t q) { return r.x(q); }},
      {"y", [](Register& r, std::uint64_t q) { return r.y(q); }},
      {"z", [](Register& r, std::uint64_t q) { return r.z(q); }},
      {"s", [](Register& r, std::uint64_t q) { return r.s(q); }},
      {"sdg", [](Register& r, std::uint64_t q) { return r.sdg(q); }},
      {"t", [](Register& r, std::uint64_t q) { return r.t(q); }},
      {"tdg", [](Register& r, std::uint64_t q) { return r.tdg(q); }},
      {"sx", [](Register& r, std::uint64_t q) { return r.sx(q); }},
      {"sxdg", [](Register& r, std::uint64_t q) { return r.sxdg(q); }},
      {"rx", [](Register& r, std::uint64_t q) { return r.rx(q, 0.3); }},
      {"ry", [](Register& r, std::uint64_t q) { return r.ry(q, -1.7); }},
      {"rz", [](Register& r, std::uint64_t q) { return r.rz(q, 2.5); }},
      {"h_cpp", [](Register& r, std::uint64_t q) { return r.h_cpp(q); }},
      {"x_cpp", [](Register& r, std::uint64_t q) { return r.x_cpp(q); }},
  };
  return gates;
}

// Gates that only move or flip sign bits: their NaNs keep every bit.
bool exact_gate(const std::string& name) {
  return name == "x" || name == "z" || name == "x_cpp" || name == "cz";
}

// Every path: portable and AVX2, each with the second vector written through the cache and around
// it. Each runs the gates on registers full of special values; the reference for each pair or
// group is a small register computed on the portable path through the cache.
struct Portable {
  static constexpr bool kAvx2 = false, kStream = false;
};
struct PortableStreamed {
  static constexpr bool kAvx2 = false, kStream = true;
};
struct Avx2 {
  static constexpr bool kAvx2 = true, kStream = false;
};
struct Avx2Streamed {
  static constexpr bool kAvx2 = true, kStream = true;
};

simd::Paths paths(bool avx2, bool stream) { return {avx2, stream ? 0 : UINT64_MAX}; }

template <class Path>
class GatePaths : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Path::kAvx2 && !simd::detected().avx2) GTEST_SKIP() << "no AVX2 on this processor";
    simd::set_active(paths(Path::kAvx2, Path::kStream));
  }
  void TearDown() override { simd::set_active(saved_); }

  // `gate` on `small` as the portable path computes it.
  template <class Gate>
  static void on_portable(Register& small, Gate gate) {
    const simd::Paths path = simd::set_active(paths(false, false));
    gate(small);
    simd::set_active(path);
  }

 private:
  simd::Paths saved_ = simd::active();
};

using AllPaths = ::testing::Types<Portable, PortableStreamed, Avx2, Avx2Streamed>;
TYPED_TEST_SUITE(GatePaths, AllPaths);

// Each pair of an n-qubit register must change exactly as a one-qubit register holding the same
// two amplitudes does: catches a wrong pairing on any qubit, and any lane that rounds differently.
TYPED_TEST(GatePaths, EveryPairActsLikeAOneQubitRegister) {
  constexpr std::uint64_t kQubits = 4;
  for (const auto& [name, gate] : one_qubit_gates()) {
    for (std::uint64_t q = 0; q < kQubits; ++q) {
      SCOPED_TRACE(std::string(name) + " on qubit " + std::to_string(q));
      Register reg = make_register(kQubits);
      fill_special(reg, q + 3);
      const std::vector<Complex64> before(reg.amplitudes().begin(), reg.amplitudes().end());
      expect_ok(gate(reg, q));
      const std::uint64_t m = std::uint64_t{1} << q;
      for (std::uint64_t i = 0; i < reg.length(); ++i) {
        if (i & m) continue;
        SCOPED_TRACE(i);
        Register one = make_register(1);
        one.mutable_amplitudes()[0] = before[i];
        one.mutable_amplitudes()[1] = before[i | m];
        this->on_portable(one, [&g = gate](Register& r) { expect_ok(g(r, 0)); });
        expect_same(reg.amplitudes()[i], one.amplitudes()[0], exact_gate(name));
        expect_same(reg.amplitudes()[i | m], one.amplitudes()[1], exact_gate(name));
      }
    }
  }
}

// cy, cz and cp on every pair of qubits: the group of four amplitudes that two distinct qubits
// select changes as on a two-qubit register with the control as qubit 0 and the target as 1; with
// control and target the same qubit, each pair changes as on a one-qubit register.
TYPED_TEST(GatePaths, EveryGroupActsLikeATwoQubitRegister) {
  using Controlled = std::function<Status(Register&, std::uint64_t, std::uint64_t)>;
  const std::vector<std::pair<const char*, Controlled>> gates = {
      {"cy", [](Register& r, std::uint64_t c, std::uint64_t t) { return r.cy(c, t); }},
      {"cz", [](Register& r, std::uint64_t c, std::uint64_t t) { return r.cz(c, t); }},
      {"cp", [](Register& r, std::uint64_t c, std::uint64_t t) { return r.cp(c, t, 0.9); }},
  };
  constexpr std::uint64_t kQubits = 3;
  for (const auto& [name, gate] : gates) {
    for (std::uint64_t c = 0; c < kQubits; ++c) {
      for (std::uint64_t t = 0; t < kQubits; ++t) {
        SCOPED_TRACE(std::string(name) + " " + std::to_string(c) + std::to_string(t));
        Register reg = make_register(kQubits);
        fill_special(reg, c * 3 + t + 1);
        const std::vector<Complex64> before(reg.amplitudes().begin(), reg.amplitudes().end());
        expect_ok(gate(reg, c, t));
        const std::uint64_t cb = std::uint64_t{1} << c, tb = std::uint64_t{1} << t;
        for (std::uint64_t i = 0; i < reg.length(); ++i) {
          if (i & (cb | tb)) continue;
          const std::vector<std::uint64_t> group =
              c == t ? std::vector<std::uint64_t>{i, i | cb}
                     : std::vector<std::uint64_t>{i, i | cb, i | tb, i | cb | tb};
          Register small = make_register(c == t ? 1 : 2);
          for (std::size_t k = 0; k < group.size(); ++k) {
            small.mutable_amplitudes()[k] = before[group[k]];
          }
          this->on_portable(small, [&g = gate, same = c == t](Register& r) {
            expect_ok(same ? g(r, 0, 0) : g(r, 0, 1));
          });
          for (std::size_t k = 0; k < group.size(); ++k) {
            expect_same(reg.amplitudes()[group[k]], small.amplitudes()[k], exact_gate(name));
          }
        }
      }
    }
  }
}

// The phase gates leave every amplitude with bit q clear bit for bit as it was; rz changes all.
TEST(GatePairs, PhaseGatesTouchOnlyTheUpperHalf) {
  const std::vector<std::string> phase_gates = {"z", "s", "sdg", "t", "tdg"};
  constexpr std::uint64_t kQubits = 3;
  for (const auto& [name, gate] : one_qubit_gates()) {
    const bool phase =
        std::find(phase_gates.begin(), phase_gates.end(), name) != phase_gates.end();
    if (!phase && std::string(name) != "rz") continue;
    for (std::uint64_t q = 0; q < kQubits; ++q) {
      SCOPED_TRACE(std::string(name) + " on qubit " + std::to_string(q));
      Register reg = make_register(kQubits);
      fill(reg);
      const Words before = words(reg);
      expect_ok(gate(reg, q));
      const Words after = words(reg);
      for (std::uint64_t i = 0; i < reg.length(); ++i) {
        const bool same = after[2 * i] == before[2 * i] && after[2 * i + 1] == before[2 * i + 1];
        EXPECT_EQ(same, phase && (i & (std::uint64_t{1} << q)) == 0) << i;
      }
    }
  }
}

// Products exact for non-zero finite parts: X, Y, Z, CX, CZ, SWAP, CCX, CSWAP are their own
// inverses; S·S and Sdg·Sdg equal Z; Sdg undoes S.
TEST(GateIdentities, ExactProductsRestoreTheVector) {
  struct Identity {
    const char* name;
    std::function<void(Register&)> left;
    std::function<void(Register&)> right;  // applied to a second copy of the same vector
  };
  const auto id = [](Register&) {};
  const std::vector<Identity> identities = {
      {"x x", [](Register& r) { expect_ok(r.x(1)); expect_ok(r.x(1)); }, id},
      {"y y", [](Register& r) { expect_ok(r.y(0)); expect_ok(r.y(0)); }, id},
      {"z z", [](Register& r) { expect_ok(r.z(2)); expect_ok(r.z(2)); }, id},
      {"cx cx", [](Register& r) { expect_ok(r.cx(2, 0)); expect_ok(r.cx(2, 0)); }, id},
      {"cz cz", [](Register& r) { expect_ok(r.cz(0, 3)); expect_ok(r.cz(0, 3)); }, id},
      {"swap swap", [](Register& r) { expect_ok(r.swap(1, 3)); expect_ok(r.swap(1, 3)); }, id},
      {"ccx ccx", [](Register& r) { expect_ok(r.ccx(3, 1, 0)); expect_ok(r.ccx(3, 1, 0)); }, id},
      {"cswap cswap",
       [](Register& r) { expect_ok(r.cswap(0, 3, 2)); expect_ok(r.cswap(0, 3, 2)); }, id},
      {"s sdg", [](Register& r) { expect_ok(r.s(1)); expect_ok(r.sdg(1)); }, id},
      {"s s = z", [](Register& r) { expect_ok(r.s(3)); expect_ok(r.s(3)); },
       [](Register& r) { expect_ok(r.z(3)); }},
      {"sdg sdg = z", [](Register& r) { expect_ok(r.sdg(0)); expect_ok(r.sdg(0)); },
       [](Register& r) { expect_ok(r.z(0)); }},
      {"cz = cz reversed", [](Register& r) { expect_ok(r.cz(1, 2)); },
       [](Register& r) { expect_ok(r.cz(2, 1)); }},
      {"cp 0 keeps values", [](Register& r) { expect_ok(r.cp(1, 2, 0.0)); }, id},
      {"swap = three cx",
       [](Register& r) { expect_ok(r.swap(0, 2)); },
       [](Register& r) { expect_ok(r.cx(0, 2)); expect_ok(r.cx(2, 0)); expect_ok(r.cx(0, 2)); }},
  };
  for (const Identity& c : identities) {
    SCOPED_TRACE(c.name);
    Register left = make_register(4);
    Register right = make_register(4);
    fill(left);
    fill(right);
    c.left(left);
    c.right(right);
    EXPECT_EQ(words(left), words(right));
  }
}

// ---------------------------------------------------------------------------------------------
// Exchange gates against their definition: i moves to i ^ flip when i, or its partner, has every
// bit of `set` set and every bit of `clear` clear. Every combination of indices on three qubits,
// coinciding ones included.

struct Exchange {
  std::uint64_t set;
  std::uint64_t clear;
  std::uint64_t flip;
};

std::vector<Complex64> exchanged(const std::vector<Complex64>& v, Exchange e) {
  auto moves = [&](std::uint64_t i) { return (i & e.set) == e.set && (i & e.clear) == 0; };
  std::vector<Complex64> out = v;
  for (std::uint64_t i = 0; i < v.size(); ++i) {
    if (moves(i) || moves(i ^ e.flip)) out[i] = v[i ^ e.flip];
  }
  return out;
}

TEST(GateExchanges, EveryIndexCombinationMatchesTheDefinition) {
  constexpr std::uint64_t kQubits = 3;
  const auto b = [](std::uint64_t q) { return std::uint64_t{1} << q; };
  for (std::uint64_t p = 0; p < kQubits; ++p) {
    for (std::uint64_t q = 0; q < kQubits; ++q) {
      for (std::uint64_t r = 0; r < kQubits; ++r) {
        struct Call {
          const char* name;
          std::function<Status(Register&)> gate;
          Exchange e;
        };
        const std::vector<Call> calls = {
            {"x", [&](Register& g) { return g.x(p); }, {0, b(p), b(p)}},
            {"cx", [&](Register& g) { return g.cx(p, q); }, {b(p), b(q), b(q)}},
            {"swap", [&](Register& g) { return g.swap(p, q); }, {b(p), b(q), b(p) | b(q)}},
            {"ccx", [&](Register& g) { return g.ccx(p, q, r); }, {b(p) | b(q), b(r), b(r)}},
            {"cswap", [&](Register& g) { return g.cswap(p, q, r); },
             {b(p) | b(q), b(r), b(q) | b(r)}},
        };
        for (const Call& c : calls) {
          SCOPED_TRACE(std::string(c.name) + " " + std::to_string(p) + std::to_string(q) +
                       std::to_string(r));
          Register reg = make_register(kQubits);
          fill_with_nans(reg, p * 9 + q * 3 + r + 1);
          const std::vector<Complex64> before(reg.amplitudes().begin(), reg.amplitudes().end());
          expect_ok(c.gate(reg));
          Register expected = make_register(kQubits);
          const std::vector<Complex64> want = exchanged(before, c.e);
          std::copy(want.begin(), want.end(), expected.mutable_amplitudes().begin());
          EXPECT_EQ(words(reg), words(expected));
        }
      }
    }
  }
}

// What coinciding indices do, stated as effects: no change, or the effect of a smaller gate.
TEST(GateExchanges, CoincidingIndices) {
  struct Case {
    const char* name;
    std::function<void(Register&)> gate;
    std::function<void(Register&)> same_as;
  };
  const auto none = [](Register&) {};
  const std::vector<Case> cases = {
      {"cx(1, 1)", [](Register& r) { expect_ok(r.cx(1, 1)); }, none},
      {"cy(2, 2)", [](Register& r) { expect_ok(r.cy(2, 2)); }, none},
      {"swap(0, 0)", [](Register& r) { expect_ok(r.swap(0, 0)); }, none},
      {"ccx(0, 1, 0)", [](Register& r) { expect_ok(r.ccx(0, 1, 0)); }, none},
      {"ccx(0, 1, 1)", [](Register& r) { expect_ok(r.ccx(0, 1, 1)); }, none},
      {"ccx(2, 2, 2)", [](Register& r) { expect_ok(r.ccx(2, 2, 2)); }, none},
      {"cswap(0, 2, 2)", [](Register& r) { expect_ok(r.cswap(0, 2, 2)); }, none},
      {"cswap(1, 0, 1)", [](Register& r) { expect_ok(r.cswap(1, 0, 1)); }, none},
      {"cswap(1, 1, 1)", [](Register& r) { expect_ok(r.cswap(1, 1, 1)); }, none},
      {"ccx(2, 2, 0) = cx(2, 0)", [](Register& r) { expect_ok(r.ccx(2, 2, 0)); },
       [](Register& r) { expect_ok(r.cx(2, 0)); }},
      {"cswap(0, 0, 2) = swap(0, 2)", [](Register& r) { expect_ok(r.cswap(0, 0, 2)); },
       [](Register& r) { expect_ok(r.swap(0, 2)); }},
      {"cz(1, 1) = z(1)", [](Register& r) { expect_ok(r.cz(1, 1)); },
       [](Register& r) { expect_ok(r.z(1)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Register reg = make_register(3);
    Register ref = make_register(3);
    fill(reg);
    fill(ref);
    c.gate(reg);
    c.same_as(ref);
    EXPECT_EQ(words(reg), words(ref));
  }
}

// On two qubits, the hand-derived products with every amplitude non-zero.
TEST(GateControlled, TwoQubitProducts) {
  Register reg = make_register(2);
  auto v = reg.mutable_amplitudes();
  v[0] = Complex64{1.0, 2.0};
  v[1] = Complex64{3.0, -4.0};
  v[2] = Complex64{-5.0, 6.0};
  v[3] = Complex64{7.0, 8.0};
  expect_ok(reg.cy(0, 1));
  // new[3] = i·(3 - 4i) = (4, 3); new[1] = -i·(7 + 8i) = (8, -7); 0 and 2 as they were.
  EXPECT_EQ(words(reg), (Words{bits(1.0), bits(2.0), bits(8.0), bits(-7.0), bits(-5.0),
                               bits(6.0), bits(4.0), bits(3.0)}));
  expect_ok(reg.cz(1, 0));
  EXPECT_EQ(words(reg), (Words{bits(1.0), bits(2.0), bits(8.0), bits(-7.0), bits(-5.0),
                               bits(6.0), bits(-4.0), bits(-3.0)}));
}

// ---------------------------------------------------------------------------------------------
// Index checks: class, message, and a vector unchanged bit for bit.

TEST(GateIndexChecks, OutOfRangeIndicesLeaveTheVectorUnchanged) {
  constexpr std::uint64_t kMax = UINT64_MAX;
  const std::string qubit = "qubit index out of range";
  const std::string control_target = "control/target index out of range";
  const std::string swap_message = "swap index out of range";
  const std::string ccx_message = "index out of range";
  struct Case {
    const char* name;
    std::function<Status(Register&)> gate;
    const std::string& message;
  };
  std::vector<Case> cases = {
      {"cx(3, 0)", [](Register& r) { return r.cx(3, 0); }, control_target},
      {"cx(0, 64)", [](Register& r) { return r.cx(0, 64); }, control_target},
      {"cy(0, 3)", [](Register& r) { return r.cy(0, 3); }, control_target},
      {"cy(3, 0)", [](Register& r) { return r.cy(3, 0); }, control_target},
      {"cy(1, max)", [](Register& r) { return r.cy(1, kMax); }, control_target},
      {"cz(3, 3)", [](Register& r) { return r.cz(3, 3); }, control_target},
      {"cz(0, 63)", [](Register& r) { return r.cz(0, 63); }, control_target},
      {"cp(max, 0)", [](Register& r) { return r.cp(kMax, 0, 1.0); }, control_target},
      {"cp(1, 3)", [](Register& r) { return r.cp(1, 3, 1.0); }, control_target},
      {"swap(0, 3)", [](Register& r) { return r.swap(0, 3); }, swap_message},
      {"swap(64, 1)", [](Register& r) { return r.swap(64, 1); }, swap_message},
      {"ccx(0, 1, 3)", [](Register& r) { return r.ccx(0, 1, 3); }, ccx_message},
      {"ccx(3, 1, 0)", [](Register& r) { return r.ccx(3, 1, 0); }, ccx_message},
      {"ccx(0, max, 1)", [](Register& r) { return r.ccx(0, kMax, 1); }, ccx_message},
      {"cswap(3, 0, 1)", [](Register& r) { return r.cswap(3, 0, 1); }, qubit},
      {"cswap(0, 3, 1)", [](Register& r) { return r.cswap(0, 3, 1); }, qubit},
      {"cswap(0, 1, 64)", [](Register& r) { return r.cswap(0, 1, 64); }, qubit},
  };
  for (const auto& [name, gate] : one_qubit_gates()) {
    for (std::uint64_t q : {std::uint64_t{3}, std::uint64_t{64}, kMax}) {
      cases.push_back({name, [g = gate, q](Register& r) { return g(r, q); }, qubit});
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Register reg = make_register(3);
    fill(reg);
    const Words before = words(reg);
    const Complex64* data = reg.amplitudes().data();
    expect_error(c.gate(reg), ErrorKind::kIndex, c.message);
    EXPECT_EQ(words(reg), before);
    EXPECT_EQ(reg.amplitudes().data(), data);
  }
}

// ---------------------------------------------------------------------------------------------
// Memory: under an address-space limit that leaves no room for a second vector, every copying
// gate reports the size it needed and leaves the register as it was, while the in-place gates,
// which allocate nothing, still run; once a spare of the register's size exists, the copying
// gates compute into it.

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define AMPLION_LIMIT_ADDRESS_SPACE 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#undef AMPLION_LIMIT_ADDRESS_SPACE
#endif
#endif

#ifdef AMPLION_LIMIT_ADDRESS_SPACE
std::uint64_t mapped_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  statm >> pages;
  return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}
#endif

TEST(GateMemory, CopyingGatesFailCleanlyWhenNoSecondVectorFits) {
#ifndef AMPLION_LIMIT_ADDRESS_SPACE
  GTEST_SKIP() << "sanitizers reserve more address space than any limit leaves";
#else
  constexpr std::uint64_t kQubits = 20;  // 16 MiB per vector
  base::release_spare();
  Register reg = make_register(kQubits);
  fill(reg);
  const Words before = words(reg);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);

  struct Call {
    const char* name;
    std::function<Status(Register&)> gate;
    bool copies;
  };
  const std::vector<Call> calls = {
      {"h", [](Register& r) { return r.h(19); }, true},
      {"x", [](Register& r) { return r.x(0); }, true},
      {"y", [](Register& r) { return r.y(3); }, true},
      {"sx", [](Register& r) { return r.sx(0); }, true},
      {"sxdg", [](Register& r) { return r.sxdg(7); }, true},
      {"rx", [](Register& r) { return r.rx(1, 0.5); }, true},
      {"ry", [](Register& r) { return r.ry(2, 0.5); }, true},
      {"cy", [](Register& r) { return r.cy(0, 19); }, true},
      {"cy same", [](Register& r) { return r.cy(4, 4); }, true},
      {"z", [](Register& r) { return r.z(0); }, false},
      {"s", [](Register& r) { return r.s(5); }, false},
      {"sdg", [](Register& r) { return r.sdg(19); }, false},
      {"t", [](Register& r) { return r.t(1); }, false},
      {"tdg", [](Register& r) { return r.tdg(2); }, false},
      {"rz", [](Register& r) { return r.rz(3, 0.25); }, false},
      {"cx", [](Register& r) { return r.cx(0, 1); }, false},
      {"cz", [](Register& r) { return r.cz(19, 0); }, false},
      {"cp", [](Register& r) { return r.cp(2, 3, 0.5); }, false},
      {"swap", [](Register& r) { return r.swap(0, 19); }, false},
      {"ccx", [](Register& r) { return r.ccx(0, 1, 2); }, false},
      {"cswap", [](Register& r) { return r.cswap(0, 1, 2); }, false},
  };
  std::vector<Status> results;
  results.reserve(calls.size());
  Words after_failures;
  after_failures.reserve(before.size());
  rlimit tight = saved;
  tight.rlim_cur = mapped_bytes() + (std::uint64_t{8} << 20);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
  for (const Call& c : calls) {
    if (c.copies) results.push_back(c.gate(reg));
  }
  for (const Complex64& a : reg.amplitudes()) {
    after_failures.push_back(bits(a.re));
    after_failures.push_back(bits(a.im));
  }
  for (const Call& c : calls) {
    if (!c.copies) results.push_back(c.gate(reg));
  }
  ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);

  EXPECT_EQ(after_failures, before);
  std::size_t k = 0;
  for (const Call& c : calls) {
    if (!c.copies) continue;
    SCOPED_TRACE(c.name);
    expect_error(results[k++], ErrorKind::kMemory, "cannot allocate 16777216 bytes for 20 qubits");
  }
  for (const Call& c : calls) {
    if (c.copies) continue;
    SCOPED_TRACE(c.name);
    expect_ok(results[k++]);
  }
  // With the limit lifted the same copying gate succeeds, and leaves a spare of this size. Under
  // the limit again every copying gate computes into it, giving the bits it gives without one.
  expect_ok(reg.h(19));
  Register twin = make_register(kQubits);
  std::copy(reg.amplitudes().begin(), reg.amplitudes().end(), twin.mutable_amplitudes().begin());
  tight.rlim_cur = mapped_bytes() + (std::uint64_t{8} << 20);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
  std::vector<Status> on_spare;
  on_spare.reserve(calls.size());
  for (const Call& c : calls) {
    if (c.copies) on_spare.push_back(c.gate(reg));
  }
  ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);
  for (const Status& st : on_spare) expect_ok(st);
  for (const Call& c : calls) {
    if (c.copies) expect_ok(c.gate(twin));
  }
  EXPECT_EQ(words(reg), words(twin));
#endif
}

// A vector one register gives up and another computes into carries nothing over: registers of
// the same size and of another size, each with its own random state, take turns at every copying
// gate, and each ends bit for bit as it does alone.
TEST(GateSpare, RegistersNeverSeeEachOthersDataThroughTheSpare) {
  const std::vector<std::function<Status(Register&)>> gates = {
      [](Register& r) { return r.h(0); },       [](Register& r) { return r.x(16); },
      [](Register& r) { return r.y(1); },       [](Register& r) { return r.sx(5); },
      [](Register& r) { return r.sxdg(0); },    [](Register& r) { return r.rx(2, 0.4); },
      [](Register& r) { return r.ry(16, -1.1); }, [](Register& r) { return r.cy(0, 3); },
      [](Register& r) { return r.cy(4, 4); },
  };
  const std::uint64_t sizes[] = {17, 17, 18};  // 2 MiB and 4 MiB vectors
  const auto start = [&](std::size_t k) {
    Register reg = make_register(sizes[k]);
    fill(reg, k + 11);
    return reg;
  };
  std::vector<Words> alone;
  for (std::size_t k = 0; k < std::size(sizes); ++k) {
    base::release_spare();
    Register reg = start(k);
    for (const auto& gate : gates) expect_ok(gate(reg));
    alone.push_back(words(reg));
  }
  std::vector<Register> together;
  for (std::size_t k = 0; k < std::size(sizes); ++k) together.push_back(start(k));
  for (const auto& gate : gates) {
    for (Register& reg : together) expect_ok(gate(reg));
  }
  for (std::size_t k = 0; k < std::size(sizes); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(words(together[k]), alone[k]);
  }
}

}  // namespace
}  // namespace amplion::engine
