// Register construction and reads, the allocation helper behind every vector, and the spare
// vector that copying gates compute into.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "base/memory.h"
#include "engine/register.h"
#include "test_support.h"

namespace amplion::engine {

using base::Block;
using base::ErrorKind;
using base::Status;

namespace {

TEST(RegisterCreate, RejectsCountsOutsideOneToThirtyBeforeAllocating) {
  for (std::uint64_t n : {std::uint64_t{0}, std::uint64_t{31}, std::uint64_t{64},
                          std::uint64_t{1} << 40, UINT64_MAX}) {
    SCOPED_TRACE(n);
    auto r = Register::create(n, 1);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::kValue);
    EXPECT_EQ(r.error().message, "n_qubits must be between 1 and 30");
  }
}

TEST(RegisterCreate, StartsInAllZeroStateWithPositiveZeros) {
  for (std::uint64_t n : {1u, 3u, 10u}) {
    SCOPED_TRACE(n);
    auto r = Register::create(n, 7);
    ASSERT_TRUE(r.ok());
    Register& reg = r.value();
    EXPECT_EQ(reg.n_qubits(), n);
    ASSERT_EQ(reg.length(), std::uint64_t{1} << n);
    auto amps = reg.amplitudes();
    EXPECT_EQ(bits(amps[0].re), 0x3FF0000000000000u);
    EXPECT_EQ(bits(amps[0].im), 0u);
    for (std::uint64_t i = 1; i < reg.length(); ++i) {
      ASSERT_EQ(bits(amps[i].re), 0u) << i;
      ASSERT_EQ(bits(amps[i].im), 0u) << i;
    }
  }
}

TEST(RegisterReads, AmplitudeAndQubitChecksUseUnsignedBounds) {
  auto r = Register::create(3, 0);
  ASSERT_TRUE(r.ok());
  const Register& reg = r.value();
  EXPECT_TRUE(reg.amplitude(7).ok());
  for (std::uint64_t i : {std::uint64_t{8}, std::uint64_t{1} << 63, UINT64_MAX}) {
    auto a = reg.amplitude(i);
    ASSERT_FALSE(a.ok());
    EXPECT_EQ(a.error().kind, ErrorKind::kIndex);
    EXPECT_EQ(a.error().message, "amplitude index out of range");
  }
  EXPECT_TRUE(reg.check_qubit(2).ok());
  for (std::uint64_t q : {std::uint64_t{3}, std::uint64_t{64}, UINT64_MAX}) {
    Status s = reg.check_qubit(q);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().kind, ErrorKind::kIndex);
    EXPECT_EQ(s.error().message, "qubit index out of range");
  }
}

TEST(Block, AlignsLargeBlocksToHugePagesAndSmallOnesToCacheLines) {
  auto small = Block<Complex64>::allocate(2, "1 qubits");
  ASSERT_TRUE(small.ok());
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(small.value().data()) % 64, 0u);
  auto large = Block<Complex64>::allocate(std::uint64_t{1} << 17, "17 qubits");  // 2 MiB
  ASSERT_TRUE(large.ok());
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(large.value().data()) % (2u << 20), 0u);
  EXPECT_EQ(large.value().size(), std::uint64_t{1} << 17);
}

TEST(Block, OverflowingOrImpossibleSizesAreMemoryErrorsNamingTheBytes) {
  auto overflow = Block<Complex64>::allocate(std::uint64_t{1} << 60, "60 qubits");
  ASSERT_FALSE(overflow.ok());
  EXPECT_EQ(overflow.error().kind, ErrorKind::kMemory);
  EXPECT_EQ(overflow.error().message,
            "cannot allocate more than 18446744073709551614 bytes for 60 qubits");

  // 2^47 bytes fits the arithmetic but no machine here has 128 TiB of address space to give.
  auto huge = Block<Complex64>::allocate(std::uint64_t{1} << 43, "43 qubits");
  ASSERT_FALSE(huge.ok());
  EXPECT_EQ(huge.error().message, "cannot allocate 140737488355328 bytes for 43 qubits");
}

TEST(Block, MoveTransfersOwnership) {
  auto r = Block<double>::allocate(16, "test");
  ASSERT_TRUE(r.ok());
  Block<double> a = std::move(r.value());
  double* p = a.data();
  Block<double> b = std::move(a);
  EXPECT_EQ(b.data(), p);
  EXPECT_EQ(b.size(), 16u);
  EXPECT_EQ(a.data(), nullptr);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(a.size(), 0u);       // NOLINT(bugprone-use-after-move)
}

// One spare at most, of the size a copying gate last gave up, kept only while a register of that
// size lives. Registers under 2 MiB neither make one nor disturb it.
TEST(SpareVector, FollowsTheCopyingGatesAndTheLiveRegisters) {
  constexpr std::size_t k17 = std::size_t{2} << 20, k18 = std::size_t{4} << 20;
  base::release_spare();
  Register a = make_register(17);
  const Complex64* first = a.amplitudes().data();
  EXPECT_EQ(base::spare_bytes(), 0u);
  ASSERT_TRUE(a.h(0).ok());
  EXPECT_EQ(base::spare_bytes(), k17);
  ASSERT_TRUE(a.x(3).ok());
  EXPECT_EQ(a.amplitudes().data(), first);  // computed into the spare, the first vector
  EXPECT_EQ(base::spare_bytes(), k17);

  Register small = make_register(3);
  ASSERT_TRUE(small.h(0).ok());
  EXPECT_EQ(base::spare_bytes(), k17);
  {
    Register b = make_register(18);
    ASSERT_TRUE(b.cy(0, 1).ok());
    EXPECT_EQ(base::spare_bytes(), k18);  // the newer size replaces the older
  }
  EXPECT_EQ(base::spare_bytes(), 0u);  // with the last 18-qubit register

  ASSERT_TRUE(a.sx(2).ok());
  Register moved = std::move(a);
  EXPECT_EQ(base::spare_bytes(), k17);  // still one live 17-qubit register
  moved = make_register(18);
  EXPECT_EQ(base::spare_bytes(), 0u);
}

}  // namespace
}  // namespace amplion::engine
