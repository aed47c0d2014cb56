// The commands of qxsym. Each returns the process exit status and throws
// CliError on failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Output.h"
#include "Session.h"

namespace qxsym::cli {

struct Context {
  Endpoint endpoint;
  bool json = false;
  Style out_style;        // standard output
  Style err_style;        // standard error
  bool progress = false;  // standard error is a terminal
};

// The error on standard error (result code by name, what to do); with
// --json also as a document on standard output unless one was begun there.
void ReportError(const Context& ctx, const CliError& error, bool document = true);

int RunInfo(const Context& ctx);
int RunList(const Context& ctx, const std::string& filter, bool names_only);
int RunRead(const Context& ctx, const std::vector<std::string>& tags);
int RunWrite(const Context& ctx, const std::string& tag, const std::string& value);
int RunType(const Context& ctx, const std::string& tag);
int RunWatch(const Context& ctx, const std::vector<std::string>& tags, std::uint32_t interval_ms,
             std::uint64_t count);
int RunTable(const Context& ctx, const std::string& file, bool force);
int RunBench(const Context& ctx, const std::string& tag, std::uint32_t count,
             std::uint32_t max_group);

}  // namespace qxsym::cli
