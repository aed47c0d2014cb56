// The model's types: the basic ones, strings and arrays made on demand from
// type expressions, and the declared structures, function blocks and arrays.
#include <algorithm>
#include <cctype>

#include "ModelJson.h"
#include "ModelLoader.h"
#include "Text.h"

namespace qxsym::sim {

using namespace loader;  // NOLINT(build/namespaces): the loader's own helpers

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

}  // namespace qxsym::sim
