// The one mapping from result codes to names, messages and advice that
// every front end shows.
#pragma once

#include <QXSymbols.h>

#include <cstdint>
#include <string>

namespace qxsym::client {

struct ResultInfo {
  const char* name;     // "symResTimeoutError"; "symRes?" for an unknown code
  const char* message;  // what happened, for people ("the controller does not answer")
  const char* advice;   // what to do
};

// Never null, for any code (unknown codes get a generic entry).
const ResultInfo& InfoOf(std::int32_t code);

// A failure of the link rather than of the request: the controller did not
// answer in time, the connection broke, or the reply came in broken. The
// same request may succeed once the controller answers again.
bool IsTransportFailure(std::int32_t code);

// The time-out of an address record that gives none (0), in milliseconds.
constexpr std::uint32_t kDefaultTimeoutMs = 10000;

// What a failed open means, given how long it took: "the controller does not
// answer" for a socket error after at least one whole time-out (timeout_ms 0:
// the default), else InfoOf(code).message. Never null.
const char* OpenFailureMessage(std::int32_t code, std::uint64_t elapsed_ms,
                               std::uint32_t timeout_ms);

// A write through a layout from before the controller's program changed,
// when the path's layout is another now: refused with kProgramChanged and
// this text, never written to the old offsets.
constexpr QXSymResult kProgramChanged = symResInvalidTagType;
std::string ProgramChangedMessage(const std::string& path);

}  // namespace qxsym::client
