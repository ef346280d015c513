// The borrow word and its guard, and what an escaping exception becomes at the module's edge.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "binding/borrow.h"
#include "binding/fault.h"
#include "base/errors.h"

namespace amplion::binding {

using base::Fault;
using base::fault;

namespace {

TEST(BorrowGuard, SharedBorrowsStackAndExcludeTheExclusiveOne) {
  BorrowWord word{0};
  {
    BorrowGuard a = BorrowGuard::shared(word);
    BorrowGuard b = BorrowGuard::shared(word);
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    EXPECT_EQ(word.load(), 2u);
    EXPECT_FALSE(BorrowGuard::exclusive(word));
    EXPECT_EQ(word.load(), 2u) << "a refused exclusive borrow must not disturb the count";
  }
  EXPECT_EQ(word.load(), 0u);
  BorrowGuard c = BorrowGuard::exclusive(word);
  EXPECT_TRUE(c);
}

TEST(BorrowGuard, ExclusiveBorrowRefusesEveryOther) {
  BorrowWord word{0};
  BorrowGuard x = BorrowGuard::exclusive(word);
  ASSERT_TRUE(x);
  EXPECT_EQ(word.load(), kExclusiveWord);
  EXPECT_FALSE(BorrowGuard::shared(word));
  EXPECT_FALSE(BorrowGuard::exclusive(word));
  EXPECT_EQ(word.load(), kExclusiveWord) << "refused borrows must release nothing";
}

TEST(BorrowGuard, MovedGuardReleasesOnceFromItsNewOwner) {
  BorrowWord word{0};
  {
    BorrowGuard outer;
    {
      BorrowGuard inner = BorrowGuard::exclusive(word);
      outer = std::move(inner);
      EXPECT_FALSE(inner);  // NOLINT(bugprone-use-after-move): the moved-from guard is empty
    }
    EXPECT_EQ(word.load(), kExclusiveWord) << "destroying the moved-from guard released the borrow";
  }
  EXPECT_EQ(word.load(), 0u);

  BorrowGuard s1 = BorrowGuard::shared(word);
  BorrowGuard s2 = BorrowGuard::shared(word);
  s1 = std::move(s2);  // releases s1's own borrow, takes over s2's
  EXPECT_EQ(word.load(), 1u);
}

TEST(BorrowGuard, FaultUnwindingReleasesEveryBorrow) {
  BorrowWord self{0};
  BorrowWord other{0};
  BorrowWord reader{3};  // three shared borrows held elsewhere
  try {
    BorrowGuard a = BorrowGuard::exclusive(self);
    BorrowGuard b = BorrowGuard::exclusive(other);
    BorrowGuard c = BorrowGuard::shared(reader);
    ASSERT_TRUE(a && b && c);
    fault("from_entropy failed: test");
  } catch (const Fault& f) {
    EXPECT_STREQ(f.what(), "from_entropy failed: test");
  }
  EXPECT_EQ(self.load(), 0u);
  EXPECT_EQ(other.load(), 0u);
  EXPECT_EQ(reader.load(), 3u);
}

TEST(DescribeException, MapsEachEscapingExceptionToItsPythonClass) {
  struct Case {
    const char* name;
    std::exception_ptr error;
    FaultReport::Kind kind;
    const char* message;
  };
  const Case cases[] = {
      {"fault", std::make_exception_ptr(Fault("Uniform::new: range overflow")),
       FaultReport::Kind::kPanic, "Uniform::new: range overflow"},
      {"bad_alloc", std::make_exception_ptr(std::bad_alloc()), FaultReport::Kind::kMemory,
       kOutOfMemoryMessage},
      {"kernel bounds check", std::make_exception_ptr(std::out_of_range("n < this->size()")),
       FaultReport::Kind::kPanic, "n < this->size()"},
      {"not an exception", std::make_exception_ptr(42), FaultReport::Kind::kPanic,
       kUnknownFaultMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FaultReport report = describe_exception(c.error);
    EXPECT_EQ(report.kind, c.kind);
    EXPECT_EQ(report.message, c.message);
  }
}

}  // namespace
}  // namespace amplion::binding
