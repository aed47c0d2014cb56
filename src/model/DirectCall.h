// Shared steps of every Direct operation: calling one entry of the host's
// table (a missing table or entry answers symResNotImplemented instead of
// being called) and taking a text the host allocated.
#pragma once

#include <cstdint>

#include "QXSymDirectAccess.h"
#include "QXSymbols.h"

namespace qxsym {

// Calls table->*entry(args...), or answers symResNotImplemented when the
// table or the entry is null.
template <typename Entry, typename... Args>
QXSymResult CallEntry(const QXSymDirectAccessTable* table, Entry QXSymDirectAccessTable::*entry,
                      Args... args) {
  if (table == nullptr) return symResNotImplemented;
  const Entry fn = table->*entry;
  if (fn == nullptr) return symResNotImplemented;
  return fn(args...);
}

// Takes a text that a table entry allocated with malloc (null counts as "")
// into the caller's buffer of *length characters and frees it. L is the
// text's length plus 1. L above *length: symResInvalidBuffer, nothing copied.
// Otherwise the text is copied zero-filled over the *length characters, the
// last one always zero, symResOk. *length = L in both cases. A text too long
// for a 16-bit length is symResNotOk and *length stays.
QXSymResult TakeHostText(char* text, TCHAR* buffer, std::uint16_t* length);

}  // namespace qxsym
