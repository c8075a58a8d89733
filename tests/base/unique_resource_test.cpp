#include "base/unique_resource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace velqa::base {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records every close in the log its traits point to; -1 is "none".
struct CountingTraits {
  using Handle = int;
  std::vector<int>* closed = nullptr;
  static int None() { return -1; }
  static bool IsValid(int handle) { return handle >= 0; }
  void Close(int handle) const { closed->push_back(handle); }
};
using Owner = UniqueResource<CountingTraits>;

TEST(UniqueResourceTest, ClosesEachHandleOnceThroughItsOwnTraits) {
  std::vector<int> first_log;
  std::vector<int> second_log;
  {
    Owner a(1, {&first_log});
    Owner b(2, {&second_log});
    Owner moved(std::move(a));
    EXPECT_FALSE(a.is_valid());
    EXPECT_EQ(moved.get(), 1);
    // The owner assigned to closes what it held with its old traits and
    // takes over the other's handle together with its traits.
    moved = std::move(b);
    EXPECT_THAT(first_log, ElementsAre(1));
    EXPECT_EQ(moved.get(), 2);
    moved.Reset(3);
    EXPECT_THAT(second_log, ElementsAre(2));
  }
  EXPECT_THAT(first_log, ElementsAre(1));
  EXPECT_THAT(second_log, ElementsAre(2, 3));
}

TEST(UniqueResourceTest, ReleaseAndEmptyOwnersCloseNothing) {
  std::vector<int> log;
  {
    Owner empty(-1, {&log});
    Owner kept(4, {&log});
    EXPECT_FALSE(empty);
    EXPECT_TRUE(kept);
    EXPECT_EQ(kept.Release(), 4);
    EXPECT_FALSE(kept);
    kept.Reset();
  }
  EXPECT_THAT(log, IsEmpty());
}

TEST(UniqueResourceTest, ResetToTheHandleItHoldsKeepsItOpen) {
  std::vector<int> log;
  {
    Owner owner(5, {&log});
    owner.Reset(owner.get());
    EXPECT_THAT(log, IsEmpty());
    EXPECT_EQ(owner.get(), 5);
  }
  EXPECT_THAT(log, ElementsAre(5));
}

}  // namespace
}  // namespace velqa::base
