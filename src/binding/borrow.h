// The per-instance borrow word and its RAII guard. Free of Python headers so C++ tests reach it.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace amplion::binding {

// 0: free; k: k shared borrows; all ones: one exclusive borrow.
using BorrowWord = std::atomic<std::uintptr_t>;
inline constexpr std::uintptr_t kExclusiveWord = ~std::uintptr_t{0};

// Holds one borrow and releases exactly it when destroyed, on every way out of a call. An empty
// guard (a refused borrow) releases nothing.
class BorrowGuard {
 public:
  enum class Kind { kNone, kShared, kExclusive };

  BorrowGuard() = default;
  BorrowGuard(const BorrowGuard&) = delete;
  BorrowGuard& operator=(const BorrowGuard&) = delete;
  BorrowGuard(BorrowGuard&& other) noexcept
      : word_(std::exchange(other.word_, nullptr)), kind_(std::exchange(other.kind_, Kind::kNone)) {}
  BorrowGuard& operator=(BorrowGuard&& other) noexcept {
    if (this != &other) {
      release();
      word_ = std::exchange(other.word_, nullptr);
      kind_ = std::exchange(other.kind_, Kind::kNone);
    }
    return *this;
  }
  ~BorrowGuard() { release(); }

  // Fails (empty guard) when the word holds the exclusive borrow.
  static BorrowGuard shared(BorrowWord& word) noexcept {
    std::uintptr_t seen = word.load(std::memory_order_relaxed);
    do {
      if (seen == kExclusiveWord) return {};
    } while (!word.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire,
                                         std::memory_order_relaxed));
    return BorrowGuard(&word, Kind::kShared);
  }

  // Fails (empty guard) when the word holds any borrow.
  static BorrowGuard exclusive(BorrowWord& word) noexcept {
    std::uintptr_t expected = 0;
    if (!word.compare_exchange_strong(expected, kExclusiveWord, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
      return {};
    }
    return BorrowGuard(&word, Kind::kExclusive);
  }

  explicit operator bool() const noexcept { return kind_ != Kind::kNone; }
  Kind kind() const noexcept { return kind_; }

 private:
  BorrowGuard(BorrowWord* word, Kind kind) noexcept : word_(word), kind_(kind) {}

  void release() noexcept {
    if (kind_ == Kind::kShared) word_->fetch_sub(1, std::memory_order_release);
    if (kind_ == Kind::kExclusive) word_->store(0, std::memory_order_release);
    word_ = nullptr;
    kind_ = Kind::kNone;
  }

  BorrowWord* word_ = nullptr;
  Kind kind_ = Kind::kNone;
};

}  // namespace amplion::binding
