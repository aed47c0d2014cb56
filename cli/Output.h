// Terminal output: colour only on a terminal and without NO_COLOR, aligned
// tables.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace qxsym::cli {

struct Style {
  bool color = false;
  std::string Paint(const char* code, const std::string& text) const {
    return color ? "\033[" + std::string(code) + "m" + text + "\033[0m" : text;
  }
  std::string Bold(const std::string& t) const { return Paint("1", t); }
  std::string Dim(const std::string& t) const { return Paint("2", t); }
  std::string Red(const std::string& t) const { return Paint("31", t); }
  std::string Green(const std::string& t) const { return Paint("32", t); }
  std::string Yellow(const std::string& t) const { return Paint("33", t); }
  std::string Cyan(const std::string& t) const { return Paint("36", t); }
};

// Colour when the stream is a terminal and NO_COLOR is unset or empty.
Style StyleFor(std::FILE* stream);

bool IsTerminal(std::FILE* stream);

// Text from a controller made safe to print: control characters (C0, DEL,
// and C1 both as UTF-8 and as single bytes) become \xHH per byte, a
// backslash and each character of `also` get a backslash before them;
// everything else, UTF-8 and other 8-bit text, stays as it is. A name that
// holds line breaks or terminal escapes can then neither split a listing
// nor drive the terminal.
std::string Escaped(std::string_view text, std::string_view also = {});

// Columns padded to their widest cell; the header in bold. Columns listed in
// right_aligned (by index) are aligned right; the last column is not padded.
void PrintTable(std::ostream& out, const Style& style, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows,
                const std::vector<std::size_t>& right_aligned = {});

}  // namespace qxsym::cli
