// Picks the block function once per process: AVX2 where both the processor and the operating
// system support it, otherwise SSE2 (the x86-64 baseline), otherwise plain C++.
#include "random/chacha_blocks.h"

#if defined(AMPLION_CHACHA_X86)
#include <cpuid.h>
#endif

namespace amplion::random::blocks {
namespace {

#if defined(AMPLION_CHACHA_X86)
// XCR0 bits 1 and 2: the operating system saves SSE and AVX state across context switches.
// Without them AVX instructions fault even on a processor that has them.
constexpr std::uint64_t kXcr0SseAvx = 0x6;

std::uint64_t read_xcr0() {
  std::uint32_t eax = 0;
  std::uint32_t edx = 0;
  // xgetbv written as bytes so this baseline unit needs no -mxsave.
  __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(eax), "=d"(edx) : "c"(0));
  return (static_cast<std::uint64_t>(edx) << 32) | eax;
}

bool detect_avx2() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool osxsave = (ecx & bit_OSXSAVE) != 0;
  const bool avx = (ecx & bit_AVX) != 0;
  if (!osxsave || !avx) return false;
  if ((read_xcr0() & kXcr0SseAvx) != kXcr0SseAvx) return false;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (ebx & bit_AVX2) != 0;
}
#endif

Variant choose() {
#if defined(AMPLION_CHACHA_X86)
  if (cpu_has_avx2()) return {"avx2", &chacha12_x4_avx2};
  return {"sse2", &chacha12_x4_sse2};
#else
  return {"portable", &chacha12_x4_portable};
#endif
}

}  // namespace

bool cpu_has_avx2() {
#if defined(AMPLION_CHACHA_X86)
  static const bool has = detect_avx2();
  return has;
#else
  return false;
#endif
}

Variant selected_variant() {
  static const Variant chosen = choose();
  return chosen;
}

}  // namespace amplion::random::blocks
