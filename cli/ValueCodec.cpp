#include "ValueCodec.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "Output.h"
#include "Session.h"

namespace qxsym::cli {
namespace {

struct IntRange {
  bool is_signed;
  int bytes;
  std::int64_t min;
  std::uint64_t max;
};

// The integer types: signedness, width and range; bytes 0 for the rest.
IntRange IntegerRange(std::uint32_t tyvar) {
  switch (tyvar) {
    case QXSymTyVarSInt:
      return {true, 1, INT8_MIN, INT8_MAX};
    case QXSymTyVarUSInt:
    case QXSymTyVarByte:
      return {false, 1, 0, UINT8_MAX};
    case QXSymTyVarInt:
      return {true, 2, INT16_MIN, INT16_MAX};
    case QXSymTyVarUInt:
    case QXSymTyVarWord:
      return {false, 2, 0, UINT16_MAX};
    case QXSymTyVarDInt:
      return {true, 4, INT32_MIN, INT32_MAX};
    case QXSymTyVarUDInt:
    case QXSymTyVarDWord:
      return {false, 4, 0, UINT32_MAX};
    case QXSymTyVarLInt:
      return {true, 8, INT64_MIN, INT64_MAX};
    case QXSymTyVarULInt:
    case QXSymTyVarLWord:
      return {false, 8, 0, UINT64_MAX};
    default:
      return {false, 0, 0, 0};
  }
}

bool IsBitString(std::uint32_t tyvar) {
  return tyvar == QXSymTyVarByte || tyvar == QXSymTyVarWord || tyvar == QXSymTyVarDWord ||
         tyvar == QXSymTyVarLWord;
}

std::uint64_t LoadLE(const std::uint8_t* data, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | data[i];
  return v;
}

void StoreLE(std::uint64_t v, std::uint8_t* out, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::int64_t SignExtend(std::uint64_t v, int bytes) {
  if (bytes == 8) return static_cast<std::int64_t>(v);
  const std::uint64_t sign = std::uint64_t{1} << (8 * bytes - 1);
  return static_cast<std::int64_t>((v ^ sign) - sign);
}

float LoadFloat(const std::uint8_t* data) {
  auto bits = static_cast<std::uint32_t>(LoadLE(data, 4));
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

double LoadDouble(const std::uint8_t* data) {
  std::uint64_t bits = LoadLE(data, 8);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

// Shortest text that reads back as the same float or double.
template <typename F>
std::string ShortestText(F value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  char buffer[64];
  auto res = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, res.ptr);
}

std::string HexBytes(const std::uint8_t* data, std::size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (std::size_t i = 0; i < size; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
  return out;
}

std::string StringValue(const std::uint8_t* data, std::size_t size) {
  const auto* text = reinterpret_cast<const char*>(data);
  return std::string(text, strnlen(text, size));
}

std::size_t WidthOf(std::uint32_t tyvar) {
  IntRange range = IntegerRange(tyvar);
  if (range.bytes != 0) return range.bytes;
  if (tyvar == QXSymTyVarBool) return 1;
  if (tyvar == QXSymTyVarReal) return 4;
  if (tyvar == QXSymTyVarLReal) return 8;
  return 0;
}

[[noreturn]] void Refuse(std::string_view text, std::uint32_t tyvar, const std::string& why) {
  throw CliError(symResInvalidParameter,
                 "value '" + std::string(text) + "' for " + TyVarName(tyvar) + ": " + why);
}

std::string RangeText(const IntRange& r) {
  if (r.is_signed) return std::to_string(r.min) + " to " + std::to_string(r.max);
  return "0 to " + std::to_string(r.max);
}

std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return std::string(text.substr(b, e - b));
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Integer text: optional sign, then decimal digits or 16#/0x hex digits,
// single underscores allowed between digits.
std::uint64_t ParseInteger(std::string_view original, std::uint32_t tyvar, const IntRange& range) {
  std::string text = Trim(original);
  bool negative = false;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  unsigned base = 10;
  std::string lower = Lower(text.substr(i));
  if (lower.rfind("16#", 0) == 0) {
    base = 16;
    i += 3;
  } else if (lower.rfind("0x", 0) == 0) {
    base = 16;
    i += 2;
  }
  unsigned __int128 magnitude = 0;
  bool digits = false, last_underscore = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '_' && digits && !last_underscore) {
      last_underscore = true;
      continue;
    }
    int d = -1;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    if (d < 0) Refuse(original, tyvar, "not an integer (range " + RangeText(range) + ")");
    magnitude = magnitude * base + static_cast<unsigned>(d);
    if (magnitude > (static_cast<unsigned __int128>(1) << 64)) {
      Refuse(original, tyvar, "out of range (" + RangeText(range) + ")");
    }
    digits = true;
    last_underscore = false;
  }
  if (!digits || last_underscore) {
    Refuse(original, tyvar, "not an integer (range " + RangeText(range) + ")");
  }
  if (negative) {
    unsigned __int128 limit =
        range.is_signed ? static_cast<unsigned __int128>(-(range.min + 1)) + 1 : 0;
    if (magnitude > limit) Refuse(original, tyvar, "out of range (" + RangeText(range) + ")");
    return static_cast<std::uint64_t>(-static_cast<__int128>(magnitude));
  }
  if (magnitude > range.max) Refuse(original, tyvar, "out of range (" + RangeText(range) + ")");
  return static_cast<std::uint64_t>(magnitude);
}

double ParseFloat(std::string_view original, std::uint32_t tyvar) {
  std::string text = Trim(original);
  std::string lower = Lower(text);
  const double inf = std::numeric_limits<double>::infinity();
  if (lower == "nan") return std::numeric_limits<double>::quiet_NaN();
  if (lower == "inf" || lower == "+inf" || lower == "infinity" || lower == "+infinity") return inf;
  if (lower == "-inf" || lower == "-infinity") return -inf;
  // Plain decimal notation only: no hex floats, no words.
  bool ok = !text.empty();
  for (char c : text) {
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == 'e' || c == 'E' ||
          c == '+' || c == '-')) {
      ok = false;
    }
  }
  char* end = nullptr;
  errno = 0;
  double v = ok ? std::strtod(text.c_str(), &end) : 0;
  if (!ok || end != text.c_str() + text.size()) Refuse(original, tyvar, "not a number");
  const double max = tyvar == QXSymTyVarReal ? FLT_MAX : DBL_MAX;
  if (errno == ERANGE && std::isinf(v)) Refuse(original, tyvar, "out of range");
  if (std::fabs(v) > max) {
    Refuse(original, tyvar, "out of range (largest magnitude " + ShortestText(max) + ")");
  }
  return v;
}

}  // namespace

std::string TyVarName(std::uint32_t tyvar) {
  static const char* const kNames[] = {"NULL",
                                       "BOOL",
                                       "SINT",
                                       "USINT",
                                       "BYTE",
                                       "INT",
                                       "UINT",
                                       "WORD",
                                       nullptr,
                                       "DINT",
                                       "UDINT",
                                       "DWORD",
                                       "LINT",
                                       "ULINT",
                                       "LWORD",
                                       "REAL",
                                       "LREAL",
                                       "STRING",
                                       "user-defined type",
                                       nullptr,
                                       "POINTER"};
  if (tyvar < sizeof kNames / sizeof kNames[0] && kNames[tyvar] != nullptr) return kNames[tyvar];
  return "type " + std::to_string(tyvar);
}

bool IsKnownTyVar(std::uint32_t tyvar) { return WidthOf(tyvar) != 0 || tyvar == QXSymTyVarString; }

Json DecodeJson(std::uint32_t tyvar, const std::uint8_t* data, std::size_t size) {
  if (tyvar == QXSymTyVarString) return StringValue(data, size);
  std::size_t width = WidthOf(tyvar);
  if (width == 0 || size < width) return HexBytes(data, size);
  if (tyvar == QXSymTyVarBool) return data[0] != 0;
  if (tyvar == QXSymTyVarReal || tyvar == QXSymTyVarLReal) {
    double v = tyvar == QXSymTyVarReal ? LoadFloat(data) : LoadDouble(data);
    if (!std::isfinite(v)) return ShortestText(v);
    // Through the float's shortest text, so 0.1f shows as 0.1, not 0.100000001.
    if (tyvar == QXSymTyVarReal) v = std::strtod(ShortestText(LoadFloat(data)).c_str(), nullptr);
    return v;
  }
  IntRange range = IntegerRange(tyvar);
  std::uint64_t raw = LoadLE(data, range.bytes);
  constexpr std::uint64_t kExact = std::uint64_t{1} << 53;
  if (range.is_signed) {
    std::int64_t v = SignExtend(raw, range.bytes);
    bool exact = v >= -static_cast<std::int64_t>(kExact) && v <= static_cast<std::int64_t>(kExact);
    if (!exact) return std::to_string(v);
    return v;
  }
  if (raw > kExact) return std::to_string(raw);
  return raw;
}

std::string DecodeText(std::uint32_t tyvar, const std::uint8_t* data, std::size_t size) {
  if (tyvar == QXSymTyVarString) return "\"" + Escaped(StringValue(data, size), "\"") + "\"";
  std::size_t width = WidthOf(tyvar);
  if (width == 0 || size < width) return HexBytes(data, size);
  if (tyvar == QXSymTyVarBool) return data[0] != 0 ? "TRUE" : "FALSE";
  if (tyvar == QXSymTyVarReal) return ShortestText(LoadFloat(data));
  if (tyvar == QXSymTyVarLReal) return ShortestText(LoadDouble(data));
  IntRange range = IntegerRange(tyvar);
  std::uint64_t raw = LoadLE(data, range.bytes);
  if (range.is_signed) return std::to_string(SignExtend(raw, range.bytes));
  std::string out = std::to_string(raw);
  if (IsBitString(tyvar)) {
    char hex[32];
    std::snprintf(hex, sizeof hex, " (16#%0*llX)", range.bytes * 2,
                  static_cast<unsigned long long>(raw));
    out += hex;
  }
  return out;
}

std::vector<std::uint8_t> EncodeText(std::uint32_t tyvar, std::string_view text,
                                     std::uint32_t size) {
  std::vector<std::uint8_t> out(size, 0);
  if (tyvar == QXSymTyVarString) {
    if (size == 0 || text.size() > size - 1) {
      Refuse(text, tyvar,
             "too long (at most " + std::to_string(size == 0 ? 0 : size - 1) + " characters)");
    }
    if (text.find('\0') != std::string_view::npos) Refuse(text, tyvar, "contains a zero byte");
    std::memcpy(out.data(), text.data(), text.size());
    return out;
  }
  std::size_t width = WidthOf(tyvar);
  if (width == 0) {
    throw CliError(symResInvalidTagType,
                   "cannot write a value of " + TyVarName(tyvar) + " from text",
                   "write a structure or array as JSON, or its basic members one by one");
  }
  if (size < width) {
    throw CliError(symResInvalidTagSize, "the tag's size " + std::to_string(size) +
                                             " is too small for " + TyVarName(tyvar));
  }
  if (tyvar == QXSymTyVarBool) {
    std::string v = Lower(Trim(text));
    if (v == "true" || v == "1")
      out[0] = 1;
    else if (v == "false" || v == "0")
      out[0] = 0;
    else
      Refuse(text, tyvar, "not a boolean (TRUE, FALSE, 1 or 0)");
    return out;
  }
  if (tyvar == QXSymTyVarReal) {
    auto f = static_cast<float>(ParseFloat(text, tyvar));
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    StoreLE(bits, out.data(), 4);
    return out;
  }
  if (tyvar == QXSymTyVarLReal) {
    double d = ParseFloat(text, tyvar);
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    StoreLE(bits, out.data(), 8);
    return out;
  }
  IntRange range = IntegerRange(tyvar);
  StoreLE(ParseInteger(text, tyvar, range), out.data(), range.bytes);
  return out;
}

std::vector<std::uint8_t> EncodeJson(std::uint32_t tyvar, const Json& value, std::uint32_t size) {
  if (value.is_string()) return EncodeText(tyvar, value.get_ref<const std::string&>(), size);
  if (tyvar == QXSymTyVarString) {
    Refuse(value.dump(), tyvar, "give a JSON string");
  }
  if (value.is_boolean()) {
    if (tyvar != QXSymTyVarBool) Refuse(value.dump(), tyvar, "give a number");
    return EncodeText(tyvar, value.get<bool>() ? "1" : "0", size);
  }
  if (value.is_number_integer() || value.is_number_unsigned()) {
    return EncodeText(tyvar, value.dump(), size);
  }
  if (value.is_number_float()) {
    double d = value.get<double>();
    if (tyvar == QXSymTyVarReal || tyvar == QXSymTyVarLReal) {
      return EncodeText(tyvar, ShortestText(d), size);
    }
    // 3.0 is an integer; 3.5 is not.
    if (std::trunc(d) == d && std::fabs(d) < 1.9e19) {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%.0f", d);
      return EncodeText(tyvar, buffer, size);
    }
    Refuse(value.dump(), tyvar, "not an integer");
  }
  Refuse(value.dump(), tyvar, "not a value of a basic type");
}

std::string CompactJson(const Json& doc) {
  std::string text = doc.dump(-1, ' ', false, Json::error_handler_t::replace);
  // The dump escapes the C0 controls only; DEL and the C1 controls (as UTF-8,
  // U+0080 to U+009F) are escaped here, inside strings, where alone they occur.
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (c != 0x7F && !c1) {
      out += static_cast<char>(c);
      continue;
    }
    const unsigned code = c1 ? static_cast<unsigned char>(text[++i]) : c;
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", code);
    out += escape;
  }
  return out;
}

namespace {

void PrettyInto(const Json& doc, int indent, std::string& out) {
  auto compact = [](const Json& j) { return CompactJson(j); };
  const std::string pad(static_cast<std::size_t>(indent) * 2, ' ');
  const std::string inner(static_cast<std::size_t>(indent + 1) * 2, ' ');
  if (doc.is_array()) {
    bool flat =
        std::none_of(doc.begin(), doc.end(), [](const Json& j) { return j.is_structured(); });
    if (flat) {
      out += "[";
      for (std::size_t i = 0; i < doc.size(); ++i) out += (i ? ", " : "") + compact(doc[i]);
      out += "]";
      return;
    }
    out += "[\n";
    for (std::size_t i = 0; i < doc.size(); ++i) {
      out += inner;
      PrettyInto(doc[i], indent + 1, out);
      out += i + 1 < doc.size() ? ",\n" : "\n";
    }
    out += pad + "]";
    return;
  }
  if (doc.is_object() && !doc.empty()) {
    out += "{\n";
    std::size_t i = 0;
    for (const auto& [key, value] : doc.items()) {
      out += inner + compact(Json(key)) + ": ";
      PrettyInto(value, indent + 1, out);
      out += ++i < doc.size() ? ",\n" : "\n";
    }
    out += pad + "}";
    return;
  }
  out += compact(doc);
}

}  // namespace

std::string PrettyJson(const Json& doc) {
  std::string out;
  PrettyInto(doc, 0, out);
  return out;
}

}  // namespace qxsym::cli
