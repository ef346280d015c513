// Correctly rounded sine and cosine for the exact-rotations build: LLVM's C library where the
// processor runs it, MPFR everywhere else. Both round to nearest, so both give the same bits.
#if defined(AMPLION_EXACT_ROTATIONS)

#include "engine/sincos.h"

#include <dlfcn.h>
#include <mpfr.h>

#include "base/errors.h"

#if defined(AMPLION_LLVM_LIBC_NS)
#include "base/cpu_features.h"

// The archive's own C++ name for its sincos. It also defines a C `sincos` that would shadow the
// C library's, so nothing here calls that one.
namespace AMPLION_LLVM_LIBC_NS {
void sincos(double x, double* s, double* c);
}
#endif

namespace amplion::engine {
namespace exact {

bool cpu_runs_llvm_libc() {
#if defined(AMPLION_LLVM_LIBC_NS)
  // CPU_FEATURE_ACTIVE honours GLIBC_TUNABLES=glibc.cpu.hwcaps=-FMA,-AVX2, and includes the
  // operating system's support for AVX state.
  static const bool runs =
      CPU_FEATURE_ACTIVE(AVX) && CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(FMA);
  return runs;
#else
  return false;
#endif
}

void sin_cos_llvm(double x, double* s, double* c) {
#if defined(AMPLION_LLVM_LIBC_NS)
  AMPLION_LLVM_LIBC_NS::sincos(x, s, c);
#else
  (void)x;
  (void)s;
  (void)c;
  base::fault("LLVM's C library is not part of this build");
#endif
}

struct Mpfr::Api {
  void* handle;
  decltype(&mpfr_init2) init2;
  decltype(&mpfr_clear) clear;
  decltype(&mpfr_set_d) set_d;
  decltype(&mpfr_get_d) get_d;
  decltype(&mpfr_sin_cos) sin_cos;
  decltype(&mpfr_subnormalize) subnormalize;
  decltype(&mpfr_get_emin) get_emin;
  decltype(&mpfr_get_emax) get_emax;
  decltype(&mpfr_set_emin) set_emin;
  decltype(&mpfr_set_emax) set_emax;
};

std::string Mpfr::missing_message(const char* soname) {
  return std::string("rotations need MPFR on this processor, and ") + soname +
         " could not be loaded: install the package libmpfr6";
}

namespace {

template <class F>
bool bind(void* handle, const char* name, F& f) {
  f = reinterpret_cast<F>(dlsym(handle, name));
  return f != nullptr;
}

}  // namespace

Mpfr::Mpfr(const char* soname) {
  void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) base::fault(missing_message(soname));
  auto api = std::make_unique<Api>();
  api->handle = handle;
  const bool bound = bind(handle, "mpfr_init2", api->init2) &&
                     bind(handle, "mpfr_clear", api->clear) &&
                     bind(handle, "mpfr_set_d", api->set_d) &&
                     bind(handle, "mpfr_get_d", api->get_d) &&
                     bind(handle, "mpfr_sin_cos", api->sin_cos) &&
                     bind(handle, "mpfr_subnormalize", api->subnormalize) &&
                     bind(handle, "mpfr_get_emin", api->get_emin) &&
                     bind(handle, "mpfr_get_emax", api->get_emax) &&
                     bind(handle, "mpfr_set_emin", api->set_emin) &&
                     bind(handle, "mpfr_set_emax", api->set_emax);
  if (!bound) {
    dlclose(handle);
    base::fault(missing_message(soname));
  }
  api_ = std::move(api);
}

Mpfr::~Mpfr() {
  if (api_) dlclose(api_->handle);
}

namespace {

// mpfr_sin_cos reports both ternary values as one number, sine + 4 * cosine, each 0 for exact,
// 1 for rounded up, 2 for rounded down; mpfr_subnormalize wants them signed.
int ternary(int code) { return code == 0 ? 0 : (code == 1 ? 1 : -1); }

}  // namespace

// Binary64's exponent range in MPFR's convention (m * 2^e, 0.5 <= m < 1): with it and
// mpfr_subnormalize, a 53-bit result rounds as a double does, subnormals included. The
// exponent range is the calling thread's MPFR state, shared with anything else that uses MPFR
// in the process, so it is put back afterwards.
void Mpfr::sin_cos(double x, double* s, double* c) const {
  const Api& m = *api_;
  const mpfr_exp_t old_emin = m.get_emin();
  const mpfr_exp_t old_emax = m.get_emax();
  m.set_emin(-1073);
  m.set_emax(1024);
  mpfr_t mx, ms, mc;
  m.init2(mx, 53);
  m.init2(ms, 53);
  m.init2(mc, 53);
  m.set_d(mx, x, MPFR_RNDN);  // exact: 53 bits hold every double
  const int code = m.sin_cos(ms, mc, mx, MPFR_RNDN);
  m.subnormalize(ms, ternary(code & 3), MPFR_RNDN);
  m.subnormalize(mc, ternary(code >> 2), MPFR_RNDN);
  *s = m.get_d(ms, MPFR_RNDN);
  *c = m.get_d(mc, MPFR_RNDN);
  m.clear(mx);
  m.clear(ms);
  m.clear(mc);
  m.set_emin(old_emin);
  m.set_emax(old_emax);
}

}  // namespace exact

namespace {

using SinCos = void (*)(double, double*, double*);

void sin_cos_mpfr(double x, double* s, double* c) {
  static const exact::Mpfr mpfr("libmpfr.so.6");
  mpfr.sin_cos(x, s, c);
}

SinCos choose() {
  return exact::cpu_runs_llvm_libc() ? &exact::sin_cos_llvm : &sin_cos_mpfr;
}

}  // namespace

void sin_cos(double x, double* s, double* c) {
  // NaN in, the same NaN out (quieted); an infinity gives the default NaN. The C library's
  // sincos does the same, and here neither path can make it differ.
  if (!std::isfinite(x)) {
    *s = x - x;
    *c = x - x;
    return;
  }
  static const SinCos chosen = choose();
  chosen(x, s, c);
}

}  // namespace amplion::engine

#endif
