#include "ListPlan.h"

#include <algorithm>
#include <utility>

namespace qxsym::client {

namespace {

// Names end in numbers more often than in anything else, and the source
// matches without regard to case, so upper-case letters come only among
// the other bytes.
constexpr std::string_view kLikelyBytes = "0123456789_abcdefghijklmnopqrstuvwxyz";

bool IsWildcard(int c) { return c == '*' || c == '?'; }

int Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

}  // namespace

ListPlan::ListPlan(std::string filter) {
  Node root;
  root.filter = std::move(filter);
  nodes_.push_back(std::move(root));
  Queue(0, ListJob::Kind::kCount);
}

void ListPlan::Queue(std::size_t n, ListJob::Kind kind, bool front, std::uint32_t capacity) {
  ListJob job;
  job.kind = kind;
  job.node = n;
  job.filter = nodes_[n].filter;
  job.capacity = capacity;
  if (front) {
    queue_.push_front(std::move(job));
  } else {
    queue_.push_back(std::move(job));
  }
}

bool ListPlan::Take(ListJob* job) {
  if (finished_ || failure_ != symResOk) return false;
  if (queue_.empty()) {
    const std::vector<std::size_t> expanding = expanding_;  // Expand may settle nodes
    for (std::size_t n : expanding) {
      if (Expand(n)) break;
    }
  }
  if (queue_.empty() || failure_ != symResOk) return false;
  if (requests_ >= kMaxPlanRequests) {
    Fail();
    return false;
  }
  *job = std::move(queue_.front());
  queue_.pop_front();
  ++requests_;
  return true;
}

// Queues the count of the node's next narrower filter, when it still needs
// one; moves on to the next stage when the bytes of this one are used up.
bool ListPlan::Expand(std::size_t n) {
  for (;;) {
    Node& node = nodes_[n];
    if (node.settled || failure_ != symResOk) return false;
    const auto count = static_cast<std::uint64_t>(node.count);
    if (node.prune ? node.sum >= count : node.found_count >= count) return false;
    if (node.next >= node.candidates.size()) {
      if (node.open > 0) return false;
      Advance(n);  // settles, fails or fills the next stage's bytes
      continue;
    }
    const int c = node.candidates[node.next++];
    std::string filter;
    if (c != kEmpty) node.asked.set(static_cast<unsigned char>(c));
    if (!ChildFilter(node, c, &filter)) continue;
    Node child;
    child.filter = std::move(filter);
    child.parent = n;
    child.from_end = node.from_end;
    if (node.stage == 0) child.spelled = c;
    ++node.open;
    const auto parent_count = static_cast<std::uint32_t>(node.count);
    nodes_.push_back(std::move(child));
    // Past the likely bytes, counts come first: they are what shows the
    // counts of a source to be wrong.
    if (parent_count <= kListFirstBelow && node.stage == 0) {
      Queue(nodes_.size() - 1, ListJob::Kind::kList, false,
            std::min(parent_count, kMaxListCapacity));
    } else {
      Queue(nodes_.size() - 1, ListJob::Kind::kCount);
    }
    return true;
  }
}

bool ListPlan::ChildFilter(const Node& node, int c, std::string* out) const {
  const std::string f = node.filter.empty() ? "*" : node.filter;
  const std::string head = f.substr(0, node.pos);
  const std::string tail = f.substr(node.pos + 1);
  if (c == kEmpty) {
    *out = head + tail;
  } else if (f[node.pos] == '?') {
    *out = head + static_cast<char>(c) + tail;
  } else if (node.from_end) {
    *out = head + '*' + static_cast<char>(c) + tail;
  } else {
    *out = head + static_cast<char>(c) + '*' + tail;
  }
  // No tag has an empty name, and the empty filter would match them all.
  return !out->empty() && out->size() <= kMaxFilterBytes;
}

// Takes a node's count into its parent's sums; false when that proves the
// counts wrong.
bool ListPlan::TakeCount(std::size_t n, std::uint32_t count) {
  Node& node = nodes_[n];
  node.count = count;
  if (node.parent == kNone) return true;
  Node& parent = nodes_[node.parent];
  parent.sum += count;
  // Narrowing at this end made no progress: try the other end next.
  if (static_cast<std::int64_t>(count) == parent.count) node.from_end = !parent.from_end;
  if (node.spelled > 0 && node.spelled < 0x80) {
    parent.disjoint_sum += count;
    if (parent.disjoint_sum > static_cast<std::uint64_t>(parent.count)) {
      Fail();
      return false;
    }
  }
  return true;
}

void ListPlan::Counted(const ListJob& job, std::uint32_t count) {
  if (!TakeCount(job.node, count)) return;
  if (count == 0) {
    Settle(job.node);
  } else if (count <= kListReplyTags) {
    Queue(job.node, ListJob::Kind::kList, true);
  } else {
    StartSplit(job.node);
  }
}

void ListPlan::Listed(const ListJob& job, const std::vector<std::uint32_t>& ids) {
  const std::int64_t count = nodes_[job.node].count;
  if (count >= 0 && ids.size() < static_cast<std::size_t>(count) &&
      ++short_lists_ > kMaxShortLists) {
    return Fail();
  }
  for (std::size_t n = job.node; n != kNone; n = nodes_[n].parent) {
    Node& node = nodes_[n];
    for (std::uint32_t id : ids) {
      if (node.found.insert(id).second) ++node.found_count;
    }
  }
  Settle(job.node);
}

void ListPlan::Sized(const ListJob& job, std::uint32_t n) {
  if (nodes_[job.node].count < 0) TakeCount(job.node, n);
}

void ListPlan::Overflowed(const ListJob& job) {
  Node& node = nodes_[job.node];
  if (node.count < 0) return Queue(job.node, ListJob::Kind::kCount, true);
  node.count = std::max<std::int64_t>(node.count, kListReplyTags + 1);
  StartSplit(job.node);
}

void ListPlan::Retry(const ListJob& job) {
  if (requests_ > 0) --requests_;
  queue_.push_front(job);
}

void ListPlan::Learn(std::string_view name) {
  for (unsigned char c : name) {
    const int f = Fold(c);
    if (IsWildcard(f) || learned_set_.test(f)) continue;
    learned_set_.set(f);
    if (kLikelyBytes.find(static_cast<char>(f)) == std::string_view::npos) {
      learned_.push_back(static_cast<char>(f));
    }
  }
}

// Picks the wildcard to spell out: the last one, or the first; false when
// the filter has none.
bool ListPlan::PlaceWildcard(Node& node) const {
  const std::string f = node.filter.empty() ? "*" : node.filter;
  const std::size_t pos = node.from_end ? f.find_last_of("*?") : f.find_first_of("*?");
  if (pos == std::string::npos) return false;
  node.pos = pos;
  return true;
}

void ListPlan::FillCandidates(Node& node) {
  node.candidates.clear();
  node.next = 0;
  const std::string f = node.filter.empty() ? "*" : node.filter;
  if (node.stage == 0) {
    for (char c : kLikelyBytes) node.candidates.push_back(static_cast<unsigned char>(c));
    for (char c : learned_) node.candidates.push_back(static_cast<unsigned char>(c));
  } else {
    for (int c = 1; c < 256; ++c) {
      if (!IsWildcard(c) && !node.asked.test(c)) node.candidates.push_back(c);
    }
  }
  // Last: a '*' standing for nothing rarely matches anything, so it is
  // seldom asked once the bytes' counts cover the filter's.
  if (node.stage != 1 && f[node.pos] == '*') node.candidates.push_back(kEmpty);
}

void ListPlan::StartSplit(std::size_t n) {
  Node& node = nodes_[n];
  if (!PlaceWildcard(node)) {
    Fail();  // more tags than one reply holds and nothing to narrow
    return;
  }
  FillCandidates(node);
  expanding_.push_back(n);
  Advance(n);
}

// Once every narrower filter asked has settled: the node is complete when
// the names found below it cover its count; otherwise it asks on, in the
// next stage if need be, and fails when no stage is left.
void ListPlan::Advance(std::size_t n) {
  for (;;) {
    Node& node = nodes_[n];
    if (node.settled || node.open > 0) return;
    const auto count = static_cast<std::size_t>(node.count);
    if (node.found_count >= count) return Settle(n);
    const bool covered = node.prune && node.sum >= count;
    if (covered) node.prune = false;  // the counts lied or overlapped: ask on
    if (node.next < node.candidates.size()) return;
    if (++node.stage > 2) return Fail();
    if (node.stage == 2) {
      node.from_end = !node.from_end;
      node.asked.reset();
      PlaceWildcard(node);
    }
    node.prune = false;
    FillCandidates(node);
  }
}

void ListPlan::Settle(std::size_t n) {
  Node& node = nodes_[n];
  node.settled = true;
  node.found.clear();
  expanding_.erase(std::remove(expanding_.begin(), expanding_.end(), n), expanding_.end());
  if (node.parent == kNone) {
    finished_ = true;
    return;
  }
  Node& parent = nodes_[node.parent];
  --parent.open;
  Advance(node.parent);
}

void ListPlan::Fail() {
  failure_ = symResBufferOverflow;
  queue_.clear();
}

}  // namespace qxsym::client
