// The sine and cosine behind rx, ry, rz (of theta * 0.5) and cp (of theta).
#pragma once

#include <cmath>
#include <memory>
#include <string>

namespace amplion::engine {

#if defined(AMPLION_EXACT_ROTATIONS)

// s = sin x and c = cos x, both correctly rounded to nearest, so every processor and C library
// gives the same bits. Faults, before the caller has changed anything, where the processor needs
// MPFR and it cannot be loaded.
void sin_cos(double x, double* s, double* c);

namespace exact {

// LLVM's C library: correctly rounded, but its x86-64 build uses AVX, AVX2 and FMA unchecked.
bool cpu_runs_llvm_libc();
void sin_cos_llvm(double x, double* s, double* c);

// MPFR loaded at run time, so the module imports where it is missing.
class Mpfr {
 public:
  // Faults with missing_message(soname) when the library or one of its functions is missing.
  explicit Mpfr(const char* soname);
  ~Mpfr();
  Mpfr(const Mpfr&) = delete;
  Mpfr& operator=(const Mpfr&) = delete;
  void sin_cos(double x, double* s, double* c) const;
  static std::string missing_message(const char* soname);

 private:
  struct Api;
  std::unique_ptr<const Api> api_;
};

}  // namespace exact

#else

// The C library's own choice, which differs between its FMA and non-FMA variants.
inline void sin_cos(double x, double* s, double* c) { ::sincos(x, s, c); }

#endif

}  // namespace amplion::engine
