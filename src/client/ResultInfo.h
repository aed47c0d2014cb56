// The one mapping from result codes to names, messages and advice that
// every front end shows.
#pragma once

#include <QXSymbols.h>

#include <cstdint>

namespace qxsym::client {

struct ResultInfo {
  const char* name;     // "symResTimeoutError"; "symRes?" for an unknown code
  const char* message;  // what happened, for people ("the controller does not answer")
  const char* advice;   // what to do
};

// Never null, for any code (unknown codes get a generic entry).
const ResultInfo& InfoOf(std::int32_t code);

}  // namespace qxsym::client
