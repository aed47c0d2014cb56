// Every global tag that matches a filter, also when more match than one list
// reply of the service holds (500): such a filter is split into narrower
// ones that together match the same names, and the answers are merged.
#pragma once

#include <QXSymbols.h>

#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

namespace qxsym::cli {

// Characters tried when a filter is split: those of identifiers first (the
// lower-case letters cover both cases on a source that ignores case), then
// the rest of printable ASCII for sources with other names.
extern const char kFilterAlphabet[];

// Filters that together match exactly what the glob `filter` matches (`*`
// any run, `?` one character; empty matches everything), for names made of
// `alphabet`: the first wildcard is replaced by each character (and a `*`
// also by nothing). Empty when the filter has no wildcard to split.
std::vector<std::string> SplitFilter(const std::string& filter, const std::string& alphabet);

class TagLister {
 public:
  // visit(tag, name) for each tag once; the tag handle is valid during the
  // call only. Return false to stop.
  using Visit = std::function<bool(QXSymTagHandle, const std::string&)>;

  explicit TagLister(QXSymWorkspaceHandle workspace) : workspace_(workspace) {}

  // CliError when the source fails or a filter cannot be narrowed further.
  void ForEach(const std::string& filter, const Visit& visit);

  // Exchanges with the source spent on counting and listing.
  std::size_t queries() const { return queries_; }

 private:
  // False once the visitor asked to stop.
  bool Walk(const std::string& filter, const Visit& visit);

  QXSymWorkspaceHandle workspace_;
  std::unordered_set<std::string> seen_;
  std::size_t queries_ = 0;
};

}  // namespace qxsym::cli
