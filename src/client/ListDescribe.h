// What the lister asks about each listed tag: its name, and on request its
// type, size, flags and description, one exchange (or table call) each;
// whether a tag lives at a bit address is asked of BOOL tags only.
#pragma once

#include <QXSymbols.h>

#include <cstdint>
#include <string>

#include "Lister.h"

namespace qxsym::client {

using TagTextFn = QXSymResult(QXSYM_CALL*)(QXSymTagHandle, TCHAR*, uint16_t*);

// A text of the tag (QXSym_GetTagName, QXSym_GetTagDataType,
// QXSym_GetTagDescr) as the source's bytes; the function's result.
QXSymResult ReadTagText(TagTextFn fn, QXSymTagHandle tag, std::string* out);

// Fills what options ask for beyond the name (type name, basic type, size
// and flags with details; the description with descriptions), texts
// converted to UTF-8 from encoding. Adds the requests sent to *requests.
// The first failing call's result; symResOk when all succeeded.
QXSymResult DescribeTag(QXSymTagHandle tag, const ListOptions& options, Encoding encoding,
                        TagInfo* info, std::uint64_t* requests);

}  // namespace qxsym::client
