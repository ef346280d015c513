// The five kernel gates, each next to the plain gate it stands in for, on a 24-qubit register.
// Arguments: the qubit(s) acted on, lowest and highest qubit. Reports medians of repetitions.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "engine/register.h"

namespace {

using amplion::engine::Register;
using amplion::base::Status;

constexpr std::uint64_t kQubits = 24;

template <class Apply>
void run(benchmark::State& state, Apply apply) {
  auto made = Register::create(kQubits, 1);
  if (!made.ok()) {
    state.SkipWithError(made.error().message.c_str());
    return;
  }
  Register& reg = made.value();
  const auto q = static_cast<std::uint64_t>(state.range(0));
  for (auto _ : state) {
    const Status st = apply(reg, q);
    if (!st.ok()) {
      state.SkipWithError(st.error().message.c_str());
      return;
    }
    benchmark::DoNotOptimize(reg.amplitudes().data());
    benchmark::ClobberMemory();
  }
  const auto bytes = static_cast<std::int64_t>(reg.length() * sizeof(amplion::engine::Complex64));
  state.SetBytesProcessed(state.iterations() * bytes);
}

// The three-qubit gates take q as target and the two qubits next to it as controls.
std::uint64_t other(std::uint64_t q, std::uint64_t k) { return (q + k) % kQubits; }

void BM_h(benchmark::State& s) { run(s, [](Register& r, std::uint64_t q) { return r.h(q); }); }
void BM_h_cpp(benchmark::State& s) {
  run(s, [](Register& r, std::uint64_t q) { return r.h_cpp(q); });
}
void BM_x(benchmark::State& s) { run(s, [](Register& r, std::uint64_t q) { return r.x(q); }); }
void BM_x_cpp(benchmark::State& s) {
  run(s, [](Register& r, std::uint64_t q) { return r.x_cpp(q); });
}
void BM_cx(benchmark::State& s) {
  run(s, [](Register& r, std::uint64_t q) { return r.cx(other(q, 1), q); });
}
void BM_cx_cpp(benchmark::State& s) {
  run(s, [](Register& r, std::uint64_t q) { return r.cx_cpp(other(q, 1), q); });
}
void BM_ccx(benchmark::State& s) {
  run(s, [](Register& r, std::uint64_t q) { return r.ccx(other(q, 1), other(q, 2), q); });
}
void BM_ccx_cpp(benchmark::State& s) {
  run(s, [](Register& r, std::uint64_t q) { return r.ccx_cpp(other(q, 1), other(q, 2), q); });
}
void BM_cswap(benchmark::State& s) {
  run(s, [](Register& r, std::uint64_t q) { return r.cswap(other(q, 1), other(q, 2), q); });
}
void BM_cswap_cpp(benchmark::State& s) {
  run(s, [](Register& r, std::uint64_t q) { return r.cswap_cpp(other(q, 1), other(q, 2), q); });
}

void configure(benchmark::internal::Benchmark* b) {
  b->Arg(0)->Arg(kQubits - 1)->Unit(benchmark::kMillisecond)->Repetitions(5)
      ->ReportAggregatesOnly(true);
}

BENCHMARK(BM_h)->Apply(configure);
BENCHMARK(BM_h_cpp)->Apply(configure);
BENCHMARK(BM_x)->Apply(configure);
BENCHMARK(BM_x_cpp)->Apply(configure);
BENCHMARK(BM_cx)->Apply(configure);
BENCHMARK(BM_cx_cpp)->Apply(configure);
BENCHMARK(BM_ccx)->Apply(configure);
BENCHMARK(BM_ccx_cpp)->Apply(configure);
BENCHMARK(BM_cswap)->Apply(configure);
BENCHMARK(BM_cswap_cpp)->Apply(configure);

}  // namespace
