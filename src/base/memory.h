// The one allocation helper for amplitude vectors and every other array sized by 2^n.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/errors.h"

namespace amplion::base {

// Raw aligned storage: blocks of 2 MiB and more are 2 MiB aligned and advised for transparent
// huge pages (a fresh 256 MiB vector otherwise pays a page fault per 4 KiB); smaller ones are
// 64-byte aligned. Returns nullptr when the memory is not there.
void* allocate_aligned(std::size_t bytes) noexcept;
void free_aligned(void* p) noexcept;

// "cannot allocate <bytes> bytes for <what>"; bytes is the full request.
Error memory_error(std::uint64_t bytes, std::string_view what);

// The spare vector. A copying gate computes into a second vector and then gives up the first.
// Instead of being freed, that vector is kept as the process's one spare, and the next copying
// gate on a register of the same size computes into it: memory that is already mapped, with no
// page faults and no zeroing by the kernel. The spare is handed back to the kernel lazily
// (MADV_FREE): its pages stay until the machine runs short, and then the kernel takes them without
// asking. Only vectors of kSpareMinBytes and more take part; malloc keeps smaller ones for reuse
// itself. Not synchronised: every caller holds the interpreter lock, or is a single-threaded test.
inline constexpr std::size_t kSpareMinBytes = std::size_t{2} << 20;

// The spare when it has exactly `bytes` bytes and the kernel has left all its pages in place,
// else nullptr; for a request of kSpareMinBytes or more, a spare of another size, or one the
// kernel has taken pages from, is freed first. Its contents are whatever was left in it: the
// caller writes every byte before reading any.
void* take_spare(std::size_t bytes) noexcept;
// `p` (from allocate_aligned, `bytes` long) becomes the spare, replacing and freeing an older one,
// when a live register has vectors of this size (see VectorUse); otherwise it is freed at once.
void keep_spare(void* p, std::size_t bytes) noexcept;
// Frees the spare, if there is one.
void release_spare() noexcept;
// The spare's size in bytes; 0 when there is none.
std::size_t spare_bytes() noexcept;

// fits_in_memory(bytes), counting the spare as available: when the request does not fit, the
// spare (if any) is freed and the budget asked again. A request too big for the machine frees it
// and still fails.
bool room_for(std::uint64_t bytes) noexcept;

// Marks one live register whose vectors have `bytes` bytes. While at least one exists, a spare of
// that size is kept; when the last one goes, so does a spare of its size. Registers too small for
// a spare are not counted. Move-only.
class VectorUse {
 public:
  explicit VectorUse(std::size_t bytes) noexcept : bytes_(bytes >= kSpareMinBytes ? bytes : 0) {
    if (bytes_ != 0) add();
  }
  VectorUse(const VectorUse&) = delete;
  VectorUse& operator=(const VectorUse&) = delete;
  VectorUse(VectorUse&& other) noexcept : bytes_(std::exchange(other.bytes_, 0)) {}
  VectorUse& operator=(VectorUse&& other) noexcept {
    if (this != &other) {
      if (bytes_ != 0) drop();
      bytes_ = std::exchange(other.bytes_, 0);
    }
    return *this;
  }
  ~VectorUse() {
    if (bytes_ != 0) drop();
  }

 private:
  void add() noexcept;
  void drop() noexcept;

  std::size_t bytes_;  // 0 once moved from, and for registers under kSpareMinBytes
};

// An owned, uninitialised array of trivially copyable T.
template <class T>
class Block {
 public:
  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  Block(Block&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  Block& operator=(Block&& other) noexcept {
    if (this != &other) {
      if (data_ != nullptr) free_aligned(data_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  ~Block() { free_aligned(data_); }

  // Checks count * sizeof(T) for overflow before asking for memory. `what` completes the
  // MemoryError message: "cannot allocate N bytes for <what>".
  static Result<Block> allocate(std::uint64_t count, std::string_view what) {
    constexpr std::uint64_t kMaxCount = UINT64_MAX / sizeof(T);
    if (count > kMaxCount || count * sizeof(T) > SIZE_MAX) {
      return memory_error(UINT64_MAX, what);
    }
    const std::size_t bytes = static_cast<std::size_t>(count * sizeof(T));
    void* p = allocate_aligned(bytes);
    if (p == nullptr && bytes != 0) return memory_error(bytes, what);
    Block b;
    b.data_ = static_cast<T*>(p);
    b.size_ = count;
    return b;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  std::uint64_t size() const { return size_; }
  // A register's next vector for a copying gate: the spare when it has exactly count elements,
  // else a fresh block from allocate(count, what). Its contents are undefined either way.
  static Result<Block> reuse_or_allocate(std::uint64_t count, std::string_view what) {
    if (count <= SIZE_MAX / sizeof(T) && count * sizeof(T) >= kSpareMinBytes) {
      if (void* p = take_spare(static_cast<std::size_t>(count) * sizeof(T))) {
        Block b;
        b.data_ = static_cast<T*>(p);
        b.size_ = count;
        return b;
      }
    }
    return allocate(count, what);
  }

  // Gives the storage to keep_spare instead of freeing it; the block is left empty.
  void retire() noexcept {
    const auto bytes = static_cast<std::size_t>(size_ * sizeof(T));
    if (bytes >= kSpareMinBytes) {
      keep_spare(data_, bytes);
    } else {
      free_aligned(data_);
    }
    data_ = nullptr;
    size_ = 0;
  }

  T& operator[](std::uint64_t i) { return data_[i]; }
  const T& operator[](std::uint64_t i) const { return data_[i]; }
  std::span<T> span() { return {data_, static_cast<std::size_t>(size_)}; }
  std::span<const T> span() const { return {data_, static_cast<std::size_t>(size_)}; }

 private:
  T* data_ = nullptr;
  std::uint64_t size_ = 0;
};

}  // namespace amplion::base
