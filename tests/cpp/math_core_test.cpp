// Known answers for the five kernels, and the slice view's refusal to reach outside its count.
#include "math_core/kernels.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace math_core {
namespace {

using Vec = std::vector<Complex64>;
using Flat = void (*)(Complex64*, std::uint64_t);

constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

void expect_bits(const Vec& got, const Vec& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t k = 0; k < got.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got[k].re), std::bit_cast<std::uint64_t>(want[k].re));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got[k].im), std::bit_cast<std::uint64_t>(want[k].im));
  }
}

// Every element different, so a misplaced element shows: element k = (k + 1, 0.5 - 0.75 k).
Vec distinct(std::size_t n) {
  Vec v(n);
  for (std::size_t k = 0; k < n; ++k) {
    v[k] = {static_cast<double>(k + 1), 0.5 - 0.75 * static_cast<double>(k)};
  }
  return v;
}

// v with a NaN in every third part: both signs, quiet and signalling, payload k + 1. The
// exchange kernels move them without a bit changed.
Vec with_nans(Vec v) {
  constexpr std::uint64_t kKinds[] = {0x7FF8000000000000, 0xFFF8000000000000, 0x7FF0000000000000,
                                      0xFFF0000000000000};
  std::uint64_t k = 0;
  for (Complex64& a : v) {
    for (double* part : {&a.re, &a.im}) {
      if (k % 3 == 1) *part = std::bit_cast<double>(kKinds[k / 3 % 4] | (k + 1));
      ++k;
    }
  }
  return v;
}

Vec permuted(const Vec& in, const std::vector<int>& from) {
  Vec out;
  for (int k : from) out.push_back(in[static_cast<std::size_t>(k)]);
  return out;
}

// Exchange kernels on three qubits: result[k] = input[from[k]], worked out by hand from the
// rules (which indices qualify, and their partners).
struct PermCase {
  const char* name;
  Flat apply;
  std::vector<int> from;
};

TEST(MathCoreKernels, ExchangeKernelsMoveExactlyTheirPairs) {
  const std::vector<int> same{0, 1, 2, 3, 4, 5, 6, 7};
  const PermCase cases[] = {
      {"x(0)", [](Complex64* d, std::uint64_t n) { apply_x_cpp_flat(d, n, 0); },
       {1, 0, 3, 2, 5, 4, 7, 6}},
      {"x(1)", [](Complex64* d, std::uint64_t n) { apply_x_cpp_flat(d, n, 1); },
       {2, 3, 0, 1, 6, 7, 4, 5}},
      {"x(2)", [](Complex64* d, std::uint64_t n) { apply_x_cpp_flat(d, n, 2); },
       {4, 5, 6, 7, 0, 1, 2, 3}},
      {"cx(0,1)", [](Complex64* d, std::uint64_t n) { apply_cx_cpp_flat(d, n, 0, 1); },
       {0, 3, 2, 1, 4, 7, 6, 5}},
      {"cx(2,0)", [](Complex64* d, std::uint64_t n) { apply_cx_cpp_flat(d, n, 2, 0); },
       {0, 1, 2, 3, 5, 4, 7, 6}},
      {"cx(1,1)", [](Complex64* d, std::uint64_t n) { apply_cx_cpp_flat(d, n, 1, 1); }, same},
      {"ccx(0,1,2)", [](Complex64* d, std::uint64_t n) { apply_ccx_cpp_flat(d, n, 0, 1, 2); },
       {0, 1, 2, 7, 4, 5, 6, 3}},
      {"ccx(2,1,0)", [](Complex64* d, std::uint64_t n) { apply_ccx_cpp_flat(d, n, 2, 1, 0); },
       {0, 1, 2, 3, 4, 5, 7, 6}},
      {"ccx(2,2,0)", [](Complex64* d, std::uint64_t n) { apply_ccx_cpp_flat(d, n, 2, 2, 0); },
       {0, 1, 2, 3, 5, 4, 7, 6}},
      {"ccx(0,1,1)", [](Complex64* d, std::uint64_t n) { apply_ccx_cpp_flat(d, n, 0, 1, 1); },
       same},
      {"ccx(2,0,2)", [](Complex64* d, std::uint64_t n) { apply_ccx_cpp_flat(d, n, 2, 0, 2); },
       same},
      {"cswap(0,1,2)",
       [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 0, 1, 2); },
       {0, 1, 2, 5, 4, 3, 6, 7}},
      {"cswap(2,0,1)",
       [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 2, 0, 1); },
       {0, 1, 2, 3, 4, 6, 5, 7}},
      {"cswap(1,0,0)",
       [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 1, 0, 0); }, same},
      {"cswap(2,2,2)",
       [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 2, 2, 2); }, same},
      // c == t1, t2 above c: the effect of swap(c, t2).
      {"cswap(0,0,2)",
       [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 0, 0, 2); },
       {0, 4, 2, 6, 1, 5, 3, 7}},
      // c == t1, t2 below c: nothing.
      {"cswap(1,1,0)",
       [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 1, 1, 0); }, same},
      {"cswap(2,2,0)",
       [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 2, 2, 0); }, same},
      // c == t2, t1 above c: the effect of swap(c, t1).
      {"cswap(0,1,0)",
       [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 0, 1, 0); },
       {0, 2, 1, 3, 4, 6, 5, 7}},
      {"cswap(1,2,1)",
       [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 1, 2, 1); },
       {0, 1, 4, 5, 2, 3, 6, 7}},
      // c == t2, t1 below c: nothing.
      {"cswap(2,0,2)",
       [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 2, 0, 2); }, same},
  };
  for (const PermCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Vec in = with_nans(distinct(8));
    Vec v = in;
    c.apply(v.data(), v.size());
    expect_bits(v, permuted(in, c.from));
  }
}

TEST(MathCoreKernels, XTwiceRestoresEveryBit) {
  Vec in = distinct(8);
  in[3] = {-0.0, std::numeric_limits<double>::quiet_NaN()};
  in[6] = {std::numeric_limits<double>::infinity(), -0.0};
  for (std::uint64_t q = 0; q < 3; ++q) {
    SCOPED_TRACE(q);
    Vec v = in;
    apply_x_cpp_flat(v.data(), v.size(), q);
    apply_x_cpp_flat(v.data(), v.size(), q);
    expect_bits(v, in);
  }
}

// The Hadamard kernels this processor runs: the portable one, and the AVX2 one where it can.
struct HKernel {
  const char* name;
  void (*apply)(Complex64*, std::uint64_t, std::uint64_t);
};

std::vector<HKernel> h_kernels() {
  std::vector<HKernel> kernels = {{"portable", &apply_h_cpp_flat}};
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) kernels.push_back({"avx2", &apply_h_cpp_avx2_flat});
#endif
  return kernels;
}

// Hadamard known answers: each component summed or subtracted first, then scaled by
// 0x1.6a09e667f3bccp-1 (not by the nearest double to 1/sqrt(2), ...bcd).
struct HCase {
  const char* name;
  Vec in;
  std::uint64_t q;
  Vec want;
};

TEST(MathCoreKernels, HadamardKnownAnswers) {
  const double inf = std::numeric_limits<double>::infinity();
  const HCase cases[] = {
      {"fresh", {{1.0, 0.0}, {0.0, 0.0}}, 0,
       {{0x1.6a09e667f3bccp-1, 0.0}, {0x1.6a09e667f3bccp-1, 0.0}}},
      {"after one", {{0x1.6a09e667f3bccp-1, 0.0}, {0x1.6a09e667f3bccp-1, 0.0}}, 0,
       {{0x1.ffffffffffffep-1, 0.0}, {0.0, 0.0}}},
      {"mixed", {{1.0, 0.5}, {0.25, -2.0}}, 0,
       {{0x1.c48c6001f0abfp-1, -0x1.0f876ccdf6cd9p+0},
        {0x1.0f876ccdf6cd9p-1, 0x1.c48c6001f0abfp+0}}},
      // Scaling each term before adding would give 0x1.b27247aff148fp-3 here.
      {"sum before scale", {{0.1, 0.2}, {0.2, 0.1}}, 0,
       {{0x1.b27247aff1490p-3, 0x1.b27247aff1490p-3},
        {-0x1.21a1851ff630ap-4, 0x1.21a1851ff630ap-4}}},
      {"signed zeros", {{-0.0, 0.0}, {-0.0, -0.0}}, 0, {{-0.0, 0.0}, {0.0, 0.0}}},
      {"infinities", {{inf, -3.0}, {1.0, -inf}}, 0, {{inf, -inf}, {inf, inf}}},
      {"two pairs on qubit 0", {{inf, -3.0}, {1.0, -inf}, {-0.0, 0.0}, {-0.0, -0.0}}, 0,
       {{inf, -inf}, {inf, inf}, {-0.0, 0.0}, {0.0, 0.0}}},
      {"middle qubit of three", distinct(8), 1,
       {{0x1.6a09e667f3bccp+1, -0x1.6a09e667f3bccp-2},
        {0x1.0f876ccdf6cd9p+2, -0x1.6a09e667f3bccp+0},
        {-0x1.6a09e667f3bccp+0, 0x1.0f876ccdf6cd9p+0},
        {-0x1.6a09e667f3bccp+0, 0x1.0f876ccdf6cd9p+0},
        {0x1.0f876ccdf6cd9p+3, -0x1.26280b3476096p+2},
        {0x1.3cc8a99af5452p+3, -0x1.6a09e667f3bccp+2},
        {-0x1.6a09e667f3bccp+0, 0x1.0f876ccdf6cd9p+0},
        {-0x1.6a09e667f3bccp+0, 0x1.0f876ccdf6cd9p+0}}},
  };
  for (const HKernel& kernel : h_kernels()) {
    for (const HCase& c : cases) {
      SCOPED_TRACE(std::string(kernel.name) + " " + c.name);
      Vec v = c.in;
      kernel.apply(v.data(), v.size(), c.q);
      expect_bits(v, c.want);
    }
  }
}

TEST(MathCoreSliceMut, AccessChecksTheIndexAgainstTheCount) {
  Vec v = distinct(4);
  const SliceMut view(v.data(), 3);
  EXPECT_EQ(&view[0], &v[0]);
  EXPECT_EQ(&view[2], &v[2]);
  for (std::uint64_t n : {std::uint64_t{3}, std::uint64_t{4}, kMax64}) {
    SCOPED_TRACE(n);
    EXPECT_THROW(view[n], std::out_of_range);
  }
  try {
    view.swap(0, 3);
    ADD_FAILURE() << "swap reached element 3 of 3";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "kernel element index 3 outside a view of 3 elements");
  }
  expect_bits(v, distinct(4));

  const SliceMut empty(nullptr, 0);
  EXPECT_THROW(empty[0], std::out_of_range);
}

TEST(MathCoreSliceMut, RefusesACountNoArrayCanHave) {
  EXPECT_NO_THROW(SliceMut(nullptr, SliceMut::kMaxSize));
  EXPECT_THROW(SliceMut(nullptr, SliceMut::kMaxSize + 1), std::length_error);
  EXPECT_THROW(apply_x_cpp_flat(nullptr, kMax64, 0), std::length_error);
}

// A kernel handed a count too short for its indices throws std::out_of_range at the first
// access beyond the count. The buffer is longer than the count: what lies beyond must keep
// its bits, and what lies inside holds exactly the pairs finished before the failure.
struct ShortCase {
  const char* name;
  Flat apply;
  std::uint64_t count;
  Vec want_inside;
};

TEST(MathCoreSliceMut, ShortCountThrowsAndWritesNothingOutside) {
  const Vec in = distinct(8);
  const auto first = [&](std::ptrdiff_t n) { return Vec(in.begin(), in.begin() + n); };
  const ShortCase cases[] = {
      // Pairs (0, 4) and (1, 5) done, pair (2, 6) refused.
      {"x(2) on 6", [](Complex64* d, std::uint64_t n) { apply_x_cpp_flat(d, n, 2); }, 6,
       permuted(in, {4, 5, 2, 3, 0, 1})},
      {"x(63) on 8", [](Complex64* d, std::uint64_t n) { apply_x_cpp_flat(d, n, 63); }, 8,
       first(8)},
      // Pair (2, 3) done, pair (6, 7) refused.
      {"cx(1,0) on 7", [](Complex64* d, std::uint64_t n) { apply_cx_cpp_flat(d, n, 1, 0); }, 7,
       permuted(in, {0, 1, 3, 2, 4, 5, 6})},
      {"cx(0,3) on 8", [](Complex64* d, std::uint64_t n) { apply_cx_cpp_flat(d, n, 0, 3); }, 8,
       first(8)},
      {"cx(0,64) on 8", [](Complex64* d, std::uint64_t n) { apply_cx_cpp_flat(d, n, 0, 64); },
       8, first(8)},
      {"ccx(0,1,3) on 8",
       [](Complex64* d, std::uint64_t n) { apply_ccx_cpp_flat(d, n, 0, 1, 3); }, 8, first(8)},
      {"ccx(0,1,70) on 8",
       [](Complex64* d, std::uint64_t n) { apply_ccx_cpp_flat(d, n, 0, 1, 70); }, 8, first(8)},
      {"cswap(0,1,3) on 8",
       [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 0, 1, 3); }, 8,
       first(8)},
      {"cswap(0,1,64) on 8",
       [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 0, 1, 64); }, 8,
       first(8)},
  };
  // Every Hadamard kernel takes these; the AVX2 one checks two pairs at once where both fit.
  struct HShort {
    const char* name;
    std::uint64_t q;
    std::uint64_t count;
    Vec want_inside;
  };
  const Vec h1 = {{0x1.6a09e667f3bccp+1, -0x1.6a09e667f3bccp-2},
                  {0x1.0f876ccdf6cd9p+2, -0x1.6a09e667f3bccp+0},
                  {-0x1.6a09e667f3bccp+0, 0x1.0f876ccdf6cd9p+0},
                  {-0x1.6a09e667f3bccp+0, 0x1.0f876ccdf6cd9p+0}};
  const HShort h_cases[] = {
      // Pair (0, 2) done, pair (1, 3) refused.
      {"h(1) on 3", 1, 3, {h1[0], in[1], h1[2]}},
      // Pairs (0, 2) and (1, 3) done, pair (4, 6) refused.
      {"h(1) on 6", 1, 6, {h1[0], h1[1], h1[2], h1[3], in[4], in[5]}},
      // Pairs (0, 1), (2, 3) and (4, 5) done, pair (6, 7) refused.
      {"h(0) on 7", 0, 7,
       {{0x1.0f876ccdf6cd9p+1, 0x1.6a09e667f3bccp-3}, {-0x1.6a09e667f3bccp-1, 0x1.0f876ccdf6cd9p-1},
        {0x1.3cc8a99af5452p+2, -0x1.f1cd9cceef238p+0}, {-0x1.6a09e667f3bccp-1, 0x1.0f876ccdf6cd9p-1},
        {0x1.f1cd9cceef238p+2, -0x1.04371d9ab72fbp+2}, {-0x1.6a09e667f3bccp-1, 0x1.0f876ccdf6cd9p-1},
        in[6]}},
      {"h(3) on 8", 3, 8, first(8)},
      {"h(64) on 8", 64, 8, first(8)},
      {"h(2^64-1) on 8", kMax64, 8, first(8)},
      {"h(0) on 1", 0, 1, first(1)},
  };
  const Complex64 guard{-0x1.dead0p+100, 0x1.beef0p-100};
  const auto check = [&](const char* name, std::uint64_t count, const Vec& want_inside,
                         const std::function<void(Complex64*)>& apply) {
    SCOPED_TRACE(name);
    Vec buffer(count + 4, guard);
    std::copy(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(count), buffer.begin());
    EXPECT_THROW(apply(buffer.data()), std::out_of_range);
    Vec want = want_inside;
    want.resize(buffer.size(), guard);
    expect_bits(buffer, want);
  };
  for (const ShortCase& c : cases) {
    check(c.name, c.count, c.want_inside, [&c](Complex64* d) { c.apply(d, c.count); });
  }
  for (const HKernel& kernel : h_kernels()) {
    SCOPED_TRACE(kernel.name);
    for (const HShort& c : h_cases) {
      check(c.name, c.count, c.want_inside,
            [&](Complex64* d) { kernel.apply(d, c.count, c.q); });
    }
  }
}

// Indices of 64 and more name bits that no index has: as controls they select nothing, and
// two such targets never differ, so these calls change nothing and throw nothing.
TEST(MathCoreKernels, BitsBeyondTheIndexWidthSelectNothing) {
  const Flat cases[] = {
      [](Complex64* d, std::uint64_t n) { apply_cx_cpp_flat(d, n, 64, 0); },
      [](Complex64* d, std::uint64_t n) { apply_cx_cpp_flat(d, n, kMax64, 1); },
      [](Complex64* d, std::uint64_t n) { apply_ccx_cpp_flat(d, n, 0, 100, 1); },
      [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 0, 64, 100); },
      [](Complex64* d, std::uint64_t n) { apply_cswap_cpp_flat(d, n, 63, 0, 1); },
  };
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    SCOPED_TRACE(k);
    Vec v = distinct(8);
    EXPECT_NO_THROW(cases[k](v.data(), v.size()));
    expect_bits(v, distinct(8));
  }
}

// The exchange kernels against a plain scan written from their rules: every index in ascending
// order, its partner if it qualifies, failing at the first partner outside the view. Indices run
// over 0 to 4, coinciding ones included, on views of 5 to 16 elements, so that bits beyond the
// view, counts that are no power of two and the failure after partial work are all met.
struct ScanCase {
  const char* name;
  std::size_t arity;
  void (*apply)(Complex64* data, std::uint64_t count, const std::uint64_t* q);
  std::optional<std::uint64_t> (*partner)(std::uint64_t i, const std::uint64_t* q);
};

bool has(std::uint64_t i, std::uint64_t q) { return ((i >> q) & 1) != 0; }

// Returns whether the scan stopped at an element outside the view.
bool reference_scan(Vec& v, const ScanCase& c, const std::uint64_t* q) {
  for (std::uint64_t i = 0; i < v.size(); ++i) {
    const std::optional<std::uint64_t> j = c.partner(i, q);
    if (!j) continue;
    if (*j >= v.size()) return true;
    std::swap(v[i], v[*j]);
  }
  return false;
}

TEST(MathCoreKernels, ExchangeKernelsAgreeWithAPlainScan) {
  using U = std::uint64_t;
  using Partner = std::optional<U>;
  const ScanCase cases[] = {
      {"cx", 2, [](Complex64* d, U n, const U* q) { apply_cx_cpp_flat(d, n, q[0], q[1]); },
       [](U i, const U* q) -> Partner {
         if (has(i, q[0]) && !has(i, q[1])) return i | (U{1} << q[1]);
         return std::nullopt;
       }},
      {"ccx", 3, [](Complex64* d, U n, const U* q) { apply_ccx_cpp_flat(d, n, q[0], q[1], q[2]); },
       [](U i, const U* q) -> Partner {
         if (has(i, q[0]) && has(i, q[1]) && !has(i, q[2])) return i | (U{1} << q[2]);
         return std::nullopt;
       }},
      {"cswap", 3,
       [](Complex64* d, U n, const U* q) { apply_cswap_cpp_flat(d, n, q[0], q[1], q[2]); },
       [](U i, const U* q) -> Partner {
         const U j = i ^ (U{1} << q[1]) ^ (U{1} << q[2]);
         if (has(i, q[0]) && has(i, q[1]) != has(i, q[2]) && i < j) return j;
         return std::nullopt;
       }},
  };
  constexpr U kIndices = 5;
  for (const U count : {U{5}, U{7}, U{8}, U{12}, U{16}}) {
    for (const ScanCase& c : cases) {
      const U combinations = c.arity == 2 ? kIndices * kIndices : kIndices * kIndices * kIndices;
      for (U code = 0; code < combinations; ++code) {
        const std::array<U, 3> q{code % kIndices, code / kIndices % kIndices,
                                 code / (kIndices * kIndices)};
        std::string name = c.name;
        for (std::size_t k = 0; k < c.arity; ++k) name += (k ? "," : "(") + std::to_string(q[k]);
        SCOPED_TRACE(name + ") on " + std::to_string(count));
        Vec want = with_nans(distinct(count));
        const bool want_throw = reference_scan(want, c, q.data());
        Vec v = with_nans(distinct(count));
        bool threw = false;
        try {
          c.apply(v.data(), v.size(), q.data());
        } catch (const std::out_of_range&) {
          threw = true;
        }
        EXPECT_EQ(threw, want_throw);
        expect_bits(v, want);
      }
    }
  }
}

}  // namespace
}  // namespace math_core
