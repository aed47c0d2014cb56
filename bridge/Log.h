// The bridge's log: one line per event on standard error,
// "2026-12-09T20:00:00.123Z warn Oven1: connection lost (...)".
#pragma once

#include <string>

namespace qxsym::bridge {

enum class LogLevel { kError = 0, kWarn = 1, kInfo = 2, kDebug = 3 };

/// Lines above @p level are not written. Default kInfo.
void SetLogLevel(LogLevel level);
/// "error", "warn", "info" or "debug"; false for anything else.
bool ParseLogLevel(const std::string& text, LogLevel* out);
/// Writes one line (thread safe); @p source is the device or "bridge"/"broker".
void Log(LogLevel level, const std::string& source, const std::string& message);

}  // namespace qxsym::bridge
