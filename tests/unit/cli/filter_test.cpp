// Splitting of tag filters for listings longer than one reply (the client
// core's plan, as the tool's listing uses it), and array bounds read from
// type names.
#include <ListPlan.h>
#include <TypeCatalog.h>
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>

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

// Runs the plan against names answered by the glob above, lists capped at
// one reply, and gives back what its lists found.
std::set<std::string> Planned(const std::string& glob, const std::vector<std::string>& names) {
  client::ListPlan plan(glob);
  std::map<std::string, std::uint32_t> ids;
  for (const std::string& n : names) ids.emplace(n, static_cast<std::uint32_t>(ids.size()));
  std::set<std::string> found;
  client::ListJob job;
  while (plan.Take(&job)) {
    const std::set<std::string> some = Select(job.filter, names);
    if (job.kind == client::ListJob::Kind::kCount) {
      plan.Counted(job, static_cast<std::uint32_t>(some.size()));
      continue;
    }
    if (some.size() > client::kListReplyTags) {
      plan.Overflowed(job);
      continue;
    }
    std::vector<std::uint32_t> listed;
    for (const std::string& n : some) {
      plan.Learn(n);
      listed.push_back(ids[n]);
      found.insert(n);
    }
    plan.Listed(job, listed);
  }
  EXPECT_TRUE(plan.finished()) << glob;
  EXPECT_EQ(plan.failure(), symResOk) << glob;
  return found;
}

TEST(FilterTest, SplitFiltersTogetherMatchExactlyTheOriginal) {
  std::vector<std::string> names = {"A",       "a1",    "Ab", "Area01_Line02", "B_x",   "Motor",
                                    "motor_9", "M",     "MM", "x.y",           "Tank1", "tank12",
                                    "Z9z9z9",  "_under"};
  // More than one reply's worth, so the plan must split.
  for (int i = 0; i < 1200; ++i) {
    names.push_back("Area" + std::to_string(i % 7) + "_M" + std::to_string(i) +
                    (i % 3 ? "r" : ".y"));
  }
  for (const std::string glob : {"", "*", "A*", "*r", "?", "M*r*", "T?nk*", "*_*", "x?y"}) {
    EXPECT_EQ(Planned(glob, names), Select(glob, names)) << glob;
  }
}

TEST(FilterTest, ArrayBoundsFromTypeNames) {
  using V = std::vector<std::int64_t>;
  auto bounds = [](const char* name, std::size_t dims) {
    V lower;
    return client::BoundsFromName(name, dims, &lower) ? lower : V({999});
  };
  EXPECT_EQ(bounds("ARRAY[1..8] OF REAL", 1), V({1}));
  EXPECT_EQ(bounds("ARRAY[-2..3, 0 .. 1] OF INT", 2), V({-2, 0}));
  EXPECT_EQ(bounds("array[1..2,1..3,1..4] of real", 3), V({1, 1, 1}));
  EXPECT_EQ(bounds("ZONE_TEMPS", 1), V({999}));
  EXPECT_EQ(bounds("ARRAY[1..8] OF REAL", 2), V({999}));
  EXPECT_EQ(bounds("ARRAY[x..8] OF REAL", 1), V({999}));
  EXPECT_EQ(bounds("ARRAY[1 2..8] OF REAL", 1), V({999}));

  EXPECT_EQ(client::ElementLabel(0, {8}, {1}), "[1]");
  EXPECT_EQ(client::ElementLabel(5, {2, 3}, {1, 0}), "[2,2]");
  EXPECT_EQ(client::ElementLabel(23, {2, 3, 4}, {-1, 1, 1}), "[0,3,4]");
}

}  // namespace
}  // namespace qxsym::cli
