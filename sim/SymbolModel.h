// The simulated controller's symbols: types, global tags and the memory image
// that holds their values. Loaded once from a JSON file and immutable
// afterwards, except for the bytes of the memory image, which every access
// reaches under one lock. Symbol commands, memory commands and the variable
// table all see the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "QXSymbols.h"

namespace qxsym::sim {

enum class TypeKind { kBasic, kString, kStruct, kFunctionBlock, kArray };

// Name to text, in declaration order; names are matched case-insensitively.
using Attributes = std::vector<std::pair<std::string, std::string>>;

struct Type;

struct Member {
  std::string name;
  const Type* type = nullptr;
  std::uint32_t offset = 0;
  std::string description;
  Attributes attributes;
};

// One dimension of an array with its declared bounds, ARRAY[lower..upper].
struct ArrayDim {
  std::int64_t lower = 0;
  std::int64_t upper = 0;
  std::uint32_t count() const { return static_cast<std::uint32_t>(upper - lower + 1); }
};

struct Type {
  std::string name;
  TypeKind kind = TypeKind::kBasic;
  std::uint32_t tyvar = QXSymTyVarNull;  // basic variable type of the data
  std::uint32_t size = 0;
  std::uint32_t align = 1;
  std::uint32_t properties = 0;     // QXSymTypeProperty flags
  std::vector<Member> members;      // STRUCT and FUNCTION_BLOCK
  const Type* element = nullptr;    // ARRAY
  std::vector<ArrayDim> dims;       // ARRAY: one to three
  std::uint32_t string_length = 0;  // STRING[n]: n characters plus a terminator

  bool is_array() const { return kind == TypeKind::kArray; }
  bool is_complex() const {
    return kind == TypeKind::kStruct || kind == TypeKind::kFunctionBlock || is_array();
  }
  // The type that the value commands move: the element of an array, else
  // the type itself.
  const Type* value_type() const { return is_array() ? element : this; }

  // Children: the members of a structure or function block; the element
  // type is the single child of an array, named after that type.
  std::uint32_t ChildCount() const;
  const Type* Child(std::uint32_t index) const;
  const std::string* ChildName(std::uint32_t index) const;
  const Type* ChildByName(const std::string& name) const;
  const Member* FindMember(const std::string& name) const;
};

struct SimulationSpec;

struct Tag {
  std::string name;
  const Type* type = nullptr;
  std::uint64_t address = 0;
  int bit = -1;  // 0..7 for a tag at a bit address
  bool read_only = false;
  std::string description;
  Attributes attributes;
};

// A resolved symbol: a global tag, or a member or element inside one.
// Pointers refer into the model, which outlives every view taken from it.
struct SymbolView {
  const Tag* tag = nullptr;  // the global tag the symbol lies in
  std::string name;          // canonical path as declared ("Line.Motor1.Speed")
  const Type* type = nullptr;
  std::uint64_t address = 0;
  int bit = -1;
  bool read_only = false;
  const std::string* description = nullptr;
  const Attributes* attributes = nullptr;
};

// How a live value changes with every scan.
struct SimulationSpec {
  enum class Kind { kCounter, kSine, kToggle };
  Kind kind = Kind::kCounter;
  SymbolView target;
  double step = 1.0;       // counter: added per scan
  double amplitude = 1.0;  // sine
  double offset = 0.0;     // sine: centre value
  double period_s = 10.0;  // sine: full wave; toggle: time between flips
};

// Wire types of the variable commands ("i", "I").
enum VariableWireType : std::uint8_t {
  kVarAsDeclared = 0,
  kVarInt16 = 1,
  kVarUInt16 = 2,
  kVarInt32 = 3,
  kVarUInt32 = 4,
  kVarBool = 5,
  kVarReal32 = 6,
  kVarString = 7,
  kVarInt64 = 8,
  kVarReal64 = 9,
  kVarNoType = 255,
};

class SymbolModel {
 public:
  // Loads a model; null with a message naming the file and the place of the
  // fault in *error (when error is not null).
  static std::shared_ptr<SymbolModel> LoadFile(const std::string& path, std::string* error);
  static std::shared_ptr<SymbolModel> LoadString(const std::string& json, std::string* error,
                                                 const std::string& source_name = "<string>");

  SymbolModel(const SymbolModel&) = delete;
  SymbolModel& operator=(const SymbolModel&) = delete;

  // ---- Symbols (immutable) ----
  const std::string& name() const { return name_; }
  const std::vector<Tag>& tags() const { return tags_; }
  const std::vector<std::unique_ptr<Type>>& types() const { return types_; }
  const Type* FindType(const std::string& name) const;
  const Tag* FindTag(const std::string& name) const;
  // The file's bytes, delivered by the symbol-table download.
  const std::string& source_bytes() const { return source_; }
  const std::vector<SimulationSpec>& simulations() const { return simulations_; }

  SymbolView GlobalView(std::size_t index) const;
  // Resolves "tag", "tag.member", "tag[i]", "tag[i,j,k]" and combinations,
  // with the declared array bounds. symResSymbolNotFound for unknown names
  // or bad syntax, symResInvalidArrayIndex for an index out of bounds.
  QXSymResult Resolve(const std::string& path, SymbolView* out) const;
  // Indices of the global tags whose names match a glob (* and ?), case
  // ignored; an empty filter matches every tag.
  std::vector<std::size_t> Match(const std::string& filter) const;

  // ---- Facts about a symbol ----
  static std::uint32_t DataSize(const SymbolView& v);  // what the value commands move
  static std::uint32_t FullSize(const SymbolView& v);  // what the raw commands move
  static std::uint32_t TyVar(const SymbolView& v);
  static void Dims(const SymbolView& v, std::uint32_t dims[3]);
  static QXSymResult Attribute(const SymbolView& v, const std::string& name, std::string* out);
  // Address and bit offset of one element; indices count from 0 in every
  // dimension whatever the declared lower bound; (0, 0, 0) for a scalar.
  static QXSymResult ElementAddress(const SymbolView& v, const std::uint32_t idx[3],
                                    std::uint64_t* address, std::uint32_t* bit);

  // ---- Values ----
  QXSymResult ReadValue(const SymbolView& v, const std::uint32_t idx[3],
                        std::vector<std::uint8_t>* out) const;
  QXSymResult WriteValue(const SymbolView& v, const std::uint32_t idx[3], const std::uint8_t* data,
                         std::size_t size);
  QXSymResult ReadRaw(const SymbolView& v, std::uint32_t offset, std::uint32_t size,
                      std::vector<std::uint8_t>* out) const;
  QXSymResult WriteRaw(const SymbolView& v, std::uint32_t offset, const std::uint8_t* data,
                       std::uint32_t size);
  // Several values back to back under one lock (groups). The write checks
  // every member first and writes nothing when one of them refuses. The
  // views are the caller's, which keeps them alive for the call.
  QXSymResult ReadValues(const std::vector<const SymbolView*>& views,
                         std::vector<std::uint8_t>* out) const;
  QXSymResult WriteValues(const std::vector<const SymbolView*>& views, const std::uint8_t* data,
                          std::size_t size);
  // Writes a value regardless of the read-only flag (live values).
  void ForceValue(const SymbolView& v, const std::uint8_t* data, std::size_t size);
  // After a program change: every global tag that earlier declares with the
  // same name, the same type name and the same sizes takes earlier's current
  // value (a bit tag's bit, a text with its terminator, every other type
  // byte for byte). Returns the number of tags that kept their values.
  std::size_t KeepValuesOf(const SymbolModel& earlier);

  // ---- Memory image ("m", "M", "64m", "64M") ----
  std::uint64_t memory_base() const { return base_; }
  std::uint64_t memory_size() const { return image_.size(); }
  // False when any byte of [address, address + n) lies outside the image.
  bool ReadMemory(std::uint64_t address, std::size_t n, std::uint8_t* out) const;
  bool WriteMemory(std::uint64_t address, std::size_t n, const std::uint8_t* data);

  // ---- Variable table ("i", "I") ----
  std::size_t variable_count() const { return variables_.size(); }
  const SymbolView* Variable(std::uint16_t index) const;
  // symResInvalidParameter for an unknown index or a wire type that does not
  // suit the variable; symResReadOnlyTag; symResInvalidBuffer for a write
  // whose size does not match the wire type.
  QXSymResult ReadVariable(std::uint16_t index, std::uint8_t wire_type,
                           std::vector<std::uint8_t>* out) const;
  QXSymResult WriteVariable(std::uint16_t index, std::uint8_t wire_type, const std::uint8_t* data,
                            std::size_t size);

 private:
  friend class ModelLoader;
  SymbolModel() = default;

  // Caller holds memory_mutex_.
  std::uint8_t* At(std::uint64_t address) { return image_.data() + (address - base_); }
  const std::uint8_t* At(std::uint64_t address) const { return image_.data() + (address - base_); }
  QXSymResult CheckWrite(const SymbolView& v, const Type* t, std::size_t size) const;
  void StoreValueLocked(const SymbolView& v, const Type* t, std::uint64_t address,
                        const std::uint8_t* data, std::size_t size);
  void LoadValueLocked(const SymbolView& v, const Type* t, std::uint64_t address,
                       std::uint8_t* out) const;

  std::string name_;
  std::string source_;
  std::vector<std::unique_ptr<Type>> types_;  // basic, declared and anonymous types
  std::vector<Tag> tags_;
  std::unordered_map<std::string, std::size_t> tag_index_;   // lower-case name
  std::unordered_map<std::string, const Type*> type_index_;  // lower-case name
  std::vector<SimulationSpec> simulations_;
  std::vector<SymbolView> variables_;

  std::uint64_t base_ = 0;
  mutable std::mutex memory_mutex_;
  std::vector<std::uint8_t> image_;
};

}  // namespace qxsym::sim
