#include "Output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace qxsym::cli {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

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
