#include "LeafJson.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qxsym::cli {
namespace {

using client::CodecError;
using client::LeafValue;
using client::ValueKind;

// Integers beyond this magnitude lose digits in a JSON reader's double.
constexpr std::uint64_t kExactInDouble = 9007199254740992ULL;  // 2^53

Json FloatJson(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  return v;
}

}  // namespace

Json LeafJson(const LeafValue& value) {
  switch (value.kind) {
    case ValueKind::kBool:
      return value.b;
    case ValueKind::kSigned: {
      const bool exact = value.i >= -static_cast<std::int64_t>(kExactInDouble) &&
                         value.i <= static_cast<std::int64_t>(kExactInDouble);
      return exact ? Json(value.i) : Json(std::to_string(value.i));
    }
    case ValueKind::kUnsigned:
      return value.u <= kExactInDouble ? Json(value.u) : Json(std::to_string(value.u));
    case ValueKind::kFloat:
      return FloatJson(value.f);
    case ValueKind::kText:
      return value.text;
    default:
      return client::FormatLeafText(value);
  }
}

std::string LeafDisplay(const LeafValue& value) {
  if (value.kind == ValueKind::kText) return "\"" + value.text + "\"";
  return client::FormatLeafText(value);
}

bool JsonLeaf(std::uint32_t tyvar, const Json& value, LeafValue* out, CodecError* err) {
  if (value.is_string()) {
    return client::ParseLeafText(tyvar, value.get_ref<const std::string&>(), out, err);
  }
  LeafValue v;
  if (value.is_boolean()) {
    v.kind = ValueKind::kBool;
    v.b = value.get<bool>();
  } else if (value.is_number_unsigned()) {
    v.kind = ValueKind::kUnsigned;
    v.u = value.get<std::uint64_t>();
  } else if (value.is_number_integer()) {
    v.kind = ValueKind::kSigned;
    v.i = value.get<std::int64_t>();
  } else if (value.is_number_float()) {
    v.kind = ValueKind::kFloat;
    v.f = value.get<double>();
  } else {
    err->code = symResInvalidParameter;
    err->message = CompactJson(value) + " is not a value of type " + client::TyVarName(tyvar);
    return false;
  }
  *out = std::move(v);
  return true;
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
