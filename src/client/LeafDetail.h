// What the leaf codec's files share: the table of basic types and the
// pieces of its messages. Private to LeafCodec.cpp, LeafText.cpp and
// LeafParse.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "LeafCodec.h"

namespace qxsym::client::detail {

// One basic type: its name, its width in bytes (0 for STRING and the types
// decoded as bytes, whose width is the leaf's size) and what it decodes to.
struct BasicType {
  std::uint32_t tyvar;
  const char* name;
  std::uint32_t width;
  ValueKind kind;
};

// The row of tyvar; a row of width 0 and kind kBytes for any other value.
const BasicType& BasicTypeOf(std::uint32_t tyvar);

// The row whose name is `name` (case-insensitive), or null.
const BasicType* BasicTypeNamed(std::string_view name);

// What a leaf of this type and size takes, for messages: "-128 to 127",
// "at most 9 bytes of text", ...
std::string RangeText(std::uint32_t tyvar, std::uint32_t size);

// Sets err (when given) and answers false, so refusals read `return Fail(...)`.
bool Fail(CodecError* err, QXSymResult code, std::string message);

// text between single quotes, cut after 60 bytes at a character boundary.
std::string Quote(std::string_view text);

// A value as messages show it: numbers and TRUE/FALSE as FormatLeafText
// gives them, texts quoted.
std::string ValueForMessage(const LeafValue& value);

// The encoding's name for people: "Latin-1", "UTF-8", "Windows-1252".
const char* EncodingName(Encoding encoding);

// The shortest decimal text that reads back as the same double (or, with
// as_float, the same float): "0.1", "1e+39", "inf", "-inf", "nan", "-0".
std::string ShortestText(double value, bool as_float);

}  // namespace qxsym::client::detail
