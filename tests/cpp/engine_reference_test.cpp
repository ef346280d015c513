// Every gate and kernel method of the register against a reference written here from the gate
// formulas alone, bit for bit, on vectors of random parts, signed zeros and non-finite values,
// for every choice of qubits (coinciding ones included) and angles from -0.0 to NaN.
#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/register.h"
#include "test_support.h"

namespace amplion::engine {
namespace {

using base::Status;
using Vec = std::vector<Complex64>;
using Qubits = std::array<std::uint64_t, 3>;

constexpr std::uint64_t kQubits = 4;  // qubit 0, two middle ones, the top one
constexpr double kHFactor = std::bit_cast<double>(std::uint64_t{0x3FE6A09E667F3BCC});
constexpr double kCosQuarter = std::bit_cast<double>(std::uint64_t{0x3FE6A09E667F3BCD});
constexpr double kPi = 0x1.921fb54442d18p+1;
const std::vector<double> kAngles = {0.0, -0.0, 0.3, -1.7, kPi, INFINITY, -INFINITY, NAN};

double flip(double x) { return std::bit_cast<double>(bits(x) ^ 0x8000000000000000); }
std::uint64_t bit(std::uint64_t q) { return std::uint64_t{1} << q; }
bool has(std::uint64_t i, std::uint64_t q) { return (i & bit(q)) != 0; }

// The expected vector, and which elements came out of floating-point arithmetic. In those, a
// NaN's sign and payload depend on the hardware (the default NaN of an invalid operation, the
// operand chosen when both are NaN), not on the formula, so they compare as "both NaN". Moved,
// copied and sign-flipped elements compare in every bit.
struct Want {
  Vec v;
  std::vector<bool> computed = std::vector<bool>(v.size(), false);
};

// ---------------------------------------------------------------------------------------------
// One-qubit formulas on a pair: a has qubit q at 0, b at 1; c and s from one ::sincos call.

struct Pair {
  Complex64 a, b;
};
struct Trig {
  double c, s;
};
using PairFormula = Pair (*)(Complex64 a, Complex64 b, Trig cs);

namespace ref {

Pair h(Complex64 a, Complex64 b, Trig) {
  return {{(a.re + b.re) * kHFactor, (a.im + b.im) * kHFactor},
          {(a.re - b.re) * kHFactor, (a.im - b.im) * kHFactor}};
}
Pair x(Complex64 a, Complex64 b, Trig) { return {b, a}; }
Pair y(Complex64 a, Complex64 b, Trig) {
  return {{b.re * -0.0 + b.im, b.im * -0.0 - b.re}, {a.re * 0.0 - a.im, a.re + a.im * 0.0}};
}
Pair z(Complex64 a, Complex64 b, Trig) { return {a, {flip(b.re), flip(b.im)}}; }
Pair s(Complex64 a, Complex64 b, Trig) { return {a, {b.re * 0.0 - b.im, b.re + b.im * 0.0}}; }
Pair sdg(Complex64 a, Complex64 b, Trig) { return {a, {b.re * 0.0 + b.im, b.im * 0.0 - b.re}}; }
Pair t(Complex64 a, Complex64 b, Trig) {
  return {a, {b.re * kCosQuarter - b.im * kHFactor, b.re * kHFactor + b.im * kCosQuarter}};
}
Pair tdg(Complex64 a, Complex64 b, Trig) {
  return {a, {b.re * kCosQuarter + b.im * kHFactor, b.im * kCosQuarter - b.re * kHFactor}};
}
Pair sx(Complex64 a, Complex64 b, Trig) {
  const double ar = a.re * 0.5, ai = a.im * 0.5, br = b.re * 0.5, bi = b.im * 0.5;
  return {{(ar - ai) + (br + bi), (ai + ar) + (bi - br)},
          {(ar + ai) + (br - bi), (ai - ar) + (br + bi)}};
}
Pair sxdg(Complex64 a, Complex64 b, Trig) {
  const double ar = a.re * 0.5, ai = a.im * 0.5, br = b.re * 0.5, bi = b.im * 0.5;
  return {{(ar + ai) + (br - bi), (ai - ar) + (br + bi)},
          {(ar - ai) + (br + bi), (ai + ar) + (bi - br)}};
}
// The bracketed terms are the full product of (0.0, -s) with the other amplitude.
Pair rx(Complex64 a, Complex64 b, Trig cs) {
  return {{(b.re * 0.0 + cs.s * b.im) + cs.c * a.re, (b.im * 0.0 - cs.s * b.re) + cs.c * a.im},
          {cs.c * b.re + (a.re * 0.0 + cs.s * a.im), cs.c * b.im + (a.im * 0.0 - cs.s * a.re)}};
}
Pair ry(Complex64 a, Complex64 b, Trig cs) {
  return {{cs.c * a.re - cs.s * b.re, cs.c * a.im - cs.s * b.im},
          {cs.c * b.re + cs.s * a.re, cs.c * b.im + cs.s * a.im}};
}
// l is -s (the sign bit flipped) for a and s for b.
Pair rz(Complex64 a, Complex64 b, Trig cs) {
  const double la = flip(cs.s), lb = cs.s;
  return {{cs.c * a.re - la * a.im, la * a.re + cs.c * a.im},
          {cs.c * b.re - lb * b.im, lb * b.re + cs.c * b.im}};
}

}  // namespace ref

enum class Computed { kNone, kUpper, kBoth };

Want on_pairs(const Vec& in, std::uint64_t q, PairFormula f, Computed computed, Trig cs) {
  Want w{in};
  for (std::uint64_t i = 0; i < in.size(); ++i) {
    if (has(i, q)) continue;
    const std::uint64_t j = i | bit(q);
    const Pair p = f(in[i], in[j], cs);
    w.v[i] = p.a;
    w.v[j] = p.b;
    w.computed[i] = computed == Computed::kBoth;
    w.computed[j] = computed != Computed::kNone;
  }
  return w;
}

// ---------------------------------------------------------------------------------------------
// Multi-qubit definitions: one ascending pass, exchanges of whole amplitudes where no arithmetic
// is named.

namespace ref {

Want cx(Vec v, const Qubits& q, double) {
  for (std::uint64_t i = 0; i < v.size(); ++i) {
    if (has(i, q[0]) && !has(i, q[1])) std::swap(v[i], v[i ^ bit(q[1])]);
  }
  return {v};
}

Want cy(Vec old, const Qubits& q, double) {
  Want w{old};
  for (std::uint64_t i = 0; i < old.size(); ++i) {
    if (!has(i, q[0]) || has(i, q[1])) continue;
    const std::uint64_t j = i ^ bit(q[1]);
    w.v[j] = {0.0 * old[i].re - old[i].im, old[i].re + 0.0 * old[i].im};
    w.v[i] = {-0.0 * old[j].re + old[j].im, -0.0 * old[j].im - old[j].re};
    w.computed[i] = w.computed[j] = true;
  }
  return w;
}

Want cz(Vec v, const Qubits& q, double) {
  for (std::uint64_t i = 0; i < v.size(); ++i) {
    if (has(i, q[0]) && has(i, q[1])) v[i] = {flip(v[i].re), flip(v[i].im)};
  }
  return {v};
}

Want cp(Vec v, const Qubits& q, double theta) {
  double s = 0.0, c = 0.0;
  ::sincos(theta, &s, &c);
  Want w{v};
  for (std::uint64_t i = 0; i < v.size(); ++i) {
    if (!has(i, q[0]) || !has(i, q[1])) continue;
    w.v[i] = {c * v[i].re - s * v[i].im, s * v[i].re + c * v[i].im};
    w.computed[i] = true;
  }
  return w;
}

Want swap(Vec v, const Qubits& q, double) {
  for (std::uint64_t i = 0; i < v.size(); ++i) {
    if (has(i, q[0]) && !has(i, q[1])) std::swap(v[i], v[i ^ (bit(q[0]) | bit(q[1]))]);
  }
  return {v};
}

Want ccx(Vec v, const Qubits& q, double) {
  for (std::uint64_t i = 0; i < v.size(); ++i) {
    if (has(i, q[0]) && has(i, q[1]) && !has(i, q[2])) std::swap(v[i], v[i ^ bit(q[2])]);
  }
  return {v};
}

Want cswap(Vec v, const Qubits& q, double) {
  for (std::uint64_t i = 0; i < v.size(); ++i) {
    if (has(i, q[0]) && has(i, q[1]) && !has(i, q[2])) {
      std::swap(v[i], v[i ^ (bit(q[1]) | bit(q[2]))]);
    }
  }
  return {v};
}

// The kernel's own rule, which differs from cswap when indices coincide: each pair of indices
// whose bits t1 and t2 differ is exchanged once, from its lower index.
Want cswap_kernel(Vec v, const Qubits& q, double) {
  const std::uint64_t d = bit(q[1]) ^ bit(q[2]);
  for (std::uint64_t i = 0; i < v.size(); ++i) {
    if (has(i, q[0]) && has(i, q[1]) != has(i, q[2]) && i < (i ^ d)) std::swap(v[i], v[i ^ d]);
  }
  return {v};
}

}  // namespace ref

// ---------------------------------------------------------------------------------------------

struct Gate {
  std::string name;
  std::uint64_t arity;
  bool takes_angle;
  std::function<Status(Register&, const Qubits&, double)> apply;
  std::function<Want(const Vec&, const Qubits&, double)> reference;
};

Gate one(const char* name, Status (Register::*gate)(std::uint64_t), PairFormula f,
         Computed computed) {
  return {name, 1, false, [gate](Register& r, const Qubits& q, double) { return (r.*gate)(q[0]); },
          [f, computed](const Vec& v, const Qubits& q, double) {
            return on_pairs(v, q[0], f, computed, Trig{});
          }};
}

Gate rotation(const char* name, Status (Register::*gate)(std::uint64_t, double), PairFormula f) {
  return {name, 1, true,
          [gate](Register& r, const Qubits& q, double theta) { return (r.*gate)(q[0], theta); },
          [f](const Vec& v, const Qubits& q, double theta) {
            Trig cs{};
            ::sincos(theta * 0.5, &cs.s, &cs.c);
            return on_pairs(v, q[0], f, Computed::kBoth, cs);
          }};
}

const std::vector<Gate>& gates() {
  using C = Computed;
  static const std::vector<Gate> table = {
      one("h", &Register::h, ref::h, C::kBoth),
      one("x", &Register::x, ref::x, C::kNone),
      one("y", &Register::y, ref::y, C::kBoth),
      one("z", &Register::z, ref::z, C::kNone),
      one("s", &Register::s, ref::s, C::kUpper),
      one("sdg", &Register::sdg, ref::sdg, C::kUpper),
      one("t", &Register::t, ref::t, C::kUpper),
      one("tdg", &Register::tdg, ref::tdg, C::kUpper),
      one("sx", &Register::sx, ref::sx, C::kBoth),
      one("sxdg", &Register::sxdg, ref::sxdg, C::kBoth),
      rotation("rx", &Register::rx, ref::rx),
      rotation("ry", &Register::ry, ref::ry),
      rotation("rz", &Register::rz, ref::rz),
      {"cx", 2, false, [](Register& r, const Qubits& q, double) { return r.cx(q[0], q[1]); },
       ref::cx},
      {"cy", 2, false, [](Register& r, const Qubits& q, double) { return r.cy(q[0], q[1]); },
       ref::cy},
      {"cz", 2, false, [](Register& r, const Qubits& q, double) { return r.cz(q[0], q[1]); },
       ref::cz},
      {"cp", 2, true,
       [](Register& r, const Qubits& q, double theta) { return r.cp(q[0], q[1], theta); }, ref::cp},
      {"swap", 2, false, [](Register& r, const Qubits& q, double) { return r.swap(q[0], q[1]); },
       ref::swap},
      {"ccx", 3, false,
       [](Register& r, const Qubits& q, double) { return r.ccx(q[0], q[1], q[2]); }, ref::ccx},
      {"cswap", 3, false,
       [](Register& r, const Qubits& q, double) { return r.cswap(q[0], q[1], q[2]); }, ref::cswap},
      one("h_cpp", &Register::h_cpp, ref::h, C::kBoth),
      one("x_cpp", &Register::x_cpp, ref::x, C::kNone),
      {"cx_cpp", 2, false,
       [](Register& r, const Qubits& q, double) { return r.cx_cpp(q[0], q[1]); }, ref::cx},
      {"ccx_cpp", 3, false,
       [](Register& r, const Qubits& q, double) { return r.ccx_cpp(q[0], q[1], q[2]); }, ref::ccx},
      {"cswap_cpp", 3, false,
       [](Register& r, const Qubits& q, double) { return r.cswap_cpp(q[0], q[1], q[2]); },
       ref::cswap_kernel},
  };
  return table;
}

// ---------------------------------------------------------------------------------------------
// Input vectors of 2^kQubits amplitudes.

Vec random_parts(std::uint64_t seed) {
  Vec v(std::size_t{1} << kQubits);
  std::uint64_t state = seed;
  auto next = [&state]() {
    state = state * 6364136223846793005 + 1442695040888963407;
    return static_cast<double>(state >> 11) * 0x1p-51 - 2.0;  // [-2, 2), both signs
  };
  for (Complex64& a : v) a = {next(), next()};
  return v;
}

// Every pairing of real and imaginary part from {+0, -0, -1.5, 0.75}, laid out both ways round,
// so that each qubit finds (-1.5, -0.0) at an index with its bit set: the amplitude where a
// dropped multiplication by -0.0 shows.
Vec signed_zeros(bool transposed) {
  const double parts[] = {0.0, -0.0, -1.5, 0.75};
  Vec v(16);
  for (std::size_t k = 0; k < 16; ++k) {
    const double hi = parts[k / 4], lo = parts[k % 4];
    v[k] = transposed ? Complex64{lo, hi} : Complex64{hi, lo};
  }
  return v;
}

Vec non_finite() {
  const double nan_up = std::bit_cast<double>(std::uint64_t{0x7FF8000000000123});
  const double nan_down = std::bit_cast<double>(std::uint64_t{0xFFF8000000000456});
  Vec v = random_parts(11);
  v[1].re = INFINITY;
  v[2].im = -INFINITY;
  v[4].re = nan_up;
  v[7] = {-INFINITY, nan_down};
  v[8].im = nan_down;
  v[11] = {-0.0, INFINITY};
  v[13] = {nan_up, -0.0};
  v[14] = {INFINITY, -INFINITY};
  return v;
}

const std::vector<std::pair<const char*, Vec>>& inputs() {
  static const std::vector<std::pair<const char*, Vec>> vectors = {
      {"random", random_parts(3)},
      {"signed zeros", signed_zeros(false)},
      {"signed zeros transposed", signed_zeros(true)},
      {"non-finite", non_finite()},
  };
  return vectors;
}

// One failure per call at most, naming the first element that differs.
void expect_matches(const Register& reg, const Want& want) {
  const std::span<const Complex64> got = reg.amplitudes();
  ASSERT_EQ(got.size(), want.v.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    const double g[] = {got[i].re, got[i].im};
    const double w[] = {want.v[i].re, want.v[i].im};
    for (int part = 0; part < 2; ++part) {
      const bool same = want.computed[i] && std::isnan(w[part]) ? std::isnan(g[part])
                                                                : bits(g[part]) == bits(w[part]);
      if (!same) {
        ADD_FAILURE() << "element " << i << (part == 0 ? " re" : " im") << ": got " << std::hex
                      << bits(g[part]) << ", want " << bits(w[part]);
        return;
      }
    }
  }
}

TEST(GateReference, EveryGateAndKernelMatchesItsFormulaBitForBit) {
  const std::vector<double> no_angle = {0.0};
  for (const Gate& gate : gates()) {
    std::uint64_t combinations = 1;
    for (std::uint64_t k = 0; k < gate.arity; ++k) combinations *= kQubits;
    for (std::uint64_t code = 0; code < combinations; ++code) {
      Qubits q{};
      for (std::uint64_t k = 0, rest = code; k < gate.arity; ++k, rest /= kQubits) {
        q[k] = rest % kQubits;
      }
      for (double theta : gate.takes_angle ? kAngles : no_angle) {
        for (const auto& [input_name, input] : inputs()) {
          SCOPED_TRACE(gate.name + " qubits " + std::to_string(q[0]) + std::to_string(q[1]) +
                       std::to_string(q[2]) + " theta " + std::to_string(theta) + " on " +
                       input_name);
          Register reg = make_register(kQubits);
          std::copy(input.begin(), input.end(), reg.mutable_amplitudes().begin());
          const Status st = gate.apply(reg, q, theta);
          ASSERT_TRUE(st.ok()) << st.error().message;
          expect_matches(reg, gate.reference(input, q, theta));
        }
      }
    }
  }
}

}  // namespace
}  // namespace amplion::engine
