// Measurement: known counts, the generator's reseed or two-word skip, the sampler's errors, and
// the counts held against the sampler's own per-draw search.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/errors.h"
#include "engine/measure.h"
#include "engine/register.h"
#include "random/chacha.h"
#include "random/weighted.h"
#include "test_support.h"

namespace amplion::engine {

using base::ErrorKind;
using base::Fault;
using base::Status;

namespace {

using random::ChaChaGenerator;
using random::WeightedIndex;
using CountMap = std::map<std::uint64_t, std::uint64_t>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

CountMap map_of(const Counts& counts) {
  CountMap m;
  counts.for_each([&m](std::uint64_t index, std::uint64_t count) {
    EXPECT_TRUE(m.emplace(index, count).second) << "index " << index << " reported twice";
    return true;
  });
  EXPECT_EQ(m.size(), counts.size());
  return m;
}

// Same position in the same stream: equal counters and positions, then equal draws across
// the next refill.
void expect_same_stream(ChaChaGenerator got, ChaChaGenerator want) {
  EXPECT_EQ(got.key(), want.key());
  EXPECT_EQ(got.counter(), want.counter());
  EXPECT_EQ(got.position(), want.position());
  for (int i = 0; i < 40; ++i) ASSERT_EQ(got.draw_u64(), want.draw_u64()) << "draw " << i;
}

void h_all(Register& reg) {
  for (std::uint64_t q = 0; q < reg.n_qubits(); ++q) ASSERT_TRUE(reg.h(q).ok());
}

// Counts after H on every qubit, 16 shots; keys are basis indices (qubit 0 is bit 0).
TEST(MeasureCounts, KnownAnswers) {
  struct Case {
    const char* name;
    std::uint64_t n_qubits;
    std::uint64_t constructor_seed;
    std::optional<std::uint64_t> seed;
    CountMap expected;
  };
  const Case cases[] = {
      {"one qubit, seed 0", 1, 99, 0, {{0, 7}, {1, 9}}},
      {"one qubit, seed 42", 1, 99, 42, {{0, 8}, {1, 8}}},
      {"constructed with seed 0, no seed", 1, 0, std::nullopt, {{0, 8}, {1, 8}}},
      {"two qubits, seed 0", 2, 99, 0, {{0, 5}, {1, 2}, {2, 3}, {3, 6}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Register reg = make_register(c.n_qubits, c.constructor_seed);
    h_all(reg);
    auto counts = measure_counts(reg, 16, c.seed);
    ASSERT_TRUE(counts.ok());
    EXPECT_EQ(map_of(counts.value()), c.expected);
  }
}

// The generator is reseeded, or moved on by exactly two words, before anything else; then it
// advances by one draw per shot.
TEST(MeasureGenerator, ReseedOrSkipThenOneDrawPerShot) {
  struct Case {
    const char* name;
    std::optional<std::uint64_t> seed;
    std::size_t odd_words;  // words taken before the call, leaving an odd position
    std::uint64_t shots;
  };
  const Case cases[] = {
      {"seed, no shots", 7, 0, 0},
      {"seed, 16 shots", 7, 0, 16},
      {"seed after odd words, 100 shots", 7, 1, 100},
      {"no seed, no shots", std::nullopt, 0, 0},
      {"no seed, 16 shots", std::nullopt, 0, 16},
      {"no seed, skip across a refill", std::nullopt, 63, 5},
      {"no seed, many batches", std::nullopt, 3, 100000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Register reg = make_register(3, 11);
    h_all(reg);
    ASSERT_TRUE(reg.x(1).ok());
    std::vector<std::uint8_t> taken(4 * c.odd_words);
    reg.rng().draw_bytes(taken);
    ChaChaGenerator want = reg.rng();
    if (c.seed) {
      want = ChaChaGenerator::seed_from_u64(*c.seed);
    } else {
      std::uint8_t skipped[8];
      want.draw_bytes(skipped);
    }
    for (std::uint64_t i = 0; i < c.shots; ++i) want.draw_u64();
    auto counts = measure_counts(reg, c.shots, c.seed);
    ASSERT_TRUE(counts.ok());
    EXPECT_EQ(counts.value().size() == 0, c.shots == 0);
    expect_same_stream(reg.rng(), want);
  }
}

// The plain sampler, one draw and one search per shot: what every measurement must equal.
CountMap per_draw_counts(const Register& reg, ChaChaGenerator& gen, std::uint64_t shots) {
  std::vector<double> p;
  for (const Complex64& a : reg.amplitudes()) p.push_back(a.re * a.re + a.im * a.im);
  auto w = WeightedIndex::build(std::span<const double>(p));
  EXPECT_TRUE(w.ok());
  CountMap m;
  for (std::uint64_t i = 0; i < shots; ++i) ++m[w.value().sample(gen)];
  return m;
}

// A seeded call followed by an unseeded one: the second call's draws start two words after
// the last word the first call used.
TEST(MeasureGenerator, UnseededCallContinuesTheSeededStream) {
  Register reg = make_register(4, 1);
  h_all(reg);
  ASSERT_TRUE(reg.ry(2, 0.7).ok());
  auto first = measure_counts(reg, 300, 21);
  auto second = measure_counts(reg, 500, std::nullopt);
  ASSERT_TRUE(first.ok() && second.ok());

  ChaChaGenerator gen = ChaChaGenerator::seed_from_u64(21);
  EXPECT_EQ(map_of(first.value()), per_draw_counts(reg, gen, 300));
  gen.draw_u64();
  EXPECT_EQ(map_of(second.value()), per_draw_counts(reg, gen, 500));
}

// Errors of the sampler come after the generator step and leave the amplitudes untouched.
TEST(MeasureErrors, SamplerErrorsKeepTheGeneratorStep) {
  struct Case {
    const char* name;
    std::function<void(std::span<Complex64>)> spoil;
    const char* message;
  };
  const Case cases[] = {
      {"NaN real part first", [](std::span<Complex64> a) { a[0].re = kNaN; },
       "A weight is invalid in distribution"},
      {"NaN imaginary part last", [](std::span<Complex64> a) { a[a.size() - 1].im = kNaN; },
       "A weight is invalid in distribution"},
      {"NaN after an infinity", [](std::span<Complex64> a) { a[1].re = kInf; a[2].im = kNaN; },
       "A weight is invalid in distribution"},
      {"all zero, signed zeros too",
       [](std::span<Complex64> a) {
         for (Complex64& z : a) z = Complex64{0.0, -0.0};
         a[3] = Complex64{-0.0, -0.0};
       },
       "All weights are zero in distribution"},
      {"squares underflow to zero",
       [](std::span<Complex64> a) {
         for (Complex64& z : a) z = Complex64{0x1p-600, -0x1p-540};
       },
       "All weights are zero in distribution"},
  };
  for (const Case& c : cases) {
    for (const std::optional<std::uint64_t> seed :
         {std::optional<std::uint64_t>{5}, std::optional<std::uint64_t>{}}) {
      for (const std::uint64_t shots : {std::uint64_t{0}, std::uint64_t{10}}) {
        SCOPED_TRACE(std::string(c.name) + (seed ? ", seed" : ", no seed") +
                     (shots == 0 ? ", no shots" : ", 10 shots"));
        Register reg = make_register(3, 8);
        h_all(reg);
        c.spoil(reg.mutable_amplitudes());
        const std::vector<std::uint64_t> before = words(reg);
        ChaChaGenerator want = reg.rng();
        if (seed) {
          want = ChaChaGenerator::seed_from_u64(*seed);
        } else {
          std::uint8_t skipped[8];
          want.draw_bytes(skipped);
        }
        auto counts = measure_counts(reg, shots, seed);
        ASSERT_FALSE(counts.ok());
        EXPECT_EQ(counts.error().kind, ErrorKind::kValue);
        EXPECT_EQ(counts.error().message, c.message);
        EXPECT_EQ(words(reg), before);
        expect_same_stream(reg.rng(), want);
      }
    }
  }
}

TEST(MeasureErrors, InfiniteTotalIsAFaultAfterTheGeneratorStep) {
  const std::function<void(std::span<Complex64>)> spoils[] = {
      [](std::span<Complex64> a) { a[2].re = kInf; },
      [](std::span<Complex64> a) { a[0].im = -0x1p600; },  // the square overflows
      [](std::span<Complex64> a) { a[1].re = 0x1.8p511; a[6].re = 0x1.8p511; },  // the sum does
  };
  for (const auto& spoil : spoils) {
    Register reg = make_register(3, 8);
    spoil(reg.mutable_amplitudes());
    const std::vector<std::uint64_t> before = words(reg);
    try {
      (void)measure_counts(reg, 4, 77);
      ADD_FAILURE() << "no fault";
    } catch (const Fault& f) {
      EXPECT_STREQ(f.what(), "Uniform::new: range overflow");
    }
    EXPECT_EQ(words(reg), before);
    expect_same_stream(reg.rng(), ChaChaGenerator::seed_from_u64(77));
  }
}

TEST(MeasureCounts, EqualsOneSearchPerDraw) {
  struct Case {
    const char* name;
    std::uint64_t n_qubits;
    std::function<void(Register&)> prepare;
    std::uint64_t shots;
  };
  const auto uniform = [](Register& r) { h_all(r); };
  const Case cases[] = {
      {"uniform 10 qubits, counters, several batches", 10, uniform, 100000},
      {"uniform 16 qubits, table grows", 16, uniform, 12000},
      {"ghz 10 qubits",
       10,
       [](Register& r) {
         ASSERT_TRUE(r.h(0).ok());
         for (std::uint64_t q = 1; q < 10; ++q) ASSERT_TRUE(r.cx(0, q).ok());
       },
       200000},
      {"16 of 4096 reachable, table, several batches",
       12,
       [](Register& r) {
         for (std::uint64_t q : {1u, 4u, 7u, 11u}) ASSERT_TRUE(r.h(q).ok());
       },
       70001},
      {"uneven 6 qubits",
       6,
       [](Register& r) {
         for (std::uint64_t q = 0; q < 6; ++q) {
           ASSERT_TRUE(r.ry(q, 0.3 + 0.4 * static_cast<double>(q)).ok());
           ASSERT_TRUE(r.rz(q, 1.1 - 0.2 * static_cast<double>(q)).ok());
         }
         ASSERT_TRUE(r.cx(0, 5).ok());
       },
       50000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Register reg = make_register(c.n_qubits, 4);
    c.prepare(reg);
    const std::vector<std::uint64_t> before = words(reg);
    ChaChaGenerator gen = ChaChaGenerator::seed_from_u64(1234);
    const CountMap want = per_draw_counts(reg, gen, c.shots);
    auto counts = measure_counts(reg, c.shots, 1234);
    ASSERT_TRUE(counts.ok());
    const CountMap got = map_of(counts.value());
    EXPECT_EQ(got, want);
    for (const auto& [index, count] : got) {
      const Complex64 a = reg.amplitudes()[index];
      EXPECT_GT(a.re * a.re + a.im * a.im, 0.0) << "index " << index << " has probability 0";
    }
    EXPECT_EQ(words(reg), before);
    expect_same_stream(reg.rng(), gen);
  }
}

}  // namespace
}  // namespace amplion::engine
