// Small text helpers of the simulator: case-insensitive comparison and the
// glob match of tag filters.
#pragma once

#include <string>

namespace qxsym::sim {

std::string ToLower(std::string s);
bool EqualsNoCase(const std::string& a, const std::string& b);
// '*' matches any run of characters, '?' exactly one; case is ignored.
bool GlobMatch(const std::string& pattern, const std::string& text);

}  // namespace qxsym::sim
