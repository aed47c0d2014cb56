// Lower bounds read from type names and the element labels built on them.
#include <gtest/gtest.h>

#include "TypeCatalog.h"

namespace qxsym::client {
namespace {

TEST(BoundsFromName, ReadsEveryDimensionsLowerBound) {
  std::vector<std::int64_t> lower;
  ASSERT_TRUE(BoundsFromName("ARRAY[1..8] OF REAL", 1, &lower));
  EXPECT_EQ(lower, (std::vector<std::int64_t>{1}));
  ASSERT_TRUE(BoundsFromName("array[ -3 .. 4, 0..2 ] of INT", 2, &lower));
  EXPECT_EQ(lower, (std::vector<std::int64_t>{-3, 0}));
  // Only the outer array's bounds belong to this type.
  ASSERT_TRUE(BoundsFromName("ARRAY[2..3] OF ARRAY[0..1] OF INT", 1, &lower));
  EXPECT_EQ(lower, (std::vector<std::int64_t>{2}));
}

TEST(BoundsFromName, RefusesNamesThatDoNotSpellThem) {
  std::vector<std::int64_t> lower = {7};
  EXPECT_FALSE(BoundsFromName("ZONE_TEMPS", 1, &lower));
  EXPECT_FALSE(BoundsFromName("ARRAY[1..8] OF REAL", 2, &lower));  // dimensions differ
  EXPECT_FALSE(BoundsFromName("ARRAY[1..8", 1, &lower));
  EXPECT_FALSE(BoundsFromName("ARRAY[x..8] OF REAL", 1, &lower));
  EXPECT_FALSE(BoundsFromName("ARRAY[1 8] OF REAL", 1, &lower));
  EXPECT_FALSE(BoundsFromName("MY_ARRAY[1..8]", 1, &lower));
  EXPECT_EQ(lower, (std::vector<std::int64_t>{7}));  // untouched on refusal
}

TEST(ElementLabel, CountsFromTheDeclaredBoundsLastIndexFastest) {
  const std::vector<std::uint32_t> dims = {3, 4};
  const std::vector<std::int64_t> lower = {1, -1};
  EXPECT_EQ(ElementLabel(0, dims, lower), "[1,-1]");
  EXPECT_EQ(ElementLabel(5, dims, lower), "[2,0]");
  EXPECT_EQ(ElementLabel(11, dims, lower), "[3,2]");
  EXPECT_EQ(ElementLabel(7, {8}, {1}), "[8]");
}

}  // namespace
}  // namespace qxsym::client
