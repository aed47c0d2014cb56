// The narrowing plan driven by sources made of plain name lists, for what
// the simulator does not do: matching that minds case, names holding the
// wildcard bytes themselves, and every byte 0x01-0xFF in names.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ListModel.h"
#include "ListPlan.h"

namespace qxsym::test {
namespace {

using client::ListJob;
using client::ListPlan;

bool CaseMatch(const char* p, const char* t) {
  if (*p == '\0') return *t == '\0';
  if (*p == '*') {
    for (const char* s = t;; ++s) {
      if (CaseMatch(p + 1, s)) return true;
      if (*s == '\0') return false;
    }
  }
  return *t != '\0' && (*p == '?' || *p == *t) && CaseMatch(p + 1, t + 1);
}

struct Outcome {
  std::set<std::string> names;
  QXSymResult failure = symResOk;
  std::uint64_t requests = 0;
};

// Runs the plan to its end against names, one job at a time.
Outcome Drive(const std::vector<std::string>& names, const std::string& filter, bool mind_case) {
  ListPlan plan(filter);
  Outcome out;
  std::vector<std::string> by_id;
  ListJob job;
  while (plan.Take(&job)) {
    std::vector<std::uint32_t> ids;
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const char* n = names[i].c_str();
      const bool hit = job.filter.empty() || (mind_case ? CaseMatch(job.filter.c_str(), n)
                                                        : GlobMatches(job.filter.c_str(), n));
      if (!hit) continue;
      ++count;
      ids.push_back(static_cast<std::uint32_t>(i));
    }
    if (job.kind == ListJob::Kind::kCount) {
      plan.Counted(job, count);
    } else if (count > client::kListReplyTags) {
      plan.Overflowed(job);
    } else {
      plan.Sized(job, count);
      for (std::uint32_t id : ids) {
        out.names.insert(names[id]);
        plan.Learn(names[id]);
      }
      plan.Listed(job, ids);
    }
  }
  out.failure = plan.failure();
  out.requests = plan.requests();
  EXPECT_TRUE(plan.finished() || out.failure != symResOk);
  return out;
}

std::set<std::string> Glob(const std::vector<std::string>& names, const std::string& filter,
                           bool mind_case) {
  std::set<std::string> out;
  for (const std::string& n : names) {
    if (filter.empty() || (mind_case ? CaseMatch(filter.c_str(), n.c_str())
                                     : GlobMatches(filter.c_str(), n.c_str()))) {
      out.insert(n);
    }
  }
  return out;
}

// 1,800 names made of every byte but the zero and the wildcards, in the
// same places, so that every narrowing must spell each of them.
std::vector<std::string> EveryByteNames() {
  std::vector<std::string> names;
  for (int c = 1; c < 256; ++c) {
    if (c == '*' || c == '?') continue;
    for (int k = 0; k < 7; ++k) {
      names.push_back(std::string("T") + static_cast<char>(c) + std::to_string(k) + "x");
    }
  }
  return names;
}

TEST(ListPlanTest, CoversEveryByteWithAndWithoutCase) {
  const std::vector<std::string> names = EveryByteNames();
  for (bool mind_case : {false, true}) {
    std::vector<std::string> distinct;
    std::set<std::string> folded;
    for (const std::string& n : names) {
      std::string f = n;
      for (char& ch : f) ch = (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch;
      // A source blind to case cannot hold two names differing in case only.
      if (mind_case || folded.insert(f).second) distinct.push_back(n);
    }
    for (const char* filter : {"", "T*", "*x", "T?1*", "*0*"}) {
      const Outcome o = Drive(distinct, filter, mind_case);
      EXPECT_EQ(o.failure, symResOk) << filter << " case " << mind_case;
      EXPECT_EQ(o.names, Glob(distinct, filter, mind_case)) << filter << " case " << mind_case;
    }
  }
}

TEST(ListPlanTest, NamesHoldingWildcardBytesAreFoundFromTheOtherEnd) {
  std::vector<std::string> names;
  for (int i = 0; i < 600; ++i) names.push_back("Q" + std::to_string(i) + "*z");
  const Outcome o = Drive(names, "", false);
  EXPECT_EQ(o.failure, symResOk);
  EXPECT_EQ(o.names.size(), names.size());
}

TEST(ListPlanTest, ShortListsEndTheListing) {
  // Counts one higher than the lists: only a few lists are taken.
  ListPlan plan("");
  ListJob job;
  int lists = 0;
  while (plan.Take(&job)) {
    if (job.kind == ListJob::Kind::kCount) {
      plan.Counted(job, job.node == 0 ? 5000 : 3);
    } else {
      ++lists;
      plan.Sized(job, 1);
      plan.Listed(job, {static_cast<std::uint32_t>(lists)});
    }
  }
  EXPECT_EQ(plan.failure(), symResBufferOverflow);
  EXPECT_LE(lists, static_cast<int>(client::kMaxShortLists) + 1);
}

}  // namespace
}  // namespace qxsym::test
