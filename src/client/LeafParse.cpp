// Values typed by people (IEC literals) and values shown to them.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "LeafCodec.h"
#include "LeafDetail.h"

namespace qxsym::client {
namespace detail {

std::string RangeText(std::uint32_t tyvar, std::uint32_t size) {
  const BasicType& type = BasicTypeOf(tyvar);
  const unsigned bits = 8 * type.width;
  switch (type.kind) {
    case ValueKind::kBool:
      return "TRUE, FALSE, 1 and 0";
    case ValueKind::kSigned:
      return std::to_string(bits == 64 ? INT64_MIN : -(std::int64_t{1} << (bits - 1))) + " to " +
             std::to_string(bits == 64 ? INT64_MAX : (std::int64_t{1} << (bits - 1)) - 1);
    case ValueKind::kUnsigned:
      return "0 to " + std::to_string(bits == 64 ? UINT64_MAX : (std::uint64_t{1} << bits) - 1);
    case ValueKind::kFloat: {
      std::string max = ShortestText(type.width == 4 ? FLT_MAX : DBL_MAX, type.width == 4);
      return "-" + max + " to " + max + ", inf, -inf and nan";
    }
    case ValueKind::kText:
      return "at most " + std::to_string(size == 0 ? 0 : size - 1) + " bytes of text";
    default:
      return "exactly " + std::to_string(size) + " bytes";
  }
}

std::string ValueForMessage(const LeafValue& value) {
  if (value.kind == ValueKind::kText) return Quote(value.text);
  if (value.kind == ValueKind::kNone) return "no value";
  if (value.kind == ValueKind::kBytes) {
    return value.bytes.size() <= 16 ? FormatLeafText(value)
                                    : std::to_string(value.bytes.size()) + " bytes";
  }
  return FormatLeafText(value);
}

}  // namespace detail

namespace {

using detail::Fail;
using detail::RangeText;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// Digits of `base` with single '_' between them; false for anything else.
// *overflow when the value needs more than 64 bits.
bool ParseDigits(std::string_view digits, unsigned base, std::uint64_t* value, bool* overflow) {
  *value = 0;
  *overflow = false;
  bool last_digit = false;
  for (char c : digits) {
    if (c == '_' && last_digit) {
      last_digit = false;
      continue;
    }
    auto d = static_cast<unsigned>(DigitValue(c));
    if (d >= base) return false;
    if (*value > (UINT64_MAX - d) / base) *overflow = true;
    *value = *value * base + d;
    last_digit = true;
  }
  return last_digit;
}

// Takes an IEC type prefix ("INT#", "LREAL#") off text; the prefix's row in
// *prefix, or null without one. False for a prefix naming no basic type.
bool TakeTypePrefix(std::string_view* text, const detail::BasicType** prefix) {
  *prefix = nullptr;
  std::size_t hash = text->find('#');
  if (hash == std::string_view::npos || hash == 0) return true;
  std::string_view name = text->substr(0, hash);
  for (char c : name) {
    if (DigitValue(c) < 10 || DigitValue(c) == 99) return true;  // a base such as 16#, not a type
  }
  *prefix = detail::BasicTypeNamed(name);
  text->remove_prefix(hash + 1);
  return *prefix != nullptr;
}

bool NotA(std::uint32_t tyvar, std::string_view original, const char* what, CodecError* err) {
  return Fail(err, symResInvalidParameter,
              detail::Quote(original) + " is not " + what + ": " + TyVarName(tyvar) + " takes " +
                  RangeText(tyvar, 0));
}

bool PlainDecimal(std::string_view text, std::string* plain);

bool ParseInteger(std::uint32_t tyvar, std::string_view text, std::string_view original,
                  LeafValue* out, CodecError* err) {
  bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (std::size_t hash = text.find('#'); hash != std::string_view::npos) {
    std::string_view prefix = text.substr(0, hash);
    base = prefix == "2" ? 2 : prefix == "8" ? 8 : prefix == "16" ? 16 : 0;
    if (base == 0) return NotA(tyvar, original, "a whole number", err);
    text.remove_prefix(hash + 1);
  }
  std::uint64_t magnitude = 0;
  bool overflow = false;
  if (!ParseDigits(text, base, &magnitude, &overflow)) {
    std::string plain;
    bool decimal = base == 10 && PlainDecimal(text, &plain);
    return NotA(tyvar, original, decimal ? "a whole number" : "a number", err);
  }
  if (overflow || (negative && magnitude > (std::uint64_t{1} << 63))) {
    return Fail(err, symResInvalidParameter,
                detail::Quote(original) + " is out of range: " + TyVarName(tyvar) + " takes " +
                    RangeText(tyvar, 0));
  }
  *out = LeafValue{};
  // The leaf's own kind where the number allows, so INT reads as signed.
  bool as_signed = negative || (KindOf(tyvar) == ValueKind::kSigned &&
                                magnitude <= static_cast<std::uint64_t>(INT64_MAX));
  if (as_signed) {
    out->kind = ValueKind::kSigned;
    out->i =
        negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  } else {
    out->kind = ValueKind::kUnsigned;
    out->u = magnitude;
  }
  return true;
}

// The power of ten of the leading digit of a plain decimal number, so an
// out-of-range result can be told apart as too large or too small.
int LeadingExponent(std::string_view digits) {
  std::size_t e = digits.find_first_of("eE");
  int exponent = 0;
  if (e != std::string_view::npos) {
    auto res = std::from_chars(digits.data() + e + (digits[e + 1] == '+' ? 2 : 1),
                               digits.data() + digits.size(), exponent);
    if (res.ec == std::errc::result_out_of_range)
      exponent = digits[e + 1] == '-' ? -100000 : 100000;
    digits = digits.substr(0, e);
  }
  std::size_t point = digits.find('.');
  if (point == std::string_view::npos) point = digits.size();
  std::size_t first = digits.find_first_of("123456789");
  if (first == std::string_view::npos) return exponent;
  return exponent +
         (first < point ? static_cast<int>(point - first - 1) : -static_cast<int>(first - point));
}

// Plain decimal notation, digits[.digits][e[sign]digits] with a '_'
// allowed between two digits, into *plain without the '_': no hex floats,
// no words.
bool PlainDecimal(std::string_view text, std::string* plain) {
  std::size_t i = 0;
  auto digits = [&]() {
    std::size_t start = plain->size();
    for (; i < text.size(); ++i) {
      bool digit = text[i] >= '0' && text[i] <= '9';
      bool joint = text[i] == '_' && plain->size() > start && i + 1 < text.size() &&
                   text[i + 1] >= '0' && text[i + 1] <= '9';
      if (!digit && !joint) break;
      if (digit) *plain += text[i];
    }
    return plain->size() - start;
  };
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    *plain += text[i++];
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    *plain += text[i++];
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) *plain += text[i++];
    if (digits() == 0) return false;
  }
  return i == text.size();
}

bool ParseFloat(std::uint32_t tyvar, std::string_view text, std::string_view original,
                LeafValue* out, CodecError* err) {
  bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  *out = LeafValue{};
  out->kind = ValueKind::kFloat;
  if (SameLetters(text, "inf") || SameLetters(text, "infinity") || SameLetters(text, "nan")) {
    out->f = SameLetters(text, "nan") ? NAN : INFINITY;
    if (negative) out->f = -out->f;
    return true;
  }
  std::string plain;
  if (!PlainDecimal(text, &plain)) return NotA(tyvar, original, "a number", err);
  double value = 0;
  auto res = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (res.ptr != plain.data() + plain.size()) return NotA(tyvar, original, "a number", err);
  if (res.ec == std::errc::result_out_of_range) {
    if (LeadingExponent(plain) >= 0) {
      return Fail(err, symResInvalidParameter,
                  detail::Quote(original) + " is out of range: " + TyVarName(tyvar) + " takes " +
                      RangeText(tyvar, 0));
    }
    value = 0;
  }
  out->f = negative ? -value : value;
  return true;
}

bool ParseBool(std::string_view text, std::string_view original, LeafValue* out, CodecError* err) {
  *out = LeafValue{};
  out->kind = ValueKind::kBool;
  if (SameLetters(text, "true") || text == "1") {
    out->b = true;
    return true;
  }
  if (SameLetters(text, "false") || text == "0") return true;
  return NotA(QXSymTyVarBool, original, "a truth value", err);
}

bool ParseBytes(std::uint32_t tyvar, std::string_view text, std::string_view original,
                LeafValue* out, CodecError* err) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  } else if (text.size() > 3 && text.substr(0, 3) == "16#") {
    text.remove_prefix(3);
  }
  *out = LeafValue{};
  out->kind = ValueKind::kBytes;
  if (text.size() % 2 != 0) return NotA(tyvar, original, "bytes in hex", err);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int hi = DigitValue(text[i]), lo = DigitValue(text[i + 1]);
    if (hi >= 16 || lo >= 16) return NotA(tyvar, original, "bytes in hex", err);
    out->bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return true;
}

// Whether an IEC type prefix fits a leaf of kind `kind`.
bool PrefixFits(const detail::BasicType& prefix, ValueKind kind) {
  if (kind == ValueKind::kBytes) return false;
  bool integer = kind == ValueKind::kSigned || kind == ValueKind::kUnsigned;
  bool prefix_integer = prefix.kind == ValueKind::kSigned || prefix.kind == ValueKind::kUnsigned;
  return integer ? prefix_integer : prefix.kind == kind;
}

}  // namespace

bool ParseLeafText(std::uint32_t tyvar, std::string_view text, LeafValue* out, CodecError* err) {
  if (out == nullptr) return Fail(err, symResInvalidParameter, "no value to parse into");
  const ValueKind kind = KindOf(tyvar);
  if (kind == ValueKind::kText) {
    *out = LeafValue{};
    out->kind = ValueKind::kText;
    out->text = std::string(text);
    return true;
  }
  std::string_view body = Trim(text);
  const detail::BasicType* prefix = nullptr;
  if (!TakeTypePrefix(&body, &prefix) || (prefix != nullptr && !PrefixFits(*prefix, kind))) {
    return NotA(tyvar, text, kind == ValueKind::kBool ? "a truth value" : "a value of this type",
                err);
  }
  bool ok = false;
  if (kind == ValueKind::kBool) {
    ok = ParseBool(body, text, out, err);
  } else if (kind == ValueKind::kSigned || kind == ValueKind::kUnsigned) {
    ok = ParseInteger(tyvar, body, text, out, err);
  } else if (kind == ValueKind::kFloat) {
    ok = ParseFloat(tyvar, body, text, out, err);
  } else {
    ok = ParseBytes(tyvar, body, text, out, err);
  }
  if (!ok || prefix == nullptr) return ok;
  // A typed literal holds a value of its own type: SINT#200 is no value.
  std::vector<std::uint8_t> scratch;
  return EncodeLeaf(prefix->tyvar, *out, prefix->width, Encoding::kLatin1, &scratch, err);
}

std::string FormatLeafText(const LeafValue& value) {
  static const char kHex[] = "0123456789ABCDEF";
  switch (value.kind) {
    case ValueKind::kBool:
      return value.b ? "TRUE" : "FALSE";
    case ValueKind::kSigned:
      return std::to_string(value.i);
    case ValueKind::kUnsigned:
      return std::to_string(value.u);
    case ValueKind::kFloat:
      return detail::ShortestText(value.f, false);
    case ValueKind::kText:
      return value.text;
    case ValueKind::kBytes: {
      std::string out = "0x";
      for (std::uint8_t b : value.bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
      return out;
    }
    default:
      return "";
  }
}

}  // namespace qxsym::client
