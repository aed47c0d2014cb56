// Prometheus text exposition (format 0.0.4): HELP and TYPE lines, samples
// with an optional label, and numbers written the way scrapers read them.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "MetricsServer.h"

namespace qxsym::bridge {

namespace {

// Integers this large or smaller are exact in a double.
constexpr double kMaxExactInteger = 9007199254740992.0;  // 2^53

// HELP text escapes backslash and newline; a label value also the quote.
std::string Escape(const std::string& text, bool quote) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' && quote) {
      out += "\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

// Whole numbers print as such (a counter of 10^7 is "10000000", never
// "1e+07"); others in the fewest digits that read back to the same double.
std::string FormatValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char buf[64];
  if (value == std::floor(value) && std::fabs(value) <= kMaxExactInteger) {
    std::snprintf(buf, sizeof buf, "%.0f", value == 0 ? 0.0 : value);  // no "-0"
    return buf;
  }
  for (int digits = 15; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, value);
    if (std::strtod(buf, nullptr) == value) break;
  }
  return buf;
}

}  // namespace

void PrometheusText::Family(const std::string& name, const std::string& type,
                            const std::string& help) {
  text_ += "# HELP " + name + " " + Escape(help, false) + "\n";
  text_ += "# TYPE " + name + " " + type + "\n";
}

void PrometheusText::Sample(const std::string& name, double value, const std::string& label_name,
                            const std::string& label_value) {
  text_ += name;
  if (!label_name.empty()) {
    text_ += "{" + label_name + "=\"" + Escape(label_value, true) + "\"}";
  }
  text_ += " " + FormatValue(value) + "\n";
}

}  // namespace qxsym::bridge
