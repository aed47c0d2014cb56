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

namespace {

QXSymResult Details(QXSymTagHandle tag, Encoding encoding, TagInfo* info, std::uint64_t* requests) {
  std::string type_name;
  QXSymTyVar tyvar{};
  std::uint32_t size = 0;
  std::uint32_t full_size = 0;
  bool_t read_only = 0;
  bool_t bit = 0;
  QXSymResult r;
  ++*requests;
  if ((r = ReadTagText(QXSym_GetTagDataType, tag, &type_name)) != symResOk) return r;
  ++*requests;
  if ((r = QXSym_GetTagDataTypeVar(tag, &tyvar)) != symResOk) return r;
  ++*requests;
  if ((r = QXSym_GetTagDataSize(tag, &size)) != symResOk) return r;
  // Known from the lookup, as the data size: no request.
  if ((r = QXSym_GetTagDataFullSize(tag, &full_size)) != symResOk) return r;
  ++*requests;
  if ((r = QXSym_IsTagReadOnly(tag, &read_only)) != symResOk) return r;
  // Only a BOOL lives at a bit address: other tags need not be asked.
  if (tyvar == QXSymTyVarBool) {
    ++*requests;
    if ((r = QXSym_IsTagBitAddress(tag, &bit)) != symResOk) return r;
  }
  info->type_name = TextToUtf8(type_name, encoding);
  info->tyvar = static_cast<std::uint32_t>(tyvar);
  info->size = size;
  info->full_size = full_size;
  info->flags = (read_only != 0 ? kTagReadOnly : 0) | (bit != 0 ? kTagBitAddress : 0);
  return symResOk;
}

}  // namespace

QXSymResult DescribeTag(QXSymTagHandle tag, const ListOptions& options, Encoding encoding,
                        TagInfo* info, std::uint64_t* requests) {
  if (options.details) {
    const QXSymResult r = Details(tag, encoding, info, requests);
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
