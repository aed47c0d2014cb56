// One leaf value (a tag or member of a basic type) between the controller's
// bytes and a plain value: the one set of value and text rules that every
// front end (qxsym, Node, Python, the explorer) goes through.
#pragma once

#include <QXSymbols.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qxsym::client {

// How the controller's 8-bit texts map to characters. Latin-1 maps every
// byte to one character, so any stored text survives a read and a write.
enum class Encoding : std::uint32_t { kLatin1 = 0, kUtf8 = 1, kWindows1252 = 2 };

// What a leaf decodes to. BOOL: kBool; SINT, INT, DINT, LINT: kSigned;
// USINT, UINT, UDINT, ULINT and the bit strings: kUnsigned; REAL, LREAL:
// kFloat; STRING: kText; every other basic type: kBytes.
enum class ValueKind : std::uint32_t {
  kNone = 0,
  kBool = 1,
  kSigned = 2,
  kUnsigned = 3,
  kFloat = 4,
  kText = 5,
  kBytes = 6,
};

struct LeafValue {
  ValueKind kind = ValueKind::kNone;
  bool b = false;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double f = 0;
  std::string text;                 // kText: UTF-8
  std::vector<std::uint8_t> bytes;  // kBytes
};

// Why a value was refused: a result code and a sentence for people.
struct CodecError {
  QXSymResult code = symResOk;
  std::string message;
};

// The kind a basic variable type (QXSymTyVar*) decodes to.
ValueKind KindOf(std::uint32_t tyvar);

// The IEC name of a basic variable type ("BOOL", "INT", ...), "type N" else.
std::string TyVarName(std::uint32_t tyvar);

// The width in bytes of a basic variable type: 1, 2, 4 or 8; 0 for STRING
// and the types decoded as kBytes, whose width is the leaf's size.
std::uint32_t WidthOf(std::uint32_t tyvar);

// The name of a value kind as the shared test vectors and the front ends'
// adapters write it: "bool", "signed", "unsigned", "float", "text",
// "bytes"; "none" for kNone.
const char* ValueKindName(ValueKind kind);

// The short name of an encoding: "latin1", "utf8" or "windows1252".
const char* EncodingKey(Encoding encoding);

// An encoding named by people or configuration: the short names above and
// "latin-1", "iso-8859-1", "utf-8", "windows-1252", "cp1252", in any case.
// False, *out untouched, for any other name.
bool EncodingNamed(std::string_view name, Encoding* out);

// Decodes `size` little-endian bytes of basic type tyvar. Texts end at the
// first zero byte and are decoded from `encoding` to UTF-8 (invalid UTF-8
// from the controller is replaced, never passed on). False with err set when
// size does not fit the type.
// Result codes: symResInvalidTagSize when size is below the type's width
// (nothing beyond `size` bytes is ever read), symResInvalidParameter when
// out is null or data is null with a size. A REAL decodes to the double its
// shortest decimal text names (0.1, not 0.100000001490116), which encodes
// back to the same bits. Sizes beyond the width: the first width bytes.
bool DecodeLeaf(std::uint32_t tyvar, const std::uint8_t* data, std::size_t size, Encoding encoding,
                LeafValue* out, CodecError* err);

// Encodes value into exactly `size` bytes for a leaf of basic type tyvar.
// Numbers of any numeric kind are accepted where they fit the type exactly:
// integers within the type's range, a float into an integer only when it has
// no fraction, REAL only finite values within its range (an explicit
// infinity or NaN is stored as such, a finite value beyond the range is
// refused, never turned into infinity). BOOL takes kBool or the numbers 0
// and 1. STRING takes kText, encoded into `encoding` (a character the
// encoding cannot carry is refused) and at most size - 1 bytes, zero-padded;
// lengths in messages are counted in bytes. kBytes must hold exactly size
// bytes. On refusal: false, err->code symResInvalidParameter and a message
// naming the value, the type and its range.
// Also: symResInvalidTagSize when size is below the type's width or a
// STRING has size 0; kBytes is taken only by the types that decode to
// kBytes; a text must be valid UTF-8 and hold no zero character; bytes
// beyond the type's width are zero. *out is changed only on success.
bool EncodeLeaf(std::uint32_t tyvar, const LeafValue& value, std::uint32_t size, Encoding encoding,
                std::vector<std::uint8_t>* out, CodecError* err);

// A value typed by a person for a leaf of basic type tyvar: integers in
// decimal or as IEC literals (2#1010, 8#17, 16#FF, with '_' separators and
// an optional type prefix such as INT#), 0x.. hex; BOOL as TRUE/FALSE/1/0 in
// any case; REAL and LREAL as decimal numbers, inf and nan; STRING as the
// text itself. The result is checked only by EncodeLeaf, except that a
// typed literal must fit its own type (SINT#200 is refused) and a value
// beyond 64 bits or beyond LREAL cannot be held. Refusals:
// symResInvalidParameter with a message naming the text and the type.
bool ParseLeafText(std::uint32_t tyvar, std::string_view text, LeafValue* out, CodecError* err);

// The value as text for people: numbers in decimal, TRUE/FALSE, texts as
// they are, bytes in hex.
std::string FormatLeafText(const LeafValue& value);

// Text conversions between a controller's bytes and UTF-8. TextToUtf8
// always gives valid UTF-8 (broken UTF-8 pieces become U+FFFD);
// TextFromUtf8 refuses input that is not valid UTF-8 and characters the
// encoding cannot carry (symResInvalidParameter); out may be null to check.
std::string TextToUtf8(std::string_view bytes, Encoding encoding);
bool TextFromUtf8(std::string_view utf8, Encoding encoding, std::string* out, CodecError* err);

}  // namespace qxsym::client
