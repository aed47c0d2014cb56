// Decoding and encoding of one leaf: widths, byte order, ranges.
#include "LeafCodec.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>

#include "LeafDetail.h"

namespace qxsym::client {
namespace detail {
namespace {

constexpr BasicType kBasicTypes[] = {
    {QXSymTyVarBool, "BOOL", 1, ValueKind::kBool},
    {QXSymTyVarSInt, "SINT", 1, ValueKind::kSigned},
    {QXSymTyVarUSInt, "USINT", 1, ValueKind::kUnsigned},
    {QXSymTyVarByte, "BYTE", 1, ValueKind::kUnsigned},
    {QXSymTyVarInt, "INT", 2, ValueKind::kSigned},
    {QXSymTyVarUInt, "UINT", 2, ValueKind::kUnsigned},
    {QXSymTyVarWord, "WORD", 2, ValueKind::kUnsigned},
    {QXSymTyVarDInt, "DINT", 4, ValueKind::kSigned},
    {QXSymTyVarUDInt, "UDINT", 4, ValueKind::kUnsigned},
    {QXSymTyVarDWord, "DWORD", 4, ValueKind::kUnsigned},
    {QXSymTyVarLInt, "LINT", 8, ValueKind::kSigned},
    {QXSymTyVarULInt, "ULINT", 8, ValueKind::kUnsigned},
    {QXSymTyVarLWord, "LWORD", 8, ValueKind::kUnsigned},
    {QXSymTyVarReal, "REAL", 4, ValueKind::kFloat},
    {QXSymTyVarLReal, "LREAL", 8, ValueKind::kFloat},
    {QXSymTyVarString, "STRING", 0, ValueKind::kText},
    {QXSymTyVarPointer, "POINTER", 0, ValueKind::kBytes},
};

constexpr BasicType kOtherType = {QXSymTyVarNull, nullptr, 0, ValueKind::kBytes};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

const BasicType& BasicTypeOf(std::uint32_t tyvar) {
  for (const BasicType& row : kBasicTypes) {
    if (row.tyvar == tyvar) return row;
  }
  return kOtherType;
}

const BasicType* BasicTypeNamed(std::string_view name) {
  for (const BasicType& row : kBasicTypes) {
    std::string_view row_name = row.name;
    if (row_name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i)
      same = Lower(name[i]) == Lower(row_name[i]);
    if (same) return &row;
  }
  return nullptr;
}

bool Fail(CodecError* err, QXSymResult code, std::string message) {
  if (err != nullptr) {
    err->code = code;
    err->message = std::move(message);
  }
  return false;
}

std::string ShortestText(double value, bool as_float) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[64];
  std::to_chars_result res =
      as_float ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value))
               : std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, res.ptr);
}

}  // namespace detail

namespace {

using detail::BasicTypeOf;
using detail::Fail;
using detail::RangeText;
using detail::ValueForMessage;

// Finite values at or beyond this magnitude round to infinity as a REAL:
// FLT_MAX plus half of its last step.
constexpr double kRealLimit = 0x1.ffffffp+127;

std::uint64_t LoadLE(const std::uint8_t* data, std::uint32_t bytes) {
  std::uint64_t v = 0;
  for (std::uint32_t i = bytes; i-- > 0;) v = (v << 8) | data[i];
  return v;
}

void StoreLE(std::uint64_t v, std::uint8_t* out, std::uint32_t bytes) {
  for (std::uint32_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::int64_t SignExtend(std::uint64_t v, std::uint32_t bytes) {
  if (bytes == 8) return static_cast<std::int64_t>(v);
  const std::uint64_t sign = std::uint64_t{1} << (8 * bytes - 1);
  return static_cast<std::int64_t>((v ^ sign) - sign);
}

// A REAL as the double its shortest text names, so 0.1 reads as 0.1 and
// not as 0.100000001490116; the float it encodes back to is the same.
double RealAsDouble(float value) {
  if (!std::isfinite(value)) return value;
  std::string text = detail::ShortestText(value, true);
  double d = value;
  std::from_chars(text.data(), text.data() + text.size(), d);
  return d;
}

bool DecodeNumber(const detail::BasicType& type, const std::uint8_t* data, LeafValue* out) {
  std::uint64_t raw = LoadLE(data, type.width);
  switch (type.kind) {
    case ValueKind::kBool:
      out->b = raw != 0;
      break;
    case ValueKind::kSigned:
      out->i = SignExtend(raw, type.width);
      break;
    case ValueKind::kUnsigned:
      out->u = raw;
      break;
    default:
      if (type.width == 4) {
        float f;
        auto bits = static_cast<std::uint32_t>(raw);
        std::memcpy(&f, &bits, 4);
        out->f = RealAsDouble(f);
      } else {
        std::memcpy(&out->f, &raw, 8);
      }
  }
  out->kind = type.kind;
  return true;
}

// An integer value of any kind as sign and magnitude; false for a float
// with a fraction or beyond 64 bits, for NaN and infinity.
bool WholeNumber(const LeafValue& value, bool* negative, std::uint64_t* magnitude) {
  switch (value.kind) {
    case ValueKind::kSigned:
      *negative = value.i < 0;
      *magnitude =
          *negative ? 0 - static_cast<std::uint64_t>(value.i) : static_cast<std::uint64_t>(value.i);
      return true;
    case ValueKind::kUnsigned:
      *negative = false;
      *magnitude = value.u;
      return true;
    case ValueKind::kFloat: {
      double f = value.f;
      if (!std::isfinite(f) || std::trunc(f) != f || std::fabs(f) >= 0x1p64) return false;
      *negative = f < 0;
      *magnitude = static_cast<std::uint64_t>(std::fabs(f));
      return true;
    }
    default:
      return false;
  }
}

// A refused number: "<value> <why>: <TYPE> takes <range>", the range only
// worked out when refused.
bool Refuse(const detail::BasicType& type, const LeafValue& value, const char* why,
            CodecError* err) {
  return Fail(err, symResInvalidParameter,
              ValueForMessage(value) + " " + why + ": " + type.name + " takes " +
                  RangeText(type.tyvar, type.width));
}

bool EncodeInteger(const detail::BasicType& type, const LeafValue& value, std::uint8_t* out,
                   CodecError* err) {
  bool negative = false;
  std::uint64_t magnitude = 0;
  if (value.kind != ValueKind::kSigned && value.kind != ValueKind::kUnsigned &&
      value.kind != ValueKind::kFloat) {
    return Refuse(type, value, "is not a number", err);
  }
  if (value.kind == ValueKind::kFloat &&
      !(std::isfinite(value.f) && std::trunc(value.f) == value.f)) {
    return Refuse(type, value, "is not a whole number", err);
  }
  const unsigned bits = 8 * type.width;
  bool is_signed = type.kind == ValueKind::kSigned;
  std::uint64_t max_positive =
      is_signed ? (std::uint64_t{1} << (bits - 1)) - 1
                : (bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1);
  std::uint64_t max_negative = is_signed ? std::uint64_t{1} << (bits - 1) : 0;
  bool whole = WholeNumber(value, &negative, &magnitude);
  if (!whole || magnitude > (negative ? max_negative : max_positive)) {
    return Refuse(type, value, "is out of range", err);
  }
  StoreLE(negative ? 0 - magnitude : magnitude, out, type.width);
  return true;
}

bool EncodeFloat(const detail::BasicType& type, const LeafValue& value, std::uint8_t* out,
                 CodecError* err) {
  double d = 0;
  if (value.kind == ValueKind::kFloat) {
    d = value.f;
  } else if (value.kind == ValueKind::kSigned) {
    d = static_cast<double>(value.i);
  } else if (value.kind == ValueKind::kUnsigned) {
    d = static_cast<double>(value.u);
  } else {
    return Refuse(type, value, "is not a number", err);
  }
  if (type.width == 8) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    StoreLE(bits, out, 8);
    return true;
  }
  if (std::isfinite(d) && std::fabs(d) >= kRealLimit) {
    return Refuse(type, value, "is out of range", err);
  }
  auto f = static_cast<float>(d);
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  StoreLE(bits, out, 4);
  return true;
}

bool EncodeBool(const LeafValue& value, std::uint8_t* out, CodecError* err) {
  bool negative = false;
  std::uint64_t magnitude = 0;
  if (value.kind == ValueKind::kBool) {
    out[0] = value.b ? 1 : 0;
    return true;
  }
  if (value.kind != ValueKind::kText && value.kind != ValueKind::kBytes &&
      WholeNumber(value, &negative, &magnitude) && !negative && magnitude <= 1) {
    out[0] = static_cast<std::uint8_t>(magnitude);
    return true;
  }
  return Fail(
      err, symResInvalidParameter,
      ValueForMessage(value) + " is not a truth value: BOOL takes " + RangeText(QXSymTyVarBool, 1));
}

bool EncodeText(const LeafValue& value, std::uint32_t size, Encoding encoding,
                std::vector<std::uint8_t>* out, CodecError* err) {
  if (value.kind != ValueKind::kText) {
    return Fail(err, symResInvalidParameter,
                ValueForMessage(value) + " is not a text: STRING takes " +
                    RangeText(QXSymTyVarString, size));
  }
  std::string bytes;
  if (!TextFromUtf8(value.text, encoding, &bytes, err)) return false;
  if (bytes.find('\0') != std::string::npos) {
    return Fail(err, symResInvalidParameter,
                detail::Quote(value.text) + " holds a zero byte, which would end the text");
  }
  if (bytes.size() + 1 > size) {
    return Fail(err, symResInvalidParameter,
                detail::Quote(value.text) + " is " + std::to_string(bytes.size()) + " bytes in " +
                    detail::EncodingName(encoding) + "; the tag holds at most " +
                    std::to_string(size - 1));
  }
  std::memcpy(out->data(), bytes.data(), bytes.size());
  return true;
}

bool EncodeBytes(std::uint32_t tyvar, const LeafValue& value, std::uint32_t size,
                 std::vector<std::uint8_t>* out, CodecError* err) {
  if (value.kind != ValueKind::kBytes || value.bytes.size() != size) {
    return Fail(err, symResInvalidParameter,
                ValueForMessage(value) + " does not fit: " + TyVarName(tyvar) + " takes " +
                    RangeText(tyvar, size));
  }
  std::memcpy(out->data(), value.bytes.data(), size);
  return true;
}

bool SizeFault(std::uint32_t tyvar, std::uint32_t width, std::size_t size, CodecError* err) {
  if (width == 0) {
    return Fail(err, symResInvalidTagSize, "a " + TyVarName(tyvar) + " of 0 bytes holds no value");
  }
  return Fail(err, symResInvalidTagSize,
              "a " + TyVarName(tyvar) + " takes " + std::to_string(width) + " bytes; the tag has " +
                  std::to_string(size));
}

}  // namespace

ValueKind KindOf(std::uint32_t tyvar) { return BasicTypeOf(tyvar).kind; }

std::string TyVarName(std::uint32_t tyvar) {
  const detail::BasicType& type = BasicTypeOf(tyvar);
  if (type.name != nullptr) return type.name;
  return "type " + std::to_string(tyvar);
}

std::uint32_t WidthOf(std::uint32_t tyvar) { return BasicTypeOf(tyvar).width; }

const char* ValueKindName(ValueKind kind) {
  static const char* const kNames[] = {"none",  "bool", "signed", "unsigned",
                                       "float", "text", "bytes"};
  auto index = static_cast<std::uint32_t>(kind);
  return index < std::size(kNames) ? kNames[index] : "none";
}

bool DecodeLeaf(std::uint32_t tyvar, const std::uint8_t* data, std::size_t size, Encoding encoding,
                LeafValue* out, CodecError* err) {
  const detail::BasicType& type = BasicTypeOf(tyvar);
  if (out == nullptr || (data == nullptr && size != 0)) {
    return Fail(err, symResInvalidParameter, "no value to decode into or from");
  }
  if (size < type.width) return SizeFault(tyvar, type.width, size, err);
  *out = LeafValue{};
  if (type.kind == ValueKind::kText) {
    const auto* text = reinterpret_cast<const char*>(data);
    std::size_t length = size == 0 ? 0 : strnlen(text, size);
    out->text = TextToUtf8(std::string_view(text, length), encoding);
    out->kind = ValueKind::kText;
    return true;
  }
  if (type.kind == ValueKind::kBytes) {
    out->bytes.assign(data, data + size);
    out->kind = ValueKind::kBytes;
    return true;
  }
  return DecodeNumber(type, data, out);
}

bool EncodeLeaf(std::uint32_t tyvar, const LeafValue& value, std::uint32_t size, Encoding encoding,
                std::vector<std::uint8_t>* out, CodecError* err) {
  const detail::BasicType& type = BasicTypeOf(tyvar);
  if (out == nullptr) return Fail(err, symResInvalidParameter, "no buffer to encode into");
  if (size < type.width || (type.kind == ValueKind::kText && size == 0)) {
    return SizeFault(tyvar, type.width, size, err);
  }
  std::vector<std::uint8_t> bytes(size, 0);
  bool ok = false;
  switch (type.kind) {
    case ValueKind::kBool:
      ok = EncodeBool(value, bytes.data(), err);
      break;
    case ValueKind::kSigned:
    case ValueKind::kUnsigned:
      ok = EncodeInteger(type, value, bytes.data(), err);
      break;
    case ValueKind::kFloat:
      ok = EncodeFloat(type, value, bytes.data(), err);
      break;
    case ValueKind::kText:
      ok = EncodeText(value, size, encoding, &bytes, err);
      break;
    default:
      ok = EncodeBytes(tyvar, value, size, &bytes, err);
  }
  if (ok) *out = std::move(bytes);
  return ok;
}

}  // namespace qxsym::client
