// The exact-rotations build's sine and cosine: LLVM's C library and MPFR must agree bit for bit,
// and the path sin_cos chooses must agree with MPFR. AMPLION_SINCOS_ANGLES sets the number of
// random angles (a million by default; a few thousand keep a valgrind run short).
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "engine/sincos.h"

namespace amplion::engine {
namespace {

std::uint64_t word(double x) { return std::bit_cast<std::uint64_t>(x); }

const exact::Mpfr& mpfr() {
  static const exact::Mpfr m("libmpfr.so.6");
  return m;
}

std::uint64_t splitmix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
  return z ^ (z >> 31);
}

std::size_t angle_count() {
  const char* env = std::getenv("AMPLION_SINCOS_ANGLES");
  return env != nullptr ? std::strtoull(env, nullptr, 10) : 1000000;
}

// Half angles theta * 0.5 as the rotations form them, theta drawn from five families in turn:
// uniform in +-4 pi, any finite double (huge ones included), tiny and subnormal, a few ulps from
// a multiple of pi up to 2^20 pi, and uniform in +-2^k for k up to 64.
std::vector<double> half_angles(std::size_t count) {
  constexpr double kPi = 3.141592653589793;
  std::vector<double> xs = {0.0, -0.0, 0x1p-1074, -0x1p-1074, 0x1p-1022, 0x0.fffffffffffffp-1022,
                            0x1p-26, 0x1.fffffffffffffp+1023, -0x1.fffffffffffffp+1023, kPi,
                            kPi / 2, 0x1.921fb54442d18p+0, 1e22, 1e300};
  std::uint64_t state = 20240611;
  for (std::size_t i = 0; xs.size() < count; ++i) {
    const std::uint64_t r = splitmix(state);
    const double unit = static_cast<double>(r >> 11) * 0x1p-53;
    double theta = 0.0;
    switch (i % 5) {
      case 0: theta = (unit * 2.0 - 1.0) * 4.0 * kPi; break;
      case 1: theta = std::bit_cast<double>(r & 0xFFEFFFFFFFFFFFFF); break;  // exponent < 0x7FF
      case 2: theta = std::ldexp(unit, -static_cast<int>(r % 1080)); break;
      case 3: {
        const double k = static_cast<double>(static_cast<std::int64_t>(r % 2097153) - 1048576);
        double near = k * kPi;
        for (std::uint64_t step = (r >> 40) % 8; step > 0; --step) {
          near = std::nextafter(near, (r >> 63) != 0 ? INFINITY : -INFINITY);
        }
        theta = near;
        break;
      }
      default: theta = std::ldexp(unit * 2.0 - 1.0, static_cast<int>((r >> 32) % 65)); break;
    }
    xs.push_back(theta * 0.5);
  }
  return xs;
}

template <class F>
void expect_matches_mpfr(const std::vector<double>& xs, F&& f) {
  std::size_t mismatches = 0;
  for (double x : xs) {
    double s = 0.0, c = 0.0, ws = 0.0, wc = 0.0;
    f(x, &s, &c);
    mpfr().sin_cos(x, &ws, &wc);
    if (word(s) != word(ws) || word(c) != word(wc)) {
      if (++mismatches <= 10) {
        ADD_FAILURE() << std::hexfloat << "x = " << x << ": sin " << s << " (MPFR " << ws
                      << "), cos " << c << " (MPFR " << wc << ")";
      }
    }
  }
  EXPECT_EQ(mismatches, 0u) << "of " << xs.size() << " angles";
}

TEST(ExactSinCos, LlvmLibcMatchesMpfr) {
  if (!exact::cpu_runs_llvm_libc()) GTEST_SKIP() << "the processor lacks AVX2 or FMA";
  expect_matches_mpfr(half_angles(angle_count()), exact::sin_cos_llvm);
}

TEST(ExactSinCos, ChosenPathMatchesMpfr) {
  expect_matches_mpfr(half_angles(angle_count() / 20 + 100), sin_cos);
}

// Values known independently of both libraries: sin x rounds to x and cos x to 1 below 2^-27;
// sin pi is the double pi's distance from pi.
TEST(ExactSinCos, KnownValues) {
  const struct {
    double x;
    std::uint64_t sin;
    std::uint64_t cos;
  } cases[] = {
      {0.0, 0x0000000000000000, 0x3FF0000000000000},
      {-0.0, 0x8000000000000000, 0x3FF0000000000000},
      {0x1p-1074, 0x0000000000000001, 0x3FF0000000000000},
      {-0x0.fffffffffffffp-1022, 0x800FFFFFFFFFFFFF, 0x3FF0000000000000},
      {0x1p-30, 0x3E10000000000000, 0x3FF0000000000000},
      {3.141592653589793, 0x3CA1A62633145C07, 0xBFF0000000000000},
      {1.5707963267948966, 0x3FF0000000000000, 0x3C91A62633145C07},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::to_string(k.x));
    double s = 0.0, c = 0.0;
    sin_cos(k.x, &s, &c);
    EXPECT_EQ(word(s), k.sin);
    EXPECT_EQ(word(c), k.cos);
  }
}

// A NaN comes back as itself, quieted; an infinity gives NaN.
TEST(ExactSinCos, NonFinite) {
  const double payload = std::bit_cast<double>(std::uint64_t{0x7FF8000000000123});
  for (double x : {payload, double{INFINITY}, double{-INFINITY}}) {
    SCOPED_TRACE(std::to_string(x));
    double s = 0.0, c = 0.0;
    sin_cos(x, &s, &c);
    EXPECT_TRUE(std::isnan(s));
    EXPECT_TRUE(std::isnan(c));
  }
  double s = 0.0, c = 0.0;
  sin_cos(payload, &s, &c);
  EXPECT_EQ(word(s), 0x7FF8000000000123u);
  EXPECT_EQ(word(c), 0x7FF8000000000123u);
}

TEST(ExactSinCos, MissingMpfrIsAFault) {
  try {
    exact::Mpfr m("libamplion-missing-mpfr.so.6");
    FAIL() << "loaded a library that does not exist";
  } catch (const base::Fault& f) {
    EXPECT_STREQ(f.what(),
                 "rotations need MPFR on this processor, and libamplion-missing-mpfr.so.6 could "
                 "not be loaded: install the package libmpfr6");
  }
}

}  // namespace
}  // namespace amplion::engine
