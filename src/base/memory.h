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
      free_aligned(data_);
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
  T& operator[](std::uint64_t i) { return data_[i]; }
  const T& operator[](std::uint64_t i) const { return data_[i]; }
  std::span<T> span() { return {data_, static_cast<std::size_t>(size_)}; }
  std::span<const T> span() const { return {data_, static_cast<std::size_t>(size_)}; }

 private:
  T* data_ = nullptr;
  std::uint64_t size_ = 0;
};

}  // namespace amplion::base
