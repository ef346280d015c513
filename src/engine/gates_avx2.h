// The AVX2 passes of the arithmetic-bound gates, each giving the portable pass's bits. Built with
// -mavx2 -mno-fma in their own object library, on x86-64 only; called only where simd::active()
// says AVX2.
//
// This header is included by that library's translation unit, so it holds declarations only: an
// inline function defined here could be emitted from the AVX2 unit and picked by the linker for
// baseline callers. Amplitudes are passed as doubles, real then imaginary part of each, so the
// unit needs no header of ours with inline code.
#pragma once

#include <cstdint>

namespace amplion::engine::avx2 {

// Copying pair gates: for every pair (i, i + m) with i in [from, to) and bit m of i clear,
// reads amplitudes i and i + m of `in` and writes both of `out`. m is a power of two; [from, to)
// is the whole vector or one of in_checked_chunks' chunks, of at least four amplitudes either
// way. `stream`: non-temporal stores, which the caller fences before the vector is read.
void h(const double* in, double* out, std::uint64_t from, std::uint64_t to, std::uint64_t m,
       bool stream);
void x(const double* in, double* out, std::uint64_t from, std::uint64_t to, std::uint64_t m,
       bool stream);
void y(const double* in, double* out, std::uint64_t from, std::uint64_t to, std::uint64_t m,
       bool stream);
void sx(const double* in, double* out, std::uint64_t from, std::uint64_t to, std::uint64_t m,
        bool stream);
void sxdg(const double* in, double* out, std::uint64_t from, std::uint64_t to, std::uint64_t m,
          bool stream);
// c = cos(theta / 2), s = sin(theta / 2).
void rx(const double* in, double* out, std::uint64_t from, std::uint64_t to, std::uint64_t m,
        double c, double s, bool stream);
void ry(const double* in, double* out, std::uint64_t from, std::uint64_t to, std::uint64_t m,
        double c, double s, bool stream);
// cy with its target's bit m: the pairs whose lower index has bit `control` set (control != m)
// change as y changes them, the others are copied.
void cy(const double* in, double* out, std::uint64_t from, std::uint64_t to, std::uint64_t m,
        std::uint64_t control, bool stream);

// In-place products: rewrite every amplitude of v (`length` amplitudes, at least two) whose index
// has bit `hi` set and, when `lo` is not zero, bit `lo` set too. hi and lo are distinct powers
// of two below length, lo < hi.
void s(double* v, std::uint64_t length, std::uint64_t hi, std::uint64_t lo);
void sdg(double* v, std::uint64_t length, std::uint64_t hi, std::uint64_t lo);
void t(double* v, std::uint64_t length, std::uint64_t hi, std::uint64_t lo);
void tdg(double* v, std::uint64_t length, std::uint64_t hi, std::uint64_t lo);
// (c, s) = (cos theta, sin theta).
void cp(double* v, std::uint64_t length, std::uint64_t hi, std::uint64_t lo, double c, double s);
// Every amplitude: those with bit m clear times (c, -s), the others times (c, s); neg_s is s
// with its sign bit flipped.
void rz(double* v, std::uint64_t length, std::uint64_t m, double c, double s, double neg_s);

}  // namespace amplion::engine::avx2
