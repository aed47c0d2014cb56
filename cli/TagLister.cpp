#include "TagLister.h"

#include "Session.h"

namespace qxsym::cli {

const char kFilterAlphabet[] =
    "_0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    ".[]$#%&+-/:;<=>@^`{|}~!\"'(),\\ ";

namespace {

// The service's list reply holds this many tags. A filter is split only
// while the narrower ones, one character longer, can be sent whole.
constexpr std::uint32_t kListCapacity = 500;
constexpr std::size_t kMaxSplitFilter = kMaxSentText - 1;

}  // namespace

std::vector<std::string> SplitFilter(const std::string& filter, const std::string& alphabet) {
  std::string glob = filter.empty() ? "*" : filter;
  std::size_t pos = glob.find_first_of("*?");
  if (pos == std::string::npos) return {};
  std::string head = glob.substr(0, pos), tail = glob.substr(pos + 1);
  std::vector<std::string> out;
  if (glob[pos] == '*') {
    // The star matching nothing; an empty filter would mean "everything".
    if (!(head + tail).empty()) out.push_back(head + tail);
    for (char c : alphabet) out.push_back(head + c + "*" + tail);
  } else {
    for (char c : alphabet) out.push_back(head + c + tail);
  }
  return out;
}

void TagLister::ForEach(const std::string& filter, const Visit& visit) {
  CheckSentText(filter, "filter");
  seen_.clear();
  Walk(filter, visit);
}

bool TagLister::Walk(const std::string& filter, const Visit& visit) {
  std::uint32_t count = 0;
  ++queries_;
  Check(QXSym_QueryGlobalTagsNum(workspace_, filter.c_str(), &count),
        [&] { return "cannot count the tags matching '" + filter + "'"; });
  if (count == 0) return true;
  if (count <= kListCapacity) {
    QXSymTagHandle* list = nullptr;
    std::uint32_t n = 0;
    queries_ += 2;
    QXSymResult r = QXSym_QueryGlobalTags(workspace_, filter.c_str(), &list, &n);
    if (r == symResOk) {
      struct Free {
        QXSymTagHandle* list;
        ~Free() { QXSym_FreeTagList(list); }
      } free_list{list};
      for (std::uint32_t i = 0; i < n; ++i) {
        std::string name = TagText(QXSym_GetTagName, list[i]);
        if (seen_.insert(name).second && !visit(list[i], name)) return false;
      }
      return true;
    }
    // More tags than counted arrived meanwhile: narrow as below.
    if (r != symResBufferOverflow) {
      throw CliError(r, "cannot list the tags matching '" + filter + "'");
    }
  }
  std::vector<std::string> narrower = filter.size() <= kMaxSplitFilter
                                          ? SplitFilter(filter, kFilterAlphabet)
                                          : std::vector<std::string>{};
  if (narrower.empty()) {
    throw CliError(symResBufferOverflow,
                   "more than " + std::to_string(kListCapacity) + " tags match '" + filter +
                       "' and the filter cannot be narrowed",
                   "give a filter with a wildcard (* or ?)");
  }
  const std::size_t before = seen_.size();
  for (const std::string& sub : narrower) {
    if (!Walk(sub, visit)) return false;
    if (seen_.size() - before >= count) break;
  }
  return true;
}

}  // namespace qxsym::cli
