// A tag, member or element laid out as a flat table of leaves: every value
// of a basic type in it, with its path, its byte offset within the value,
// its size and, for an array of a basic type, its dimensions and declared
// lower bounds. Arrays of structures are spelt out element by element.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TypeCatalog.h"

namespace qxsym::client {

struct Leaf {
  std::string path;  // "Line.Main.Speed", "Temps", "RecipeBook[2].Name"
  std::uint32_t offset = 0;
  std::uint32_t size = 0;  // all elements
  std::uint32_t tyvar = 0;
  std::uint32_t element_size = 0;   // = size for a single value
  std::uint32_t count = 1;          // values in the leaf
  std::vector<std::uint32_t> dims;  // empty for a single value
  std::vector<std::int64_t> lower;
};

// A part of the value that travels as one group member: the whole tag, or
// one element of a tag that is an array (a group moves one element of it).
struct Unit {
  std::string path;
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};

struct Layout {
  std::string path;
  std::string type_name;
  std::uint32_t type_properties = 0;  // the source's QXSymTypeIs* flags of that type
  std::uint32_t size = 0;
  std::vector<Leaf> leaves;
  std::vector<Unit> units;        // for reading, and for writing when whole
  bool whole = false;             // the leaves cover every byte: a write may go by units
  std::uint32_t value_count = 0;  // values over all leaves
  // The described path's own dimensions and declared lower bounds when it
  // is an array (its leaves may be its elements' members).
  std::vector<std::uint32_t> dims;
  std::vector<std::int64_t> lower;
};

// The layout of path, its types learned once per session.
std::shared_ptr<const Layout> Describe(Session& session, const std::string& path, WalkError* err);

// True when a and b have the same type name, size and leaves (paths,
// offsets, sizes, types and dimensions): values of one fit the other.
bool SameLayout(const Layout& a, const Layout& b);

// The parts a write of the layout sends: its units when the leaves cover
// every byte, else each leaf by its own path (array leaves element by
// element), so no byte the caller did not give is written.
std::vector<Unit> WriteUnits(const Layout& layout);

}  // namespace qxsym::client
