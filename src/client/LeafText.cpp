// Texts between the controller's 8-bit encodings and UTF-8.
#include <cstdio>

#include "LeafCodec.h"
#include "LeafDetail.h"

namespace qxsym::client {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 from 0x80 to 0x9F. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 controls of the
// same number, so every byte still reads as one character and writes back.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// One character of UTF-8 at text[pos]: its length, and in *cp the code
// point, or U+FFFD and false for an ill-formed sequence. The length of an
// ill-formed sequence is that of its longest valid start (at least 1), so
// each broken piece becomes one replacement character.
bool NextUtf8(std::string_view text, std::size_t pos, char32_t* cp, std::size_t* length) {
  const auto b0 = static_cast<unsigned char>(text[pos]);
  *length = 1;
  *cp = kReplacement;
  if (b0 < 0x80) {
    *cp = b0;
    return true;
  }
  std::size_t need = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    lo = b0 == 0xE0 ? 0xA0 : 0x80;
    hi = b0 == 0xED ? 0x9F : 0xBF;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    lo = b0 == 0xF0 ? 0x90 : 0x80;
    hi = b0 == 0xF4 ? 0x8F : 0xBF;
  } else {
    return false;
  }
  char32_t value = b0 & (0x3F >> need);
  for (std::size_t i = 1; i <= need; ++i) {
    if (pos + i >= text.size()) return false;
    const auto b = static_cast<unsigned char>(text[pos + i]);
    if (b < (i == 1 ? lo : 0x80) || b > (i == 1 ? hi : 0xBF)) return false;
    value = (value << 6) | (b & 0x3F);
    *length = i + 1;
  }
  *cp = value;
  return true;
}

std::string CodePointName(char32_t cp) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(cp));
  return buffer;
}

// The byte for cp in an 8-bit encoding, or -1 when it has none.
int EightBitByte(char32_t cp, Encoding encoding) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  if (encoding == Encoding::kLatin1) return cp <= 0xFF ? static_cast<int>(cp) : -1;
  for (int i = 0; i < 32; ++i) {
    if (kWindows1252High[i] == cp) return 0x80 + i;
  }
  return -1;
}

}  // namespace

namespace detail {

const char* EncodingName(Encoding encoding) {
  switch (encoding) {
    case Encoding::kUtf8:
      return "UTF-8";
    case Encoding::kWindows1252:
      return "Windows-1252";
    default:
      return "Latin-1";
  }
}

// A text in a message: cut after 60 bytes (at a character's start), with
// control characters as \xHH, so a message never carries a zero byte or a
// terminal's control sequence.
std::string Quote(std::string_view text) {
  constexpr std::size_t kLongest = 60;
  std::size_t cut = text.size();
  if (cut > kLongest) {
    cut = kLongest;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  }
  std::string out = "'";
  for (std::size_t i = 0; i < cut; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != 0x7F) {
      out += static_cast<char>(c);
      continue;
    }
    static const char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out + (cut < text.size() ? "...'" : "'");
}

}  // namespace detail

const char* EncodingKey(Encoding encoding) {
  switch (encoding) {
    case Encoding::kUtf8:
      return "utf8";
    case Encoding::kWindows1252:
      return "windows1252";
    default:
      return "latin1";
  }
}

bool EncodingNamed(std::string_view name, Encoding* out) {
  // Compared in lower case without '-' and '_': "UTF-8" is "utf8".
  std::string key;
  for (char c : name) {
    if (c == '-' || c == '_') continue;
    key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  Encoding found;
  if (key == "latin1" || key == "iso88591") {
    found = Encoding::kLatin1;
  } else if (key == "utf8") {
    found = Encoding::kUtf8;
  } else if (key == "windows1252" || key == "cp1252") {
    found = Encoding::kWindows1252;
  } else {
    return false;
  }
  if (out != nullptr) *out = found;
  return true;
}

std::string TextToUtf8(std::string_view bytes, Encoding encoding) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[pos]);
    if (encoding == Encoding::kUtf8) {
      char32_t cp;
      std::size_t length;
      NextUtf8(bytes, pos, &cp, &length);
      AppendUtf8(cp, &out);
      pos += length;
      continue;
    }
    bool table = encoding == Encoding::kWindows1252 && b >= 0x80 && b < 0xA0;
    AppendUtf8(table ? kWindows1252High[b - 0x80] : b, &out);
    ++pos;
  }
  return out;
}

bool TextFromUtf8(std::string_view utf8, Encoding encoding, std::string* out, CodecError* err) {
  std::string bytes;
  bytes.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t cp;
    std::size_t length;
    if (!NextUtf8(utf8, pos, &cp, &length)) {
      return detail::Fail(err, symResInvalidParameter,
                          "the text is not valid UTF-8 (at byte " + std::to_string(pos) + ")");
    }
    if (encoding == Encoding::kUtf8) {
      bytes.append(utf8.substr(pos, length));
    } else {
      int byte = EightBitByte(cp, encoding);
      if (byte < 0) {
        return detail::Fail(err, symResInvalidParameter,
                            detail::Quote(utf8) + " cannot be written in " +
                                detail::EncodingName(encoding) + ": it has no character " +
                                CodePointName(cp) + " ('" + std::string(utf8.substr(pos, length)) +
                                "')");
      }
      bytes += static_cast<char>(byte);
    }
    pos += length;
  }
  if (out != nullptr) *out = std::move(bytes);
  return true;
}

}  // namespace qxsym::client
