// Aligned, huge-page-advised allocation and the MemoryError message.
#include "base/memory.h"

#include <sys/mman.h>

#include <cstdlib>

#include "base/memory_budget.h"

namespace amplion::base {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kCacheLine = 64;

}  // namespace

void* allocate_aligned(std::size_t bytes) noexcept {
  if (bytes == 0) return nullptr;
  const std::size_t align = bytes >= kHugePage ? kHugePage : kCacheLine;
  const std::size_t rounded = (bytes + align - 1) / align * align;
  if (rounded < bytes) return nullptr;
  // Linux may grant a block it cannot back, and the page faults then kill the process.
  if (!fits_in_memory(rounded)) return nullptr;
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

}  // namespace amplion::base
