// Every gate and every kernel gate on qubits 0, 1, the middle and the top (with the qubits next to
// them for the multi-qubit gates) at 20, 24 and 26 qubits, and the replay of a fixed random
// circuit, next to two reference passes over the same vector: a Hadamard loop in place (each
// element read and written once) and the same loop into a fresh huge-page vector that then
// replaces the old one.
//
// The references run on their own (reference_in_place, reference_copy, before and after each
// size's gates), and the in-place one once more inside every gate benchmark, alternating with
// the gate: the gate's time is the benchmark's time, the interleaved reference's mean is the
// counter reference_ms, and vs_reference is their quotient. Both halves of each pair see the same
// load, which matters on a machine shared with other work. The replay's reference is 200 passes,
// one per gate of its circuit.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/memory.h"
#include "circuit/circuit.h"
#include "engine/register.h"

namespace {

using amplion::base::Block;
using amplion::engine::Complex64;
using amplion::engine::Register;
using amplion::base::Status;
using Clock = std::chrono::steady_clock;

constexpr double kInvSqrt2 = 0x1.6a09e667f3bccp-1;

// One register at a time: benchmarks run size by size, and a 26-qubit vector is 1 GiB.
Register& register_of(std::uint64_t n_qubits) {
  static std::optional<Register> reg;
  if (!reg || reg->n_qubits() != n_qubits) {
    reg.reset();
    auto made = Register::create(n_qubits, 1);
    if (!made.ok()) std::abort();
    reg.emplace(std::move(made.value()));
    // Non-zero normal values everywhere, so no gate meets zeros or subnormals only.
    const double x = 0x1p-14;
    std::uint64_t i = 0;
    for (Complex64& a : reg->mutable_amplitudes()) {
      a = Complex64{(i & 1) ? x : -x, (i & 2) ? x : 0.5 * x};
      ++i;
    }
  }
  return *reg;
}

// Adjacent pairs, parts stored one by one as the gates store them.
inline void hadamard_pair(Complex64 a, Complex64 b, Complex64& out_a, Complex64& out_b) {
  out_a.re = (a.re + b.re) * kInvSqrt2;
  out_a.im = (a.im + b.im) * kInvSqrt2;
  out_b.re = (a.re - b.re) * kInvSqrt2;
  out_b.im = (a.im - b.im) * kInvSqrt2;
}

void hadamard_in_place(Complex64* v, std::uint64_t length) {
  for (std::uint64_t i = 0; i < length; i += 2) hadamard_pair(v[i], v[i + 1], v[i], v[i + 1]);
}

// The copying reference keeps its own vector, replaced on every pass.
class CopyReference {
 public:
  explicit CopyReference(const Register& reg)
      : what_(std::to_string(reg.n_qubits()) + " qubits"), length_(reg.length()) {
    auto first = Block<Complex64>::allocate(length_, what_);
    if (!first.ok()) return;
    current_ = std::move(first.value());
    std::memcpy(current_.data(), reg.amplitudes().data(), length_ * sizeof(Complex64));
  }
  bool ok() const { return current_.data() != nullptr; }

  bool pass() {
    auto next = Block<Complex64>::allocate(length_, what_);
    if (!next.ok()) return false;
    const Complex64* in = current_.data();
    Complex64* out = next.value().data();
    for (std::uint64_t i = 0; i < length_; i += 2) {
      hadamard_pair(in[i], in[i + 1], out[i], out[i + 1]);
    }
    current_ = std::move(next.value());  // frees the old vector
    return true;
  }

 private:
  std::string what_;
  std::uint64_t length_;
  Block<Complex64> current_;
};

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void set_bytes(benchmark::State& state, std::uint64_t length) {
  // Each pass reads and writes every element once.
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(2 * length * sizeof(Complex64)));
}

void reference_in_place(benchmark::State& state, std::uint64_t n_qubits) {
  Register& reg = register_of(n_qubits);
  for (auto _ : state) {
    const auto start = Clock::now();
    hadamard_in_place(reg.mutable_amplitudes().data(), reg.length());
    benchmark::ClobberMemory();
    state.SetIterationTime(seconds_since(start));
  }
  set_bytes(state, reg.length());
}

void reference_copy(benchmark::State& state, std::uint64_t n_qubits) {
  Register& reg = register_of(n_qubits);
  CopyReference reference(reg);
  if (!reference.ok()) {
    state.SkipWithError("cannot allocate the reference vector");
    return;
  }
  for (auto _ : state) {
    const auto start = Clock::now();
    if (!reference.pass()) {
      state.SkipWithError("cannot allocate the second vector");
      return;
    }
    benchmark::ClobberMemory();
    state.SetIterationTime(seconds_since(start));
  }
  set_bytes(state, reg.length());
}

// A gate applied to qubits chosen from the register's size: the low end (0, 1, 2), one up (1, 2,
// 3), the middle (n/2, n/2 - 1, n/2 - 2) or the high end (n - 1, n - 2, n - 3).
using Gate = std::function<Status(Register&, std::uint64_t q0, std::uint64_t q1, std::uint64_t q2)>;

struct NamedGate {
  const char* name;
  Gate gate;
};

enum class Where { kLow, kNext, kMiddle, kHigh };

void gate_bench(benchmark::State& state, std::uint64_t n_qubits, Where where, const NamedGate& g) {
  Register& reg = register_of(n_qubits);
  std::uint64_t q0 = where == Where::kNext ? 1 : 0;
  std::uint64_t q1 = q0 + 1, q2 = q0 + 2;
  if (where == Where::kMiddle || where == Where::kHigh) {
    q0 = where == Where::kHigh ? n_qubits - 1 : n_qubits / 2;
    q1 = q0 - 1;
    q2 = q0 - 2;
  }
  double gate_seconds = 0.0;
  double reference_seconds = 0.0;
  for (auto _ : state) {
    const auto reference_start = Clock::now();
    hadamard_in_place(reg.mutable_amplitudes().data(), reg.length());
    benchmark::ClobberMemory();
    reference_seconds += seconds_since(reference_start);

    const auto gate_start = Clock::now();
    if (!g.gate(reg, q0, q1, q2).ok()) {
      state.SkipWithError("gate failed");
      return;
    }
    benchmark::ClobberMemory();
    const double elapsed = seconds_since(gate_start);
    gate_seconds += elapsed;
    state.SetIterationTime(elapsed);
  }
  set_bytes(state, reg.length());
  const double iterations = static_cast<double>(state.iterations());
  state.counters["reference_ms"] = 1e3 * reference_seconds / iterations;
  state.counters["vs_reference"] = gate_seconds / reference_seconds;
}

const std::vector<NamedGate>& gates() {
  using U = std::uint64_t;
  static const std::vector<NamedGate> all = {
      {"x", [](Register& r, U q, U, U) { return r.x(q); }},
      {"y", [](Register& r, U q, U, U) { return r.y(q); }},
      {"z", [](Register& r, U q, U, U) { return r.z(q); }},
      {"h", [](Register& r, U q, U, U) { return r.h(q); }},
      {"s", [](Register& r, U q, U, U) { return r.s(q); }},
      {"sdg", [](Register& r, U q, U, U) { return r.sdg(q); }},
      {"t", [](Register& r, U q, U, U) { return r.t(q); }},
      {"tdg", [](Register& r, U q, U, U) { return r.tdg(q); }},
      {"sx", [](Register& r, U q, U, U) { return r.sx(q); }},
      {"sxdg", [](Register& r, U q, U, U) { return r.sxdg(q); }},
      {"rx", [](Register& r, U q, U, U) { return r.rx(q, 0.3); }},
      {"ry", [](Register& r, U q, U, U) { return r.ry(q, 0.3); }},
      {"rz", [](Register& r, U q, U, U) { return r.rz(q, 0.3); }},
      {"cx", [](Register& r, U a, U b, U) { return r.cx(a, b); }},
      {"swap", [](Register& r, U a, U b, U) { return r.swap(a, b); }},
      {"cy", [](Register& r, U a, U b, U) { return r.cy(a, b); }},
      {"cz", [](Register& r, U a, U b, U) { return r.cz(a, b); }},
      {"ccx", [](Register& r, U a, U b, U c) { return r.ccx(a, b, c); }},
      {"cswap", [](Register& r, U a, U b, U c) { return r.cswap(a, b, c); }},
      {"cp", [](Register& r, U a, U b, U) { return r.cp(a, b, 0.3); }},
      {"h_cpp", [](Register& r, U q, U, U) { return r.h_cpp(q); }},
      {"x_cpp", [](Register& r, U q, U, U) { return r.x_cpp(q); }},
      {"cx_cpp", [](Register& r, U a, U b, U) { return r.cx_cpp(a, b); }},
      {"ccx_cpp", [](Register& r, U a, U b, U c) { return r.ccx_cpp(a, b, c); }},
      {"cswap_cpp", [](Register& r, U a, U b, U c) { return r.cswap_cpp(a, b, c); }},
  };
  return all;
}

// 200 gates drawn from h, rx, rz and cx in equal shares, with qubits and angles from a fixed
// seed, so every run and every build replays the same circuit.
amplion::circuit::Circuit random_circuit(std::uint64_t n_qubits) {
  amplion::circuit::Circuit c(n_qubits);
  std::uint64_t x = 0x2545F4914F6CDD1D;
  const auto next = [&x]() {
    x = x * 6364136223846793005 + 1442695040888963407;
    return x >> 33;
  };
  for (int k = 0; k < 200; ++k) {
    const std::uint64_t kind = next() % 4, q = next() % n_qubits;
    const double theta = static_cast<double>(next()) * 0x1p-31 * 6.283185307179586;
    if (kind == 0) (void)c.h(q);
    if (kind == 1) (void)c.rx(q, theta);
    if (kind == 2) (void)c.rz(q, theta);
    if (kind == 3) (void)c.cx(q, (q + 1 + next() % (n_qubits - 1)) % n_qubits);
  }
  return c;
}

// One replay of the circuit, then one in-place reference pass per gate.
void replay_bench(benchmark::State& state, std::uint64_t n_qubits) {
  Register& reg = register_of(n_qubits);
  const amplion::circuit::Circuit circuit = random_circuit(n_qubits);
  double replay_seconds = 0.0;
  double reference_seconds = 0.0;
  for (auto _ : state) {
    const auto replay_start = Clock::now();
    if (!circuit.replay(reg).ok()) {
      state.SkipWithError("replay failed");
      return;
    }
    benchmark::ClobberMemory();
    const double elapsed = seconds_since(replay_start);
    replay_seconds += elapsed;
    state.SetIterationTime(elapsed);

    const auto reference_start = Clock::now();
    for (std::size_t k = 0; k < circuit.gates().size(); ++k) {
      hadamard_in_place(reg.mutable_amplitudes().data(), reg.length());
      benchmark::ClobberMemory();
    }
    reference_seconds += seconds_since(reference_start);
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["reference_ms"] = 1e3 * reference_seconds / iterations;
  state.counters["vs_reference"] = replay_seconds / reference_seconds;
}

// Size by size; medians of a few repetitions, fewer and shorter at 26 qubits.
bool register_all() {
  for (const std::uint64_t n : {20, 24, 26}) {
    const auto tune = [n](benchmark::internal::Benchmark* b) {
      b->Unit(benchmark::kMillisecond)
          ->Repetitions(n == 26 ? 3 : 5)
          ->ReportAggregatesOnly(true)
          ->UseManualTime();
      if (n == 26) {
        b->Iterations(2);
      } else {
        b->MinTime(n == 20 ? 0.05 : 0.1);
      }
    };
    std::string size = "/";
    size += std::to_string(n);
    const auto references = [&](const char* when) {
      tune(benchmark::RegisterBenchmark(("reference_in_place" + size + when).c_str(),
                                        [n](benchmark::State& s) { reference_in_place(s, n); }));
      tune(benchmark::RegisterBenchmark(("reference_copy" + size + when).c_str(),
                                        [n](benchmark::State& s) { reference_copy(s, n); }));
    };
    references("/before");
    for (const NamedGate& g : gates()) {
      for (const auto& [where, suffix] : {std::pair{Where::kLow, "/low"},
                                          std::pair{Where::kNext, "/next"},
                                          std::pair{Where::kMiddle, "/middle"},
                                          std::pair{Where::kHigh, "/high"}}) {
        const std::string name = std::string(g.name) + size + suffix;
        tune(benchmark::RegisterBenchmark(
            name.c_str(), [n, where, &g](benchmark::State& s) { gate_bench(s, n, where, g); }));
      }
    }
    benchmark::RegisterBenchmark(("replay" + size).c_str(),
                                 [n](benchmark::State& s) { replay_bench(s, n); })
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(3)
        ->Iterations(1)
        ->ReportAggregatesOnly(true)
        ->UseManualTime();
    references("/after");
  }
  return true;
}

[[maybe_unused]] const bool kRegistered = register_all();

}  // namespace
