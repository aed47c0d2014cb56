#include "Text.h"

#include <cstddef>

namespace qxsym::sim {

namespace {
// ASCII letters only, as tolower in the "C" locale, but without a call per
// character: a tag filter is matched against every name of the model.
inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::string ToLower(std::string s) {
  for (char& c : s) c = Lower(c);
  return s;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool GlobMatch(const std::string& pattern, const std::string& text) {
  // Iterative match with one backtrack point: linear in practice, and never
  // exponential on patterns full of stars.
  std::size_t p = 0, t = 0;
  std::size_t star = std::string::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(text[t]))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace qxsym::sim
