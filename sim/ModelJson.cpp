#include "ModelJson.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <string_view>

#include "ModelLoader.h"
#include "Text.h"

namespace qxsym::sim::loader {

void Fail(const std::string& where, const std::string& message) { throw LoadError{where, message}; }

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b])) != 0) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])) != 0) --e;
  return s.substr(b, e - b);
}

std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

void CheckObject(const json& j, const std::string& where) {
  if (!j.is_object()) Fail(where, "expected an object");
}

void CheckKeys(const json& j, std::initializer_list<const char*> allowed,
               const std::string& where) {
  for (auto it = j.begin(); it != j.end(); ++it) {
    bool known = false;
    for (const char* a : allowed) known = known || it.key() == a;
    if (!known) Fail(where, "unknown key '" + it.key() + "'");
  }
}

const json* Find(const json& j, const char* key) {
  auto it = j.find(key);
  return it == j.end() ? nullptr : &*it;
}

std::string GetString(const json& j, const char* key, const std::string& where, bool required) {
  const json* v = Find(j, key);
  if (v == nullptr) {
    if (required) Fail(where, std::string("missing '") + key + "'");
    return std::string();
  }
  if (!v->is_string()) Fail(where + "." + key, "expected a string");
  return v->get<std::string>();
}

bool GetBool(const json& j, const char* key, const std::string& where) {
  const json* v = Find(j, key);
  if (v == nullptr) return false;
  if (!v->is_boolean()) Fail(where + "." + key, "expected true or false");
  return v->get<bool>();
}

double GetDouble(const json& j, const char* key, double fallback, const std::string& where) {
  const json* v = Find(j, key);
  if (v == nullptr) return fallback;
  if (!v->is_number()) Fail(where + "." + key, "expected a number");
  return v->get<double>();
}

// An unsigned number, written as a JSON number or as a text in decimal or
// with a 0x prefix in hexadecimal ("0x00100000").
std::uint64_t GetUnsigned(const json& v, const std::string& where) {
  if (v.is_number_unsigned()) return v.get<std::uint64_t>();
  if (v.is_number_integer()) Fail(where, "must not be negative");
  if (v.is_string()) {
    std::string s = Trim(v.get<std::string>());
    int radix = 10;
    std::size_t i = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
      radix = 16;
      i = 2;
    }
    if (i == s.size()) Fail(where, "expected a number");
    std::uint64_t r = 0;
    for (; i < s.size(); ++i) {
      int d;
      char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if (radix == 16 && c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
      } else {
        Fail(where, "'" + s + "' is not a number");
      }
      if (r > (std::numeric_limits<std::uint64_t>::max() - static_cast<std::uint64_t>(d)) /
                  static_cast<std::uint64_t>(radix)) {
        Fail(where, "'" + s + "' is too large");
      }
      r = r * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(d);
    }
    return r;
  }
  Fail(where, "expected an unsigned number");
}

void CheckName(const std::string& name, const std::string& where) {
  bool ok = !name.empty() && name.size() <= ModelLoader::kMaxName &&
            (std::isalpha(static_cast<unsigned char>(name[0])) != 0 || name[0] == '_');
  for (char c : name) ok = ok && (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_');
  if (!ok) Fail(where, "'" + name + "' is not a valid name (letters, digits and _, at most 259)");
}

// Global tags may also carry the marks that controllers put into the names
// of system and namespaced variables ('.', '$', ...) and bytes beyond ASCII;
// never blanks, list wildcards, brackets or commas.
void CheckTagName(const std::string& name, const std::string& where) {
  const auto marked = [](unsigned char c) {
    return std::isalnum(c) != 0 || c == '_' || c >= 0x80 ||
           std::string_view(".$#%&+-@!~^").find(static_cast<char>(c)) != std::string_view::npos;
  };
  bool ok = !name.empty() && name.size() <= ModelLoader::kMaxName &&
            std::isdigit(static_cast<unsigned char>(name[0])) == 0 && name.front() != '.' &&
            name.back() != '.';
  for (char c : name) ok = ok && marked(static_cast<unsigned char>(c));
  if (!ok) {
    Fail(where,
         "'" + name + "' is not a valid name (letters, digits, _ and .$#%&+-@!~^, at most 259)");
  }
}

Attributes GetAttributes(const json& j, const std::string& where) {
  Attributes out;
  const json* a = Find(j, "attributes");
  if (a == nullptr) return out;
  if (!a->is_object()) Fail(where + ".attributes", "expected an object of texts");
  for (auto it = a->begin(); it != a->end(); ++it) {
    if (it.key().empty()) Fail(where + ".attributes", "an attribute needs a name");
    if (!it->is_string()) Fail(where + ".attributes." + it.key(), "expected a string");
    out.emplace_back(it.key(), it->get<std::string>());
  }
  return out;
}

std::string Where(const std::string& list, std::size_t index, const std::string& name) {
  std::string w = list + "[" + std::to_string(index) + "]";
  if (!name.empty()) w += " (" + name + ")";
  return w;
}

// "ARRAY[1..8, 0..2] OF REAL": the ranges and the element's text.
bool ParseArrayExpr(const std::string& expr, std::vector<ArrayDim>* dims, std::string* element) {
  std::size_t p = 5;  // after "ARRAY"
  auto skip = [&] {
    while (p < expr.size() && std::isspace(static_cast<unsigned char>(expr[p])) != 0) ++p;
  };
  auto number = [&](std::int64_t* out) {
    skip();
    bool neg = false;
    if (p < expr.size() && (expr[p] == '-' || expr[p] == '+')) neg = expr[p++] == '-';
    if (p >= expr.size() || std::isdigit(static_cast<unsigned char>(expr[p])) == 0) return false;
    std::int64_t v = 0;
    while (p < expr.size() && std::isdigit(static_cast<unsigned char>(expr[p])) != 0) {
      v = v * 10 + (expr[p++] - '0');
      if (v > (std::int64_t{1} << 31)) return false;
    }
    *out = neg ? -v : v;
    return true;
  };
  skip();
  if (p >= expr.size() || expr[p] != '[') return false;
  ++p;
  for (;;) {
    ArrayDim d;
    if (!number(&d.lower)) return false;
    skip();
    if (expr.compare(p, 2, "..") != 0) return false;
    p += 2;
    if (!number(&d.upper)) return false;
    dims->push_back(d);
    skip();
    if (p < expr.size() && expr[p] == ',') {
      ++p;
      continue;
    }
    if (p < expr.size() && expr[p] == ']') {
      ++p;
      break;
    }
    return false;
  }
  skip();
  if (p + 2 > expr.size() || Upper(expr.substr(p, 2)) != "OF") return false;
  p += 2;
  if (p >= expr.size() || std::isspace(static_cast<unsigned char>(expr[p])) == 0) return false;
  *element = Trim(expr.substr(p));
  return !element->empty();
}

std::string DimsText(const std::vector<ArrayDim>& dims) {
  std::string s = "[";
  for (std::size_t k = 0; k < dims.size(); ++k) {
    if (k > 0) s += ",";
    s += std::to_string(dims[k].lower) + ".." + std::to_string(dims[k].upper);
  }
  return s + "]";
}

}  // namespace qxsym::sim::loader
