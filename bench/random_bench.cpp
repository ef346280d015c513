// Output bytes per second of the ChaCha12 block function per instruction-set variant, and of
// the generator's draw paths on top of the variant this machine selects.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "random/chacha.h"
#include "random/chacha_blocks.h"
#include "random/weighted.h"

namespace {

using namespace amplion::random;

void run_blocks(benchmark::State& state, blocks::BlocksFn fn, bool supported) {
  if (!supported) {
    state.SkipWithError("instruction set not available on this machine");
    return;
  }
  blocks::BlockInput in{};
  for (int i = 0; i < 8; ++i) in.key[i] = 0x9E3779B9u * static_cast<std::uint32_t>(i + 1);
  std::array<std::uint32_t, blocks::kOutputWords> out{};
  for (auto _ : state) {
    fn(in, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
    in.counter += blocks::kBlocksPerCall;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(sizeof out));
}

void BM_BlocksPortable(benchmark::State& state) {
  run_blocks(state, &blocks::chacha12_x4_portable, true);
}
BENCHMARK(BM_BlocksPortable);

#if defined(AMPLION_CHACHA_X86)
void BM_BlocksSse2(benchmark::State& state) { run_blocks(state, &blocks::chacha12_x4_sse2, true); }
BENCHMARK(BM_BlocksSse2);

void BM_BlocksAvx2(benchmark::State& state) {
  run_blocks(state, &blocks::chacha12_x4_avx2, blocks::cpu_has_avx2());
}
BENCHMARK(BM_BlocksAvx2);
#endif

void BM_DrawBytes(benchmark::State& state) {
  ChaChaGenerator g = ChaChaGenerator::seed_from_u64(1);
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    g.draw_bytes(buf);
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
  state.SetLabel(blocks::selected_variant().name);
}
BENCHMARK(BM_DrawBytes)->Arg(8)->Arg(4096);

void BM_DrawU64(benchmark::State& state) {
  ChaChaGenerator g = ChaChaGenerator::seed_from_u64(1);
  for (auto _ : state) benchmark::DoNotOptimize(g.draw_u64());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 8);
  state.SetLabel(blocks::selected_variant().name);
}
BENCHMARK(BM_DrawU64);

// One draw plus a binary search over 2^k partial sums.
void BM_WeightedSample(benchmark::State& state) {
  std::vector<double> w(std::size_t{1} << state.range(0), 1.0);
  auto r = WeightedIndex::build(std::span<const double>(w));
  ChaChaGenerator g = ChaChaGenerator::seed_from_u64(1);
  for (auto _ : state) benchmark::DoNotOptimize(r.value().sample(g));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_WeightedSample)->Arg(4)->Arg(20);

}  // namespace
