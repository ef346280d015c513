// The register's _cpp gates: index checks before any change, work in place on the register's own
// storage, and what a kernel's refused access becomes at the module's edge.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <exception>
#include <functional>
#include <vector>

#include "binding/fault.h"
#include "engine/register.h"
#include "math_core/kernels.h"
#include "test_support.h"

namespace amplion::engine {

using base::ErrorKind;
using base::Status;

namespace {

struct BadCall {
  const char* name;
  std::function<Status(Register&)> call;
};

TEST(EngineKernels, EveryIndexIsCheckedBeforeAnythingChanges) {
  constexpr std::uint64_t kHuge = UINT64_MAX;
  const BadCall cases[] = {
      {"h_cpp(3)", [](Register& r) { return r.h_cpp(3); }},
      {"x_cpp(max)", [&](Register& r) { return r.x_cpp(kHuge); }},
      {"cx_cpp(3,0)", [](Register& r) { return r.cx_cpp(3, 0); }},
      {"cx_cpp(0,3)", [](Register& r) { return r.cx_cpp(0, 3); }},
      {"ccx_cpp(3,0,1)", [](Register& r) { return r.ccx_cpp(3, 0, 1); }},
      {"ccx_cpp(0,3,1)", [](Register& r) { return r.ccx_cpp(0, 3, 1); }},
      {"ccx_cpp(0,1,64)", [](Register& r) { return r.ccx_cpp(0, 1, 64); }},
      {"cswap_cpp(3,0,1)", [](Register& r) { return r.cswap_cpp(3, 0, 1); }},
      {"cswap_cpp(0,3,1)", [](Register& r) { return r.cswap_cpp(0, 3, 1); }},
      {"cswap_cpp(0,1,3)", [](Register& r) { return r.cswap_cpp(0, 1, 3); }},
  };
  for (const BadCall& c : cases) {
    SCOPED_TRACE(c.name);
    Register reg = make_register(3);
    ASSERT_TRUE(reg.h_cpp(0).ok());
    ASSERT_TRUE(reg.x_cpp(2).ok());
    const auto before = words(reg);
    const Status st = c.call(reg);
    ASSERT_FALSE(st.ok());
    EXPECT_EQ(st.error().kind, ErrorKind::kIndex);
    EXPECT_EQ(st.error().message, "qubit index out of range");
    EXPECT_EQ(words(reg), before);
  }
}

// The kernels work on the register's own storage: no copy, no replacement of the vector.
TEST(EngineKernels, GatesWorkInPlaceUpToTheTopQubit) {
  Register reg = make_register(3);
  const Complex64* storage = reg.amplitudes().data();
  ASSERT_TRUE(reg.x_cpp(2).ok());
  EXPECT_EQ(bits(reg.amplitudes()[4].re), 0x3FF0000000000000u);
  EXPECT_EQ(bits(reg.amplitudes()[0].re), 0u);
  ASSERT_TRUE(reg.h_cpp(2).ok());
  ASSERT_TRUE(reg.cx_cpp(2, 0).ok());
  ASSERT_TRUE(reg.ccx_cpp(0, 2, 1).ok());
  ASSERT_TRUE(reg.cswap_cpp(1, 2, 0).ok());
  EXPECT_EQ(reg.amplitudes().data(), storage);
  // h_cpp(2) on |100> leaves C at 0 and -C at 4; cx(2,0) moves -C to 5; ccx(0,2,1) to 7;
  // cswap(1,2,0) exchanges 6 (110) and 3 (011), both zero: -C stays at 7.
  const std::vector<std::uint64_t> want{
      0x3FE6A09E667F3BCCu, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xBFE6A09E667F3BCCu, 0};
  EXPECT_EQ(words(reg), want);
}

// Unreachable through the register, but if a kernel's access check ever failed, the binding's
// catch point would report an internal fault carrying the view's message.
TEST(EngineKernels, RefusedAccessBecomesAnInternalFault) {
  std::vector<Complex64> v(2, Complex64{1.0, 2.0});
  std::exception_ptr caught;
  try {
    math_core::apply_x_cpp_flat(v.data(), v.size(), 1);
  } catch (...) {
    caught = std::current_exception();
  }
  ASSERT_TRUE(caught);
  const binding::FaultReport report = binding::describe_exception(caught);
  EXPECT_EQ(report.kind, binding::FaultReport::Kind::kPanic);
  EXPECT_EQ(report.message, "kernel element index 2 outside a view of 2 elements");
}

}  // namespace
}  // namespace amplion::engine
