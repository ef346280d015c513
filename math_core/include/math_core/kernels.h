// The native kernel library: the shared amplitude record, the bounds-checked slice view, five
// in-place gate kernels and the flat entry points through which the engine reaches them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace math_core {

// One amplitude: real part, then imaginary part; 16 bytes, the layout the register stores.
struct Complex64 {
  double re;
  double im;
};
static_assert(sizeof(Complex64) == 16);

// A mutable window on `size` contiguous amplitudes, alive for one kernel call. Every element
// access compares its index with the count and throws std::out_of_range instead of reaching
// outside, so a kernel handed wrong indices or a short count touches nothing beyond the view.
class SliceMut {
 public:
  // The most elements any array of Complex64 can hold. Capping the count here keeps every index
  // below 2^59, so index arithmetic in the kernels cannot wrap; a larger count throws
  // std::length_error.
  static constexpr std::uint64_t kMaxSize = PTRDIFF_MAX / sizeof(Complex64);

  SliceMut(Complex64* data, std::uint64_t size);

  std::uint64_t size() const noexcept { return size_; }
  Complex64& operator[](std::uint64_t n) const;
  // Exchanges two elements as 16-byte records, no arithmetic.
  void swap(std::uint64_t i, std::uint64_t j) const;

 private:
  Complex64* data_;
  std::uint64_t size_;
};

// The kernels. Qubit q is bit q of the element index. They allocate nothing and keep nothing;
// indices are not checked against a qubit count (callers do that), only every access is
// checked against the view. If an access fails, pairs already processed stay processed.
void apply_h_cpp(SliceMut v, std::uint64_t q);
void apply_x_cpp(SliceMut v, std::uint64_t q);
void apply_cx_cpp(SliceMut v, std::uint64_t c, std::uint64_t t);
void apply_ccx_cpp(SliceMut v, std::uint64_t c1, std::uint64_t c2, std::uint64_t t);
void apply_cswap_cpp(SliceMut v, std::uint64_t c, std::uint64_t t1, std::uint64_t t2);

#if defined(__x86_64__)
// apply_h_cpp with AVX2 (and no FMA), two pairs at a time: the same bits, the same checks, and on
// a failing access the same pairs finished. Only for processors with AVX2; the caller checks.
void apply_h_cpp_avx2(SliceMut v, std::uint64_t q);
#endif

// Flat entry points: form the view from (pointer to element 0, element count) and call the
// kernel named without _flat, passing the qubit indices in its order. Nothing else.
void apply_h_cpp_flat(Complex64* data, std::uint64_t count, std::uint64_t q);
#if defined(__x86_64__)
void apply_h_cpp_avx2_flat(Complex64* data, std::uint64_t count, std::uint64_t q);
#endif
void apply_x_cpp_flat(Complex64* data, std::uint64_t count, std::uint64_t q);
void apply_cx_cpp_flat(Complex64* data, std::uint64_t count, std::uint64_t c, std::uint64_t t);
void apply_ccx_cpp_flat(Complex64* data, std::uint64_t count, std::uint64_t c1,
                        std::uint64_t c2, std::uint64_t t);
void apply_cswap_cpp_flat(Complex64* data, std::uint64_t count, std::uint64_t c,
                          std::uint64_t t1, std::uint64_t t2);

}  // namespace math_core
