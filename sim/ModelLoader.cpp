#include "ModelLoader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <new>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>

#include "Text.h"
#include "Values.h"

namespace qxsym::sim {

using nlohmann::json;

namespace {

constexpr std::uint64_t kDefaultBase = 0x00100000;
constexpr std::uint64_t kImageGranule = 1024;

// Thrown inside the loader only; Load turns it into the error text.
struct LoadError {
  std::string where;
  std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& message) {
  throw LoadError{where, message};
}

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

}  // namespace

// ---- Entry points ---------------------------------------------------------------

std::shared_ptr<SymbolModel> SymbolModel::LoadFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error != nullptr) *error = path + ": cannot open the file";
    return nullptr;
  }
  in.seekg(0, std::ios::end);
  std::streamoff length = in.tellg();
  if (length < 0) {
    if (error != nullptr) *error = path + ": cannot read the file";
    return nullptr;
  }
  if (static_cast<std::uint64_t>(length) > ModelLoader::kMaxMemory) {
    if (error != nullptr) *error = path + ": the file exceeds 256 MiB";
    return nullptr;
  }
  in.seekg(0, std::ios::beg);
  std::string text(static_cast<std::size_t>(length), '\0');
  if (length > 0 && !in.read(&text[0], length)) {
    if (error != nullptr) *error = path + ": cannot read the file";
    return nullptr;
  }
  return ModelLoader(path).Load(text, error);
}

std::shared_ptr<SymbolModel> SymbolModel::LoadString(const std::string& text, std::string* error,
                                                     const std::string& source_name) {
  return ModelLoader(source_name).Load(text, error);
}

std::shared_ptr<SymbolModel> ModelLoader::Load(const std::string& text, std::string* error) {
  try {
    json root;
    try {
      root = json::parse(text);
    } catch (const json::parse_error& e) {
      std::string what = e.what();
      std::size_t cut = what.find("] ");
      Fail("", "invalid JSON: " + (cut == std::string::npos ? what : what.substr(cut + 2)));
    }
    CheckObject(root, "the model");
    CheckKeys(root, {"name", "description", "memory", "types", "tags", "simulate", "variables"},
              "the model");
    model_.reset(new SymbolModel());
    model_->source_ = text;
    model_->name_ = GetString(root, "name", "the model", false);
    AddBasicTypes();

    model_->base_ = kDefaultBase;
    if (const json* mem = Find(root, "memory")) {
      CheckObject(*mem, "memory");
      CheckKeys(*mem, {"base", "size"}, "memory");
      if (const json* b = Find(*mem, "base")) model_->base_ = GetUnsigned(*b, "memory.base");
      if (const json* s = Find(*mem, "size")) {
        memory_size_ = GetUnsigned(*s, "memory.size");
        if (memory_size_ == 0 || memory_size_ > kMaxMemory) {
          Fail("memory.size", "must be between 1 byte and 256 MiB");
        }
      }
      if (model_->base_ > std::numeric_limits<std::uint64_t>::max() - kMaxMemory) {
        Fail("memory.base", "too close to the end of the address space");
      }
    }

    if (const json* types = Find(root, "types")) DeclareTypes(*types);
    for (const std::string& key : declared_order_) ResolveNamed(declared_.at(key));

    const json* tags = Find(root, "tags");
    if (tags == nullptr) Fail("the model", "missing 'tags'");
    LoadTags(*tags);

    if (const json* sims = Find(root, "simulate")) {
      if (!sims->is_array()) Fail("simulate", "expected a list");
      for (std::size_t i = 0; i < sims->size(); ++i) {
        const json& s = (*sims)[i];
        std::string where = Where("simulate", i, "");
        CheckObject(s, where);
        std::string path = GetString(s, "path", where, true);
        LoadSimulation(s, ResolvePath(path, where + ".path"), where);
      }
    }
    LoadVariables(Find(root, "variables"));
    return std::shared_ptr<SymbolModel>(model_.release());
  } catch (const LoadError& e) {
    if (error != nullptr) {
      *error = source_name_ + ": " + (e.where.empty() ? "" : e.where + ": ") + e.message;
    }
  } catch (const json::exception& e) {
    if (error != nullptr) *error = source_name_ + ": " + e.what();
  } catch (const std::bad_alloc&) {
    if (error != nullptr) *error = source_name_ + ": out of memory";
  }
  return nullptr;
}

// ---- Types ------------------------------------------------------------------------

Type* ModelLoader::NewType(std::string name) {
  model_->types_.push_back(std::make_unique<Type>());
  Type* t = model_->types_.back().get();
  t->name = std::move(name);
  return t;
}

void ModelLoader::AddBasicTypes() {
  constexpr std::uint32_t kB = QXSymTypeIsBasic, kN = QXSymTypeIsNumeric, kS = QXSymTypeIsSigned,
                          kI = QXSymTypeIsInteger;
  struct Basic {
    const char* name;
    std::uint32_t tyvar, size, properties;
  };
  static const Basic kBasics[] = {
      {"BOOL", QXSymTyVarBool, 1, kB},
      {"SINT", QXSymTyVarSInt, 1, kB | kN | kS | kI},
      {"USINT", QXSymTyVarUSInt, 1, kB | kN | kI},
      {"BYTE", QXSymTyVarByte, 1, kB | kI},
      {"INT", QXSymTyVarInt, 2, kB | kN | kS | kI},
      {"UINT", QXSymTyVarUInt, 2, kB | kN | kI},
      {"WORD", QXSymTyVarWord, 2, kB | kI},
      {"DINT", QXSymTyVarDInt, 4, kB | kN | kS | kI},
      {"UDINT", QXSymTyVarUDInt, 4, kB | kN | kI},
      {"DWORD", QXSymTyVarDWord, 4, kB | kI},
      {"LINT", QXSymTyVarLInt, 8, kB | kN | kS | kI},
      {"ULINT", QXSymTyVarULInt, 8, kB | kN | kI},
      {"LWORD", QXSymTyVarLWord, 8, kB | kI},
      {"REAL", QXSymTyVarReal, 4, kB | kN | kS},
      {"LREAL", QXSymTyVarLReal, 8, kB | kN | kS},
  };
  for (const Basic& b : kBasics) {
    Type* t = NewType(b.name);
    t->kind = TypeKind::kBasic;
    t->tyvar = b.tyvar;
    t->size = b.size;
    t->align = b.size;
    t->properties = b.properties;
    model_->type_index_[ToLower(t->name)] = t;
  }
}

const Type* ModelLoader::MakeString(std::uint32_t length, bool bare) {
  std::string name = bare ? "STRING" : "STRING[" + std::to_string(length) + "]";
  auto it = anonymous_.find(ToLower(name));
  if (it != anonymous_.end()) return it->second;
  Type* t = NewType(name);
  t->kind = TypeKind::kString;
  t->tyvar = QXSymTyVarString;
  t->size = length + 1;
  t->align = 1;
  t->string_length = length;
  t->properties = QXSymTypeIsBasic | QXSymTypeIsString;
  anonymous_[ToLower(name)] = t;
  return t;
}

const Type* ModelLoader::MakeArray(const std::string& name, const Type* element,
                                   const std::vector<ArrayDim>& dims, const std::string& where) {
  if (dims.empty() || dims.size() > 3) Fail(where, "an array has one to three dimensions");
  std::uint64_t count = 1;
  for (const ArrayDim& d : dims) {
    if (d.upper < d.lower) Fail(where, "array bounds " + DimsText(dims) + " are empty");
    count *= static_cast<std::uint64_t>(d.upper - d.lower + 1);
    if (count > kMaxMemory) Fail(where, "array " + DimsText(dims) + " is too large");
  }
  std::uint64_t size = count * element->size;
  if (size > kMaxMemory) Fail(where, "array " + DimsText(dims) + " exceeds 256 MiB");
  Type* t = NewType(name);
  t->kind = TypeKind::kArray;
  t->element = element;
  t->dims = dims;
  t->size = static_cast<std::uint32_t>(size);
  t->align = element->align;
  t->tyvar = element->value_type()->tyvar;
  t->properties = QXSymTypeIsComplex | QXSymTypeIsArray;
  return t;
}

void ModelLoader::DeclareTypes(const json& types) {
  if (!types.is_array()) Fail("types", "expected a list");
  for (std::size_t i = 0; i < types.size(); ++i) {
    const json& t = types[i];
    std::string where = Where("types", i, "");
    CheckObject(t, where);
    std::string name = GetString(t, "name", where, true);
    where = Where("types", i, name);
    CheckName(name, where + ".name");
    std::string key = ToLower(name);
    if (model_->type_index_.count(key) != 0 || key == "string" || key == "array") {
      Fail(where + ".name", "'" + name + "' is a basic type");
    }
    if (declared_.count(key) != 0) Fail(where + ".name", "type '" + name + "' declared twice");
    Declared d;
    d.json = &t;
    d.where = where;
    declared_.emplace(key, std::move(d));
    declared_order_.push_back(key);
  }
}

const Type* ModelLoader::ResolveTypeExpr(const std::string& expr_in, const std::string& where) {
  const std::string expr = Trim(expr_in);
  const std::string upper = Upper(expr);
  if (upper.compare(0, 5, "ARRAY") == 0 && upper.size() > 5 &&
      (upper[5] == '[' || std::isspace(static_cast<unsigned char>(upper[5])) != 0)) {
    std::vector<ArrayDim> dims;
    std::string element_text;
    if (!ParseArrayExpr(expr, &dims, &element_text)) {
      Fail(where, "'" + expr + "' is not of the form ARRAY[l..u, ...] OF type");
    }
    const Type* element = ResolveTypeExpr(element_text, where);
    std::string name = "ARRAY" + DimsText(dims) + " OF " + element->name;
    auto it = anonymous_.find(ToLower(name));
    if (it != anonymous_.end()) return it->second;
    const Type* t = MakeArray(name, element, dims, where);
    anonymous_[ToLower(name)] = t;
    return t;
  }
  if (upper == "STRING") return MakeString(80, true);
  if (upper.compare(0, 6, "STRING") == 0) {
    std::string rest = Trim(expr.substr(6));
    char close = rest.empty() ? 0 : (rest[0] == '[' ? ']' : rest[0] == '(' ? ')' : 0);
    std::uint64_t n = 0;
    bool ok = close != 0 && rest.size() >= 3 && rest.back() == close;
    std::string digits = ok ? Trim(rest.substr(1, rest.size() - 2)) : std::string();
    ok = ok && !digits.empty() && digits.size() <= 6;
    for (char c : digits) {
      ok = ok && std::isdigit(static_cast<unsigned char>(c)) != 0;
      if (ok) n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (!ok) Fail(where, "'" + expr + "' is not of the form STRING[n]");
    if (n < 1 || n > kMaxStringLength) Fail(where, "a STRING holds 1 to 65534 characters");
    return MakeString(static_cast<std::uint32_t>(n), false);
  }
  auto d = declared_.find(ToLower(expr));
  if (d != declared_.end()) return ResolveNamed(d->second);
  auto b = model_->type_index_.find(ToLower(expr));
  if (b != model_->type_index_.end()) return b->second;
  Fail(where, "unknown type '" + expr + "'");
}

const Type* ModelLoader::ResolveNamed(Declared& d) {
  if (d.state == Declared::State::kDone) return d.type;
  if (d.state == Declared::State::kResolving) Fail(d.where, "the type contains itself");
  d.state = Declared::State::kResolving;
  const json& j = *d.json;
  const std::string name = j["name"].get<std::string>();
  const std::string kind = Upper(GetString(j, "kind", d.where, true));
  if (kind == "ARRAY") {
    CheckKeys(j, {"name", "kind", "element", "dims", "description"}, d.where);
    const Type* element =
        ResolveTypeExpr(GetString(j, "element", d.where, true), d.where + ".element");
    const json* dj = Find(j, "dims");
    if (dj == nullptr || !dj->is_array())
      Fail(d.where + ".dims", "expected a list of [lower, upper]");
    std::vector<ArrayDim> dims;
    for (const json& pair : *dj) {
      if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number_integer() ||
          !pair[1].is_number_integer()) {
        Fail(d.where + ".dims", "each dimension is [lower, upper]");
      }
      ArrayDim ad;
      ad.lower = pair[0].get<std::int64_t>();
      ad.upper = pair[1].get<std::int64_t>();
      if (ad.lower < -(std::int64_t{1} << 31) || ad.upper >= (std::int64_t{1} << 31)) {
        Fail(d.where + ".dims", "bounds must fit 32 bits");
      }
      dims.push_back(ad);
    }
    d.type = MakeArray(name, element, dims, d.where);
  } else if (kind == "STRUCT" || kind == "FUNCTION_BLOCK") {
    CheckKeys(j, {"name", "kind", "members", "size", "description"}, d.where);
    Type* t = NewType(name);
    t->kind = kind == "STRUCT" ? TypeKind::kStruct : TypeKind::kFunctionBlock;
    t->tyvar = QXSymTyVarUserDef;
    t->properties =
        QXSymTypeIsComplex | (kind == "STRUCT" ? QXSymTypeIsStruct : QXSymTypeIsFunctionBlock);
    LayOutComposite(d, t);
    d.type = t;
  } else {
    Fail(d.where + ".kind", "kind must be STRUCT, FUNCTION_BLOCK or ARRAY");
  }
  model_->type_index_[ToLower(name)] = d.type;
  d.state = Declared::State::kDone;
  return d.type;
}

void ModelLoader::LayOutComposite(const Declared& d, Type* t) {
  const json* members = Find(*d.json, "members");
  if (members == nullptr || !members->is_array()) Fail(d.where + ".members", "expected a list");
  std::vector<MemberDefault> defaults;
  std::uint64_t end = 0;
  std::uint32_t align = 1;
  for (std::size_t i = 0; i < members->size(); ++i) {
    const json& mj = (*members)[i];
    std::string where = d.where + "." + Where("members", i, "");
    CheckObject(mj, where);
    CheckKeys(mj, {"name", "type", "offset", "description", "attributes", "value"}, where);
    Member m;
    m.name = GetString(mj, "name", where, true);
    where = d.where + "." + Where("members", i, m.name);
    CheckName(m.name, where + ".name");
    if (t->FindMember(m.name) != nullptr) Fail(where, "member '" + m.name + "' declared twice");
    m.type = ResolveTypeExpr(GetString(mj, "type", where, true), where + ".type");
    m.description = GetString(mj, "description", where, false);
    m.attributes = GetAttributes(mj, where);
    std::uint64_t offset = AlignUp(end, m.type->align);
    if (const json* o = Find(mj, "offset")) {
      offset = GetUnsigned(*o, where + ".offset");
      if (offset > kMaxMemory) Fail(where + ".offset", "too large");
      for (const Member& other : t->members) {
        if (m.type->size != 0 && other.type->size != 0 &&
            offset < other.offset + other.type->size && other.offset < offset + m.type->size) {
          Fail(where + ".offset", "member overlaps member '" + other.name + "'");
        }
      }
    }
    m.offset = static_cast<std::uint32_t>(offset);
    end = std::max(end, offset + m.type->size);
    if (end > kMaxMemory) Fail(where, "the type exceeds 256 MiB");
    align = std::max(align, m.type->align);
    MemberDefault def;
    def.value = Find(mj, "value");
    def.where = where + ".value";
    defaults.push_back(std::move(def));
    t->members.push_back(std::move(m));
  }
  std::uint64_t size = AlignUp(end, align);
  if (const json* s = Find(*d.json, "size")) {
    std::uint64_t declared = GetUnsigned(*s, d.where + ".size");
    if (declared < end) Fail(d.where + ".size", "smaller than the members need");
    if (declared > kMaxMemory) Fail(d.where + ".size", "exceeds 256 MiB");
    size = declared;
  }
  t->size = static_cast<std::uint32_t>(size);
  t->align = align;
  member_defaults_[t] = std::move(defaults);
}

// ---- Tags ---------------------------------------------------------------------------

void ModelLoader::LoadTags(const json& tags) {
  if (!tags.is_array()) Fail("tags", "expected a list");
  std::vector<bool> explicit_address;
  std::vector<std::string> wheres;
  model_->tags_.reserve(tags.size());
  for (std::size_t i = 0; i < tags.size(); ++i) {
    const json& tj = tags[i];
    std::string where = Where("tags", i, "");
    CheckObject(tj, where);
    CheckKeys(tj,
              {"name", "type", "address", "bit", "read_only", "description", "attributes", "value",
               "simulate"},
              where);
    Tag tag;
    tag.name = GetString(tj, "name", where, true);
    where = Where("tags", i, tag.name);
    CheckTagName(tag.name, where + ".name");
    if (!model_->tag_index_.emplace(ToLower(tag.name), i).second) {
      Fail(where + ".name", "tag '" + tag.name + "' declared twice");
    }
    tag.type = ResolveTypeExpr(GetString(tj, "type", where, true), where + ".type");
    tag.read_only = GetBool(tj, "read_only", where);
    tag.description = GetString(tj, "description", where, false);
    tag.attributes = GetAttributes(tj, where);
    if (const json* b = Find(tj, "bit")) {
      std::uint64_t bit = GetUnsigned(*b, where + ".bit");
      if (bit > 7) Fail(where + ".bit", "a bit number is 0 to 7");
      if (tag.type->kind != TypeKind::kBasic || tag.type->tyvar != QXSymTyVarBool) {
        Fail(where + ".bit", "only a BOOL tag lives at a bit address");
      }
      tag.bit = static_cast<int>(bit);
    }
    const json* a = Find(tj, "address");
    if (a != nullptr) tag.address = GetUnsigned(*a, where + ".address");
    explicit_address.push_back(a != nullptr);
    wheres.push_back(where);
    tag_values_.push_back(Find(tj, "value"));
    model_->tags_.push_back(std::move(tag));
  }
  PlaceTags(explicit_address, wheres);

  for (std::size_t i = 0; i < model_->tags_.size(); ++i) {
    const Tag& tag = model_->tags_[i];
    const json* value = tag_values_[i];
    if (tag.bit >= 0) {
      if (value != nullptr) {
        if (!value->is_boolean()) Fail(wheres[i] + ".value", "expected true or false");
        std::uint8_t on = value->get<bool>() ? 1 : 0;
        SymbolView v = model_->GlobalView(i);
        model_->ForceValue(v, &on, 1);
      }
    } else {
      InitValue(tag.type, tag.address, value, wheres[i] + ".value");
    }
    if (const json* sim = Find(tags[i], "simulate")) {
      CheckObject(*sim, wheres[i] + ".simulate");
      if (Find(*sim, "path") != nullptr) Fail(wheres[i] + ".simulate", "unknown key 'path'");
      LoadSimulation(*sim, model_->GlobalView(i), wheres[i] + ".simulate");
    }
  }
}

void ModelLoader::PlaceTags(const std::vector<bool>& explicit_address,
                            const std::vector<std::string>& where) {
  std::vector<Tag>& tags = model_->tags_;
  const std::uint64_t base = model_->base_;
  const std::uint64_t limit = memory_size_ != 0 ? memory_size_ : kMaxMemory;

  // Explicit addresses first: inside the image, and no two tags sharing a
  // bit. Ranges are measured in bits so that bit tags may share a byte.
  struct Range {
    std::uint64_t begin, end;
    std::size_t tag;
  };
  std::vector<Range> ranges;
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (!explicit_address[i]) continue;
    const Tag& t = tags[i];
    std::uint64_t size = t.bit >= 0 ? 1 : t.type->size;
    if (t.address < base || t.address - base > limit || size > limit - (t.address - base)) {
      Fail(where[i] + ".address", "outside the memory image");
    }
    std::uint64_t rel = t.address - base;
    if (t.bit >= 0) {
      ranges.push_back({rel * 8 + static_cast<std::uint64_t>(t.bit),
                        rel * 8 + static_cast<std::uint64_t>(t.bit) + 1, i});
    } else if (size != 0) {
      ranges.push_back({rel * 8, (rel + size) * 8, i});
    }
  }
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) {
    return a.begin < b.begin || (a.begin == b.begin && a.tag < b.tag);
  });
  for (std::size_t k = 1, widest = 0; k < ranges.size(); ++k) {
    if (ranges[k].begin < ranges[widest].end) {
      std::size_t later = std::max(ranges[k].tag, ranges[widest].tag);
      std::size_t earlier = std::min(ranges[k].tag, ranges[widest].tag);
      Fail(where[later] + ".address", "overlaps tag '" + tags[earlier].name + "'");
    }
    if (ranges[k].end > ranges[widest].end) widest = k;
  }

  // Occupied bytes, merged, for placing the other tags in the gaps.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> used;
  std::uint64_t end = 0;
  for (const Range& r : ranges) {
    std::uint64_t b = r.begin / 8, e = (r.end + 7) / 8;
    if (!used.empty() && b <= used.back().second) {
      used.back().second = std::max(used.back().second, e);
    } else {
      used.emplace_back(b, e);
    }
    end = std::max(end, e);
  }
  std::uint64_t cursor = 0;
  std::size_t j = 0;
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (explicit_address[i]) continue;
    Tag& t = tags[i];
    std::uint64_t size = t.bit >= 0 ? 1 : t.type->size;
    std::uint64_t align = t.bit >= 0 ? 1 : t.type->align;
    for (;;) {
      cursor = AlignUp(cursor, align);
      while (j < used.size() && used[j].second <= cursor) ++j;
      if (j < used.size() && used[j].first < cursor + std::max<std::uint64_t>(size, 1)) {
        cursor = used[j].second;
        continue;
      }
      break;
    }
    if (cursor + size > limit) Fail(where[i], "does not fit the memory image");
    t.address = base + cursor;
    cursor += size;
    end = std::max(end, cursor);
  }
  std::uint64_t image = memory_size_ != 0
                            ? memory_size_
                            : std::max<std::uint64_t>(AlignUp(end, kImageGranule), kImageGranule);
  model_->image_.assign(static_cast<std::size_t>(image), 0);
}

bool ModelLoader::HasDefaults(const Type* t) {
  auto it = has_defaults_.find(t);
  if (it != has_defaults_.end()) return it->second;
  bool has = false;
  if (t->is_array()) {
    has = HasDefaults(t->element);
  } else if (t->kind == TypeKind::kStruct || t->kind == TypeKind::kFunctionBlock) {
    const std::vector<MemberDefault>& defs = member_defaults_[t];
    for (std::size_t k = 0; k < t->members.size() && !has; ++k) {
      has = defs[k].value != nullptr || HasDefaults(t->members[k].type);
    }
  }
  has_defaults_[t] = has;
  return has;
}

void ModelLoader::InitValue(const Type* t, std::uint64_t address, const json* value,
                            const std::string& where) {
  std::uint8_t* p = model_->At(address);
  switch (t->kind) {
    case TypeKind::kBasic: {
      if (value == nullptr) return;
      Number n;
      if (value->is_boolean() && t->tyvar == QXSymTyVarBool) {
        n = Number::Unsigned(value->get<bool>() ? 1 : 0);
      } else if (value->is_number_unsigned()) {
        n = Number::Unsigned(value->get<std::uint64_t>());
      } else if (value->is_number_integer()) {
        n = Number::Signed(value->get<std::int64_t>());
      } else if (value->is_number_float()) {
        n = Number::Float(value->get<double>());
      } else {
        Fail(where, "expected a value of type " + t->name);
      }
      if (!NumberFits(t, n)) Fail(where, value->dump() + " does not fit " + t->name);
      StoreNumber(t, n, p);
      return;
    }
    case TypeKind::kString: {
      if (value == nullptr) return;
      if (!value->is_string()) Fail(where, "expected a text for " + t->name);
      const std::string s = value->get<std::string>();
      if (s.size() > t->string_length) Fail(where, "text longer than " + t->name);
      std::memcpy(p, s.data(), s.size());
      return;
    }
    case TypeKind::kStruct:
    case TypeKind::kFunctionBlock: {
      if (value == nullptr && !HasDefaults(t)) return;
      if (value != nullptr && !value->is_object()) Fail(where, "expected an object for " + t->name);
      if (value != nullptr) {
        for (auto it = value->begin(); it != value->end(); ++it) {
          if (t->FindMember(it.key()) == nullptr) {
            Fail(where, "type " + t->name + " has no member '" + it.key() + "'");
          }
        }
      }
      const std::vector<MemberDefault>& defs = member_defaults_[t];
      for (std::size_t k = 0; k < t->members.size(); ++k) {
        const Member& m = t->members[k];
        const json* mv = nullptr;
        if (value != nullptr) {
          for (auto it = value->begin(); it != value->end() && mv == nullptr; ++it) {
            if (EqualsNoCase(it.key(), m.name)) mv = &*it;
          }
        }
        if (mv != nullptr) {
          InitValue(m.type, address + m.offset, mv, where + "." + m.name);
        } else if (defs[k].value != nullptr) {
          InitValue(m.type, address + m.offset, defs[k].value, defs[k].where);
        } else {
          InitValue(m.type, address + m.offset, nullptr, where + "." + m.name);
        }
      }
      return;
    }
    case TypeKind::kArray: {
      if (HasDefaults(t->element)) {
        std::uint64_t count = t->element->size == 0 ? 0 : t->size / t->element->size;
        for (std::uint64_t k = 0; k < count; ++k) {
          InitValue(t->element, address + k * t->element->size, nullptr, where);
        }
      }
      if (value != nullptr) StoreArrayValues(t, address, *value, 0, 0, where);
      return;
    }
  }
}

void ModelLoader::StoreArrayValues(const Type* t, std::uint64_t address, const json& value,
                                   std::size_t dim, std::uint64_t prefix,
                                   const std::string& where) {
  if (!value.is_array()) Fail(where, "expected a list of values for " + t->name);
  const std::vector<ArrayDim>& dims = t->dims;
  bool nested = dim + 1 < dims.size() && !value.empty() &&
                std::all_of(value.begin(), value.end(), [](const json& v) { return v.is_array(); });
  if (nested) {
    if (value.size() > dims[dim].count()) Fail(where, "too many rows for " + t->name);
    for (std::size_t i = 0; i < value.size(); ++i) {
      StoreArrayValues(t, address, value[i], dim + 1, prefix * dims[dim].count() + i,
                       where + "[" + std::to_string(i) + "]");
    }
    return;
  }
  std::uint64_t span = 1;
  for (std::size_t k = dim; k < dims.size(); ++k) span *= dims[k].count();
  if (value.size() > span) Fail(where, "too many values for " + t->name);
  const std::uint64_t start = prefix * span;
  for (std::size_t i = 0; i < value.size(); ++i) {
    InitValue(t->element, address + (start + i) * t->element->size, &value[i],
              where + "[" + std::to_string(i) + "]");
  }
}

// ---- Live values and variables ------------------------------------------------------

SymbolView ModelLoader::ResolvePath(const std::string& path, const std::string& where) {
  SymbolView v;
  QXSymResult r = model_->Resolve(path, &v);
  if (r == symResInvalidArrayIndex) Fail(where, "index out of bounds in '" + path + "'");
  if (r != symResOk) Fail(where, "no symbol '" + path + "'");
  return v;
}

void ModelLoader::LoadSimulation(const json& j, const SymbolView& target,
                                 const std::string& where) {
  CheckKeys(j, {"path", "kind", "step", "amplitude", "offset", "period_ms"}, where);
  SimulationSpec s;
  s.target = target;
  const std::string kind = ToLower(GetString(j, "kind", where, true));
  const Type* t = target.type;
  bool numeric = IsNumericBasic(t) && t->tyvar != QXSymTyVarBool;
  if (kind == "counter") {
    s.kind = SimulationSpec::Kind::kCounter;
    if (!numeric) Fail(where, "a counter needs a numeric symbol, not " + t->name);
  } else if (kind == "sine") {
    s.kind = SimulationSpec::Kind::kSine;
    if (!numeric) Fail(where, "a sine needs a numeric symbol, not " + t->name);
  } else if (kind == "toggle") {
    s.kind = SimulationSpec::Kind::kToggle;
    if (t->tyvar != QXSymTyVarBool || t->kind != TypeKind::kBasic) {
      Fail(where, "a toggle needs a BOOL symbol, not " + t->name);
    }
  } else {
    Fail(where + ".kind", "kind must be counter, sine or toggle");
  }
  s.step = GetDouble(j, "step", 1.0, where);
  s.amplitude = GetDouble(j, "amplitude", 1.0, where);
  s.offset = GetDouble(j, "offset", 0.0, where);
  double period_ms = GetDouble(j, "period_ms", 10000.0, where);
  if (!(period_ms >= 1.0 && period_ms <= 1e9)) {
    Fail(where + ".period_ms", "must be between 1 and 1e9 ms");
  }
  s.period_s = period_ms / 1000.0;
  model_->simulations_.push_back(std::move(s));
}

void ModelLoader::LoadVariables(const json* vars) {
  auto scalar = [](const Type* t) {
    return t->kind == TypeKind::kBasic || t->kind == TypeKind::kString;
  };
  if (vars == nullptr) {
    for (std::size_t i = 0; i < model_->tags_.size() && model_->variables_.size() < 65536; ++i) {
      if (scalar(model_->tags_[i].type)) model_->variables_.push_back(model_->GlobalView(i));
    }
    return;
  }
  if (!vars->is_array()) Fail("variables", "expected a list of symbol paths");
  if (vars->size() > 65536) Fail("variables", "at most 65536 variables");
  for (std::size_t i = 0; i < vars->size(); ++i) {
    std::string where = Where("variables", i, "");
    if (!(*vars)[i].is_string()) Fail(where, "expected a symbol path");
    SymbolView v = ResolvePath((*vars)[i].get<std::string>(), where);
    if (!scalar(v.type))
      Fail(where, "a variable is a basic value or a STRING, not " + v.type->name);
    model_->variables_.push_back(std::move(v));
  }
}

}  // namespace qxsym::sim
