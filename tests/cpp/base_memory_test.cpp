// Large blocks when the heap itself has run out: the budget check, which reads /proc into small
// strings, must refuse the block rather than end the process from inside a noexcept function.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "base/memory.h"
#include "base/memory_budget.h"

namespace {
bool g_heap_exhausted = false;  // while set, operator new fails as on an exhausted heap
void* volatile g_probe = nullptr;
}  // namespace

// The sanitizer's allocator would see this operator's blocks freed by its own operator delete and
// report a mismatch, so the replacement exists only without it. The default operator delete calls
// free, which takes these blocks. (valgrind, which replaces operator new only where it is not
// inlined, does not run this program.)
#if !defined(__SANITIZE_ADDRESS__)
void* operator new(std::size_t size) {
  if (g_heap_exhausted) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
#endif

namespace amplion::base {
namespace {

// True when operator new is the replacement above and fails on request.
bool heap_failure_can_be_simulated() {
  g_heap_exhausted = true;
  try {
    g_probe = ::operator new(64);
  } catch (const std::bad_alloc&) {
    g_heap_exhausted = false;
    return true;
  }
  g_heap_exhausted = false;
  ::operator delete(g_probe);
  return false;
}

TEST(AllocateAligned, RefusesALargeBlockWhenTheHeapCannotHoldTheBudgetCheck) {
  if (!heap_failure_can_be_simulated()) {
    GTEST_SKIP() << "operator new belongs to the sanitizer here";
  }
  const std::size_t large = 2 * kBudgetThreshold;
  g_heap_exhausted = true;
  const bool fits = fits_in_memory(large);
  const bool room = room_for(large);
  void* refused = allocate_aligned(large);
  g_heap_exhausted = false;
  EXPECT_FALSE(fits);
  EXPECT_FALSE(room);
  EXPECT_EQ(refused, nullptr);
  // Small blocks never consult the machine, and with the heap back the large one is granted.
  EXPECT_TRUE(fits_in_memory(kBudgetThreshold));
  void* granted = allocate_aligned(large);
  EXPECT_NE(granted, nullptr);
  free_aligned(granted);
}

}  // namespace
}  // namespace amplion::base
