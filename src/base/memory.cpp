// Aligned, huge-page-advised allocation, the spare vector and the MemoryError message.
#include "base/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>

#include "base/memory_budget.h"

namespace amplion::base {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kCacheLine = 64;

struct Spare {
  void* data = nullptr;
  std::size_t bytes = 0;
};
Spare g_spare;

// Live registers by vector size. Register vectors are powers of two, so log2 is the slot.
std::array<std::uint64_t, 64> g_users{};

std::uint64_t& users(std::size_t bytes) { return g_users[std::bit_width(bytes) - 1]; }

// Bytes of [p, p + bytes) whose pages are in memory: all of a spare the kernel has left alone,
// fewer where it took pages back. p is page-aligned. Counts nothing when the question fails.
std::size_t resident_bytes(void* p, std::size_t bytes) {
  const long page_size = sysconf(_SC_PAGESIZE);
  const std::size_t page = page_size > 0 ? static_cast<std::size_t>(page_size) : 4096;
  std::array<unsigned char, 4096> in_core;
  std::size_t resident = 0;
  auto* at = static_cast<unsigned char*>(p);
  for (std::size_t done = 0; done < bytes;) {
    const std::size_t span = std::min(bytes - done, in_core.size() * page);
    if (mincore(at + done, span, in_core.data()) != 0) return 0;
    for (std::size_t k = 0; k < (span + page - 1) / page; ++k) {
      if (in_core[k] & 1) resident += page;
    }
    done += span;
  }
  return std::min(resident, bytes);
}

}  // namespace

void* allocate_aligned(std::size_t bytes) noexcept {
  if (bytes == 0) return nullptr;
  const std::size_t align = bytes >= kHugePage ? kHugePage : kCacheLine;
  const std::size_t rounded = (bytes + align - 1) / align * align;
  if (rounded < bytes) return nullptr;
  // Linux may grant a block it cannot back, and the page faults then kill the process.
  if (!room_for(rounded)) return nullptr;
  void* p = std::aligned_alloc(align, rounded);
  if (p != nullptr && align == kHugePage) {
    // Advice only: where the kernel refuses it the block is still usable.
    (void)madvise(p, rounded, MADV_HUGEPAGE);
  }
  return p;
}

void free_aligned(void* p) noexcept { std::free(p); }

Error memory_error(std::uint64_t bytes, std::string_view what) {
  std::string message = "cannot allocate ";
  message += bytes == UINT64_MAX ? std::string("more than 18446744073709551614")
                                 : std::to_string(bytes);
  message += " bytes for ";
  message += what;
  return Error{ErrorKind::kMemory, std::move(message)};
}

void* take_spare(std::size_t bytes) noexcept {
  if (bytes < kSpareMinBytes || g_spare.data == nullptr) return nullptr;
  if (g_spare.bytes != bytes) {
    release_spare();
    return nullptr;
  }
  // Where the kernel has taken pages back, finding them again page by page costs more than a
  // fresh block (2.6 times at 1 GiB), and needs memory the budget has not weighed.
  if (resident_bytes(g_spare.data, bytes) < bytes) {
    release_spare();
    return nullptr;
  }
  return std::exchange(g_spare, Spare{}).data;
}

// Blocks of kSpareMinBytes and more are huge-page aligned and whole pages long, as madvise needs.
void keep_spare(void* p, std::size_t bytes) noexcept {
  if (bytes < kSpareMinBytes || users(bytes) == 0) {
    free_aligned(p);
    return;
  }
  release_spare();
#if defined(MADV_FREE)
  // Where the kernel lacks MADV_FREE the spare simply stays resident.
  (void)madvise(p, bytes, MADV_FREE);
#endif
  g_spare = Spare{p, bytes};
}

void release_spare() noexcept {
  free_aligned(g_spare.data);
  g_spare = Spare{};
}

std::size_t spare_bytes() noexcept { return g_spare.bytes; }

bool room_for(std::uint64_t bytes) noexcept {
  if (fits_in_memory(bytes)) return true;
  if (g_spare.data == nullptr) return false;
  release_spare();
  return fits_in_memory(bytes);
}

void VectorUse::add() noexcept { ++users(bytes_); }

void VectorUse::drop() noexcept {
  if (--users(bytes_) == 0 && g_spare.bytes == bytes_) release_spare();
}

}  // namespace amplion::base
