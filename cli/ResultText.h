// Names of the library's result codes and what a user can do about each.
#pragma once

#include <QXSymbols.h>

#include <string>

namespace qxsym::cli {

// "symResTimeoutError"; "result 77" for a code the header does not name.
std::string ResultName(int code);

// One sentence on what the code means and what to try next.
const char* ResultAdvice(int code);

}  // namespace qxsym::cli
