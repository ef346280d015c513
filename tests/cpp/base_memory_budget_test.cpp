// The decision whether a large block fits, from injected /proc and cgroup contents.
#include <gtest/gtest.h>

#include <cstdint>

#include "base/memory_budget.h"

namespace amplion::base {
namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

std::string meminfo(std::uint64_t available_kib, std::uint64_t swap_free_kib) {
  return "MemTotal:       25165824 kB\nMemFree:          123456 kB\nMemAvailable:   " +
         std::to_string(available_kib) + " kB\nSwapTotal:      " +
         std::to_string(swap_free_kib) + " kB\nSwapFree:       " +
         std::to_string(swap_free_kib) + " kB\n";
}

TEST(AvailableBytes, TakesTheTightestReadableSource) {
  using Level = MemorySnapshot::CgroupLevel;
  struct Case {
    const char* name;
    MemorySnapshot snapshot;
    std::optional<std::uint64_t> expected;
  };
  const Case cases[] = {
      {"machine only, no swap", {meminfo(8 * 1024 * 1024, 0), {}, {}, {}}, 8 * kGiB},
      {"swap counts", {meminfo(8 * 1024 * 1024, 2 * 1024 * 1024), {}, {}, {}}, 10 * kGiB},
      {"cgroup tighter than the machine",
       {meminfo(20 * 1024 * 1024, 0),
        {Level{"4294967296\n", "1073741824\n", "anon 5\ninactive_file 1048576\nactive_file 9\n"}},
        {}, {}},
       3 * kGiB + 1048576},
      {"unlimited cgroup levels are ignored",
       {meminfo(1024 * 1024, 0),
        {Level{"max\n", "5000\n", std::nullopt}, Level{"9223372036854771712\n", "1\n", {}}},
        {}, {}},
       kGiB},
      {"a parent level's limit applies",
       {std::nullopt,
        {Level{"max\n", "100\n", {}}, Level{"2147483648\n", "1073741824\n", {}}}, {}, {}},
       kGiB},
      {"usage above the limit leaves nothing",
       {meminfo(1024 * 1024, 0), {Level{"100\n", "200\n", {}}}, {}, {}}, 0},
      {"address-space limit", {meminfo(16 * 1024 * 1024, 0), {}, 6 * kGiB, 2 * kGiB}, 4 * kGiB},
      {"nothing readable", {std::nullopt, {Level{}}, {}, {}}, std::nullopt},
      {"meminfo without MemAvailable", {std::string("MemTotal: 1 kB\n"), {}, {}, {}},
       std::nullopt},
      {"garbage cgroup files", {std::nullopt, {Level{"x\n", "y\n", {}}}, {}, {}}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(available_bytes(c.snapshot), c.expected);
  }
}

TEST(AvailableBytes, HugeValuesSaturateInsteadOfWrapping) {
  MemorySnapshot s{meminfo(UINT64_MAX / 512, UINT64_MAX / 512), {}, {}, {}};
  EXPECT_EQ(available_bytes(s), UINT64_MAX);
}

TEST(FitsInMemory, NeverConsultsTheMachineForSmallBlocksAndRefusesTheImpossible) {
  EXPECT_TRUE(fits_in_memory(kBudgetThreshold));
  EXPECT_TRUE(fits_in_memory(1));
  // No machine here has an exbibyte of memory and swap.
  EXPECT_FALSE(fits_in_memory(std::uint64_t{1} << 60));
}

}  // namespace
}  // namespace amplion::base
