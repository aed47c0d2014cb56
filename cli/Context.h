// What every command shares: where the controller is, how output looks, the
// error type every command throws, and the client core's session opened
// from them.
#pragma once

#include <QXSymbols.h>
#include <Session.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "Output.h"

namespace qxsym::cli {

// A failure to report: what was being done, the result code, and (from the
// core's result texts unless given) what the user can do.
class CliError : public std::runtime_error {
 public:
  CliError(int code, const std::string& what, std::string advice = {})
      : std::runtime_error(what), code_(code), advice_(std::move(advice)) {}
  int code() const { return code_; }
  const std::string& advice() const { return advice_; }

 private:
  int code_;
  std::string advice_;
};

struct Endpoint {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;
  std::uint16_t timeout_ms = 0;  // 0: the library's default
};

struct Context {
  Endpoint endpoint;
  client::Encoding encoding = client::Encoding::kLatin1;
  bool json = false;
  Style out_style;        // standard output
  Style err_style;        // standard error
  bool progress = false;  // standard error is a terminal
};

// Exit statuses: a refusal by the controller or the library, and a usage
// error (unknown command, bad option).
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

// The error on standard error (result code by name, what to do); with
// --json also as a document on standard output unless one was begun there.
void ReportError(const Context& ctx, const CliError& error, bool document = true);

// A session with the controller; CliError naming the address on failure
// (and saying so when the controller took the connection but never
// answered). connections: for listing, the session's own included.
std::unique_ptr<client::Session> Connect(const Context& ctx, unsigned connections = 1);

// The longest name, member path or filter the library sends as given: its
// buffers hold QXSYM_MAX_STRING with the terminator and cut what is longer,
// which would name another tag.
constexpr std::size_t kMaxSentText = QXSYM_MAX_STRING - 1;

// Throws CliError(symResInvalidParameter) when text, spelt in the session's
// encoding, is longer than kMaxSentText bytes; what says what it is ("tag
// name", "filter").
void CheckSentText(const Context& ctx, const std::string& text, const char* what);

}  // namespace qxsym::cli
