// Values of basic types between the controller's bytes (little-endian) and
// text or JSON: formatting for output, parsing with range checks for writes.
#pragma once

#include <QXSymbols.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace qxsym::cli {

using Json = nlohmann::ordered_json;

// "BOOL", "INT", ... for a basic variable type; "type 18" otherwise.
std::string TyVarName(std::uint32_t tyvar);

// The value as JSON: numbers, true/false, text; 64-bit integers beyond
// 2^53 in magnitude as decimal strings (JSON readers keep doubles); NaN and
// infinities as the strings "NaN", "Infinity", "-Infinity". Types without a
// decoding (pointers, unknown) as a string of hex bytes.
Json DecodeJson(std::uint32_t tyvar, const std::uint8_t* data, std::size_t size);

// The value as text for a terminal: numbers in decimal (bit strings also in
// 16# hex), TRUE/FALSE, texts in double quotes.
std::string DecodeText(std::uint32_t tyvar, const std::uint8_t* data, std::size_t size);

// The bytes of a value of `size` bytes parsed from text. Integers in decimal,
// 16#.. or 0x..; BOOL as TRUE/FALSE/1/0 (any case); REAL and LREAL as
// decimal numbers; STRING as the text itself, zero-padded to size. Throws
// CliError(symResInvalidParameter) naming the value, the type and its range.
std::vector<std::uint8_t> EncodeText(std::uint32_t tyvar, std::string_view text,
                                     std::uint32_t size);

// As EncodeText from a JSON value: numbers, booleans and strings (a string
// is parsed as text for non-STRING types).
std::vector<std::uint8_t> EncodeJson(std::uint32_t tyvar, const Json& value, std::uint32_t size);

// The document indented by two spaces, except that a list of numbers,
// booleans and texts stays on one line (arrays of values read well so).
// Invalid UTF-8 in texts is replaced, never thrown about.
std::string PrettyJson(const Json& doc);

// The value on one line, as PrettyJson writes its scalars: invalid UTF-8
// replaced, and every control character escaped (DEL and C1 included), so a
// document never carries one raw.
std::string CompactJson(const Json& doc);

// Whether the tool formats and parses this basic type itself.
bool IsKnownTyVar(std::uint32_t tyvar);

}  // namespace qxsym::cli
