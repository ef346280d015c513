// glibc's run-time processor features on x86-64: CPU_FEATURE_ACTIVE(AVX2) and the like, which
// include the operating system's support for a feature's state and honour
// GLIBC_TUNABLES=glibc.cpu.hwcaps=-FEATURE. AMPLION_CPU_FEATURES is defined where they exist.
#pragma once

#if defined(__x86_64__) && __has_include(<sys/platform/x86.h>)
#define AMPLION_CPU_FEATURES 1
// glibc's header is C: its inline helpers return _Bool, which g++ accepts and clang++ does not.
#if defined(__clang__)
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif
#endif
