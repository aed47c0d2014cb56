// A tag's path as the source spells it: paths come in UTF-8, the source
// takes names in the session's encoding.
#pragma once

#include <QXSymbols.h>

#include <string>

#include "LeafCodec.h"

namespace qxsym::client {

// The path (UTF-8) in the source's encoding. symResOk with *spelt set;
// symResSymbolNotFound for an empty path or one the encoding cannot carry
// or that holds a zero (it names nothing at the source);
// symResInvalidParameter when it is QXSYM_MAX_STRING bytes or longer once
// spelt.
QXSymResult SpellPath(const std::string& path, Encoding encoding, std::string* spelt);

}  // namespace qxsym::client
