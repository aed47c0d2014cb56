// Builds a SymbolModel from the text of a JSON model file. Internal to the
// simulator; callers use SymbolModel::LoadFile and SymbolModel::LoadString.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "SymbolModel.h"

namespace qxsym::sim {

class ModelLoader {
 public:
  explicit ModelLoader(std::string source_name) : source_name_(std::move(source_name)) {}
  // Null on failure, with "<source>: <place>: <problem>" in *error.
  std::shared_ptr<SymbolModel> Load(const std::string& text, std::string* error);

  // Bounds of what a model may ask for, so that a file cannot make the
  // simulator allocate without limit.
  static constexpr std::uint64_t kMaxMemory = 256u << 20;
  static constexpr std::uint32_t kMaxStringLength = 65534;
  static constexpr std::size_t kMaxName = 259;

 private:
  struct Declared {
    const nlohmann::json* json = nullptr;
    std::string where;
    const Type* type = nullptr;
    enum class State { kPending, kResolving, kDone } state = State::kPending;
  };
  // A member's declared initial value and where it was declared.
  struct MemberDefault {
    const nlohmann::json* value = nullptr;
    std::string where;
  };

  void LoadMemory(const nlohmann::json* memory);
  void AddBasicTypes();
  Type* NewType(std::string name);
  void DeclareTypes(const nlohmann::json& types);
  const Type* ResolveTypeExpr(const std::string& expr, const std::string& where);
  const Type* ResolveNamed(Declared& d);
  const Type* MakeArray(const std::string& name, const Type* element,
                        const std::vector<ArrayDim>& dims, const std::string& where);
  const Type* MakeString(std::uint32_t length, bool bare);
  void LayOutComposite(const Declared& d, Type* t);
  void LoadTags(const nlohmann::json& tags);
  void InitTags(const nlohmann::json& tags, const std::vector<std::string>& where);
  // The image bytes [begin, end) that tags with explicit addresses occupy,
  // merged and in order; fails on a tag outside the image or on overlaps.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ExplicitRanges(
      const std::vector<bool>& explicit_address, const std::vector<std::string>& where) const;
  void PlaceTags(const std::vector<bool>& explicit_address, const std::vector<std::string>& where);
  bool HasDefaults(const Type* t);
  void InitValue(const Type* t, std::uint64_t address, const nlohmann::json* value,
                 const std::string& where);
  void InitComposite(const Type* t, std::uint64_t address, const nlohmann::json* value,
                     const std::string& where);
  void StoreBasic(const Type* t, const nlohmann::json& value, std::uint8_t* p,
                  const std::string& where);
  void StoreArrayValues(const Type* t, std::uint64_t address, const nlohmann::json& value,
                        std::size_t dim, std::uint64_t prefix, const std::string& where);
  void LoadSimulation(const nlohmann::json& j, const SymbolView& target, const std::string& where);
  void LoadSimulations(const nlohmann::json* sims);
  void LoadVariables(const nlohmann::json* vars);
  SymbolView ResolvePath(const std::string& path, const std::string& where);

  std::string source_name_;
  std::unique_ptr<SymbolModel> model_;
  std::unordered_map<std::string, Declared> declared_;  // lower-case name
  std::vector<std::string> declared_order_;
  std::unordered_map<std::string, const Type*> anonymous_;  // lower-case name
  std::unordered_map<const Type*, std::vector<MemberDefault>> member_defaults_;
  std::unordered_map<const Type*, bool> has_defaults_;
  std::uint64_t memory_size_ = 0;  // declared size, 0 when computed
  std::vector<const nlohmann::json*> tag_values_;
};

}  // namespace qxsym::sim
