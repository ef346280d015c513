// The per-instance borrow word and its RAII guard. Free of Python headers so C++ tests reach it.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace amplion::binding {

// The two borrows a call can take of an instance: shared for reads, exclusive for changes.
enum class Borrow { kShared, kExclusive };

// 0: free; k: k shared borrows; all ones: one exclusive borrow.
using BorrowWord = std::atomic<std::uintptr_t>;
inline constexpr std::uintptr_t kExclusiveWord = ~std::uintptr_t{0};

// Holds one borrow and releases exactly it when destroyed, on every way out of a call. An empty
// guard (a refused borrow) holds no word and releases nothing.
class BorrowGuard {
 public:
  BorrowGuard() = default;
  BorrowGuard(const BorrowGuard&) = delete;
  BorrowGuard& operator=(const BorrowGuard&) = delete;
  BorrowGuard(BorrowGuard&& other) noexcept
      : word_(std::exchange(other.word_, nullptr)), kind_(other.kind_) {}
  BorrowGuard& operator=(BorrowGuard&& other) noexcept {
    if (this != &other) {
      release();
      word_ = std::exchange(other.word_, nullptr);
      kind_ = other.kind_;
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
    return BorrowGuard(&word, Borrow::kShared);
  }

  // Fails (empty guard) when the word holds any borrow.
  static BorrowGuard exclusive(BorrowWord& word) noexcept {
    std::uintptr_t expected = 0;
    if (!word.compare_exchange_strong(expected, kExclusiveWord, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
      return {};
    }
    return BorrowGuard(&word, Borrow::kExclusive);
  }

  explicit operator bool() const noexcept { return word_ != nullptr; }

 private:
  BorrowGuard(BorrowWord* word, Borrow kind) noexcept : word_(word), kind_(kind) {}

  void release() noexcept {
    if (word_ == nullptr) return;
    if (kind_ == Borrow::kShared) {
      word_->fetch_sub(1, std::memory_order_release);
    } else {
      word_->store(0, std::memory_order_release);
    }
    word_ = nullptr;
  }

  BorrowWord* word_ = nullptr;
  Borrow kind_ = Borrow::kShared;  // read only while word_ is set
};

}  // namespace amplion::binding
