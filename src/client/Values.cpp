#include "Values.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "ResultInfo.h"
#include "Session.h"

namespace qxsym::client {
namespace {

std::string Why(const std::string& what, QXSymResult code) {
  return what + ": " + InfoOf(code).message;
}

}  // namespace

const QXSymResult Values::kShortReply;
const std::size_t Values::kMaxParts;
static_assert(Values::kMaxParts <= Session::kMaxTags / 2, "a call's tags stay open through it");

void Values::Unplan(std::size_t first_new, Plan* plan) {
  for (std::size_t m = first_new; m < plan->members.size(); ++m)
    plan->index.erase(plan->members[m]);
  plan->members.resize(first_new);
  plan->member_sizes.resize(first_new);
}

QXSymResult Values::AddUnits(std::size_t item, const std::vector<Unit>& units, bool allow_shared,
                             Plan* plan, std::string* message) {
  std::vector<Planned> parts;
  const std::size_t first_new = plan->members.size();
  if (units.size() > kMaxParts - std::min(kMaxParts, first_new)) {
    *message = "more than " + std::to_string(kMaxParts) +
               " parts at once: read or write fewer tags, or parts of them by path";
    return symResMaxReached;
  }
  for (const Unit& unit : units) {
    TagFacts facts;
    const QXSymResult rc = session_.Tag(unit.path, &facts);
    if (rc != symResOk) {
      *message = Why("cannot find '" + unit.path + "'", rc);
      Unplan(first_new, plan);
      return rc;
    }
    auto found = plan->index.find(facts.handle);
    if (found != plan->index.end() && (!allow_shared || found->second >= first_new)) {
      *message = "'" + unit.path + "' is given more than once";
      Unplan(first_new, plan);
      return symResInvalidParameter;
    }
    Planned p{item, found != plan->index.end() ? found->second : plan->members.size(), unit};
    if (found == plan->index.end()) {
      plan->index.emplace(facts.handle, plan->members.size());
      plan->members.push_back(facts.handle);
      plan->member_sizes.push_back(unit.size);
    }
    parts.push_back(std::move(p));
  }
  plan->parts.insert(plan->parts.end(), parts.begin(), parts.end());
  return symResOk;
}

QXSymGroupHandle Values::GroupOf(const Plan& plan, QXSymResult* rc, std::string* message) {
  QXSymGroupHandle group = session_.GroupFor(plan.members, rc);
  if (group == 0) {
    *message = Why("cannot gather the values in a group", *rc);
    return 0;
  }
  // Each member must move exactly the bytes its part of the value holds.
  std::uint64_t expected = 0;
  for (std::uint32_t size : plan.member_sizes) expected += size;
  std::uint32_t count = 0;
  std::uint32_t total = 0;
  *rc = QXSym_GetGroupInfo(group, &count, &total);
  if (*rc == symResOk && (count != plan.members.size() || total != expected)) {
    *rc = symResInvalidTagSize;
  }
  if (*rc != symResOk) {
    *message = Why("the source moves other sizes than the values hold", *rc);
    return 0;
  }
  return group;
}

QXSymResult Values::ReadAlone(QXSymTagHandle tag, std::vector<std::uint8_t>* out) {
  // The value operation copies what the reply holds and says nothing of
  // its length: a buffer filled beforehand shows a reply that fell short
  // by its last byte. A value that really ends in the fill byte is asked
  // again with another one.
  for (const std::uint8_t fill : {std::uint8_t{0xA5}, std::uint8_t{0x5A}}) {
    std::fill(out->begin(), out->end(), fill);
    const QXSymResult rc = session_.Sent(
        QXSym_GetTagValue_Ptr(tag, out->data(), static_cast<std::uint32_t>(out->size())));
    if (rc != symResOk || out->empty() || out->back() != fill) return rc;
  }
  return kShortReply;
}

QXSymResult Values::Fetch(const Plan& plan, std::vector<std::vector<std::uint8_t>>* bytes,
                          std::string* message) {
  bytes->resize(plan.members.size());
  for (std::size_t m = 0; m < plan.members.size(); ++m) (*bytes)[m].resize(plan.member_sizes[m]);
  QXSymResult rc = symResOk;
  if (plan.members.size() == 1 && !plan.group_always) {
    // One part alone travels in one exchange without a group.
    rc = ReadAlone(plan.members[0], &(*bytes)[0]);
  } else {
    const QXSymGroupHandle group = GroupOf(plan, &rc, message);
    if (group == 0) return rc;
    rc = session_.Sent(QXSym_ReadGroup(group));
    for (std::size_t m = 0; rc == symResOk && m < plan.members.size(); ++m) {
      rc = QXSym_GetTagValueFromGroup_Ptr(group, plan.members[m], (*bytes)[m].data(),
                                          plan.member_sizes[m]);
    }
  }
  // A reply of another length than the values: one code for both ways.
  if (rc == symResInvalidGroupSize) rc = kShortReply;
  if (rc == kShortReply) {
    *message = "the reply's length does not match the values' size";
  } else if (rc != symResOk) {
    *message = Why("cannot read the values", rc);
  }
  return rc;
}

std::vector<ReadResult> Values::Read(const std::vector<std::string>& paths) {
  Plan plan;
  QXSymResult exchange = symResOk;
  return ReadPlanned(paths, &plan, &exchange);
}

std::vector<ReadResult> Values::ReadAsGroup(const std::vector<std::string>& paths,
                                            QXSymResult* exchange) {
  Plan plan;
  plan.group_always = true;
  return ReadPlanned(paths, &plan, exchange);
}

std::vector<ReadResult> Values::ReadPlanned(const std::vector<std::string>& paths, Plan* plan_in,
                                            QXSymResult* exchange) {
  Plan& plan = *plan_in;
  *exchange = symResOk;
  std::vector<ReadResult> results(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    WalkError err;
    results[i].layout = Describe(session_, paths[i], &err);
    if (!results[i].layout) {
      results[i].code = err.code;
      results[i].message = err.message;
    }
  }
  // Every walk is done before the parts are gathered, so a long walk never
  // pushes a gathered tag out of the session.
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (!results[i].layout) continue;
    results[i].code = AddUnits(i, results[i].layout->units, true, &plan, &results[i].message);
  }
  if (plan.members.empty()) return results;
  auto fail_all = [&](QXSymResult rc, const std::string& message) {
    for (const Planned& p : plan.parts) {
      results[p.item].code = rc;
      results[p.item].message = message;
    }
    return results;
  };
  std::vector<std::vector<std::uint8_t>> fetched;
  std::string message;
  const QXSymResult rc = Fetch(plan, &fetched, &message);
  *exchange = rc;
  if (rc != symResOk) return fail_all(rc, message);
  std::vector<std::vector<std::uint8_t>> bytes(paths.size());
  for (const Planned& p : plan.parts) {
    const ReadResult& r = results[p.item];
    if (r.code != symResOk) continue;
    bytes[p.item].resize(r.layout->size);
    std::memcpy(bytes[p.item].data() + p.unit.offset, fetched[p.member].data(), p.unit.size);
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (results[i].code == symResOk) Decode(*results[i].layout, bytes[i], &results[i]);
  }
  return results;
}

bool Values::Decode(const Layout& layout, const std::vector<std::uint8_t>& bytes, ReadResult* out) {
  out->values.clear();
  out->values.reserve(layout.value_count);
  for (const Leaf& leaf : layout.leaves) {
    for (std::uint32_t k = 0; k < leaf.count; ++k) {
      LeafValue v;
      CodecError err;
      const std::uint8_t* at = bytes.data() + leaf.offset + std::size_t{k} * leaf.element_size;
      if (!DecodeLeaf(leaf.tyvar, at, leaf.element_size, session_.encoding(), &v, &err)) {
        out->values.clear();
        out->code = err.code;
        out->message = "'" + leaf.path + "': " + err.message;
        return false;
      }
      out->values.push_back(std::move(v));
    }
  }
  return true;
}

bool Values::Encode(const Layout& layout, const std::vector<LeafValue>& values,
                    std::vector<std::uint8_t>* bytes, WriteResult* out) {
  if (values.size() != layout.value_count) {
    out->code = symResInvalidParameter;
    out->message = "'" + layout.path + "' takes " + std::to_string(layout.value_count) +
                   " values, " + std::to_string(values.size()) + " given";
    return false;
  }
  bytes->assign(layout.size, 0);
  std::size_t next = 0;
  for (const Leaf& leaf : layout.leaves) {
    for (std::uint32_t k = 0; k < leaf.count; ++k) {
      std::vector<std::uint8_t> one;
      CodecError err;
      if (!EncodeLeaf(leaf.tyvar, values[next++], leaf.element_size, session_.encoding(), &one,
                      &err)) {
        out->code = err.code;
        out->message = "'" + leaf.path + "': " + err.message;
        return false;
      }
      if (one.size() != leaf.element_size) {
        out->code = symResInvalidTagSize;
        out->message = "'" + leaf.path + "': the value does not fit its size";
        return false;
      }
      std::memcpy(bytes->data() + leaf.offset + std::size_t{k} * leaf.element_size, one.data(),
                  one.size());
    }
  }
  return true;
}

QXSymResult Values::Write(const std::vector<WriteItem>& items, std::vector<WriteResult>* results) {
  results->assign(items.size(), WriteResult{});
  std::vector<std::vector<std::uint8_t>> bytes(items.size());
  std::vector<std::shared_ptr<const Layout>> layouts(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    WriteResult& r = (*results)[i];
    WalkError err;
    layouts[i] = Describe(session_, items[i].path, &err);
    if (!layouts[i]) {
      r.code = err.code;
      r.message = err.message;
    } else if (!session_.StillHolds(items[i].path, *layouts[i])) {
      r.code = kProgramChanged;
      r.message = ProgramChangedMessage(items[i].path);
      layouts[i].reset();
    } else if (!Encode(*layouts[i], items[i].values, &bytes[i], &r)) {
      layouts[i].reset();
    }
  }
  Plan plan;
  QXSymResult first = symResOk;
  for (std::size_t i = 0; i < items.size(); ++i) {
    WriteResult& r = (*results)[i];
    if (layouts[i]) r.code = AddUnits(i, WriteUnits(*layouts[i]), false, &plan, &r.message);
    if (first == symResOk) first = r.code;
  }
  if (first != symResOk) {
    // Nothing was sent: a refused value stops the whole write.
    for (WriteResult& r : *results) {
      if (r.code != symResOk) continue;
      r.code = symResNotOk;
      r.message = "not written: another value was refused";
    }
    return first;
  }
  if (plan.members.empty()) return symResOk;
  QXSymResult rc = symResOk;
  std::string message;
  if (plan.members.size() == 1) {
    const Planned& p = plan.parts[0];
    rc = session_.Sent(
        QXSym_SetTagValue_Ptr(plan.members[0], bytes[p.item].data() + p.unit.offset, p.unit.size));
    if (rc != symResOk) message = Why("cannot write '" + p.unit.path + "'", rc);
    return Settle(rc, message, results);
  }
  const QXSymGroupHandle group = GroupOf(plan, &rc, &message);
  for (const Planned& p : plan.parts) {
    if (rc != symResOk) break;
    rc = QXSym_SetTagValueIntoGroup_Ptr(group, plan.members[p.member],
                                        bytes[p.item].data() + p.unit.offset, p.unit.size);
    if (rc != symResOk) message = Why("cannot put '" + p.unit.path + "' in the group", rc);
  }
  if (rc == symResOk) {
    rc = session_.Sent(QXSym_WriteGroup(group));
    if (rc != symResOk) message = Why("cannot write the values", rc);
  }
  return Settle(rc, message, results);
}

QXSymResult Values::Settle(QXSymResult rc, const std::string& message,
                           std::vector<WriteResult>* results) {
  if (rc != symResOk) {
    for (WriteResult& r : *results) {
      r.code = rc;
      r.message = message;
    }
  }
  return rc;
}

}  // namespace qxsym::client
