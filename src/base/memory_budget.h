// How much memory a large allocation may take before the kernel's out-of-memory killer would
// end the process: read from /proc and the cgroup files only when a large block is requested.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace amplion::base {

// Blocks at or below this size are allocated without consulting the machine.
inline constexpr std::uint64_t kBudgetThreshold = std::uint64_t{64} << 20;

// The raw contents the decision is made from; an absent file is std::nullopt.
struct MemorySnapshot {
  std::optional<std::string> meminfo;  // /proc/meminfo
  // One entry per cgroup level, from the process's own group up to the root.
  struct CgroupLevel {
    std::optional<std::string> max;      // memory.max (v2) or memory.limit_in_bytes (v1)
    std::optional<std::string> current;  // memory.current (v2) or memory.usage_in_bytes (v1)
    std::optional<std::string> stat;     // memory.stat: inactive_file is reclaimable
  };
  std::vector<CgroupLevel> cgroups;
  std::optional<std::uint64_t> address_space_limit;  // RLIMIT_AS soft limit, if not infinite
  std::optional<std::uint64_t> address_space_used;   // the process's current virtual size
};

// Bytes that can still be committed, the least of what each readable source allows:
// MemAvailable + SwapFree; each limited cgroup level's limit - usage + inactive_file; the
// address-space limit - current size. std::nullopt when no source could be read.
std::optional<std::uint64_t> available_bytes(const MemorySnapshot& snapshot);

MemorySnapshot read_memory_snapshot();

// False only when a block larger than kBudgetThreshold is known not to fit, or when the heap
// has no room left even to read how much memory there is.
bool fits_in_memory(std::uint64_t bytes) noexcept;

}  // namespace amplion::base
