// The bridge's log on standard error. A line is built whole and written with
// one write(2) under a lock, so lines from different threads never mix. Texts
// that come from the network (tag names, broker messages) are escaped: a
// newline or a terminal control sequence in them cannot start a line of its
// own or repaint the operator's screen.
#include "Log.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace qxsym::bridge {

namespace {

// A message longer than this is cut: one runaway text must not flood the log.
constexpr std::size_t kMaxMessageBytes = 8192;

std::atomic<int> g_level{static_cast<int>(LogLevel::kInfo)};
std::mutex g_write_mutex;

const char* LevelName(LogLevel level) {
  switch (level) {
    case LogLevel::kError:
      return "error";
    case LogLevel::kWarn:
      return "warn";
    case LogLevel::kInfo:
      return "info";
    case LogLevel::kDebug:
      return "debug";
  }
  return "?";
}

void AppendHex(std::string* out, const char* prefix, unsigned value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%s%0*X", prefix, digits, value);
  *out += buf;
}

// Length of the well-formed UTF-8 sequence at @p s (at most @p n bytes) and
// its code point; 0 when the bytes are not one (overlong, surrogate, cut).
std::size_t DecodeUtf8(const unsigned char* s, std::size_t n, unsigned* code) {
  std::size_t len = 0;
  unsigned cp = 0, min = 0;
  if (s[0] >= 0xC2 && s[0] <= 0xDF) {
    len = 2, cp = s[0] & 0x1Fu, min = 0x80;
  } else if (s[0] >= 0xE0 && s[0] <= 0xEF) {
    len = 3, cp = s[0] & 0x0Fu, min = 0x800;
  } else if (s[0] >= 0xF0 && s[0] <= 0xF4) {
    len = 4, cp = s[0] & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (len > n) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0u) != 0x80u) return 0;
    cp = (cp << 6) | (s[i] & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *code = cp;
  return len;
}

// A code point that some terminal or log viewer acts on: C1 controls and the
// Unicode line and paragraph separators.
bool IsActiveCodePoint(unsigned cp) {
  return (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
}

void AppendEscapedAscii(std::string* out, unsigned char c) {
  if (c == '\n') {
    *out += "\\n";
  } else if (c == '\r') {
    *out += "\\r";
  } else if (c == '\t') {
    *out += "\\t";
  } else if (c < 0x20 || c == 0x7F) {
    AppendHex(out, "\\x", c, 2);
  } else {
    *out += static_cast<char>(c);
  }
}

// Escapes control characters and bytes that are not UTF-8; printable text,
// including non-ASCII letters, stays as it is.
std::string EscapeLogText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    if (s[i] < 0x80) {
      AppendEscapedAscii(&out, s[i++]);
      continue;
    }
    unsigned cp = 0;
    const std::size_t len = DecodeUtf8(s + i, n - i, &cp);
    if (len == 0) {
      AppendHex(&out, "\\x", s[i++], 2);
    } else if (IsActiveCodePoint(cp)) {
      AppendHex(&out, "\\u", cp, 4);
      i += len;
    } else {
      out.append(text, i, len);
      i += len;
    }
  }
  return out;
}

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char buf[96];  // room for any int the fields could hold
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(ms % 1000));
  return buf;
}

void WriteAll(int fd, const std::string& line) {
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to report a failing log; drop the line
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

void SetLogLevel(LogLevel level) { g_level.store(static_cast<int>(level)); }

bool ParseLogLevel(const std::string& text, LogLevel* out) {
  for (LogLevel level : {LogLevel::kError, LogLevel::kWarn, LogLevel::kInfo, LogLevel::kDebug}) {
    if (text == LevelName(level)) {
      *out = level;
      return true;
    }
  }
  return false;
}

void Log(LogLevel level, const std::string& source, const std::string& message) {
  if (static_cast<int>(level) > g_level.load()) return;
  std::string line = UtcNow();
  line += ' ';
  line += LevelName(level);
  line += ' ';
  line += EscapeLogText(source);
  line += ": ";
  if (message.size() > kMaxMessageBytes) {
    line += EscapeLogText(message.substr(0, kMaxMessageBytes));
    line += " ... (" + std::to_string(message.size() - kMaxMessageBytes) + " more bytes)";
  } else {
    line += EscapeLogText(message);
  }
  line += '\n';
  std::lock_guard<std::mutex> lock(g_write_mutex);
  WriteAll(STDERR_FILENO, line);
}

}  // namespace qxsym::bridge
