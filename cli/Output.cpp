#include "Output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace qxsym::cli {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

namespace {

void PutHex(std::string& out, unsigned char c) {
  static const char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 0xF];
}

// Length of the well-formed UTF-8 sequence at text[i] of two or more bytes,
// 0 when there is none.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const std::size_t n = lead >= 0xC2 && lead <= 0xDF   ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
  if (n == 0 || text.size() - i < n) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

}  // namespace

std::string Escaped(std::string_view text, std::string_view also) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7F) {
        PutHex(out, c);
      } else {
        if (c == '\\' || also.find(static_cast<char>(c)) != std::string_view::npos) out += '\\';
        out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      // A byte of 8-bit text; 0x80 to 0x9F are the C1 controls there.
      if (c <= 0x9F) {
        PutHex(out, c);
      } else {
        out += static_cast<char>(c);
      }
      ++i;
    } else if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      PutHex(out, c);  // U+0080 to U+009F, the C1 controls in UTF-8
      PutHex(out, static_cast<unsigned char>(text[i + 1]));
      i += 2;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

Style StyleFor(std::FILE* stream) {
  const char* no_color = std::getenv("NO_COLOR");
  Style style;
  style.color = IsTerminal(stream) && (no_color == nullptr || *no_color == '\0');
  return style;
}

void PrintTable(std::ostream& out, const Style& style, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows,
                const std::vector<std::size_t>& right_aligned) {
  std::vector<std::size_t> width(header.size(), 0);
  auto measure = [&](const std::vector<std::string>& row) {
    for (std::size_t c = 0; c < row.size() && c < width.size(); ++c) {
      width[c] = std::max(width[c], row[c].size());
    }
  };
  measure(header);
  for (const auto& row : rows) measure(row);
  auto emit = [&](const std::vector<std::string>& row, bool is_header) {
    std::string line;
    for (std::size_t c = 0; c < row.size() && c < width.size(); ++c) {
      bool last = c + 1 == row.size();
      std::string pad(width[c] - row[c].size(), ' ');
      bool right = std::find(right_aligned.begin(), right_aligned.end(), c) != right_aligned.end();
      std::string cell = is_header ? style.Bold(row[c]) : row[c];
      if (right) {
        line += pad + cell;
      } else {
        line += cell;
        if (!last) line += pad;
      }
      if (!last) line += "  ";
    }
    out << line << '\n';
  };
  emit(header, true);
  for (const auto& row : rows) emit(row, false);
}

}  // namespace qxsym::cli
