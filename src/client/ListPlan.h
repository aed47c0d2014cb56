// The narrowing of one filter into filters that each fit one list reply of
// the source. It does no I/O: the lister takes jobs (count a filter, list a
// filter), runs them on a connection and reports the answers back.
//
// A filter that matches more tags than one reply holds is split at one of
// its wildcards, spelled out one byte at a time (a '*' may also stand for
// nothing). The bytes are tried in this order: digits, '_', lower-case
// letters and every other byte seen in a name so far; once the counts of
// those narrower filters cover the filter's own count, no more are asked.
// When the names found below a filter then fall short of its count, the
// remaining bytes 0x01-0xFF are asked, and after them the other end's
// wildcard. A filter still short after that fails the listing with
// symResBufferOverflow, as do narrower filters sharing no tag whose counts
// exceed their filter's, more than kMaxShortLists lists shorter than their
// counts and a plan that has sent kMaxPlanRequests requests: counts that
// never add up cost a bounded number of requests.
#pragma once

#include <QXSymbols.h>

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace qxsym::client {

// Tags one list reply of the source holds.
constexpr std::uint32_t kListReplyTags = 500;
// Longest filter the source takes whole (longer ones it cuts).
constexpr std::size_t kMaxFilterBytes = 259;
// Count and list requests one plan may send before it gives up.
constexpr std::uint64_t kMaxPlanRequests = 20000;
// Lists shorter than their filter's count (tags removed meanwhile, or a
// source whose counts are wrong) one plan accepts before it gives up.
constexpr unsigned kMaxShortLists = 8;

// Narrower filters (spelling a likely byte) of a filter matching at most
// this many tags are listed straight away, without a count first: most of
// them fit one reply.
constexpr std::uint32_t kListFirstBelow = 4 * kListReplyTags;
// Most tags one list may take (a source without the reply's limit gives
// them all at once).
constexpr std::uint32_t kMaxListCapacity = 65536;

struct ListJob {
  enum class Kind { kCount, kList };
  Kind kind = Kind::kCount;
  std::size_t node = 0;
  std::string filter;
  std::uint32_t capacity = 0;  // kList: room for this many tags
};

class ListPlan {
 public:
  // filter as the source takes it; empty: every tag.
  explicit ListPlan(std::string filter);

  // The next job to run, false when there is none at the moment (wait for
  // the answers of the jobs out) or the plan has finished or failed.
  bool Take(ListJob* job);

  // Answers to jobs taken. Listed takes the name identifiers (the lister's
  // numbering, one per distinct name) that the list gave.
  void Counted(const ListJob& job, std::uint32_t count);
  void Listed(const ListJob& job, const std::vector<std::uint32_t>& ids);
  // The list arrived with n tags (before they are named): n counts for
  // the filter when it was listed without a count.
  void Sized(const ListJob& job, std::uint32_t n);
  // The list did not fit one reply (tags added meanwhile, or a filter
  // listed without a count).
  void Overflowed(const ListJob& job);
  // The job was lost with its connection: hand it out again.
  void Retry(const ListJob& job);

  // Bytes of a name not seen before, tried early from now on.
  void Learn(std::string_view name);

  bool finished() const { return finished_; }
  // symResOk, or symResBufferOverflow when the counts never added up.
  QXSymResult failure() const { return failure_; }
  // The filter's own count; valid once root_counted().
  bool root_counted() const { return nodes_[0].count >= 0; }
  std::uint32_t root_count() const { return static_cast<std::uint32_t>(nodes_[0].count); }
  std::uint64_t requests() const { return requests_; }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  static constexpr int kEmpty = -1;  // a '*' standing for nothing

  struct Node {
    std::string filter;
    std::size_t parent = kNone;
    std::int64_t count = -1;
    bool settled = false;
    bool from_end = true;  // spell the last wildcard (else the first)
    int stage = 0;         // 0 likely bytes, 1 the other bytes, 2 the other end
    std::size_t pos = 0;   // of the wildcard spelled out
    std::vector<int> candidates;
    std::size_t next = 0;
    bool prune = true;  // stop asking once the counts cover the node's
    std::uint64_t sum = 0;
    // Counts of the narrower filters that spell an ASCII byte in stage 0:
    // they share no tag, whether or not the source minds case, so more
    // than the node's own count proves the counts wrong.
    std::uint64_t disjoint_sum = 0;
    int spelled = kEmpty;  // the byte this node's filter spells out
    std::size_t open = 0;  // children not settled
    std::bitset<256> asked;
    std::unordered_set<std::uint32_t> found;
    std::size_t found_count = 0;
  };

  bool Expand(std::size_t n);
  bool ChildFilter(const Node& node, int c, std::string* out) const;
  void StartSplit(std::size_t n);
  bool PlaceWildcard(Node& node) const;
  void FillCandidates(Node& node);
  void Advance(std::size_t n);
  void Settle(std::size_t n);
  void Fail();
  void Queue(std::size_t n, ListJob::Kind kind, bool front = false,
             std::uint32_t capacity = kListReplyTags);
  bool TakeCount(std::size_t n, std::uint32_t count);

  std::vector<Node> nodes_;
  std::deque<ListJob> queue_;
  std::vector<std::size_t> expanding_;
  std::string learned_;
  std::bitset<256> learned_set_;
  bool finished_ = false;
  QXSymResult failure_ = symResOk;
  std::uint64_t requests_ = 0;
  unsigned short_lists_ = 0;
};

}  // namespace qxsym::client
