// What the lister asks about each listed tag: its name, and on request its
// type, size, flags and description, one exchange (or table call) each.
// What every tag of one type shares (basic type, data size, full size) is
// asked for the first tag of each type name only; whether a tag lives at a
// bit address is asked of BOOL tags only.
#pragma once

#include <QXSymbols.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "Lister.h"

namespace qxsym::client {

using TagTextFn = QXSymResult(QXSYM_CALL*)(QXSymTagHandle, TCHAR*, uint16_t*);

// A text of the tag (QXSym_GetTagName, QXSym_GetTagDataType,
// QXSym_GetTagDescr) as the source's bytes; the function's result.
QXSymResult ReadTagText(TagTextFn fn, QXSymTagHandle tag, std::string* out);

// The facts a type name fixes for every tag of it.
struct TypeFacts {
  std::uint32_t tyvar = 0;
  std::uint32_t size = 0;
  std::uint32_t full_size = 0;
};

// The facts of the types met in one listing, by type name as the source
// spells it; shared by the listing's connections. Holds at most kMaxTypes
// names: tags of further types are asked about each time.
class TypeFactsCache {
 public:
  static constexpr std::size_t kMaxTypes = 4096;

  bool Find(const std::string& type_name, TypeFacts* out) const;
  void Keep(const std::string& type_name, const TypeFacts& facts);

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, TypeFacts> facts_;
};

// Fills what options ask for beyond the name (type name, basic type, size
// and flags with details; the description with descriptions), texts
// converted to UTF-8 from encoding; types learns what it did not know yet.
// Adds the requests sent to *requests. The first failing call's result;
// symResOk when all succeeded.
QXSymResult DescribeTag(QXSymTagHandle tag, const ListOptions& options, Encoding encoding,
                        TypeFactsCache* types, TagInfo* info, std::uint64_t* requests);

}  // namespace qxsym::client
