// Which code the gate passes run: the AVX2 passes (x86-64 only, built in their own object
// library) or the portable ones, and whether a copying gate writes its second vector around the
// cache. Both give the same bits; the choice is made once per process.
#pragma once

#include <cstdint>

namespace amplion::engine::simd {

#if defined(__x86_64__)
inline constexpr bool kAvx2Built = true;
#else
inline constexpr bool kAvx2Built = false;
#endif

// Copying gates on fewer amplitudes take the portable passes, whose few steps cost less than a
// call into the AVX2 ones. The AVX2 pair passes need at least four.
inline constexpr std::uint64_t kMinWideLength = 8;

struct Paths {
  bool avx2;  // the AVX2 passes
  // Copying gates whose vector has at least this many bytes write the second vector with
  // streaming stores, which skip reading each line before overwriting it.
  std::uint64_t stream_from_bytes;
};

// What this process should run: AVX2 where glibc reports it usable (so that
// GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2 selects the portable passes), streaming stores for
// vectors at least as large as the second-level cache.
Paths detected();

namespace detail {
// Constant-initialised and filled on first use, so the check per gate is one load and a branch.
inline constinit Paths g_active{false, 0};
inline constinit bool g_chosen = false;
void choose();
}  // namespace detail

// The paths the gates take: detected(), unless a test has set others.
inline const Paths& active() {
  if (!detail::g_chosen) [[unlikely]] detail::choose();
  return detail::g_active;
}

// For tests: makes `paths` the active ones and returns those it replaces. AVX2 is taken only
// where detected() offers it. Not synchronised.
Paths set_active(Paths paths);

}  // namespace amplion::engine::simd
