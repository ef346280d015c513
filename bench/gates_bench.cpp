// Every gate on a low and a high qubit at 20, 24 and 26 qubits, next to two reference passes over
// the same vector: a Hadamard loop in place (each element read and written once) and the same
// loop into a fresh huge-page vector that then replaces the old one, as the copying gates do.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/memory.h"
#include "engine/register.h"

namespace {

using amplion::engine::Block;
using amplion::engine::Complex64;
using amplion::engine::Register;
using amplion::engine::Status;

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

void set_bytes(benchmark::State& state, std::uint64_t length) {
  // Each pass reads and writes every element once.
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(2 * length * sizeof(Complex64)));
}

inline void hadamard_pair(const Complex64& a, const Complex64& b, Complex64& out_a,
                          Complex64& out_b) {
  const Complex64 na{(a.re + b.re) * kInvSqrt2, (a.im + b.im) * kInvSqrt2};
  const Complex64 nb{(a.re - b.re) * kInvSqrt2, (a.im - b.im) * kInvSqrt2};
  out_a = na;
  out_b = nb;
}

void reference_in_place(benchmark::State& state, std::uint64_t n_qubits) {
  Register& reg = register_of(n_qubits);
  Complex64* v = reg.mutable_amplitudes().data();
  const std::uint64_t length = reg.length();
  for (auto _ : state) {
    for (std::uint64_t i = 0; i < length; i += 2) hadamard_pair(v[i], v[i + 1], v[i], v[i + 1]);
    benchmark::ClobberMemory();
  }
  set_bytes(state, length);
}

void reference_copy(benchmark::State& state, std::uint64_t n_qubits) {
  Register& reg = register_of(n_qubits);
  const std::uint64_t length = reg.length();
  const std::string what = std::to_string(n_qubits) + " qubits";
  auto first = Block<Complex64>::allocate(length, what);
  if (!first.ok()) {
    state.SkipWithError("cannot allocate the reference vector");
    return;
  }
  Block<Complex64> current = std::move(first.value());
  std::memcpy(current.data(), reg.amplitudes().data(), length * sizeof(Complex64));
  for (auto _ : state) {
    auto next = Block<Complex64>::allocate(length, what);
    if (!next.ok()) {
      state.SkipWithError("cannot allocate the second vector");
      return;
    }
    const Complex64* in = current.data();
    Complex64* out = next.value().data();
    for (std::uint64_t i = 0; i < length; i += 2)
      hadamard_pair(in[i], in[i + 1], out[i], out[i + 1]);
    current = std::move(next.value());
    benchmark::ClobberMemory();
  }
  set_bytes(state, length);
}

// A gate applied to qubits chosen from the register's size: the low end (0, 1, 2) or the high
// end (n - 1, n - 2, n - 3).
using Gate = std::function<Status(Register&, std::uint64_t q0, std::uint64_t q1, std::uint64_t q2)>;

void gate_bench(benchmark::State& state, std::uint64_t n_qubits, bool high, const Gate& gate) {
  Register& reg = register_of(n_qubits);
  const std::uint64_t q0 = high ? n_qubits - 1 : 0;
  const std::uint64_t q1 = high ? n_qubits - 2 : 1;
  const std::uint64_t q2 = high ? n_qubits - 3 : 2;
  for (auto _ : state) {
    if (!gate(reg, q0, q1, q2).ok()) {
      state.SkipWithError("gate failed");
      return;
    }
    benchmark::ClobberMemory();
  }
  set_bytes(state, reg.length());
}

struct NamedGate {
  const char* name;
  Gate gate;
};

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
  };
  return all;
}

// Size by size, references first; medians of a few repetitions, fewer at 26 qubits.
bool register_all() {
  for (const std::uint64_t n : {20, 24, 26}) {
    const int repetitions = n == 26 ? 3 : 5;
    const auto tune = [&](benchmark::internal::Benchmark* b) {
      b->Unit(benchmark::kMillisecond)
          ->Repetitions(repetitions)
          ->ReportAggregatesOnly(true)
          ->UseRealTime();
      if (n == 26) {
        b->Iterations(2);
      } else {
        b->MinTime(n == 20 ? 0.05 : 0.2);
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
    // The references open and close each size, so a machine that got busier in between shows.
    references("/before");
    for (const NamedGate& g : gates()) {
      for (const bool high : {false, true}) {
        const std::string name = std::string(g.name) + size + (high ? "/high" : "/low");
        tune(benchmark::RegisterBenchmark(
            name.c_str(), [n, high, &g](benchmark::State& s) { gate_bench(s, n, high, g.gate); }));
      }
    }
    references("/after");
  }
  return true;
}

[[maybe_unused]] const bool kRegistered = register_all();

}  // namespace
