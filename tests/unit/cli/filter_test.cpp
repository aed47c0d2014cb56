// Splitting of tag filters for listings longer than one reply, and array
// bounds read from type names.
#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "TagLister.h"
#include "TypeShape.h"
#include "ValueSet.h"

namespace qxsym::cli {
namespace {

// The glob of the simulator: * any run, ? one character, case ignored,
// empty matches everything.
bool Matches(const char* glob, const char* name) {
  if (*glob == '\0') return *name == '\0';
  if (*glob == '*') return Matches(glob + 1, name) || (*name && Matches(glob, name + 1));
  if (*name == '\0') return false;
  if (*glob != '?' && std::tolower(static_cast<unsigned char>(*glob)) !=
                          std::tolower(static_cast<unsigned char>(*name))) {
    return false;
  }
  return Matches(glob + 1, name + 1);
}

std::set<std::string> Select(const std::string& glob, const std::vector<std::string>& names) {
  std::set<std::string> out;
  for (const auto& n : names) {
    if (glob.empty() || Matches(glob.c_str(), n.c_str())) out.insert(n);
  }
  return out;
}

TEST(FilterTest, SplitFiltersTogetherMatchExactlyTheOriginal) {
  const std::vector<std::string> names = {
      "A", "a1", "Ab",  "Area01_Line02", "B_x",    "Motor",  "motor_9",
      "M", "MM", "x.y", "Tank1",         "tank12", "Z9z9z9", "_under"};
  for (const std::string glob : {"", "*", "A*", "*r", "?", "M*r*", "T?nk*", "*_*", "x?y"}) {
    std::vector<std::string> parts = SplitFilter(glob, kFilterAlphabet);
    ASSERT_FALSE(parts.empty()) << glob;
    std::set<std::string> merged;
    for (const std::string& p : parts) {
      EXPECT_FALSE(p.empty()) << glob;  // the empty filter would match everything
      auto some = Select(p, names);
      merged.insert(some.begin(), some.end());
    }
    EXPECT_EQ(merged, Select(glob, names)) << glob;
  }
  EXPECT_TRUE(SplitFilter("Exact", kFilterAlphabet).empty());
}

TEST(FilterTest, ArrayBoundsFromTypeNames) {
  using V = std::vector<std::int64_t>;
  EXPECT_EQ(BoundsFromName("ARRAY[1..8] OF REAL", 1), V({1}));
  EXPECT_EQ(BoundsFromName("ARRAY[-2..3, 0 .. 1] OF INT", 2), V({-2, 0}));
  EXPECT_EQ(BoundsFromName("array[1..2,1..3,1..4] of real", 3), V({1, 1, 1}));
  EXPECT_FALSE(BoundsFromName("ZONE_TEMPS", 1));
  EXPECT_FALSE(BoundsFromName("ARRAY[1..8] OF REAL", 2));
  EXPECT_FALSE(BoundsFromName("ARRAY[x..8] OF REAL", 1));
  EXPECT_FALSE(BoundsFromName("ARRAY[1 2..8] OF REAL", 1));

  EXPECT_EQ(ElementLabel(0, {8}, {1}), "[1]");
  EXPECT_EQ(ElementLabel(5, {2, 3}, {1, 0}), "[2,2]");
  EXPECT_EQ(ElementLabel(23, {2, 3, 4}, {-1, 1, 1}), "[0,3,4]");
}

}  // namespace
}  // namespace qxsym::cli
