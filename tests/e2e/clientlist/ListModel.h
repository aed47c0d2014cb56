// The model the listing tests run on, written as a simulator model file,
// and an independent glob over its names to check listings against.
#pragma once

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace qxsym::test {

struct ModelTag {
  std::string name;  // as the source holds it (the model file's UTF-8 bytes)
  std::string type;
  std::string description;
  bool read_only = false;
  int bit = -1;
};

// More than two full list replies of names made of digits, '_', '.', '$',
// upper- and lower-case letters and bytes beyond ASCII, with shared
// prefixes and suffixes.
inline std::vector<ModelTag> ListModelTags() {
  std::vector<ModelTag> tags;
  char buf[64];
  for (int i = 0; i < 620; ++i) {
    std::snprintf(buf, sizeof buf, "Motor%04d", i);
    tags.push_back({buf, i % 3 == 0 ? "DINT" : "REAL", "Drive " + std::to_string(i), i % 7 == 0});
  }
  for (int i = 0; i < 310; ++i) {
    std::snprintf(buf, sizeof buf, "GVL.Speed%03d", i);
    tags.push_back({buf, "LREAL", "", i % 2 == 0});
  }
  for (int i = 0; i < 160; ++i) {
    std::snprintf(buf, sizeof buf, "$Sys%03d", i);
    tags.push_back({buf, "UDINT", "System word " + std::to_string(i)});
  }
  for (int i = 0; i < 140; ++i) {
    std::snprintf(buf, sizeof buf,
                  i % 2 ? "Zo\xC3\xAB%03d"
                        : "\xC3\x9C"
                          "ber%03d",
                  i);
    tags.push_back({buf, "STRING[16]", "Text \xC3\xA4 " + std::to_string(i)});
  }
  for (int i = 0; i < 8; ++i) {
    tags.push_back({"Key" + std::to_string(i), "BOOL", "Key switch", false, i});
  }
  for (const char* n : {"A", "_x", "M0", "Motor.Temp", "mixedCase", "MIXEDcase2", "a.b.c"}) {
    tags.push_back({n, "INT", ""});
  }
  return tags;
}

inline std::string ModelJson(const std::vector<ModelTag>& tags) {
  std::string j =
      "{\"name\":\"listing\",\"memory\":{\"base\":\"0x00100000\",\"size\":1048576},\"tags\":[";
  for (std::size_t i = 0; i < tags.size(); ++i) {
    const ModelTag& t = tags[i];
    j += i ? "," : "";
    j += "{\"name\":\"" + t.name + "\",\"type\":\"" + t.type + "\"";
    if (!t.description.empty()) j += ",\"description\":\"" + t.description + "\"";
    if (t.read_only) j += ",\"read_only\":true";
    if (t.bit >= 0) j += ",\"address\":\"0x001FFF00\",\"bit\":" + std::to_string(t.bit);
    j += "}";
  }
  return j + "]}";
}

// The source's matching: '*' any run, '?' one byte, ASCII letters without
// regard to case.
inline bool GlobMatches(const char* p, const char* t) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
  if (*p == '\0') return *t == '\0';
  if (*p == '*') {
    for (const char* s = t;; ++s) {
      if (GlobMatches(p + 1, s)) return true;
      if (*s == '\0') return false;
    }
  }
  if (*t == '\0') return false;
  if (*p != '?' && lower(*p) != lower(*t)) return false;
  return GlobMatches(p + 1, t + 1);
}

inline std::set<std::string> Expected(const std::vector<ModelTag>& tags,
                                      const std::string& filter) {
  std::set<std::string> out;
  for (const ModelTag& t : tags) {
    if (filter.empty() || GlobMatches(filter.c_str(), t.name.c_str())) out.insert(t.name);
  }
  return out;
}

}  // namespace qxsym::test
