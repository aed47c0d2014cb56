// A tag's type walked once through the type functions: name, size,
// properties, members or element and dimensions. `type` prints it; `read`,
// `write` and `watch` lay values out along it.
#pragma once

#include <QXSymbols.h>

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ValueCodec.h"

namespace qxsym::cli {

struct TypeShape {
  std::string name;
  std::uint32_t size = 0;
  std::uint32_t properties = 0;
  // Members of a structure or function block, in order.
  std::vector<std::pair<std::string, std::unique_ptr<TypeShape>>> members;
  // An array: element counts per dimension and the element type. The lower
  // bounds come from the type's name when it spells them (ARRAY[1..8] OF
  // REAL), else from the tag (see ValueSet).
  std::vector<std::uint32_t> dims;
  std::optional<std::vector<std::int64_t>> lower;
  std::unique_ptr<TypeShape> element;

  bool is_array() const { return (properties & QXSymTypeIsArray) != 0; }
  bool is_record() const {
    return (properties & (QXSymTypeIsStruct | QXSymTypeIsFunctionBlock)) != 0;
  }
  bool is_leaf() const { return !is_array() && !is_record(); }
  std::uint64_t element_count() const;
};

// Walks the type behind handle; CliError on a failing call, on nesting
// deeper than 32 levels or more than 100000 types in all (a structure
// claiming more members is refused before any is read).
std::unique_ptr<TypeShape> WalkType(QXSymTypeHandle type);

// The lower bounds spelt in a type name "ARRAY[l..u, l..u] OF ...", one per
// dimension; nullopt when the name does not spell dims.size() of them.
std::optional<std::vector<std::int64_t>> BoundsFromName(const std::string& name, std::size_t dims);

// Names of the property flags that are set ("Basic", "Numeric", ...).
std::vector<std::string> PropertyNames(std::uint32_t properties);

// JSON of the shape, children under "members" or "element".
Json ShapeJson(const TypeShape& shape);

}  // namespace qxsym::cli
