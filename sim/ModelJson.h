// Reading pieces of a JSON model: checked lookups of keys and values, the
// names and type expressions a model may hold, and the error that carries
// the place of a fault out of the loader. Internal to the model loader.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "SymbolModel.h"

namespace qxsym::sim::loader {

using nlohmann::json;

// Thrown inside the loader only; ModelLoader::Load turns it into the error text.
struct LoadError {
  std::string where;
  std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& message);

std::string Upper(std::string s);
std::string Trim(const std::string& s);
std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a);

// Fail unless j is an object / holds only the allowed keys.
void CheckObject(const json& j, const std::string& where);
void CheckKeys(const json& j, std::initializer_list<const char*> allowed, const std::string& where);

// The value under key, or null when j has none.
const json* Find(const json& j, const char* key);
// Typed values under key; a missing optional one gives "", false or fallback.
std::string GetString(const json& j, const char* key, const std::string& where, bool required);
bool GetBool(const json& j, const char* key, const std::string& where);
double GetDouble(const json& j, const char* key, double fallback, const std::string& where);
// An unsigned number, written as a JSON number or as a text in decimal or
// with a 0x prefix in hexadecimal ("0x00100000").
std::uint64_t GetUnsigned(const json& v, const std::string& where);

// Fail unless name is a valid type or member name / global tag name.
void CheckName(const std::string& name, const std::string& where);
void CheckTagName(const std::string& name, const std::string& where);
Attributes GetAttributes(const json& j, const std::string& where);

// "tags[3] 'Name'": the place of a list entry in error texts.
std::string Where(const std::string& list, std::size_t index, const std::string& name);

// "ARRAY[1..8, 0..2] OF REAL": the ranges and the element's text.
bool ParseArrayExpr(const std::string& expr, std::vector<ArrayDim>* dims, std::string* element);
std::string DimsText(const std::vector<ArrayDim>& dims);

}  // namespace qxsym::sim::loader
