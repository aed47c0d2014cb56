#include "ModelLoader.h"

#include <fstream>
#include <limits>
#include <new>

#include "ModelJson.h"
#include "Text.h"
#include "Values.h"

namespace qxsym::sim {

using namespace loader;  // NOLINT(build/namespaces): the loader's own helpers

namespace {

constexpr std::uint64_t kDefaultBase = 0x00100000;

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

    LoadMemory(Find(root, "memory"));

    if (const json* types = Find(root, "types")) DeclareTypes(*types);
    for (const std::string& key : declared_order_) ResolveNamed(declared_.at(key));

    const json* tags = Find(root, "tags");
    if (tags == nullptr) Fail("the model", "missing 'tags'");
    LoadTags(*tags);

    LoadSimulations(Find(root, "simulate"));
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

void ModelLoader::LoadMemory(const json* mem) {
  model_->base_ = kDefaultBase;
  if (mem == nullptr) return;
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

// ---- Live values and variables ------------------------------------------------------

void ModelLoader::LoadSimulations(const json* sims) {
  if (sims == nullptr) return;
  if (!sims->is_array()) Fail("simulate", "expected a list");
  for (std::size_t i = 0; i < sims->size(); ++i) {
    const json& s = (*sims)[i];
    std::string where = Where("simulate", i, "");
    CheckObject(s, where);
    std::string path = GetString(s, "path", where, true);
    LoadSimulation(s, ResolvePath(path, where + ".path"), where);
  }
}

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
