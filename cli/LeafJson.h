// Leaf values of the client core as JSON and as text for a terminal, and
// the JSON documents the tool prints.
#pragma once

#include <LeafCodec.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace qxsym::cli {

using Json = nlohmann::ordered_json;

// The value as JSON: numbers, true/false, text; 64-bit integers beyond
// 2^53 in magnitude as decimal strings (JSON readers keep doubles); NaN and
// infinities as the strings "NaN", "Infinity", "-Infinity"; bytes as the
// core's hex text.
Json LeafJson(const client::LeafValue& value);

// The value as text for a terminal: the core's text, texts in double quotes.
std::string LeafDisplay(const client::LeafValue& value);

// A JSON value given for a leaf of basic type tyvar: booleans and numbers as
// they are, a string parsed by the type (IEC literals, a STRING's text).
// False with err set (symResInvalidParameter) for lists, objects and null,
// and for strings the type cannot read; the range is checked on encoding.
bool JsonLeaf(std::uint32_t tyvar, const Json& value, client::LeafValue* out,
              client::CodecError* err);

// The document indented by two spaces, except that a list of numbers,
// booleans and texts stays on one line (arrays of values read well so).
// Invalid UTF-8 in texts is replaced, never thrown about.
std::string PrettyJson(const Json& doc);

// The value on one line, as PrettyJson writes its scalars: invalid UTF-8
// replaced, and every control character escaped (DEL and C1 included), so a
// document never carries one raw.
std::string CompactJson(const Json& doc);

}  // namespace qxsym::cli
