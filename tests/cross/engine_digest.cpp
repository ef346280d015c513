// engine_digest: a fixed random workload on the engine, printed as one hash per case. Two builds
// (another compiler, other flags, another processor) give the same bits exactly when they print
// the same lines. Every amplitude and count is written as hex text before it is hashed, so byte
// order does not enter; counts are sorted by basis index, since the counting table's order is
// not fixed.
//
//   engine_digest              every gate but rx, ry, rz and cp
//   engine_digest --rotations  the same workload with the rotations and cp at finite angles
//
// The first line names the sine and cosine this build takes ("libm: fma" where glibc's x86-64
// variant with FMA runs); the rotations' bits depend on it unless the build rounds them exactly.
// Each case: a random circuit run gate by gate (the kernel gates too), its amplitudes, counts with
// a seed and then without one (the generator moves on from that seed), the same gates replayed
// from a recorded circuit, and the circuit's run. Then every gate once more on registers filled
// with zeros of both signs, subnormals and normal values; the gates that only move or negate
// amplitudes also get NaNs of both signs, quiet and signalling, with payloads, which they must keep.
// No NaN or infinity ever reaches the arithmetic.
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>


#include "base/cpu_features.h"
#include "circuit/circuit.h"
#include "engine/measure.h"
#include "engine/register.h"

namespace {

using amplion::base::Status;
using amplion::circuit::Circuit;
using amplion::engine::Complex64;
using amplion::engine::Register;

constexpr int kCases = 48;
constexpr int kGatesPerCase = 150;
constexpr std::uint64_t kShots = 400;
constexpr int kValueRounds = 6;
constexpr std::uint64_t kValueQubits = 5;
constexpr double kPi = 0x1.921fb54442d18p+1;

// SplitMix64: integers only, so the workload itself is the same everywhere.
class Stream {
 public:
  explicit Stream(std::uint64_t seed) : x_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (x_ += 0x9E3779B97F4A7C15);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
  }
  std::uint64_t below(std::uint64_t n) { return next() % n; }

 private:
  std::uint64_t x_;
};

// FNV-1a over the text of each case.
class Hash {
 public:
  void text(const char* s) {
    for (; *s != '\0'; ++s) {
      h_ = (h_ ^ static_cast<unsigned char>(*s)) * 0x100000001B3;
    }
  }
  void word(std::uint64_t w) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%016" PRIx64 ";", w);
    text(buf);
  }
  void amplitudes(const Register& reg) {
    for (const Complex64& a : reg.amplitudes()) {
      word(std::bit_cast<std::uint64_t>(a.re));
      word(std::bit_cast<std::uint64_t>(a.im));
    }
  }
  void status(const Status& st) { text(st.ok() ? "ok;" : st.error().message.c_str()); }
  void counts(const amplion::base::Result<amplion::engine::Counts>& counts) {
    if (!counts.ok()) return text(counts.error().message.c_str());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> sorted;
    counts.value().for_each([&sorted](std::uint64_t index, std::uint64_t count) {
      sorted.emplace_back(index, count);
      return true;
    });
    std::sort(sorted.begin(), sorted.end());
    text("counts;");
    for (const auto& [index, count] : sorted) {
      word(index);
      word(count);
    }
  }
  std::uint64_t value() const { return h_; }

 private:
  std::uint64_t h_ = 0xCBF29CE484222325;
};

// One gate with its operands as a circuit records them: qubits in parameter order, then the angle.
using Step = amplion::circuit::Gate;


template <class Object, class... Args>
Status call(Object& object, Status (Object::*op)(Args...), const Step& s) {
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    return (object.*op)(amplion::circuit::operand<Args>(s, I)...);
  }(std::index_sequence_for<Args...>{});
}

// Every gate of the register: the rows of the gate table, then the kernel gates, which a circuit
// records as their plain twins.
struct GateRow {
  const char* name;
  std::uint64_t qubits;
  bool angle;
  bool moves_only;  // moves or negates amplitudes without arithmetic
  Status (*apply)(Register&, const Step&);
  Status (*record)(Circuit&, const Step&);
};

template <auto Op>
constexpr std::uint64_t qubit_count() {
  return amplion::circuit::GateOperands<decltype(Op)>::kQubits;
}

constexpr bool moves_only(std::string_view name) {
  for (std::string_view m : {"x", "z", "cx", "cz", "swap", "ccx", "cswap", "x_cpp", "cx_cpp",
                             "ccx_cpp", "cswap_cpp"}) {
    if (name == m) return true;
  }
  return false;
}

#define AMPLION_DIGEST_ROW(Kind, name, ...)                                                    \
  GateRow{#name,                                                                              \
          qubit_count<&Register::name>(),                                                    \
          amplion::circuit::GateOperands<decltype(&Register::name)>::kAngles == 1,           \
          moves_only(#name),                                                                  \
          [](Register& r, const Step& s) { return call(r, &Register::name, s); },            \
          [](Circuit& c, const Step& s) { return call(c, &Circuit::name, s); }},
#define AMPLION_DIGEST_KERNEL(name, twin)                                                      \
  GateRow{#name, qubit_count<&Register::name>(), false, moves_only(#name),                   \
          [](Register& r, const Step& s) { return call(r, &Register::name, s); },            \
          [](Circuit& c, const Step& s) { return call(c, &Circuit::twin, s); }},

const GateRow kGates[] = {AMPLION_GATES(AMPLION_DIGEST_ROW)                    //
                          AMPLION_DIGEST_KERNEL(h_cpp, h)                      //
                          AMPLION_DIGEST_KERNEL(x_cpp, x)                      //
                          AMPLION_DIGEST_KERNEL(cx_cpp, cx)                    //
                          AMPLION_DIGEST_KERNEL(ccx_cpp, ccx)                  //
                          AMPLION_DIGEST_KERNEL(cswap_cpp, cswap)};
#undef AMPLION_DIGEST_ROW
#undef AMPLION_DIGEST_KERNEL

// A finite angle: mostly uniform in [-2 pi, 2 pi), sometimes one that rounds at an edge.
double random_angle(Stream& rng) {
  static const double kEdges[] = {0.0, -0.0, kPi, -kPi, 2 * kPi, 0x1p-1074, 1e-300, 1e300,
                                  -0x1.fffffffffffffp+1023};
  if (rng.below(8) == 0) return kEdges[rng.below(std::size(kEdges))];
  const double u = static_cast<double>(rng.next() >> 11) * 0x1p-53;
  return (u - 0.5) * (4 * kPi);
}

// Operands for a gate on n_qubits: independent random qubits, which may coincide.
Step random_step(Stream& rng, std::size_t row, std::uint64_t n_qubits) {
  Step s{static_cast<amplion::circuit::GateKind>(0), {0, 0, 0}, 0.0};
  for (std::uint64_t k = 0; k < kGates[row].qubits; ++k) s.qubits[k] = rng.below(n_qubits);
  if (kGates[row].angle) s.theta = random_angle(rng);
  return s;
}

Register make_register(std::uint64_t n_qubits, std::uint64_t seed) {
  auto made = Register::create(n_qubits, seed);
  if (!made.ok()) amplion::base::fault(made.error().message);
  return std::move(made.value());
}

std::vector<std::size_t> usable_rows(bool rotations) {
  std::vector<std::size_t> rows;
  for (std::size_t i = 0; i < std::size(kGates); ++i) {
    if (!kGates[i].angle || rotations) rows.push_back(i);
  }
  return rows;
}

std::uint64_t random_circuit_case(Stream& rng, int index, bool rotations) {
  const std::uint64_t n_qubits = 1 + static_cast<std::uint64_t>(index) % 12;
  const std::uint64_t seed = rng.next();
  const std::vector<std::size_t> rows = usable_rows(rotations);
  Hash hash;
  Register reg = make_register(n_qubits, seed);
  Circuit circuit(n_qubits);
  for (int g = 0; g < kGatesPerCase; ++g) {
    const std::size_t row = rows[rng.below(rows.size())];
    const Step s = random_step(rng, row, n_qubits);
    hash.status(kGates[row].apply(reg, s));
    hash.status(kGates[row].record(circuit, s));
  }
  hash.amplitudes(reg);
  hash.counts(amplion::engine::measure_counts(reg, kShots, seed));
  hash.counts(amplion::engine::measure_counts(reg, kShots, std::nullopt));

  Register replayed = make_register(n_qubits, seed);
  hash.status(replayed.h(0));
  hash.status(circuit.replay(replayed));
  hash.amplitudes(replayed);
  hash.counts(circuit.run(kShots, seed));
  return hash.value();
}

// A part of one of four kinds: a signed zero, a subnormal, a normal whose half is subnormal, or
// a normal between 2^-12 and 2^12.
double random_part(Stream& rng) {
  const std::uint64_t sign = rng.next() & (std::uint64_t{1} << 63);
  const std::uint64_t mantissa = rng.next() >> 12;
  std::uint64_t exponent = 0;
  switch (rng.below(4)) {
    case 0:
      return std::bit_cast<double>(sign);
    case 1:
      break;
    case 2:
      exponent = 1 + rng.below(2);
      break;
    default:
      exponent = 1011 + rng.below(24);
  }
  return std::bit_cast<double>(sign | exponent << 52 | mantissa);
}

// A NaN of either sign, quiet or signalling, with a non-zero payload.
double random_nan(Stream& rng) {
  const std::uint64_t sign = rng.next() & (std::uint64_t{1} << 63);
  const std::uint64_t quiet = rng.next() & (std::uint64_t{1} << 51);
  const std::uint64_t payload = (rng.next() >> 14) | 1;
  return std::bit_cast<double>(sign | std::uint64_t{0x7FF} << 52 | quiet | payload);
}

std::uint64_t edge_value_case(Stream& rng, std::size_t row) {
  Hash hash;
  for (int round = 0; round < kValueRounds; ++round) {
    Register reg = make_register(kValueQubits, 1);
    const bool nans = kGates[row].moves_only && round % 2 == 1;
    for (Complex64& a : reg.mutable_amplitudes()) {
      a.re = nans && rng.below(3) == 0 ? random_nan(rng) : random_part(rng);
      a.im = nans && rng.below(3) == 0 ? random_nan(rng) : random_part(rng);
    }
    hash.status(kGates[row].apply(reg, random_step(rng, row, kValueQubits)));
    hash.amplitudes(reg);
  }
  return hash.value();
}

// "exact" for correctly rounded rotations; on x86-64 the variant of glibc's sincos that this
// processor takes (its other variants are compiled from the same source without FMA and agree
// bit for bit); elsewhere the target's own.
const char* sincos_variant() {
#if defined(AMPLION_EXACT_ROTATIONS)
  return "exact";
#elif defined(AMPLION_CPU_FEATURES)
  if (CPU_FEATURE_ACTIVE(FMA) && CPU_FEATURE_ACTIVE(AVX2)) return "fma";
  return CPU_FEATURE_ACTIVE(FMA4) ? "fma4" : "no-fma";
#else
  return "own";
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const bool rotations = argc == 2 && std::strcmp(argv[1], "--rotations") == 0;
  if (argc > 2 || (argc == 2 && !rotations)) {
    std::fprintf(stderr, "usage: %s [--rotations]\n", argv[0]);
    return 2;
  }
  std::printf("libm: %s\n", sincos_variant());
  Stream rng(rotations ? 20240611 : 20240612);
  for (int c = 0; c < kCases; ++c) {
    std::printf("circuit %d %016" PRIx64 "\n", c, random_circuit_case(rng, c, rotations));
  }
  for (std::size_t row : usable_rows(rotations)) {
    std::printf("values %s %016" PRIx64 "\n", kGates[row].name, edge_value_case(rng, row));
  }
  return 0;
}
