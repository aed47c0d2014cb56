#include "ListDescribe.h"

namespace qxsym::client {

QXSymResult ReadTagText(TagTextFn fn, QXSymTagHandle tag, std::string* out) {
  // A source's text is at most QXSYM_MAX_STRING bytes with its zero.
  char buffer[QXSYM_MAX_STRING + 1] = {};
  std::uint16_t length = QXSYM_MAX_STRING;
  const QXSymResult r = fn(tag, buffer, &length);
  if (r == symResOk) out->assign(buffer);
  return r;
}

bool TypeFactsCache::Find(const std::string& type_name, TypeFacts* out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = facts_.find(type_name);
  if (it == facts_.end()) return false;
  *out = it->second;
  return true;
}

void TypeFactsCache::Keep(const std::string& type_name, const TypeFacts& facts) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (facts_.size() < kMaxTypes) facts_.emplace(type_name, facts);
}

namespace {

// A tag listed (not looked up by name) knows none of these: each is one
// request.
QXSymResult AskTypeFacts(QXSymTagHandle tag, TypeFacts* facts, std::uint64_t* requests) {
  QXSymTyVar tyvar{};
  QXSymResult r;
  ++*requests;
  if ((r = QXSym_GetTagDataTypeVar(tag, &tyvar)) != symResOk) return r;
  facts->tyvar = static_cast<std::uint32_t>(tyvar);
  ++*requests;
  if ((r = QXSym_GetTagDataSize(tag, &facts->size)) != symResOk) return r;
  ++*requests;
  return QXSym_GetTagDataFullSize(tag, &facts->full_size);
}

QXSymResult Details(QXSymTagHandle tag, Encoding encoding, TypeFactsCache* types, TagInfo* info,
                    std::uint64_t* requests) {
  std::string type_name;
  TypeFacts facts;
  bool_t read_only = 0;
  bool_t bit = 0;
  QXSymResult r;
  ++*requests;
  if ((r = ReadTagText(QXSym_GetTagDataType, tag, &type_name)) != symResOk) return r;
  if (!types->Find(type_name, &facts)) {
    if ((r = AskTypeFacts(tag, &facts, requests)) != symResOk) return r;
    types->Keep(type_name, facts);
  }
  ++*requests;
  if ((r = QXSym_IsTagReadOnly(tag, &read_only)) != symResOk) return r;
  // Only a BOOL lives at a bit address: other tags need not be asked.
  if (facts.tyvar == QXSymTyVarBool) {
    ++*requests;
    if ((r = QXSym_IsTagBitAddress(tag, &bit)) != symResOk) return r;
  }
  info->type_name = TextToUtf8(type_name, encoding);
  info->tyvar = facts.tyvar;
  info->size = facts.size;
  info->full_size = facts.full_size;
  info->flags = (read_only != 0 ? kTagReadOnly : 0) | (bit != 0 ? kTagBitAddress : 0);
  return symResOk;
}

}  // namespace

QXSymResult DescribeTag(QXSymTagHandle tag, const ListOptions& options, Encoding encoding,
                        TypeFactsCache* types, TagInfo* info, std::uint64_t* requests) {
  if (options.details) {
    const QXSymResult r = Details(tag, encoding, types, info, requests);
    if (r != symResOk) return r;
  }
  if (options.descriptions) {
    std::string text;
    ++*requests;
    const QXSymResult r = ReadTagText(QXSym_GetTagDescr, tag, &text);
    if (r != symResOk) return r;
    info->description = TextToUtf8(text, encoding);
  }
  return symResOk;
}

}  // namespace qxsym::client
